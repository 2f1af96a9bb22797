// The log's own operations, which applications never call, reached by its
// tests and fuzz targets as the log's one friend.
#ifndef TESTS_LOG_INTERNALS_H
#define TESTS_LOG_INTERNALS_H

#include <string>

#include <tessra/log/log.h>

struct tessra::LogInternals {
    static bool ParseLogConfFile(Log& log) { return log.ParseLogConfFile(); }
    static void WriteDefaultConfFile(Log& log) { log.WriteDefaultConfFile(); }
    static std::string RemoteIp(const Log& log) { return log.RemoteIp; }
    static int32_t RemotePort(const Log& log) { return log.RemotePort; }
    static void FormatHeader(Log& log, char* buffer, Log::eLevel level) { log.FormatHeader(buffer, level); }
    static std::string ConvertByteArrayToString(const unsigned char* data, unsigned int size, int bytesPerLine,
                                                unsigned int indentation)
    {
        return Log::ConvertByteArrayToString(data, size, bytesPerLine, indentation);
    }
};

using Internals = tessra::LogInternals;

#endif
