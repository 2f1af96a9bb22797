// The byte dump and the LOCAL record, through one file log. Input: byte 0 bit 0
// takes the size from bytes 1-4 (else the data's length), bit 1 the method line,
// bit 2 the dump overload, bits 3-7 the level (mod 6); bytes 5-8 bytes per line,
// 9-12 the indentation (little-endian); then the data, to its first zero the text.
#include "fuzz_support.h"

static const char* const Function = "bool Cue_Ctl::ProcessStop()";
static const MemFile Conf, LogFile;
static Log* Writer;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Conf.Set("cue_ctl=MORE_DEBUG\n", 19);
    Writer = new Log(LogFile.Path.c_str(), "cue_ctl", Conf.Path.c_str(), Log::NONE);
    FUZZ_CHECK(Writer->GetLevel() == Log::MORE_DBG);  // so that every level is written
    LogFile.Take();  // the header block
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize)
{
    const uint8_t flags = inputSize > 0 ? input[0] : 0;
    const uint8_t* data = input + std::min<size_t>(inputSize, 13);
    uint32_t word[3] = {};  // size, bytes per line, indentation
    for (size_t i = 1; i < 13 && i < inputSize; ++i)
        word[(i - 1) / 4] |= uint32_t(input[i]) << 8 * ((i - 1) % 4);
    const uint32_t length = static_cast<uint32_t>(input + inputSize - data);
    // A size past 1024 is refused unread; one up to it must lie within the data.
    const uint32_t size = !(flags & 1) ? length : word[0] > 1024 ? word[0] : std::min(word[0], length);
    const int32_t perLine = static_cast<int32_t>(word[1]);
    const Log::eLevel level = static_cast<Log::eLevel>((flags >> 3) % 6);
    const std::string text(data, std::find(data, data + length, 0));

    Writer->SetDisplayMethod(flags & 2);
    if (flags & 4)
        Writer->Write("%s", const_cast<uint8_t*>(data), size, perLine, word[2], level, Function, text.c_str());
    else
        Writer->Write("%s", level, Function, text.c_str());
    const std::string record = LogFile.Take();
    FUZZ_CHECK(!record.empty() && record.back() == '\n');  // written, and whole
    return 0;
}
