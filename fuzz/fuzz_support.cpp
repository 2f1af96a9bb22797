#include "fuzz_support.h"

#include <fcntl.h>
#include <ftw.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

std::string* Dir = nullptr;

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

void RemoveDir()
{
    nftw(Dir->c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    delete Dir;
    Dir = nullptr;
}

}  // namespace

void FuzzCheckFailed(const char* condition, const char* file, int line)
{
    fprintf(stderr, "FUZZ CHECK FAILED: %s at %s:%d\n", condition, file, line);
    fflush(stderr);
    __builtin_trap();
}

void FuzzCheckEqFailed(const char* actual, const char* expected, const std::string& actualText,
                       const std::string& expectedText, const char* file, int line)
{
    fprintf(stderr, "FUZZ CHECK FAILED: %s == %s at %s:%d\n  actual:   %s\n  expected: %s\n", actual, expected, file,
            line, actualText.c_str(), expectedText.c_str());
    fflush(stderr);
    __builtin_trap();
}

std::string FuzzEscaped(const std::string& text)
{
    constexpr size_t Shown = 200;
    std::string escaped = "\"";
    for (size_t i = 0; i < text.size() && i < Shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            escaped += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            escaped += hex;
        }
    }
    escaped += '"';
    if (text.size() > Shown)
        escaped += " ... (" + std::to_string(text.size()) + " bytes)";
    return escaped;
}

const std::string& FuzzTempDir()
{
    if (Dir == nullptr) {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cue_ctl_fuzz.XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) {
            perror("mkdtemp");
            abort();
        }
        Dir = new std::string(pattern);
        atexit(RemoveDir);
    }
    return *Dir;
}

long long NowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

size_t CheckRecordHeader(const std::string& record, int level, long long beforeMs, long long afterMs)
{
    static const char* const LevelColumns[] = {" NONE", "MAJOR", " WARN", " INFO", "  DBG", "MORE_"};
    const std::string thread = std::to_string(static_cast<unsigned long>(pthread_self()));
    const std::string threadColumn = std::string(thread.size() < 8 ? 8 - thread.size() : 0, ' ') + thread;
    const size_t length = 24 + threadColumn.size() + 1 + 5 + 2;
    FUZZ_CHECK(record.size() >= length);

    const std::string shape = "dddd/dd/dd dd:dd:dd.ddd ";
    for (size_t i = 0; i < shape.size(); ++i)
        FUZZ_CHECK(shape[i] == 'd' ? record[i] >= '0' && record[i] <= '9' : record[i] == shape[i]);
    const auto number = [&record](size_t at, size_t digits) { return std::stoi(record.substr(at, digits)); };
    struct tm utc = {};
    utc.tm_year = number(0, 4) - 1900;
    utc.tm_mon = number(5, 2) - 1;
    utc.tm_mday = number(8, 2);
    utc.tm_hour = number(11, 2);
    utc.tm_min = number(14, 2);
    utc.tm_sec = number(17, 2);
    const long long stampMs = timegm(&utc) * 1000LL + number(20, 3);
    if (stampMs < beforeMs || stampMs > afterMs) {
        fprintf(stderr, "record stamped %s, written between %lld and %lld ms\n", record.substr(0, 23).c_str(),
                beforeMs, afterMs);
        FUZZ_CHECK(!"stamp within the write");
    }
    FUZZ_CHECK_EQ(record.substr(24, length - 24), threadColumn + " " + LevelColumns[level] + "  ");
    return length;
}

void WriteWholeFile(const std::string& path, const void* data, size_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        perror(path.c_str());
        abort();
    }
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written <= 0) {
            perror(path.c_str());
            abort();
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    close(fd);
}

std::string ReadWholeFile(const std::string& path)
{
    std::string content;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return content;
    char chunk[16384];
    ssize_t count;
    while ((count = read(fd, chunk, sizeof chunk)) > 0)
        content.append(chunk, static_cast<size_t>(count));
    close(fd);
    return content;
}
