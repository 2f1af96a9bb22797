// The byte dump and the LOCAL record, through one file log. Input: byte 0 bit 0
// takes the size from bytes 1-4 (else the data's length), bit 1 the method line,
// bit 2 the dump overload, bits 3-7 the level (mod 6); bytes 5-8 bytes per line,
// 9-12 the indentation (little-endian); then the data, to its first zero the text.
#include "fuzz_support.h"

static const char* const Function = "bool Cue_Ctl::ProcessStop()";
static const MemFile Conf, LogFile;
static Log* Writer;

// "[ " right-aligned in the indentation (2 to 65), "XX " per byte and blanks to
// fill the last line, "]"; lines joined by "\n".
static std::string Dump(const uint8_t* data, uint32_t size, int32_t perLine, uint32_t indentation)
{
    if (size > 1024)
        return "[ TO MANY DATA TO BE DISPLAYED (Size=" + std::to_string(size) + ") ]";
    const uint32_t columns = static_cast<uint32_t>(std::min(std::max(perLine, 10), 64));
    const std::string opening = std::string(std::min(std::max(indentation, 2u), 65u) - 2, ' ') + "[ ";
    std::string dump = opening;
    for (uint32_t at = 0; at < size || at % columns != 0; ++at) {
        if (at != 0 && at % columns == 0)
            dump += "]\n" + opening;
        if (at < size)
            dump.append({"0123456789ABCDEF"[data[at] >> 4], "0123456789ABCDEF"[data[at] & 15], ' '});
        else
            dump += "   ";
    }
    return dump + "]";
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("TZ", "LOCAL-5:45", 1);  // local time off UTC, so that a record stamped in it shows
    Conf.Set("cue_ctl=MORE_DEBUG\n", 19);
    Writer = new Log(LogFile.Path.c_str(), "cue_ctl", Conf.Path.c_str(), Log::NONE);
    FUZZ_CHECK(Writer->GetLevel() == Log::MORE_DBG && LogFile.Take().size() > 0);  // configured; the header block
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize)
{
    const uint8_t flags = inputSize > 0 ? input[0] : 0, *data = input + std::min<size_t>(inputSize, 13);
    uint32_t word[3] = {};  // size, bytes per line, indentation
    for (size_t i = 1; i < 13 && i < inputSize; ++i)
        word[(i - 1) / 4] |= uint32_t(input[i]) << 8 * ((i - 1) % 4);
    const uint32_t length = static_cast<uint32_t>(input + inputSize - data);
    const uint32_t size = !(flags & 1) ? length : word[0] > 1024 ? word[0] : std::min(word[0], length);
    const int32_t perLine = static_cast<int32_t>(word[1]);
    const Log::eLevel level = static_cast<Log::eLevel>((flags >> 3) % 6);
    const std::string text(data, std::find(data, data + length, 0)), dump = Dump(data, size, perLine, word[2]);
    FUZZ_CHECK(Log::ConvertByteArrayToString(data, size, perLine, word[2]) == dump);

    Writer->SetDisplayMethod(flags & 2);
    const long long before = NowMs();
    if (flags & 4)
        Writer->Write("%s", const_cast<uint8_t*>(data), size, perLine, word[2], level, Function, text.c_str());
    else
        Writer->Write("%s", level, Function, text.c_str());
    const std::string record = LogFile.Take();
    const size_t header = CheckHeader(record, level, before);
    const std::string method = flags & 2 ? "[" + std::string(Function) + "] \n" + std::string(header, ' ') : "";
    const std::string message = flags & 4 ? text.substr(0, 10239) + "\n" + dump : text;
    FUZZ_CHECK(record.compare(header, std::string::npos, method + message.substr(0, 10239) + "\n") == 0);
    return 0;
}
