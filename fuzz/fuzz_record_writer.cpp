// The byte dump and the LOCAL record, through one file log. Input: byte 0 bit 0
// takes the size from bytes 1-4 (else the data's length), bit 1 the method line,
// bit 2 the dump overload, bits 3-7 the level (mod 6); bytes 5-8 bytes per line,
// 9-12 the indentation (little-endian); then the data, to its first zero the text.
#include <algorithm>

#include "fuzz_support.h"

static const char* const Function = "bool Cue_Ctl::ProcessStop()";
static const MemFile LogFile;
// An empty configuration keeps the level given, at which every level is written.
static Log* const Writer = new Log(LogFile.Path.c_str(), "cue_ctl", "/dev/null", Log::MORE_DBG);

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

    FUZZ_CHECK(ftruncate(LogFile.Fd, 0) == 0);  // the header block or the last record
    Writer->SetDisplayMethod(flags & 2);
    if (flags & 4)
        Writer->Write("%s", const_cast<uint8_t*>(data), size, perLine, word[2], level, Function, text.c_str());
    else
        Writer->Write("%s", level, Function, text.c_str());
    const off_t written = lseek(LogFile.Fd, 0, SEEK_END);
    char last = 0;
    FUZZ_CHECK(written > 0 && pread(LogFile.Fd, &last, 1, written - 1) == 1 && last == '\n');  // written, and whole
    return 0;
}
