// Arbitrary configuration files through Log::ParseLogConfFile, checked
// against a reading of the file rules of README.md done here on the raw
// bytes: one setting per line, "#" comments of which only twenty are read
// past, the value after the last "=", the port as strtol saturated to 32 bits.
#include <stdint.h>
#include <stdlib.h>

#include <climits>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "log/log.h"

namespace {

std::string ConfPath;

struct Settings {
    int32_t level = Log::INFO;  // what the log was made with
    int32_t mode = 0;
    std::string ip;
    int32_t port = 0;
};

// Lines as a line reader sees them: split at "\n", a last piece without one
// is a line too, nothing after a final "\n".
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Base-10 number as strtol reads it, held to the 32-bit range.
int32_t Port(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > int64_t(INT32_MAX) + 1)
            value = int64_t(INT32_MAX) + 1;  // past either limit already
    }
    if (negative)
        return value > int64_t(INT32_MAX) ? INT32_MIN : static_cast<int32_t>(-value);
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

int32_t LevelOf(const std::string& word)
{
    static const char* const words[] = {"NONE", "MAJOR", "WARNING", "INFO", "DEBUG", "MORE_DEBUG"};
    for (int32_t level = 0; level < 6; ++level)
        if (word == words[level])
            return level;
    return Log::NONE;
}

Settings Expected(const std::string& text)
{
    Settings settings;
    int comments = 0;
    for (const std::string& line : Lines(text)) {
        if (comments == 20)
            break;
        if (line.empty())
            continue;
        if (line[0] == '#') {
            ++comments;
            continue;
        }
        const size_t equals = line.rfind('=');
        const std::string value = equals == std::string::npos ? line : line.substr(equals + 1);
        if (line.rfind("cue_ctl=", 0) == 0) {
            settings.level = LevelOf(value);
        } else if (line.rfind("MODE", 0) == 0) {
            settings.mode = value == "REMOTE";
        } else if (line.rfind("REMOTE_HOST", 0) == 0) {
            const size_t colon = value.find(':');
            settings.ip = value.substr(0, colon);
            settings.port = colon == std::string::npos ? 0 : Port(value.substr(colon + 1));
        }
    }
    return settings;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ConfPath = FuzzTempDir() + "/cue_ctl.conf";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    WriteWholeFile(ConfPath, data, size);
    // A null log: no thread, no files of its own, only the parser.
    Log log("/dev/null", "cue_ctl", ConfPath.c_str(), Log::INFO);
    FUZZ_CHECK(log.ParseLogConfFile());

    const int32_t level = log.GetLevel();
    FUZZ_CHECK(level >= Log::NONE && level <= Log::MORE_DBG);
    FUZZ_CHECK(log.GetLogMode() == 0 || log.GetLogMode() == 1);

    const Settings expected = Expected(std::string(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK_EQ(level, expected.level);
    FUZZ_CHECK_EQ(log.GetLogMode(), expected.mode);
    FUZZ_CHECK_EQ(log.GetRemoteIp(), expected.ip);
    FUZZ_CHECK_EQ(log.GetRemotePort(), expected.port);
    return 0;
}
