// The shared log configuration file: one line per application's level,
// the mode line and the remote host line.
#include <stdlib.h>

#include <climits>
#include <fstream>

#include "log.h"

namespace {

// The file's level words, indexed by Log::eLevel; not the record names.
constexpr const char* LevelWords[] = {"NONE", "MAJOR", "WARNING", "INFO", "DEBUG", "MORE_DEBUG"};
constexpr int MaxCommentLines = 20;

bool StartsWith(const std::string& line, const std::string& prefix)
{
    return line.compare(0, prefix.size(), prefix) == 0;
}

// The text after the last "=", or the whole line without one.
std::string ValueOf(const std::string& line)
{
    const size_t equals = line.rfind('=');
    return equals == std::string::npos ? line : line.substr(equals + 1);
}

Log::eLevel LevelFromWord(const std::string& word)
{
    for (int level = Log::NONE; level <= Log::MORE_DBG; ++level)
        if (word == LevelWords[level])
            return static_cast<Log::eLevel>(level);
    return Log::NONE;
}

// strtol in base 10, saturated to 32 bits as on the unit, whose long is 32 bits.
int32_t PortFromText(const std::string& text)
{
    const long port = strtol(text.c_str(), nullptr, 10);
    return port > INT32_MAX ? INT32_MAX : port < INT32_MIN ? INT32_MIN : static_cast<int32_t>(port);
}

}  // namespace

bool Log::ParseLogConfFile()
{
    const std::string appKey = AppName + "=";
    std::ifstream file(ConfFilePath);
    if (!file.is_open())
        return false;

    int comments = 0;
    std::string line;
    while (std::getline(file, line)) {
        if (comments >= MaxCommentLines)
            break;
        if (line.empty())
            continue;
        if (line[0] == '#') {
            ++comments;
            continue;
        }
        const std::string value = ValueOf(line);
        if (StartsWith(line, appKey)) {
            Level = LevelFromWord(value);
        } else if (StartsWith(line, "MODE")) {
            LogMode = value == "REMOTE" ? 1 : 0;
        } else if (StartsWith(line, "REMOTE_HOST")) {
            // "IpAddress:Port"; a value without a port gives port 0.
            const size_t colon = value.find(':');
            RemoteIp = value.substr(0, colon);
            RemotePort = colon == std::string::npos ? 0 : PortFromText(value.substr(colon + 1));
        }
    }
    return true;
}

void Log::WriteDefaultConfFile()
{
    const eLevel level = Level.load();
    const char* word = level >= NONE && level <= MORE_DBG ? LevelWords[level] : LevelWords[NONE];
    std::ofstream file(ConfFilePath, std::ios::out | std::ios::trunc);
    file << "#Tavrin Technology Log Configuration File\n"
            "#Format: <ApplicationName=LogLevel> (No space allowed)\n"
            "#        <MODE=LogMode> (No space allowed)\n"
            "#        <REMOTE_HOST=IpAddress:Port> (No space allowed)\n"
            "#LogLevel can be NONE, MAJOR, WARNING, INFO, DEBUG, MORE_DEBUG\n"
            "#LogMode can be LOCAL or REMOTE\n"
            "#IpAddress:Port can be any valid ip address and port where there's a log server running\n"
            "#Example: vexa=MAJOR\n"
         << AppName << "=" << word << "\n"
         << "MODE=LOCAL\n"
            "REMOTE_HOST=0.0.0.0:0\n";
}
