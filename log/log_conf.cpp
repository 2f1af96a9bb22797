// The shared log configuration file: one line per application's level,
// the mode line and the remote host line.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string_view>

#include "log.h"
#include "conf_reader.h"
#include "whole_file.h"

using tessra::Descriptor;
using tessra::IsSameFile;
using tessra::WriteWhole;

namespace {

// The file's level words, indexed by Log::eLevel; not the record names.
constexpr const char* LevelWords[] = {"NONE", "MAJOR", "WARNING", "INFO", "DEBUG", "MORE_DEBUG"};
constexpr int MaxCommentLines = 20;
constexpr int MaxLinkHops = 8;  // as a loop of links would go on for ever

Log::eLevel LevelFromWord(std::string_view word)
{
    for (int level = Log::NONE; level <= Log::MORE_DBG; ++level)
        if (word == LevelWords[level])
            return static_cast<Log::eLevel>(level);
    return Log::NONE;
}

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

// An unnamed file in the folder, written, synced and then linked in: a
// crash leaves nothing behind, and a file that appeared meanwhile stays.
// False where the file system (or a missing /proc) does not allow it.
bool LinkUnnamedFile(const std::string& folder, const std::string& target, const std::string& text)
{
#ifdef O_TMPFILE
    const Descriptor file(open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (!file.IsOpen() || !WriteWhole(file, text, true))
        return false;
    const std::string self = "/proc/self/fd/" + std::to_string(file.Get());
    return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0 || errno == EEXIST;
#else
    (void)folder;
    (void)target;
    (void)text;
    return false;
#endif
}

// Elsewhere a temporary under a fixed name, so that crashes leave at most
// this one file, which the next start reuses. It is never followed: a link
// planted there is left alone. Its lock keeps two processes from writing it
// at once; one that finds it already linked in (a crash between the link
// and the unlink) only removes the name.
void LinkTemporaryFile(const std::string& target, const std::string& text)
{
    const std::string temporary = target + ".new";
    const Descriptor file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
    if (!file.IsOpen())
        return;
    struct stat opened;
    struct stat named;
    const bool ours = !(flock(file.Get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) &&
                      fstat(file.Get(), &opened) == 0 && lstat(temporary.c_str(), &named) == 0 &&
                      IsSameFile(opened, named);
    if (!ours)
        return;
    if (S_ISREG(opened.st_mode) && opened.st_nlink == 1 && ftruncate(file.Get(), 0) == 0 &&
        WriteWhole(file, text, true))
        link(temporary.c_str(), target.c_str());
    unlink(temporary.c_str());
}

void SyncFolder(const std::string& folder)
{
    const Descriptor file(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (file.IsOpen())
        fsync(file.Get());
}

}  // namespace

bool Log::ParseLogConfFile()
{
    tessra::ConfReader file(ConfFilePath);
    if (!file.IsOpen())
        return false;

    const std::string appKey = AppName + "=";
    tessra::ConfLine line(std::max(appKey.size(), sizeof "REMOTE_HOST" - 1));
    int comments = 0;
    bool whole;
    while (file.NextLine(line, whole)) {
        if (comments >= MaxCommentLines)
            break;
        // A line the read cap cut sets nothing: its value is unknown.
        if (line.IsEmpty() || !whole)
            continue;
        if (line.StartsWith("#")) {
            ++comments;
            continue;
        }
        if (line.StartsWith(appKey)) {
            Level = LevelFromWord(line.Value());
        } else if (line.StartsWith("MODE")) {
            LogMode = line.Value() == "REMOTE" ? 1 : 0;
        } else if (line.StartsWith("REMOTE_HOST")) {
            // "IpAddress:Port"; a value without a port gives port 0.
            RemoteIp.assign(line.Address());
            RemotePort = line.Port();
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
