#ifndef LOG_RECORD_HEADER_H
#define LOG_RECORD_HEADER_H

#include <time.h>

#include "log.h"

// The record header for a given time, as Log::FormatHeader writes it for
// now: UTC date and time with milliseconds, the thread column, the level
// column and two spaces. Any time fits the 80-byte buffer: a year past 9999
// widens the date, a time the calendar cannot hold writes zeros. Internal to
// the library and its tests; not installed.
namespace tessra {

void FormatRecordHeader(char* buffer, Log::eLevel level, const struct timespec& time);

}  // namespace tessra

#endif
