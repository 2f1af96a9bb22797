// An input is a configuration file, read by a null log right after a file of known
// settings. The result must follow the file's rules: lines split at "\n", nothing
// read past twenty comments, the value after the last "=", a setting kept unless its line comes.
#include "fuzz_support.h"

static const MemFile Conf;
static Log Parser("/dev/null", "cue_ctl", Conf.Path.c_str(), Log::NONE);
static const char Known[] = "cue_ctl=DEBUG\nMODE=REMOTE\nREMOTE_HOST=known:7\n";
static const char* const LevelWords[] = {"NONE", "MAJOR", "WARNING", "INFO", "DEBUG", "MORE_DEBUG"};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Conf.Set(Known, sizeof Known - 1);
    FUZZ_CHECK(Parser.ParseLogConfFile());
    Conf.Set(data, size);
    FUZZ_CHECK(Parser.ParseLogConfFile());

    int32_t level = Log::DBG, mode = 1, comments = 0, port = 7;
    std::string ip = "known";
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (size_t start = 0, end; start < size && comments < 20; start = end + 1) {
        end = std::min(text.find('\n', start), size);
        const std::string line = text.substr(start, end - start);
        const std::string value = line.substr(line.rfind('=') + 1);  // npos + 1: the whole line
        if (line[0] == '#')
            ++comments;
        else if (line.compare(0, 8, "cue_ctl=") == 0)
            level = (std::find(LevelWords, LevelWords + 6, value) - LevelWords) % 6;  // no word: NONE
        else if (line.compare(0, 4, "MODE") == 0)
            mode = value == "REMOTE";
        else if (line.compare(0, 11, "REMOTE_HOST") == 0) {
            const size_t colon = value.find(':');
            ip = value.substr(0, colon);
            // strtol held to 32 bits, as on the unit, whose long has 32.
            port = colon == std::string::npos ? 0 : std::clamp<long long>(strtoll(&value[colon + 1], nullptr, 10),
                                                                           INT32_MIN, INT32_MAX);
        }
    }
    FUZZ_CHECK(Parser.GetLevel() == level && Parser.GetLogMode() == mode);
    FUZZ_CHECK(Parser.GetRemoteIp() == ip && Parser.GetRemotePort() == port);
    return 0;
}
