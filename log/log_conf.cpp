// The shared log configuration file: one line per application's level,
// the mode line and the remote host line.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "log.h"

namespace {

// The file's level words, indexed by Log::eLevel; not the record names.
constexpr const char* LevelWords[] = {"NONE", "MAJOR", "WARNING", "INFO", "DEBUG", "MORE_DEBUG"};
constexpr int MaxCommentLines = 20;
constexpr int MaxLinkHops = 8;  // as a loop of links would go on for ever

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

// Where the default file goes: the path itself or, when the path is a
// (dangling) symbolic link, where it points, so that the link stays one.
std::string LinkTarget(const std::string& path)
{
    std::string target = path;
    for (int hops = 0; hops < MaxLinkHops; ++hops) {
        char pointed[PATH_MAX];
        const ssize_t length = readlink(target.c_str(), pointed, sizeof pointed);
        if (length <= 0 || static_cast<size_t>(length) == sizeof pointed)
            break;
        const size_t slash = target.rfind('/');
        const bool relative = pointed[0] != '/' && slash != std::string::npos;
        target = (relative ? target.substr(0, slash + 1) : "") + std::string(pointed, static_cast<size_t>(length));
    }
    return target;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAndSync(int fd, const std::string& text)
{
    return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
}

// An unnamed file in the folder, written, synced and then linked in: a
// crash leaves nothing behind, and a file that appeared meanwhile stays.
// False where the file system (or a missing /proc) does not allow it.
bool LinkUnnamedFile(const std::string& folder, const std::string& target, const std::string& text)
{
#ifdef O_TMPFILE
    const int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    bool placed = false;
    if (WriteAndSync(fd, text)) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        placed = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0 || errno == EEXIST;
    }
    close(fd);
    return placed;
#else
    (void)folder;
    (void)target;
    (void)text;
    return false;
#endif
}

// Elsewhere a temporary under a fixed name, so that crashes leave at most
// this one file, which the next start reuses. Its lock keeps two processes
// from writing it at once; one that finds it already linked in (a crash
// between the link and the unlink) only removes the name.
void LinkTemporaryFile(const std::string& target, const std::string& text)
{
    const std::string temporary = target + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    struct stat opened;
    struct stat named;
    const bool ours = !(flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) && fstat(fd, &opened) == 0 &&
                      stat(temporary.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
                      opened.st_ino == named.st_ino;
    if (ours) {
        if (opened.st_nlink == 1 && ftruncate(fd, 0) == 0 && WriteAndSync(fd, text))
            link(temporary.c_str(), target.c_str());
        unlink(temporary.c_str());
    }
    close(fd);
}

void SyncFolder(const std::string& folder)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

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

// The default file appears whole or not at all, and only where no file is
// (a process may end at any moment: the -v path ends while this runs). Its
// bytes reach the disk before its name does, so a power cut never leaves
// the name on an empty file, which would never be rewritten.
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
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";

    const std::string target = LinkTarget(ConfFilePath);
    const std::string folder = FolderOf(target);
    if (!LinkUnnamedFile(folder, target, text))
        LinkTemporaryFile(target, text);
    SyncFolder(folder);
}
