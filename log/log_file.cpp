// The LOCAL destination: one open, write and close of the log file per
// record, the size check after it, rotation and the column header.
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

// Several writers, threads or processes, may find the same file over the
// limit. Each takes the file's lock, and only one that still finds it under
// the log's name rotates it; the others would rotate away a fresh file.
class RotationLock {
public:
    RotationLock(const std::string& path, const struct stat& measured)
        : Fd(open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        struct stat status;
        Held = Fd >= 0 && IsSameFile(fstat(Fd, &status), status, measured) && flock(Fd, LOCK_EX) == 0 &&
               IsSameFile(stat(path.c_str(), &status), status, measured);
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
    static bool IsSameFile(int result, const struct stat& a, const struct stat& b)
    {
        return result == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    }

    const int Fd;
    bool Held;
};

// A new file holding just the header block, under a name no other writer uses.
std::string NewFileWithHeader(const std::string& logPath)
{
    static std::atomic<unsigned> counter{0};
    const std::string path = logPath + ".new." + std::to_string(getpid()) + "." + std::to_string(counter++);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return "";
    const bool written = write(fd, HeaderBlock, sizeof HeaderBlock - 1) == static_cast<ssize_t>(sizeof HeaderBlock - 1);
    close(fd);
    if (!written) {
        unlink(path.c_str());
        return "";
    }
    return path;
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
    const std::string oldest = base + std::to_string(MaxFileCount);
    const int removed = open(oldest.c_str(), O_RDONLY | O_CLOEXEC);
    remove(oldest.c_str());
    if (removed >= 0) {
        const int previous = RemovedFile.exchange(removed);
        if (previous >= 0)
            close(previous);
    }
    for (int i = MaxFileCount; i >= 2; --i)
        rename((base + std::to_string(i - 1)).c_str(), (base + std::to_string(i)).c_str());
    if (MaxFileCount < 1) {
        InsertHeader();
        return;
    }
    // The fresh file with its header takes the log's name in one step, so a
    // writer never finds the name missing and starts a file without the header.
    const std::string fresh = Level.load(std::memory_order_relaxed) == NONE ? "" : NewFileWithHeader(LogFilePath);
    if (!fresh.empty()) {
        if (renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, LogFilePath.c_str(), RENAME_EXCHANGE) == 0) {
            rename(fresh.c_str(), (base + "1").c_str());
            return;
        }
        unlink(fresh.c_str());  // no exchange on this file system
    }
    rename(LogFilePath.c_str(), (base + "1").c_str());
    InsertHeader();
}

void Log::CloseRemovedFile()
{
    const int removed = RemovedFile.exchange(-1);
    if (removed >= 0)
        close(removed);
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
