// What the fuzz targets share: the check that makes a wrong result a finding,
// files held in memory, and the record header's shape.
#pragma once
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "log/log.h"  // with <pthread.h>, <stdint.h>, <time.h> and <string>

// Traps, so that libFuzzer keeps the input as a crash artifact.
#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : (fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition), __builtin_trap()))

// A file in memory that the product opens by path (/proc/self/fd/N) as any
// file: no folder to remove, no disk write to wait for.
struct MemFile {
    const int Fd = memfd_create("fuzz", MFD_CLOEXEC);
    const std::string Path = "/proc/self/fd/" + std::to_string(Fd);

    void Set(const void* data, size_t size) const
    {
        FUZZ_CHECK(ftruncate(Fd, 0) == 0 && pwrite(Fd, data, size, 0) == static_cast<ssize_t>(size));
    }
    std::string Take() const  // the content, leaving the file empty
    {
        std::string content(static_cast<size_t>(lseek(Fd, 0, SEEK_END)), '\0');
        FUZZ_CHECK(pread(Fd, &content[0], content.size(), 0) == static_cast<ssize_t>(content.size()));
        Set("", 0);
        return content;
    }
};

inline long long NowMs()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// "YYYY/MM/DD HH:MM:SS.mmm" in UTC, of a time in milliseconds since the epoch.
inline std::string Stamp(long long ms)
{
    const time_t seconds = static_cast<time_t>(ms / 1000);
    struct tm utc;
    char text[32];
    const size_t length = strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", gmtime_r(&seconds, &utc));
    snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(ms % 1000));
    return text;
}

// Checks the header that starts record, written by this thread at level since
// beforeMs: time, thread number in 8, level name cut to 5, two spaces. Returns its length.
inline size_t CheckHeader(const std::string& record, int level, long long beforeMs)
{
    static const char* const Columns[] = {" NONE", "MAJOR", " WARN", " INFO", "  DBG", "MORE_"};
    char tail[64];
    const size_t length = 23 + snprintf(tail, sizeof tail, " %8lu %s  ", (unsigned long)pthread_self(), Columns[level]);
    bool stamped = false;
    for (long long ms = beforeMs, afterMs = NowMs(); ms <= afterMs && !stamped; ++ms)
        stamped = record.compare(0, 23, Stamp(ms)) == 0;
    FUZZ_CHECK(stamped && record.compare(23, length - 23, tail) == 0);
    return length;
}
