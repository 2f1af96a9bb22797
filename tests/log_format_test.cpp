#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <thread>

#include <regex>
#include <vector>

#include "log/log.h"

namespace {

std::vector<unsigned char> Bytes(unsigned int count, unsigned char first = 1)
{
    std::vector<unsigned char> bytes(count);
    for (unsigned int i = 0; i < count; ++i)
        bytes[i] = static_cast<unsigned char>(first + i);
    return bytes;
}

std::string Dump(const std::vector<unsigned char>& bytes, int perLine, unsigned int indentation)
{
    return Log::ConvertByteArrayToString(bytes.data(), static_cast<unsigned int>(bytes.size()), perLine,
                                         indentation);
}

}  // namespace

TEST(RecordHeader, ShowsUtcTimeThreadNumberAndLevelInFixedColumns)
{
    Log nullLog("/dev/null", "", "/etc/log.conf", Log::NONE);
    char header[80];
    const time_t before = time(nullptr);
    nullLog.FormatHeader(header, Log::DBG);
    const time_t after = time(nullptr);

    std::cmatch match;
    ASSERT_TRUE(std::regex_match(header, match,
                                 std::regex(R"((\d{4}/\d\d/\d\d \d\d:\d\d:\d\d)\.\d{3} ( *\d+) (.{5})  )")))
        << header;
    EXPECT_EQ(match[3].str(), "  DBG");
    EXPECT_GE(match[2].length(), 8);
    EXPECT_EQ(std::stoul(match[2].str()), static_cast<unsigned long>(pthread_self()));

    // UTC, not local time: the stamp is one of the seconds the call spanned.
    bool found = false;
    for (time_t second = before; second <= after; ++second) {
        struct tm utc;
        gmtime_r(&second, &utc);
        char expected[32];
        strftime(expected, sizeof expected, "%Y/%m/%d %H:%M:%S", &utc);
        found = found || match[1].str() == expected;
    }
    EXPECT_TRUE(found) << header;
}

TEST(RecordHeader, LevelColumnIsRightAlignedAndCutToFive)
{
    Log nullLog("/dev/null", "", "/etc/log.conf", Log::NONE);
    const char* const expected[] = {" NONE", "MAJOR", " WARN", " INFO", "  DBG", "MORE_"};
    for (int level = Log::NONE; level <= Log::MORE_DBG; ++level) {
        char header[80];
        nullLog.FormatHeader(header, static_cast<Log::eLevel>(level));
        const std::string text(header);
        ASSERT_GE(text.size(), 7u);
        EXPECT_EQ(text.substr(text.size() - 7), std::string(expected[level]) + "  ") << level;
    }
}

TEST(ByteDump, TwelveBytesAtTenPerLineFillTheLastLine)
{
    EXPECT_EQ(Dump(Bytes(12), 10, 4),
              "  [ 01 02 03 04 05 06 07 08 09 0A ]\n"
              "  [ 0B 0C                         ]");
}

TEST(ByteDump, FullLineHasNoFillAndEmptyArrayIsOneBracketPair)
{
    EXPECT_EQ(Dump(Bytes(10, 0xF0), 10, 0), "[ F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 ]");
    EXPECT_EQ(Dump({}, 10, 5), "   [ ]");
    EXPECT_EQ(Dump({}, 10, 1), "[ ]");
}

TEST(ByteDump, ClampsBytesPerLineAndIndentation)
{
    const std::vector<unsigned char> bytes = Bytes(70);
    EXPECT_EQ(Dump(bytes, 5, 0), Dump(bytes, 10, 0));
    EXPECT_EQ(Dump(bytes, -3, 0), Dump(bytes, 10, 0));
    EXPECT_EQ(Dump(bytes, 100, 0), Dump(bytes, 64, 0));
    EXPECT_EQ(Dump(bytes, 10, 200), Dump(bytes, 10, 65));
    EXPECT_EQ(Dump(bytes, 10, 65).find('['), 63u);
}

TEST(ByteDump, AcceptsUpTo1024BytesAndRefusesMore)
{
    // The deepest dump, whole: 103 lines of 65 + 30 + 1 characters, newlines between.
    const std::string deepest = Dump(Bytes(1024), 10, 65);
    EXPECT_EQ(deepest.size(), 9990u);
    const std::string lastLine = std::string(63, ' ') + "[ FD FE FF 00 " + std::string(18, ' ') + "]";
    EXPECT_EQ(deepest.substr(deepest.size() - lastLine.size() - 1), "\n" + lastLine);
    EXPECT_EQ(Dump(Bytes(1025), 10, 4), "[ TO MANY DATA TO BE DISPLAYED (Size=1025) ]");
    // Found by fuzzing: sizes of 2 GiB and more once showed as negative.
    EXPECT_EQ(Log::ConvertByteArrayToString(nullptr, 0x80000000u, 10, 4),
              "[ TO MANY DATA TO BE DISPLAYED (Size=2147483648) ]");
}

namespace {

// Milliseconds since the epoch of a header's UTC time stamp.
long long HeaderMilliseconds(const char* header)
{
    struct tm utc = {};
    int milliseconds = 0;
    sscanf(header, "%d/%d/%d %d:%d:%d.%d", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour, &utc.tm_min,
           &utc.tm_sec, &milliseconds);
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    return static_cast<long long>(timegm(&utc)) * 1000 + milliseconds;
}

long long NowMilliseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

TEST(RecordHeader, TimeFollowsTheClockToTheMillisecondAcrossSeconds)
{
    Log nullLog("/dev/null", "", "/etc/log.conf", Log::NONE);
    const long long end = NowMilliseconds() + 1200;
    int checked = 0;
    for (long long before = NowMilliseconds(); before < end; before = NowMilliseconds(), ++checked) {
        char header[80];
        nullLog.FormatHeader(header, Log::INFO);
        const long long stamped = HeaderMilliseconds(header);
        ASSERT_GE(stamped, before) << header;
        ASSERT_LE(stamped, NowMilliseconds()) << header;
        usleep(700);
    }
    EXPECT_GT(checked, 100);
}

TEST(RecordHeader, EachThreadShowsItsOwnNumber)
{
    Log nullLog("/dev/null", "", "/etc/log.conf", Log::NONE);
    std::string mine, theirs;
    unsigned long theirId = 0;
    char header[80];
    nullLog.FormatHeader(header, Log::DBG);
    mine = header;
    std::thread other([&] {
        char otherHeader[80];
        nullLog.FormatHeader(otherHeader, Log::DBG);
        theirs = otherHeader;
        theirId = static_cast<unsigned long>(pthread_self());
    });
    other.join();
    EXPECT_NE(mine.substr(24), theirs.substr(24));
    EXPECT_NE(theirs.find(" " + std::to_string(theirId) + " "), std::string::npos) << theirs;
}
