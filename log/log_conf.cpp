// The shared log configuration file: one line per application's level,
// the mode line and the remote host line.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <climits>

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

// Reads the file line by line as getline does: up to each "\n", the last
// line without one. Opened non-blocking so that a FIFO at the path cannot
// hold the reader, and cut off after MaxConfBytes so that a device or an
// endless file there cannot exhaust memory.
class ConfReader {
public:
    explicit ConfReader(const std::string& path) : Fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
    ~ConfReader()
    {
        if (Fd >= 0)
            close(Fd);
    }
    ConfReader(const ConfReader&) = delete;
    ConfReader& operator=(const ConfReader&) = delete;

    bool IsOpen() const { return Fd >= 0; }

    // False at the end of the file or at a read error.
    bool NextLine(std::string& line)
    {
        line.clear();
        bool any = false;
        for (;;) {
            if (Next == End && !Fill())
                return any;
            any = true;
            const char* newline = static_cast<const char*>(memchr(Buffer + Next, '\n', End - Next));
            const size_t stop = newline != nullptr ? static_cast<size_t>(newline - Buffer) : End;
            line.append(Buffer + Next, stop - Next);
            Next = newline != nullptr ? stop + 1 : stop;
            if (newline != nullptr)
                return true;
        }
    }

private:
    static constexpr size_t MaxConfBytes = 16 << 20;

    bool Fill()
    {
        if (Total >= MaxConfBytes)
            return false;
        ssize_t count;
        do
            count = read(Fd, Buffer, sizeof Buffer);
        while (count < 0 && errno == EINTR);
        if (count <= 0)
            return false;
        Next = 0;
        End = static_cast<size_t>(count);
        Total += End;
        return true;
    }

    const int Fd;
    char Buffer[4096];
    size_t Next = 0;
    size_t End = 0;
    size_t Total = 0;
};

}  // namespace

bool Log::ParseLogConfFile()
{
    const std::string appKey = AppName + "=";
    ConfReader file(ConfFilePath);
    if (!file.IsOpen())
        return false;

    int comments = 0;
    std::string line;
    while (file.NextLine(line)) {
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

// Written under a temporary name in the same folder, line by line, and
// renamed into place: a process ended at any moment (the -v path ends while
// this runs) leaves the whole file or none, never an empty one that would
// keep the default from ever being written.
void Log::WriteDefaultConfFile()
{
    const eLevel level = Level.load();
    const std::string lines[] = {
        "#Tavrin Technology Log Configuration File",
        "#Format: <ApplicationName=LogLevel> (No space allowed)",
        "#        <MODE=LogMode> (No space allowed)",
        "#        <REMOTE_HOST=IpAddress:Port> (No space allowed)",
        "#LogLevel can be NONE, MAJOR, WARNING, INFO, DEBUG, MORE_DEBUG",
        "#LogMode can be LOCAL or REMOTE",
        "#IpAddress:Port can be any valid ip address and port where there's a log server running",
        "#Example: vexa=MAJOR",
        AppName + "=" + LevelWords[level >= NONE && level <= MORE_DBG ? level : NONE],
        "MODE=LOCAL",
        "REMOTE_HOST=0.0.0.0:0",
    };
    const std::string temporary = ConfFilePath + ".new." + std::to_string(getpid());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    bool written = true;
    for (const std::string& line : lines) {
        const std::string text = line + "\n";
        written = written && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    if (close(fd) == 0 && written)
        rename(temporary.c_str(), ConfFilePath.c_str());
    else
        unlink(temporary.c_str());
}
