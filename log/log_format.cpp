// Record formatting: the level filter, the record header and the byte dump.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "record_header.h"

namespace {

// The level column of the header: the name cut to 5 and right-aligned in 5.
// A constant table, so records written from other files' static constructors
// get it whole.
constexpr char LevelColumns[][6] = {" NONE", "MAJOR", " WARN", " INFO", "  DBG", "MORE_", "    ?"};

const char* LevelColumn(Log::eLevel level)
{
    return LevelColumns[level >= Log::NONE && level <= Log::MORE_DBG ? level : Log::MORE_DBG + 1];
}

// What a thread's records share for a whole second: the date and time to the
// second, and the thread column. Formatting them once per second, not once
// per record, keeps the header cheap next to the file's system calls.
struct HeaderParts {
    bool Valid;
    time_t Second;
    char Date[32];
    size_t DateLength;
    char Thread[32];
    size_t ThreadLength;
};

thread_local HeaderParts Parts;

// What snprintf wrote, not the length it would have needed.
size_t FittedLength(int formatted, size_t bufferSize)
{
    if (formatted < 0)
        return 0;
    return static_cast<size_t>(formatted) < bufferSize ? static_cast<size_t>(formatted) : bufferSize - 1;
}

constexpr unsigned int MaxDumpSize = 1024;

}  // namespace

void Log::Write(const char* format, eLevel level, const char* function, ...)
{
    if (level > Level.load(std::memory_order_relaxed))
        return;
    va_list args;
    va_start(args, function);
    Deliver(format, level, function, args);
    va_end(args);
}

void Log::Write(const char* format, const unsigned char* data, unsigned int size, unsigned int bytesPerLine,
                unsigned int indentation, eLevel level, const char* function, ...)
{
    if (level > Level.load(std::memory_order_relaxed))
        return;
    va_list args;
    va_start(args, function);
    WriteV(format, data, size, bytesPerLine, indentation, level, function, args);
    va_end(args);
}

void Log::WriteV(const char* format, eLevel level, const char* function, va_list args)
{
    if (level > Level.load(std::memory_order_relaxed))
        return;
    Deliver(format, level, function, args);
}

void Log::WriteV(const char* format, const unsigned char* data, unsigned int size, unsigned int bytesPerLine,
                 unsigned int indentation, eLevel level, const char* function, va_list args)
{
    if (level > Level.load(std::memory_order_relaxed))
        return;
    char text[10240];
    vsnprintf(text, sizeof text, format, args);
    const std::string dump = ConvertByteArrayToString(data, size, static_cast<int>(bytesPerLine), indentation);
    Write("%s\n%s", level, function, text, dump.c_str());
}

void Log::Deliver(const char* format, eLevel level, const char* function, va_list args)
{
    char header[80];
    if (LogMode.load(std::memory_order_relaxed) != 0) {
        if (Connected.load(std::memory_order_acquire)) {
            FormatHeader(header, level);
            SendRemote(header, format, args);
        }
        return;
    }
    WriteLocal(level, format, function, args);
}

void tessra::WriteRecord(Log& log, Log::eLevel level, const char* function, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    log.WriteV(format, level, function, args);
    va_end(args);
}

void tessra::WriteRecord(Log& log, Log::eLevel level, const char* function, const unsigned char* data,
                         unsigned int size, unsigned int bytesPerLine, unsigned int indentation, const char* format,
                         ...)
{
    va_list args;
    va_start(args, format);
    log.WriteV(format, data, size, bytesPerLine, indentation, level, function, args);
    va_end(args);
}

// "%d/%02d/%02d %02d:%02d:%02d.%03d %8lu %5.5s  ": UTC time with milliseconds,
// the thread number right-aligned in 8 columns, the level column, two spaces.
void Log::FormatHeader(char* buffer, eLevel level)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tessra::FormatRecordHeader(buffer, level, now);
}

void tessra::FormatRecordHeader(char* buffer, Log::eLevel level, const struct timespec& now)
{
    HeaderParts& parts = Parts;
    if (!parts.Valid || parts.Second != now.tv_sec) {
        const time_t seconds = now.tv_sec;
        struct tm utc;
        if (gmtime_r(&seconds, &utc) == nullptr)
            utc = {};
        const int date = snprintf(parts.Date, sizeof parts.Date, "%lld/%02d/%02d %02d:%02d:%02d.",
                                  utc.tm_year + 1900LL, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                                  utc.tm_sec);
        parts.DateLength = FittedLength(date, sizeof parts.Date);
        if (!parts.Valid) {
            const int thread = snprintf(parts.Thread, sizeof parts.Thread, " %8lu ",
                                        static_cast<unsigned long>(pthread_self()));
            parts.ThreadLength = FittedLength(thread, sizeof parts.Thread);
        }
        parts.Second = seconds;
        parts.Valid = true;
    }

    // At most 31 + 3 + 31 + 5 + 3 bytes: the 80 of the buffer hold any time.
    char* out = buffer;
    memcpy(out, parts.Date, parts.DateLength);
    out += parts.DateLength;
    const long nanoseconds = now.tv_nsec;
    const int milliseconds = nanoseconds < 0 || nanoseconds > 999999999 ? 0 : static_cast<int>(nanoseconds / 1000000);
    *out++ = static_cast<char>('0' + milliseconds / 100);
    *out++ = static_cast<char>('0' + milliseconds / 10 % 10);
    *out++ = static_cast<char>('0' + milliseconds % 10);
    memcpy(out, parts.Thread, parts.ThreadLength);
    out += parts.ThreadLength;
    memcpy(out, LevelColumn(level), 5);
    out += 5;
    memcpy(out, "  ", 3);
}

// 01 .. 0C at 10 per line, indentation 4:
//   "  [ 01 02 03 04 05 06 07 08 09 0A ]"
//   "  [ 0B 0C                         ]"
std::string Log::ConvertByteArrayToString(const unsigned char* data, unsigned int size, int bytesPerLine,
                                          unsigned int indentation)
{
    if (bytesPerLine < 10)
        bytesPerLine = 10;
    else if (bytesPerLine > 64)
        bytesPerLine = 64;
    if (indentation > 65)
        indentation = 65;

    if (size > MaxDumpSize) {
        char tooMany[64];
        snprintf(tooMany, sizeof tooMany, "[ TO MANY DATA TO BE DISPLAYED (Size=%u) ]", size);
        return tooMany;
    }

    // "[ " right-aligned in a field as wide as the indentation.
    std::string opening(indentation > 2 ? indentation - 2 : 0, ' ');
    opening += "[ ";
    const unsigned int perLine = static_cast<unsigned int>(bytesPerLine);
    const unsigned int lines = size == 0 ? 1 : (size + perLine - 1) / perLine;

    std::string dump;
    dump.reserve(lines * (opening.size() + 3 * perLine + 2));
    dump += opening;
    static const char Hex[] = "0123456789ABCDEF";
    unsigned int count = 0;
    for (; count < size; ++count) {
        if (count != 0 && count % perLine == 0) {
            dump += "]\n";
            dump += opening;
        }
        const char group[3] = {Hex[data[count] >> 4], Hex[data[count] & 0x0F], ' '};
        dump.append(group, 3);
    }
    for (; count % perLine != 0; ++count)
        dump += "   ";
    dump += "]";
    return dump;
}
