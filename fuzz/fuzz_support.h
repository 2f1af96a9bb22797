#ifndef FUZZ_FUZZ_SUPPORT_H
#define FUZZ_FUZZ_SUPPORT_H

#include <stddef.h>
#include <time.h>

#include <string>
#include <type_traits>

// A failed check is a finding: say which one, then trap so libFuzzer keeps
// the input as a crash artifact.
#define FUZZ_CHECK(condition)                                                       \
    do {                                                                            \
        if (!(condition))                                                           \
            FuzzCheckFailed(#condition, __FILE__, __LINE__);                        \
    } while (0)

// The same, showing both sides: numbers in decimal, text escaped and shortened.
#define FUZZ_CHECK_EQ(actual, expected)                                             \
    do {                                                                            \
        const auto& fuzzActual = (actual);                                          \
        const auto& fuzzExpected = (expected);                                      \
        if (!(fuzzActual == fuzzExpected))                                          \
            FuzzCheckEqFailed(#actual, #expected, FuzzText(fuzzActual),             \
                              FuzzText(fuzzExpected), __FILE__, __LINE__);          \
    } while (0)

[[noreturn]] void FuzzCheckFailed(const char* condition, const char* file, int line);
[[noreturn]] void FuzzCheckEqFailed(const char* actual, const char* expected, const std::string& actualText,
                                    const std::string& expectedText, const char* file, int line);
std::string FuzzEscaped(const std::string& text);

template <typename T>
std::string FuzzText(const T& value)
{
    if constexpr (std::is_enum_v<T>)
        return std::to_string(static_cast<long long>(value));
    else if constexpr (std::is_arithmetic_v<T>)
        return std::to_string(+value);
    else
        return FuzzEscaped(std::string(value));
}

// The process's own directory under $TMPDIR (or /tmp), made on first use and
// removed at exit. Handlers registered with atexit after the first call run
// before the removal.
const std::string& FuzzTempDir();

// Milliseconds since the epoch, CLOCK_REALTIME, cut down to the millisecond
// as the record stamps are.
long long NowMs();

// Checks the record header at the start of record, written by this thread at
// a time within [beforeMs, afterMs] at level: "YYYY/MM/DD HH:MM:SS.mmm" in UTC,
// the thread number right-aligned in at least 8 columns, the level name cut
// to 5 and right-aligned in 5, two spaces. Returns the header's length.
size_t CheckRecordHeader(const std::string& record, int level, long long beforeMs, long long afterMs);

void WriteWholeFile(const std::string& path, const void* data, size_t size);
std::string ReadWholeFile(const std::string& path);

#endif
