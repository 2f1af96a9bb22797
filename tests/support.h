// What the unit tests share: whole-file reads and writes, a full log on files
// in a private temporary folder, and a loopback listener on a port the kernel picks.
#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include <tessra/log/log.h>

constexpr char HeaderBlock[] =
    "\n"
    "YYYY/MM/DD HH:MM:SS.mmm THREADID LEVEL LOG MESSAGE                            \n"
    "----------------------- -------- ----- ---------------------------------------\n";

// A record header at the start of the text: date, time, thread, level column.
inline const std::regex RecordHeader(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} +\d+ (.{5})  )");

inline std::string ReadFile(const std::string& path)
{
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

inline void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline bool Exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

// A log file and a configuration file in a fresh folder under $TMPDIR (or
// /tmp), removed with its contents when the object goes.
struct LogFiles {
    const std::string Dir = MakeDir();
    const std::string LogPath = Dir + "/app.log";
    const std::string ConfPath = Dir + "/log.conf";

    ~LogFiles() { std::filesystem::remove_all(Dir); }
    static std::string MakeDir()
    {
        std::string dir = std::filesystem::temp_directory_path() / "cue_ctl_test.XXXXXX";
        return mkdtemp(&dir[0]) != nullptr ? dir : (abort(), "");
    }
    // A full log (configuration, header, thread) for the application cue_ctl.
    std::unique_ptr<Log> Open(const std::string& conf)
    {
        WriteFile(ConfPath, conf);
        return std::make_unique<Log>(LogPath.c_str(), "cue_ctl", ConfPath.c_str(), Log::NONE);
    }
    // The message of each record line of the log file, each followed by "|".
    std::string Messages() const
    {
        std::istringstream lines(ReadFile(LogPath));
        std::string line, messages;
        std::smatch match;
        while (std::getline(lines, line))
            if (std::regex_search(line, match, RecordHeader, std::regex_constants::match_continuous))
                messages += match.suffix().str() + "|";
        return messages;
    }
};

// Loopback TCP on the port given, or one the kernel picks so that parallel
// tests never share one.
struct Listener {
    const int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int Port;

    explicit Listener(int port = 0) : Port(port)
    {
        struct sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        socklen_t length = sizeof address;
        if (bind(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(Fd, 8) != 0 ||
            getsockname(Fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            abort();
        Port = ntohs(address.sin_port);
    }
    ~Listener() { close(Fd); }

    // The next connection, or -1 when none arrives within the time.
    int Accept(int timeoutMs = 5000) const { return Readable(Fd, timeoutMs) ? accept(Fd, nullptr, nullptr) : -1; }
    static bool Readable(int fd, int timeoutMs)
    {
        struct pollfd entry = {fd, POLLIN, 0};
        return poll(&entry, 1, timeoutMs) == 1;
    }
};

#endif
