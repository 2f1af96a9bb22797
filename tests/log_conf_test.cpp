#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>

#include "support.h"

namespace {

// A null log never reads its file by itself, so each case drives the parser.
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
    while (count-- > 0)
        lines += "#comment\n";
    return lines;
}

}  // namespace

TEST_F(ConfFile, ReadsTheLevelWordsNotTheRecordNamesAndOnlyThisApplicationsLine)
{
    const std::pair<std::string, Log::eLevel> cases[] = {
        {"cue_ctl=NONE", Log::NONE},         {"cue_ctl=MAJOR", Log::MAJOR},     {"cue_ctl=WARNING", Log::WARN},
        {"cue_ctl=INFO", Log::INFO},         {"cue_ctl=DEBUG", Log::DBG},       {"cue_ctl=MORE_DEBUG", Log::MORE_DBG},
        {"cue_ctl=DBG", Log::NONE},          {"cue_ctl=WARN", Log::NONE},       {"cue_ctl=MORE_DBG", Log::NONE},
        {"cue_ctl=debug", Log::NONE},        {"cue_ctl=DEBUG ", Log::NONE},     {"cue_ctl=", Log::NONE},
        {"cue_ctl=NONE=DEBUG", Log::DBG},    {"cue_ctl2=DEBUG", Log::MAJOR},    {"cue_ctl =DEBUG", Log::MAJOR},
        {"cue_ctl=DEBUG\ncue_ctl=INFO", Log::INFO}, {"other=DEBUG", Log::MAJOR},
    };
    for (const auto& [line, level] : cases) {
        Parse("cue_ctl=MAJOR\n");
        ASSERT_TRUE(Parse(line + "\n"));
        EXPECT_EQ(Parsed.GetLevel(), level) << line;
    }
}

TEST_F(ConfFile, ModeIsAnyLineStartingWithModeAndRemoteOnlyForRemote)
{
    const std::pair<const char*, int> cases[] = {
        {"MODE=REMOTE", 1}, {"MODEX=LOCAL", 0}, {"MODE_X=REMOTE", 1}, {"MODE=remote", 0}, {"MODE", 0}};
    for (const auto& [line, mode] : cases) {
        Parse("MODE=REMOTE\n");
        Parse(std::string(line) + "\n");
        EXPECT_EQ(Parsed.GetLogMode(), mode) << line;
    }
}

TEST_F(ConfFile, RemoteHostSplitsAtTheColonAndReadsThePortLikeStrtol)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"1.2.3.4:5140", 5140}, {"1.2.3.4:+17", 17}, {"1.2.3.4:-5", -5},   {"1.2.3.4:80abc", 80},
        {"1.2.3.4:abc", 0},     {"1.2.3.4: 42", 42}, {"1.2.3.4:010", 10},  {"1.2.3.4:99999999999", INT32_MAX},
        {"1.2.3.4:", 0},        {"1.2.3.4", 0},      {"1.2.3.4:0x10", 0},
    };
    for (const auto& [value, port] : cases) {
        Parse(std::string("REMOTE_HOST=") + value + "\n");
        EXPECT_EQ(Parsed.GetRemoteIp(), "1.2.3.4") << value;
        EXPECT_EQ(Parsed.GetRemotePort(), port) << value;
    }
}

TEST_F(ConfFile, CarriageReturnsSpoilTheWordsButNotThePort)
{
    Parse("cue_ctl=DEBUG\r\nMODE=REMOTE\r\nREMOTE_HOST=10.1.2.3:5140\r\n");
    EXPECT_EQ(Parsed.GetLevel(), Log::NONE);
    EXPECT_EQ(Parsed.GetLogMode(), 0);
    EXPECT_EQ(Parsed.GetRemoteIp(), "10.1.2.3");
    EXPECT_EQ(Parsed.GetRemotePort(), 5140);
}

TEST_F(ConfFile, TheLineAfterTheTwentiethCommentEndsTheReading)
{
    ASSERT_TRUE(Parse(Comments(19) + "\n\n\ncue_ctl=DEBUG\n"));  // empty lines do not count
    EXPECT_EQ(Parsed.GetLevel(), Log::DBG);
    Parse(Comments(8) + "cue_ctl=MAJOR\n" + Comments(12) + "MODE=REMOTE\n");
    EXPECT_EQ(Parsed.GetLevel(), Log::MAJOR);
    EXPECT_EQ(Parsed.GetLogMode(), 0);
}

TEST_F(ConfFile, MissingEmptyFifoOrFolderChangesNothingAndNeverBlocks)
{
    EXPECT_FALSE(Parsed.ParseLogConfFile());
    EXPECT_TRUE(Parse("# only\n\n#comments"));
    ASSERT_EQ(remove(Path.c_str()), 0);
    ASSERT_EQ(mkfifo(Path.c_str(), 0600), 0);
    EXPECT_TRUE(Parsed.ParseLogConfFile());
    remove(Path.c_str());
    ASSERT_EQ(mkdir(Path.c_str(), 0700), 0);
    EXPECT_TRUE(Parsed.ParseLogConfFile());
    EXPECT_EQ(Parsed.GetLevel(), Log::INFO);
    EXPECT_EQ(Parsed.GetRemoteIp(), "");
}

TEST_F(ConfFile, LinesLongerThanTheReadBufferAreWhole)
{
    Parse(std::string(10000, '#') + "\ncue_ctl=" + std::string(5000, 'x') + "=DEBUG\nMODE=REMOTE");
    EXPECT_EQ(Parsed.GetLevel(), Log::DBG);
    EXPECT_EQ(Parsed.GetLogMode(), 1);
}

TEST_F(ConfFile, DefaultFileIsElevenExactLinesAndReadsBackToTheSameLevel)
{
    const char* const words[] = {"NONE", "MAJOR", "WARNING", "INFO", "DEBUG", "MORE_DEBUG"};
    for (int level = Log::NONE; level <= Log::MORE_DBG; ++level) {
        Log log("/dev/null", "cue_ctl", Path.c_str(), static_cast<Log::eLevel>(level));
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
                  "cue_ctl=" + std::string(words[level]) + "\n"
                  "MODE=LOCAL\n"
                  "REMOTE_HOST=0.0.0.0:0\n");
        WriteFile(Path, ReadFile(Path) + "MODE=REMOTE\n");
        ASSERT_TRUE(log.ParseLogConfFile());
        log.WriteDefaultConfFile();  // replaces an existing file whole
        ASSERT_TRUE(log.ParseLogConfFile());
        EXPECT_EQ(log.GetLevel(), level);
        EXPECT_EQ(log.GetLogMode(), 0);
        EXPECT_EQ(log.GetRemoteIp(), "0.0.0.0");
        EXPECT_EQ(log.GetRemotePort(), 0);
    }
}
