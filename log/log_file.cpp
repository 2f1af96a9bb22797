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
#include "whole_file.h"

using tessra::AreLinked;
using tessra::CreateWhole;
using tessra::Descriptor;
using tessra::IsSameFile;

namespace {

constexpr char HeaderBlock[] =
    "\n"
    "YYYY/MM/DD HH:MM:SS.mmm THREADID LEVEL LOG MESSAGE                            \n"
    "----------------------- -------- ----- ---------------------------------------\n";

// The log file, open for appending one record; diagnosed when it cannot be.
class AppendFile {
public:
    explicit AppendFile(const std::string& path)
        : File(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666))
    {
        if (!File.IsOpen())
            fprintf(stderr, "Failed to open log file: %s\n", path.c_str());
    }

    bool IsOpen() const { return File.IsOpen(); }
    void Write(const struct iovec* parts, int count) const { (void)!writev(File.Get(), parts, count); }

private:
    const Descriptor File;
};

struct iovec Part(const char* text, size_t length)
{
    return {const_cast<char*>(text), length};
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
        : File(open(path.c_str(), O_WRONLY | O_CLOEXEC)), Held(false)
    {
        struct stat status;
        if (!File.IsOpen() || fstat(File.Get(), &status) != 0 || !IsSameFile(status, measured))
            return;
        if (flock(File.Get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
            return;
        Held = stat(path.c_str(), &status) == 0 && IsSameFile(status, measured);
    }

    bool IsHeld() const { return Held; }

private:
    const Descriptor File;  // its close releases the lock
    bool Held;
};

// File 1 becomes the log, which keeps its name meanwhile. A file 1 that the
// shift could not move is replaced, as a rename onto it would.
bool LinkAsFirst(const std::string& log, const std::string& first)
{
    if (link(log.c_str(), first.c_str()) == 0 || AreLinked(first, log))
        return true;
    return unlink(first.c_str()) == 0 && link(log.c_str(), first.c_str()) == 0;
}

// File 1 becomes the log, and log.new, holding the header block (or, at
// NONE, nothing), takes the log's name in one step. False when a step
// failed, with file 1 no longer the log.
bool ReplaceByFresh(const std::string& log, const std::string& first, const std::string& fresh, bool withHeader)
{
    if (!LinkAsFirst(log, first))
        return false;
    if (withHeader && rename(fresh.c_str(), log.c_str()) == 0)
        return true;
    // At NONE no new log is made: the name goes, and the next record starts a file.
    if (!withHeader && unlink(log.c_str()) == 0) {
        unlink(fresh.c_str());
        return true;
    }
    unlink(first.c_str());
    return false;
}

bool Exists(const std::string& path)
{
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

// The lowest of files 1..count that is missing, or 0 when none is.
int FirstGap(const std::string& base, int count)
{
    for (int i = 1; i <= count; ++i)
        if (!Exists(base + std::to_string(i)))
            return i;
    return 0;
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
        if (DisplayMethod.load(std::memory_order_relaxed)) {
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
    const int32_t limit =
        static_cast<int32_t>(static_cast<uint32_t>(MaxFileSizeMb.load(std::memory_order_relaxed)) << 20);
    if (status.st_size <= limit)
        return;
    const RotationLock lock(LogFilePath, status);
    if (lock.IsHeld())
        RotateLogFile();
}

// MaxFileCount 2: remove log.2, log.1 -> log.2, log -> log.1, new log with the header.
void Log::RotateLogFile()
{
    const int count = MaxFileCount.load(std::memory_order_relaxed);
    const std::string base = LogFilePath + ".";
    if (count < 1) {
        remove((base + std::to_string(count)).c_str());
        InsertHeader();
        return;
    }
    // The log keeps its name until a file holding the header block replaces
    // it in one step, so a writer never finds the name missing and starts a
    // file without the header. That file, log.new, is made first, so a
    // rotation cut short leaves it behind. The next rotation then finishes
    // that one from what the files show: file 1 already the log means the
    // shift is done; otherwise the shift goes on into the lowest gap, where
    // it stopped, and removes the oldest file only when there is none.
    const std::string first = base + "1";
    const std::string fresh = LogFilePath + ".new";
    const bool resumed = Exists(fresh);
    const bool withHeader = Level.load(std::memory_order_relaxed) != NONE;
    const std::string header = withHeader ? HeaderBlock : "";
    const bool prepared = CreateWhole(fresh, header, false);
    if (!(resumed && AreLinked(first, LogFilePath))) {
        int gap = resumed ? FirstGap(base, count) : 0;
        if (gap == 0) {
            remove((base + std::to_string(count)).c_str());
            gap = count;
        }
        for (int i = gap; i >= 2; --i)
            rename((base + std::to_string(i - 1)).c_str(), (base + std::to_string(i)).c_str());
    }
    // A failed step is tried once more: an error that passes must not send
    // the rotation the old way below, in which another writer may start the
    // new log before its header.
    if (prepared && ReplaceByFresh(LogFilePath, first, fresh, withHeader))
        return;
    if (CreateWhole(fresh, header, false) && ReplaceByFresh(LogFilePath, first, fresh, withHeader))
        return;
    unlink(fresh.c_str());
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
