#include <gtest/gtest.h>
#include <sys/stat.h>

#include "log_test_support.h"

namespace {

// A null log never reads its file by itself, so each test drives the parser.
class ConfFile : public ::testing::Test {
protected:
    TempDir Dir;
    const std::string Path = Dir.Path("log.conf");
    Log Parsed{"/dev/null", "cue_ctl", Path.c_str(), Log::INFO};

    bool Parse(const std::string& content)
    {
        WriteFile(Path, content);
        return Parsed.ParseLogConfFile();
    }
};

std::string Comments(int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "#comment\n";
    return lines;
}

}  // namespace

TEST_F(ConfFile, MissingFileChangesNothing)
{
    EXPECT_FALSE(Parsed.ParseLogConfFile());
    EXPECT_EQ(Parsed.GetLevel(), Log::INFO);
}

TEST_F(ConfFile, ReadsTheLevelWordsNotTheRecordNames)
{
    const std::pair<const char*, Log::eLevel> cases[] = {
        {"NONE", Log::NONE},   {"MAJOR", Log::MAJOR}, {"WARNING", Log::WARN},    {"INFO", Log::INFO},
        {"DEBUG", Log::DBG},   {"MORE_DEBUG", Log::MORE_DBG}, {"DBG", Log::NONE}, {"WARN", Log::NONE},
        {"MORE_DBG", Log::NONE}, {"debug", Log::NONE}, {"DEBUG ", Log::NONE}, {"", Log::NONE},
    };
    for (const auto& [word, level] : cases) {
        Parse("MODE=LOCAL\ncue_ctl=MAJOR\n");
        ASSERT_TRUE(Parse(std::string("cue_ctl=") + word + "\n"));
        EXPECT_EQ(Parsed.GetLevel(), level) << '"' << word << '"';
    }
}

TEST_F(ConfFile, OnlyThisApplicationsLineSetsTheLevelAndTheLastOneWins)
{
    Parse("cue_ctl2=DEBUG\ncue_ctl =DEBUG\nother=MAJOR\n");
    EXPECT_EQ(Parsed.GetLevel(), Log::INFO);
    Parse("cue_ctl=DEBUG\ncue_ctl=MAJOR\n");
    EXPECT_EQ(Parsed.GetLevel(), Log::MAJOR);
    // The value is what follows the last "=".
    Parse("cue_ctl=NONE=DEBUG");
    EXPECT_EQ(Parsed.GetLevel(), Log::DBG);
}

TEST_F(ConfFile, CarriageReturnsSpoilTheWordsButNotThePort)
{
    Parse("MODE=REMOTE\ncue_ctl=DEBUG\n");
    Parse("cue_ctl=DEBUG\r\nMODE=REMOTE\r\nREMOTE_HOST=10.1.2.3:5140\r\n");
    EXPECT_EQ(Parsed.GetLevel(), Log::NONE);
    EXPECT_EQ(Parsed.GetLogMode(), 0);
    EXPECT_EQ(Parsed.GetRemoteIp(), "10.1.2.3");
    EXPECT_EQ(Parsed.GetRemotePort(), 5140);
}

TEST_F(ConfFile, ModeLineIsAnyLineStartingWithMode)
{
    Parse("MODE=REMOTE\n");
    EXPECT_EQ(Parsed.GetLogMode(), 1);
    Parse("MODEX=LOCAL\n");
    EXPECT_EQ(Parsed.GetLogMode(), 0);
    Parse("MODE_WHATEVER=REMOTE\n");
    EXPECT_EQ(Parsed.GetLogMode(), 1);
    Parse("MODE=remote\n");
    EXPECT_EQ(Parsed.GetLogMode(), 0);
}

TEST_F(ConfFile, PortConvertsLikeStrtol)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"1.2.3.4:5140", 5140}, {"1.2.3.4:+17", 17},     {"1.2.3.4:-5", -5},
        {"1.2.3.4:80abc", 80},  {"1.2.3.4:abc", 0},      {"1.2.3.4: 42", 42},
        {"1.2.3.4:", 0},        {"1.2.3.4:99999999999", INT32_MAX}, {"1.2.3.4:70000", 70000},
    };
    for (const auto& [value, port] : cases) {
        Parse(std::string("REMOTE_HOST=") + value + "\n");
        EXPECT_EQ(Parsed.GetRemoteIp(), "1.2.3.4") << value;
        EXPECT_EQ(Parsed.GetRemotePort(), port) << value;
    }
    Parse("REMOTE_HOST=10.0.0.1\n");
    EXPECT_EQ(Parsed.GetRemoteIp(), "10.0.0.1");
    EXPECT_EQ(Parsed.GetRemotePort(), 0);
}

TEST_F(ConfFile, TheLineAfterTheTwentiethCommentEndsTheReading)
{
    // Empty lines do not count toward the limit.
    ASSERT_TRUE(Parse(Comments(19) + "\n\ncue_ctl=DEBUG\n"));
    EXPECT_EQ(Parsed.GetLevel(), Log::DBG);
    Parse(Comments(8) + "cue_ctl=MAJOR\n" + Comments(12) + "MODE=REMOTE\n");
    EXPECT_EQ(Parsed.GetLevel(), Log::MAJOR);
    EXPECT_EQ(Parsed.GetLogMode(), 0);
    ASSERT_TRUE(Parse(Comments(20) + "cue_ctl=DEBUG\n"));
    EXPECT_EQ(Parsed.GetLevel(), Log::MAJOR);
}

TEST_F(ConfFile, EmptyOrCommentOnlyFileChangesNothing)
{
    EXPECT_TRUE(Parse(""));
    EXPECT_TRUE(Parse("# only\n\n#comments"));
    EXPECT_EQ(Parsed.GetLevel(), Log::INFO);
    EXPECT_EQ(Parsed.GetRemoteIp(), "");
}

TEST_F(ConfFile, DefaultFileIsElevenExactLinesAndReadsBackToTheSameLevel)
{
    const std::pair<Log::eLevel, const char*> levels[] = {
        {Log::NONE, "NONE"}, {Log::WARN, "WARNING"}, {Log::DBG, "DEBUG"}, {Log::MORE_DBG, "MORE_DEBUG"}};
    for (const auto& [level, word] : levels) {
        Log log("/dev/null", "cue_ctl", Path.c_str(), level);
        log.WriteDefaultConfFile();
        EXPECT_EQ(ReadFile(Path),
                  "#Tavrin Technology Log Configuration File\n"
                  "#Format: <ApplicationName=LogLevel> (No space allowed)\n"
                  "#        <MODE=LogMode> (No space allowed)\n"
                  "#        <REMOTE_HOST=IpAddress:Port> (No space allowed)\n"
                  "#LogLevel can be NONE, MAJOR, WARNING, INFO, DEBUG, MORE_DEBUG\n"
                  "#LogMode can be LOCAL or REMOTE\n"
                  "#IpAddress:Port can be any valid ip address and port where there's a log server running\n"
                  "#Example: vexa=MAJOR\n"
                  "cue_ctl=" + std::string(word) + "\n"
                  "MODE=LOCAL\n"
                  "REMOTE_HOST=0.0.0.0:0\n");
        ASSERT_TRUE(log.ParseLogConfFile());
        EXPECT_EQ(log.GetLevel(), level);
        EXPECT_EQ(log.GetLogMode(), 0);
        EXPECT_EQ(log.GetRemoteIp(), "0.0.0.0");
        EXPECT_EQ(log.GetRemotePort(), 0);
    }
}

TEST_F(ConfFile, FifoOrDirectoryAtThePathNeitherBlocksNorChangesAnything)
{
    ASSERT_EQ(mkfifo(Path.c_str(), 0600), 0);
    EXPECT_TRUE(Parsed.ParseLogConfFile());
    remove(Path.c_str());
    ASSERT_EQ(mkdir(Path.c_str(), 0700), 0);
    EXPECT_TRUE(Parsed.ParseLogConfFile());
    EXPECT_EQ(Parsed.GetLevel(), Log::INFO);
}

TEST_F(ConfFile, LinesLongerThanTheReadBufferAreWhole)
{
    Parse(std::string(10000, '#') + "\n" + "cue_ctl=" + std::string(5000, 'x') + "=DEBUG\nMODE=REMOTE");
    EXPECT_EQ(Parsed.GetLevel(), Log::DBG);
    EXPECT_EQ(Parsed.GetLogMode(), 1);
}
