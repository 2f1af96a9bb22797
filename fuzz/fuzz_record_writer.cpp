// The byte dump and the LOCAL record writer. Input layout:
//   byte 0      bit 0: size from bytes 1-4 (else the data length),
//               bit 1: display method, bits 2-7: level (mod 6)
//   bytes 1-4   size, little-endian; not above the data length unless past 1024
//   bytes 5-8   bytes per line, int32 little-endian
//   bytes 9-12  indentation, uint32 little-endian
//   the rest    the data, and up to its first zero byte the text
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "log/log.h"

namespace {

constexpr size_t Fields = 13;
constexpr size_t MessageRoom = 10239;  // the record's message buffer less its zero
const char* const Function = "bool Cue_Ctl::ProcessStop()";

Log* FileLog = nullptr;
std::string LogPath;

uint32_t Word(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

// The dump built here line by line from its documented shape: "[ " right
// in a field of the indentation (at least 2, at most 65), then "XX " per byte,
// blanks to the end of a part-filled line, "]".
std::string ExpectedDump(const uint8_t* data, uint32_t size, int bytesPerLine, uint32_t indentation)
{
    const uint32_t perLine = static_cast<uint32_t>(std::min(std::max(bytesPerLine, 10), 64));
    const std::string opening = std::string(std::max(std::min(indentation, 65u), 2u) - 2, ' ') + "[ ";
    if (size == 0)
        return opening + "]";
    static const char Hex[] = "0123456789ABCDEF";
    std::string dump;
    for (uint32_t line = 0; line * perLine < size; ++line) {
        if (line != 0)
            dump += '\n';
        dump += opening;
        for (uint32_t at = line * perLine; at < (line + 1) * perLine; ++at) {
            if (at < size) {
                dump += Hex[data[at] >> 4];
                dump += Hex[data[at] & 15];
                dump += ' ';
            } else {
                dump += "   ";
            }
        }
        dump += ']';
    }
    return dump;
}

void CheckDump(const std::string& dump, const uint8_t* data, uint32_t size, int bytesPerLine, uint32_t indentation)
{
    if (size > 1024) {
        FUZZ_CHECK_EQ(dump, "[ TO MANY DATA TO BE DISPLAYED (Size=" + std::to_string(size) + ") ]");
        return;
    }
    const size_t perLine = static_cast<size_t>(std::min(std::max(bytesPerLine, 10), 64));
    const size_t openingLength = std::max(std::min(indentation, 65u), 2u);
    const std::string opening = std::string(openingLength - 2, ' ') + "[ ";
    const size_t lineCount = size == 0 ? 1 : (size + perLine - 1) / perLine;
    const size_t lineLength = size == 0 ? openingLength + 1 : openingLength + 3 * perLine + 1;

    size_t lines = 0;
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(dump.find('\n', start), dump.size());
        const std::string line = dump.substr(start, end - start);
        ++lines;
        FUZZ_CHECK(line.compare(0, opening.size(), opening) == 0);
        FUZZ_CHECK(!line.empty() && line.back() == ']');
        FUZZ_CHECK_EQ(line.size(), lineLength);
        if (end == dump.size())
            break;
        start = end + 1;
    }
    FUZZ_CHECK_EQ(lines, lineCount);
    FUZZ_CHECK_EQ(dump, ExpectedDump(data, size, bytesPerLine, indentation));
}

// The whole file after a truncation and one record written between beforeMs
// and afterMs: header, optionally the method line, the message, "\n".
void CheckRecord(const std::string& file, Log::eLevel level, bool displayMethod, const std::string& message,
                 long long beforeMs, long long afterMs)
{
    const size_t headerLength = CheckRecordHeader(file, level, beforeMs, afterMs);
    std::string rest = file.substr(headerLength);
    if (displayMethod) {
        const std::string methodLine = "[" + std::string(Function) + "] \n" + std::string(headerLength, ' ');
        FUZZ_CHECK_EQ(rest.substr(0, methodLine.size()), methodLine);
        rest.erase(0, methodLine.size());
    }
    FUZZ_CHECK_EQ(rest, message.substr(0, MessageRoom) + "\n");
}

void Truncate()
{
    if (truncate(LogPath.c_str(), 0) != 0)
        abort();
}

void DestroyLog()
{
    delete FileLog;
    FileLog = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string& dir = FuzzTempDir();
    const std::string confPath = dir + "/cue_ctl.conf";
    LogPath = dir + "/cue_ctl.log";
    const char conf[] = "cue_ctl=MORE_DEBUG\nMODE=LOCAL\n";
    WriteWholeFile(confPath, conf, sizeof conf - 1);
    FileLog = new Log(LogPath.c_str(), "cue_ctl", confPath.c_str(), Log::NONE);
    atexit(DestroyLog);  // before the folder goes
    if (FileLog->GetLevel() != Log::MORE_DBG || FileLog->GetLogMode() != 0) {
        fprintf(stderr, "fuzz_record_writer: the log did not take its configuration\n");
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize)
{
    uint8_t fields[Fields] = {};  // a short input leaves the rest zero
    std::copy(input, input + std::min(inputSize, Fields), fields);
    const size_t dataSize = inputSize > Fields ? inputSize - Fields : 0;
    std::vector<unsigned char> data(input + std::min(inputSize, Fields), input + inputSize);

    const uint32_t rawSize = Word(fields + 1);
    const uint32_t size = !(fields[0] & 1) ? static_cast<uint32_t>(dataSize)
                          : rawSize > 1024 ? rawSize
                                           : std::min<uint32_t>(rawSize, static_cast<uint32_t>(dataSize));
    const int bytesPerLine = static_cast<int>(Word(fields + 5));
    const uint32_t indentation = Word(fields + 9);
    const bool displayMethod = fields[0] & 2;
    const Log::eLevel level = static_cast<Log::eLevel>((fields[0] >> 2) % 6);

    const std::string dump = Log::ConvertByteArrayToString(data.data(), size, bytesPerLine, indentation);
    CheckDump(dump, data.data(), size, bytesPerLine, indentation);

    // The text as a C string: the data up to its first zero byte.
    const std::string text(data.begin(), std::find(data.begin(), data.end(), 0));
    FileLog->SetDisplayMethod(displayMethod);

    Truncate();
    long long before = NowMs();
    FileLog->Write("%s", level, Function, text.c_str());
    CheckRecord(ReadWholeFile(LogPath), level, displayMethod, text, before, NowMs());

    Truncate();
    before = NowMs();
    FileLog->Write("%s", data.data(), size, static_cast<unsigned int>(bytesPerLine), indentation, level, Function,
                   text.c_str());
    CheckRecord(ReadWholeFile(LogPath), level, displayMethod, text.substr(0, MessageRoom) + "\n" + dump, before,
                NowMs());
    Truncate();
    return 0;
}
