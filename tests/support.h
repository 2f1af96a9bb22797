// What the unit tests share: a private temporary folder, whole-file reads and
// writes, a loopback listener on a port the kernel picks, and a full log on
// files of its own.
#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "log/log.h"

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

// A fresh folder under $TMPDIR (or /tmp), removed with its contents when it goes.
class TempDir {
public:
    TempDir()
    {
        const char* base = getenv("TMPDIR");
        Root = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cue_ctl_test.XXXXXX";
        if (mkdtemp(&Root[0]) == nullptr)
            abort();
    }
    ~TempDir()
    {
        nftw(Root.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 16,
             FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name) const { return Root + "/" + name; }

private:
    std::string Root;
};

// Loopback TCP on a port the kernel picks (port 0), so parallel tests never share one.
class Listener {
public:
    explicit Listener(int port = 0) : Fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        struct sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        socklen_t length = sizeof address;
        const int reuse = 1;
        setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        if (bind(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(Fd, 8) != 0 ||
            getsockname(Fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            abort();
        PortNumber = ntohs(address.sin_port);
    }
    ~Listener() { close(Fd); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int Port() const { return PortNumber; }
    // The next connection, or -1 when none arrives within the time.
    int Accept(int timeoutMs = 5000) { return Readable(Fd, timeoutMs) ? accept(Fd, nullptr, nullptr) : -1; }
    static bool Readable(int fd, int timeoutMs)
    {
        struct pollfd entry = {fd, POLLIN, 0};
        return poll(&entry, 1, timeoutMs) == 1;
    }

private:
    int Fd;
    int PortNumber = 0;
};

// A loopback port with nothing listening on it.
inline int UnusedPort()
{
    return Listener().Port();
}

// Reads until `until` has been seen, the peer closes or 5 s pass without data.
inline std::string ReadUntil(int fd, const std::string& until)
{
    std::string received;
    char chunk[4096];
    for (ssize_t count; received.find(until) == std::string::npos && Listener::Readable(fd, 5000) &&
                        (count = read(fd, chunk, sizeof chunk)) > 0;)
        received.append(chunk, static_cast<size_t>(count));
    return received;
}

// A full log (configuration, header, thread) on files in its own folder.
struct LogFiles {
    TempDir Dir;
    const std::string LogPath = Dir.Path("app.log");
    const std::string ConfPath = Dir.Path("log.conf");

    std::unique_ptr<Log> Open(const std::string& conf)
    {
        WriteFile(ConfPath, conf);
        return std::make_unique<Log>(LogPath.c_str(), "cue_ctl", ConfPath.c_str(), Log::NONE);
    }
    // The message of every record line of the log file ("" for lines without a header).
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

#endif
