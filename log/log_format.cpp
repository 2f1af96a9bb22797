// Record formatting: the level filter, the record header and the byte dump.
#include <stdio.h>
#include <time.h>

#include "log.h"

namespace {

const char* LevelName(Log::eLevel level)
{
    return level >= Log::NONE && level <= Log::MORE_DBG ? LevelStr[level] : "?";
}

constexpr unsigned int MaxDumpSize = 1024;

}  // namespace

void Log::Write(const char* format, eLevel level, const char* function, ...)
{
    if (level > Level.load(std::memory_order_relaxed))
        return;
    va_list args;
    va_start(args, function);
    WriteV(format, level, function, args);
    va_end(args);
}

void Log::Write(const char* format, unsigned char* data, unsigned int size, unsigned int bytesPerLine,
                unsigned int indentation, eLevel level, const char* function, ...)
{
    if (level > Level.load(std::memory_order_relaxed))
        return;
    char text[10240];
    va_list args;
    va_start(args, function);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    const std::string dump = ConvertByteArrayToString(data, size, static_cast<int>(bytesPerLine), indentation);
    Write("%s\n%s", level, function, text, dump.c_str());
}

void Log::WriteV(const char* format, eLevel level, const char* function, va_list args)
{
    char header[80];
    if (LogMode.load(std::memory_order_relaxed) != 0) {
        if (Connected.load(std::memory_order_relaxed)) {
            FormatHeader(header, level);
            SendRemote(header, format, args);
        }
        return;
    }
    WriteLocal(level, format, function, args);
}

void Log::FormatHeader(char* buffer, eLevel level)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const time_t seconds = now.tv_sec;
    struct tm utc;
    gmtime_r(&seconds, &utc);
    // Thread number right-aligned in 8 columns, level name cut to 5 and
    // right-aligned in 5, then two spaces.
    snprintf(buffer, 80, "%d/%02d/%02d %02d:%02d:%02d.%03d %8lu %5.5s  ", utc.tm_year + 1900, utc.tm_mon + 1,
             utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(now.tv_nsec / 1000000),
             static_cast<unsigned long>(pthread_self()), LevelName(level));
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
        snprintf(tooMany, sizeof tooMany, "[ TO MANY DATA TO BE DISPLAYED (Size=%d) ]", static_cast<int>(size));
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
