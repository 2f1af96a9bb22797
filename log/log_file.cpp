// The LOCAL destination: one open, write and close of the log file per
// record, the size check after it, rotation and the column header.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
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
    // Both sides as 32-bit signed values, as on the unit.
    const int32_t size = static_cast<int32_t>(static_cast<uint32_t>(status.st_size));
    const int32_t limit = static_cast<int32_t>(static_cast<uint32_t>(MaxFileSizeMb) << 20);
    if (size > limit)
        RotateLogFile();
}

// MaxFileCount 2: remove log.2, log.1 -> log.2, log -> log.1, new log with the header.
void Log::RotateLogFile()
{
    const std::string base = LogFilePath + ".";
    remove((base + std::to_string(MaxFileCount)).c_str());
    for (int i = MaxFileCount; i >= 1; --i) {
        const std::string source = i == 1 ? LogFilePath : base + std::to_string(i - 1);
        rename(source.c_str(), (base + std::to_string(i)).c_str());
    }
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
