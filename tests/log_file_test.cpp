#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>

#include <climits>
#include <thread>
#include <vector>

#include <tessra/log/record_header.h>
#include "log_internals.h"
#include "support.h"

namespace {

const char* const Function = "bool Cue_Ctl::ProcessStop()";

class LogFile : public ::testing::Test, protected LogFiles {};

std::string Header(Log::eLevel level, time_t seconds, long nanoseconds)
{
    char header[80];
    tessra::FormatRecordHeader(header, level, {seconds, nanoseconds});
    return header;
}

}  // namespace

// rename fails onto this path while it is set, as on a disk that fails a
// rotation's final replace.
static std::string FailRenameOnto;

extern "C" int rename(const char* from, const char* to) noexcept
{
    if (FailRenameOnto == to) {
        errno = EIO;
        return -1;
    }
    return renameat(AT_FDCWD, from, AT_FDCWD, to);
}

// What the macros record for their caller, and how often their arguments ran.
static int Evaluated = 0;

static int Counted()
{
    return ++Evaluated;
}

static void SendFrame(Log::eLevel level)
{
    const unsigned char frame[] = {0x02, 0x05};
    TESSRA_LOG(level, "sending %d", Counted());
    TESSRA_LOG_DUMP(level, frame, sizeof frame, 10, 4, "sent %zu bytes (%d)", sizeof frame, Counted());
}

TEST_F(LogFile, MacrosEvaluateNothingBelowTheLevelAndNameTheirCaller)
{
    WriteFile(ConfPath, "cue_ctl=INFO\n");
    Log::GetLog(LogPath.c_str(), "cue_ctl", ConfPath.c_str(), Log::NONE)->SetDisplayMethod(true);
    SendFrame(Log::DBG);
    EXPECT_EQ(Evaluated, 0);
    SendFrame(Log::INFO);
    EXPECT_EQ(Evaluated, 2);
    Log::Destroy();
    const std::string indent(Header(Log::INFO, 0, 0).size(), ' ');
    const std::string caller = "[void SendFrame(Log::eLevel)] \n";
    EXPECT_NE(ReadFile(LogPath).find(caller + indent + "sending 1\n"), std::string::npos) << ReadFile(LogPath);
    EXPECT_NE(ReadFile(LogPath).find(caller + indent + "sent 2 bytes (2)\n  [ 02 05"), std::string::npos);
}

TEST_F(LogFile, AtNoneOnlyNoneRecordsWithoutHeadersAboveItEachStartAddsTheHeaderBlockAndTheLevelFilters)
{
    auto log = Open("cue_ctl=NONE\n");
    log->SetLogRotationConfig(1, 2);
    log->Write("major", Log::MAJOR, Function);
    EXPECT_FALSE(Exists(LogPath));
    log->Write("none", Log::NONE, Function);
    EXPECT_EQ(Messages(), "none|");
    WriteFile(LogPath, std::string(1 << 20, 'x'));
    log->Write("none", Log::NONE, Function);  // the files shift, no new current file
    EXPECT_TRUE(Exists(LogPath + ".1"));
    EXPECT_FALSE(Exists(LogPath));

    log = Open("cue_ctl=DEBUG\n");
    log->Write("more", Log::MORE_DBG, Function);
    log->Write("Exiting %s()", Log::DBG, Function, "ProcessStop");
    log->Write("FATAL ERROR: %d", Log::MAJOR, Function, 1);
    const std::string content = ReadFile(LogPath);
    EXPECT_EQ(content.substr(0, sizeof HeaderBlock - 1), HeaderBlock);
    EXPECT_EQ(Messages(), "Exiting ProcessStop()|FATAL ERROR: 1|");
    log = Open("cue_ctl=INFO\n");  // a new log on the same file appends another block
    EXPECT_EQ(ReadFile(LogPath), content + HeaderBlock);
}

TEST_F(LogFile, DisplayMethodLongMessagesAndByteArrays)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->SetDisplayMethod(true);
    log->Write("Exiting ProcessStop()", Log::DBG, Function);
    log->SetDisplayMethod(false);
    log->Write("%s", Log::DBG, Function, std::string(20000, 'a').c_str());
    unsigned char frame[12] = {0x02, 0x05, 0x00, 0x07, 0x11, 0x20, 0x02, 0x02, 0x10, 0x00, 0xF0, 0x43};
    log->Write("Sent %d bytes", frame, sizeof frame, 10, 4, Log::DBG, Function, 12);
    log->Write("filtered", frame, sizeof frame, 10, 4, Log::MORE_DBG, Function);

    EXPECT_EQ(Messages(), "[bool Cue_Ctl::ProcessStop()] |" + std::string(10239, 'a') + "|Sent 12 bytes|");
    const std::string indent(Header(Log::DBG, 0, 0).size(), ' ');
    EXPECT_NE(ReadFile(LogPath).find("] \n" + indent + "Exiting ProcessStop()\n"), std::string::npos);
    EXPECT_NE(ReadFile(LogPath).find("Sent 12 bytes\n"
                                     "  [ 02 05 00 07 11 20 02 02 10 00 ]\n"
                                     "  [ F0 43                         ]\n"),
              std::string::npos);

    // A long text and the longest dump are cut together to the record buffer.
    const size_t before = ReadFile(LogPath).size();
    const std::vector<unsigned char> kilobyte(1024, 0xAB);
    log->Write("%s", kilobyte.data(), 1024, 64, 200, Log::DBG, Function, std::string(8000, 't').c_str());
    EXPECT_EQ(ReadFile(LogPath).size() - before, indent.size() + 10239 + 1);
}

TEST_F(LogFile, RotationPastTheLimitKeepsTheNewestFilesAndStartsAFreshOneWithTheHeader)
{
    auto log = Open("cue_ctl=DEBUG\n");
    const size_t record = Header(Log::DBG, 0, 0).size() + 20;  // "%19s" and the newline
    // Files kept, bytes past the limit after the record, rotated?
    const std::tuple<int, size_t, bool> cases[] = {{2, 1, true}, {2, 0, false}, {2, record, true}, {1, 1, true}};
    for (const auto& [kept, over, rotated] : cases) {
        log->SetLogRotationConfig(1, kept);
        WriteFile(LogPath + ".1", "older");
        WriteFile(LogPath + ".2", "oldest");
        WriteFile(LogPath, std::string((1 << 20) - record + over, 'x'));
        log->Write("%19s", Log::DBG, Function, "a record");
        const std::string one = ReadFile(LogPath + ".1");
        EXPECT_EQ(one.size() > 1000 ? one.substr(one.size() - 9) : one, rotated ? "a record\n" : "older")
            << kept << " " << over;
        EXPECT_EQ(ReadFile(LogPath + ".2"), rotated && kept == 2 ? "older" : "oldest") << kept << " " << over;
        EXPECT_EQ(ReadFile(LogPath).size(), rotated ? sizeof HeaderBlock - 1 : 1u << 20) << kept << " " << over;
        EXPECT_FALSE(Exists(LogPath + ".3"));
    }
    EXPECT_EQ(ReadFile(LogPath), HeaderBlock);
}

TEST_F(LogFile, AFailedFinalReplaceLeavesTwoFilesAndTheNextRotationKeepsBoth)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->SetLogRotationConfig(1, 2);
    WriteFile(LogPath, std::string(1 << 20, 'x'));
    FailRenameOnto = LogPath;
    log->Write("first", Log::DBG, Function);
    FailRenameOnto.clear();
    EXPECT_EQ(ReadFile(LogPath), HeaderBlock);
    EXPECT_FALSE(Exists(LogPath + ".new"));
    WriteFile(LogPath, std::string(1 << 20, 'y'));
    log->Write("second", Log::DBG, Function);
    const std::string one = ReadFile(LogPath + ".1");
    const std::string two = ReadFile(LogPath + ".2");
    EXPECT_EQ(two.front() + two.substr(two.size() - 6), "xfirst\n");
    EXPECT_EQ(one.front() + one.substr(one.size() - 7), "ysecond\n");
}

TEST_F(LogFile, AWriterNeverWaitsForAnotherThatIsRotatingTheFile)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->SetLogRotationConfig(1, 2);
    WriteFile(LogPath, std::string(1 << 20, 'x'));
    // Another process, stopped in the middle of its rotation.
    const int rotating = open(LogPath.c_str(), O_WRONLY);
    ASSERT_EQ(flock(rotating, LOCK_EX), 0);
    log->Write("appended to the old file", Log::DBG, Function);
    close(rotating);
    EXPECT_FALSE(Exists(LogPath + ".1"));
    log->Write("rotated after it", Log::DBG, Function);
    EXPECT_EQ(Messages(), "");
    const std::string one = ReadFile(LogPath + ".1");
    EXPECT_EQ(one.substr(one.size() - 17), "rotated after it\n");
    EXPECT_EQ(ReadFile(LogPath), HeaderBlock);
}

TEST_F(LogFile, WithNoFilesKeptEveryRecordIsFollowedByAHeader)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->SetLogRotationConfig(1, 0);
    WriteFile(LogPath + ".0", "file zero");
    WriteFile(LogPath, std::string(1 << 20, 'x'));
    log->Write("first", Log::DBG, Function);
    log->Write("second", Log::DBG, Function);
    const std::string tail = ReadFile(LogPath).substr(1 << 20);
    EXPECT_NE(tail.find(std::string("first\n") + HeaderBlock), std::string::npos) << tail;
    EXPECT_EQ(tail.substr(tail.size() - (sizeof HeaderBlock + 6)), std::string("second\n") + HeaderBlock);
    EXPECT_FALSE(Exists(LogPath + ".0"));
}

TEST(RecordHeader, UtcTimeThreadNumberAndLevelInFixedColumns)
{
    setenv("TZ", "EST5", 1);  // local time is not UTC here
    tzset();
    const char* const columns[] = {" NONE", "MAJOR", " WARN", " INFO", "  DBG", "MORE_"};
    const std::string thread = std::to_string(static_cast<unsigned long>(pthread_self()));
    for (int level = Log::NONE; level <= Log::MORE_DBG; ++level)
        EXPECT_EQ(Header(static_cast<Log::eLevel>(level), 1733400000, 7000000),
                  "2024/12/05 12:00:00.007 " + std::string(thread.size() < 8 ? 8 - thread.size() : 0, ' ') + thread +
                      " " + columns[level] + "  ");
    // Past 2038-01-19, where a 32-bit time_t ends.
    EXPECT_EQ(Header(Log::DBG, 2147483648LL, 999999999).substr(0, 24), "2038/01/19 03:14:08.999 ");

    // Times no calendar of four-digit years holds still fit the buffer.
    const time_t extremes[] = {-62167219201LL, 253402300800LL, LLONG_MAX, LLONG_MIN, -1};
    for (const time_t seconds : extremes)
        for (const long nanoseconds : {0L, -1L, 999999999L, 1000000000L}) {
            const std::string header = Header(Log::MORE_DBG, seconds, nanoseconds);
            EXPECT_LT(header.size(), 80u) << seconds;
            EXPECT_EQ(header.substr(header.size() - 7), "MORE_  ") << seconds;
        }
    EXPECT_EQ(Header(Log::DBG, -1, 0).substr(0, 24), "1969/12/31 23:59:59.000 ");

    std::string other;
    std::thread([&] { other = Header(Log::DBG, 1733400000, 0); }).join();
    EXPECT_NE(other.substr(24), Header(Log::DBG, 1733400000, 0).substr(24));

    Log nullLog("/dev/null", "", "/etc/log.conf", Log::NONE);  // and the clock's time, to the second
    char now[80];
    const time_t before = time(nullptr);
    Internals::FormatHeader(nullLog, now, Log::INFO);
    EXPECT_TRUE(Header(Log::INFO, before, 0).compare(0, 19, now, 19) == 0 ||
                Header(Log::INFO, before + 1, 0).compare(0, 19, now, 19) == 0) << now;
}

TEST(ByteDump, FillsTheLastLineClampsItsWidthAndRefusesMoreThan1024Bytes)
{
    std::vector<unsigned char> bytes(1025);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i + 1);
    const auto dump = [&](unsigned int size, int perLine, unsigned int indentation) {
        return Internals::ConvertByteArrayToString(bytes.data(), size, perLine, indentation);
    };
    EXPECT_EQ(dump(12, 10, 4), "  [ 01 02 03 04 05 06 07 08 09 0A ]\n  [ 0B 0C                         ]");
    EXPECT_EQ(dump(10, 10, 0), "[ 01 02 03 04 05 06 07 08 09 0A ]");
    EXPECT_EQ(dump(0, 10, 5), "   [ ]");
    EXPECT_EQ(dump(70, 9, 0), dump(70, 10, 0));
    EXPECT_EQ(dump(70, -3, 0), dump(70, 10, 0));
    EXPECT_EQ(dump(70, 65, 0), dump(70, 64, 0));
    EXPECT_NE(dump(70, 64, 0), dump(70, 63, 0));
    EXPECT_EQ(dump(70, 10, 200), dump(70, 10, 65));
    EXPECT_EQ(dump(70, 10, 65).find('['), 63u);
    EXPECT_EQ(dump(1024, 10, 65).size(), 9990u);
    EXPECT_EQ(dump(1025, 10, 4), "[ TO MANY DATA TO BE DISPLAYED (Size=1025) ]");
    EXPECT_EQ(dump(0x80000000u, 10, 4), "[ TO MANY DATA TO BE DISPLAYED (Size=2147483648) ]");
}

TEST_F(LogFile, ALinkPlantedUnderTheFreshLogsNameIsNeverWrittenThrough)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->SetLogRotationConfig(1, 2);
    WriteFile(Dir + "/victim", "untouched");
    ASSERT_EQ(symlink((Dir + "/victim").c_str(), (LogPath + ".new").c_str()), 0);
    WriteFile(LogPath, std::string(1 << 20, 'x'));
    log->Write("rotates", Log::DBG, Function);
    EXPECT_EQ(ReadFile(Dir + "/victim"), "untouched");
    EXPECT_EQ(ReadFile(LogPath), HeaderBlock);  // not the link, which would read as the victim
}
