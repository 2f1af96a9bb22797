#ifndef TESTS_LOG_TEST_SUPPORT_H
#define TESTS_LOG_TEST_SUPPORT_H

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "log/log.h"
#include "temp_dir.h"

// Two lines of exactly 78 characters after an empty one.
constexpr char HeaderBlock[] =
    "\n"
    "YYYY/MM/DD HH:MM:SS.mmm THREADID LEVEL LOG MESSAGE                            \n"
    "----------------------- -------- ----- ---------------------------------------\n";

// Matches the record header at the start of a line: date, time, thread, level.
inline const std::regex& RecordHeader()
{
    static const std::regex header(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} +\d+ (.{5})  )");
    return header;
}

// A full log (thread, configuration, header) on files in its own temporary folder.
struct LogFiles {
    TempDir Dir;
    const std::string LogPath = Dir.Path("app.log");
    const std::string ConfPath = Dir.Path("log.conf");

    std::unique_ptr<Log> Open(const std::string& conf, const char* appName = "cue_ctl")
    {
        WriteFile(ConfPath, conf);
        return std::make_unique<Log>(LogPath.c_str(), appName, ConfPath.c_str(), Log::NONE);
    }
};

#endif
