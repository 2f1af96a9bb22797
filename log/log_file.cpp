// The LOCAL destination: one open, write and close of the log file per
// record, the size check after it, rotation and the column header.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "log.h"

namespace {

constexpr char HeaderBlock[] =
    "\n"
    "YYYY/MM/DD HH:MM:SS.mmm THREADID LEVEL LOG MESSAGE                            \n"
    "----------------------- -------- ----- ---------------------------------------\n";

// Descriptor of the log file, open for one record; closed when it goes.
class AppendFile {
public:
    explicit AppendFile(const std::string& path)
        : Fd(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666))
    {
        if (Fd < 0)
            fprintf(stderr, "Failed to open log file: %s\n", path.c_str());
    }
    ~AppendFile()
    {
        if (Fd >= 0)
            close(Fd);
    }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    bool IsOpen() const { return Fd >= 0; }
    void Write(const struct iovec* parts, int count) const { (void)!writev(Fd, parts, count); }

private:
    const int Fd;
};

struct iovec Part(const char* text, size_t length)
{
    return {const_cast<char*>(text), length};
}

bool IsSameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when both names exist and name one file.
bool AreLinked(const std::string& a, const std::string& b)
{
    struct stat first;
    struct stat second;
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && IsSameFile(first, second);
}

// Several writers, threads or processes, may find the same file over the
// limit. The first to lock it rotates it, once it has checked that the file
// still has the log's name (else it would rotate away a fresh file). The
// others never wait: they go on appending to the old file, which becomes
// file 1 anyway. Where the file system has no locks, the writer rotates as
// a single writer would. The descriptor is opened for writing, as the
// writer may not be allowed to read the log.
class RotationLock {
public:
    RotationLock(const std::string& path, const struct stat& measured)
        : Fd(open(path.c_str(), O_WRONLY | O_CLOEXEC)), Held(false)
    {
        struct stat status;
        if (Fd < 0 || fstat(Fd, &status) != 0 || !IsSameFile(status, measured))
            return;
        if (flock(Fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
            return;
        Held = stat(path.c_str(), &status) == 0 && IsSameFile(status, measured);
    }
    ~RotationLock()
    {
        if (Fd >= 0)
            close(Fd);  // and with it the lock
    }
    RotationLock(const RotationLock&) = delete;
    RotationLock& operator=(const RotationLock&) = delete;

    bool IsHeld() const { return Held; }

private:
    const int Fd;
    bool Held;
};

// Creates or truncates the file at path to hold just the header block.
bool WriteHeaderFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool written = write(fd, HeaderBlock, sizeof HeaderBlock - 1) == static_cast<ssize_t>(sizeof HeaderBlock - 1);
    if (close(fd) == 0 && written)
        return true;
    unlink(path.c_str());
    return false;
}

}  // namespace

void Log::WriteLocal(eLevel level, const char* format, const char* function, va_list args)
{
    {
        const AppendFile file(LogFilePath);
        if (!file.IsOpen())
            return;

        char header[80];
        FormatHeader(header, level);
        const size_t headerLength = strlen(header);
        char message[10240];
        const int formatted = vsnprintf(message, sizeof message, format, args);
        const size_t messageLength =
            formatted < 0 ? 0 : static_cast<size_t>(formatted) < sizeof message ? formatted : sizeof message - 1;

        static const char Spaces[81] = "                                                                                ";
        struct iovec parts[7];
        int count = 0;
        parts[count++] = Part(header, headerLength);
        if (DisplayMethod) {
            parts[count++] = Part("[", 1);
            parts[count++] = Part(function, strlen(function));
            parts[count++] = Part("] \n", 3);
            parts[count++] = Part(Spaces, headerLength);
        }
        parts[count++] = Part(message, messageLength);
        parts[count++] = Part("\n", 1);
        file.Write(parts, count);
    }

    struct stat status;
    if (stat(LogFilePath.c_str(), &status) != 0)
        return;
    // The limit as a 32-bit signed value, as on the unit; the size whole.
    const int32_t limit = static_cast<int32_t>(static_cast<uint32_t>(MaxFileSizeMb) << 20);
    if (status.st_size <= limit)
        return;
    const RotationLock lock(LogFilePath, status);
    if (lock.IsHeld())
        RotateLogFile();
}

// MaxFileCount 2: remove log.2, log.1 -> log.2, log -> log.1, new log with the header.
void Log::RotateLogFile()
{
    const std::string base = LogFilePath + ".";
    if (MaxFileCount < 1) {
        remove((base + std::to_string(MaxFileCount)).c_str());
        InsertHeader();
        return;
    }
    // The log keeps its name until a file holding the header block replaces
    // it in one step, so a writer never finds the name missing and starts a
    // file without the header. That file, log.new, is written first: a
    // rotation cut short leaves it behind, and when file 1 is then missing or
    // the log itself, the shift is done and must not run twice (it would
    // drop the file it moved); this rotation finishes that one.
    const std::string first = base + "1";
    const std::string fresh = LogFilePath + ".new";
    const bool withHeader = Level.load(std::memory_order_relaxed) != NONE;
    const bool shifted = withHeader && access(fresh.c_str(), F_OK) == 0 &&
                         (access(first.c_str(), F_OK) != 0 || AreLinked(first, LogFilePath));
    const bool prepared = withHeader && WriteHeaderFile(fresh);
    if (!shifted) {
        remove((base + std::to_string(MaxFileCount)).c_str());
        for (int i = MaxFileCount; i >= 2; --i)
            rename((base + std::to_string(i - 1)).c_str(), (base + std::to_string(i)).c_str());
    }
    if (prepared) {
        if (link(LogFilePath.c_str(), first.c_str()) == 0 || AreLinked(first, LogFilePath)) {
            if (rename(fresh.c_str(), LogFilePath.c_str()) == 0)
                return;
            unlink(first.c_str());
        }
        unlink(fresh.c_str());
    }
    rename(LogFilePath.c_str(), first.c_str());
    InsertHeader();
}

void Log::InsertHeader()
{
    if (Level.load(std::memory_order_relaxed) == NONE)
        return;
    const AppendFile file(LogFilePath);
    if (!file.IsOpen())
        return;
    const struct iovec block = Part(HeaderBlock, sizeof HeaderBlock - 1);
    file.Write(&block, 1);
}
