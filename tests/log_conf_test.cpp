#include <gtest/gtest.h>
#include <sys/stat.h>

#include "log_internals.h"
#include "support.h"

namespace {

// A null log never reads its file by itself, so each case drives the parser.
class ConfFile : public ::testing::Test {
protected:
    LogFiles Files;
    const std::string& Path = Files.ConfPath;
    Log Parsed{"/dev/null", "cue_ctl", Path.c_str(), Log::INFO};
};

}  // namespace

TEST_F(ConfFile, EachLineKindSetsItsFieldsByTheFileRules)
{
    const std::string comments = "#comment\n#comment\n#comment\n#comment\n#comment\n#comment\n#comment\n#comment\n";
    // The file after "cue_ctl=MAJOR\nMODE=REMOTE\nREMOTE_HOST=9.9.9.9:9\n", and what it leaves.
    struct Case {
        std::string file;
        Log::eLevel level;
        int mode;
        const char* ip;
        int32_t port;
    } const cases[] = {
        {"cue_ctl=NONE", Log::NONE, 1, "9.9.9.9", 9},            {"cue_ctl=WARNING", Log::WARN, 1, "9.9.9.9", 9},
        {"cue_ctl=INFO", Log::INFO, 1, "9.9.9.9", 9},            {"cue_ctl=DEBUG", Log::DBG, 1, "9.9.9.9", 9},
        {"cue_ctl=MORE_DEBUG", Log::MORE_DBG, 1, "9.9.9.9", 9},  {"cue_ctl=DBG", Log::NONE, 1, "9.9.9.9", 9},
        {"cue_ctl=WARN", Log::NONE, 1, "9.9.9.9", 9},            {"cue_ctl=MORE_DBG", Log::NONE, 1, "9.9.9.9", 9},
        {"cue_ctl=debug", Log::NONE, 1, "9.9.9.9", 9},           {"cue_ctl=DEBUG ", Log::NONE, 1, "9.9.9.9", 9},
        {"cue_ctl=", Log::NONE, 1, "9.9.9.9", 9},                {"cue_ctl=NONE=DEBUG", Log::DBG, 1, "9.9.9.9", 9},
        {"cue_ctl2=DEBUG\ncue_ctl =DEBUG\nother=DEBUG", Log::MAJOR, 1, "9.9.9.9", 9},
        {"cue_ctl=DEBUG\ncue_ctl=INFO", Log::INFO, 1, "9.9.9.9", 9},
        {"MODEX=LOCAL", Log::MAJOR, 0, "9.9.9.9", 9},             {"MODE_X=REMOTE", Log::MAJOR, 1, "9.9.9.9", 9},
        {"MODE=remote", Log::MAJOR, 0, "9.9.9.9", 9},             {"MODE", Log::MAJOR, 0, "9.9.9.9", 9},
        {"REMOTE_HOST=1.2.3.4:010", Log::MAJOR, 1, "1.2.3.4", 10},  // decimal, whatever C's prefixes say
        {"REMOTE_HOST=1.2.3.4", Log::MAJOR, 1, "1.2.3.4", 0},
        {"cue_ctl=DEBUG\r\nMODE=REMOTE\r\nREMOTE_HOST=10.1.2.3:5140\r", Log::NONE, 0, "10.1.2.3", 5140},
        {comments + "cue_ctl=INFO\n" + comments + "#c\n#c\n#c\n#c\nMODE=LOCAL", Log::INFO, 1, "9.9.9.9", 9},  // ends at the 21st
        {comments + comments + "#c\n#c\n#c\n\n\n" + "cue_ctl=DEBUG", Log::DBG, 1, "9.9.9.9", 9},  // empty lines don't count
        {std::string(10000, '#') + "\ncue_ctl=" + std::string(5000, 'x') + "=DEBUG\nMODE=LOCAL", Log::DBG, 0, "9.9.9.9", 9},
        // Lines of any length set what their beginning and their last "=" say.
        {"cue_ctl=" + std::string(9000, 'x') + "=DEBUG", Log::DBG, 1, "9.9.9.9", 9},
        {"MODE=" + std::string(9000, 'x'), Log::MAJOR, 0, "9.9.9.9", 9},
        {"MODE=REMOTE" + std::string(9000, 'x'), Log::MAJOR, 0, "9.9.9.9", 9},
        {"REMOTE_HOST=" + std::string(9000, '=') + "1.2.3.4:" + std::string(9000, ' ') + "+5140" + std::string(9000, 'x'),
         Log::MAJOR, 1, "1.2.3.4", 5140},
        {"REMOTE_HOST=1.2.3.4:-" + std::string(9000, '9'), Log::MAJOR, 1, "1.2.3.4", INT32_MIN},
        {"REMOTE_HOST=1.2.3.4:" + std::string(9000, '9'), Log::MAJOR, 1, "1.2.3.4", INT32_MAX},
        {"REMOTE_HOST=1.2.3.4:- 1", Log::MAJOR, 1, "1.2.3.4", 0},
        // The line the read cap cuts sets nothing.
        {"cue_ctl=INFO\ncue_ctl=" + std::string(16 << 20, 'x') + "=DEBUG", Log::INFO, 1, "9.9.9.9", 9},
        {"# only\n\n#comments", Log::MAJOR, 1, "9.9.9.9", 9},
    };
    for (const Case& c : cases) {
        WriteFile(Path, "cue_ctl=MAJOR\nMODE=REMOTE\nREMOTE_HOST=9.9.9.9:9\n");
        ASSERT_TRUE(Internals::ParseLogConfFile(Parsed));
        WriteFile(Path, c.file + "\n");
        ASSERT_TRUE(Internals::ParseLogConfFile(Parsed));
        EXPECT_EQ(Parsed.GetLevel(), c.level) << c.file.substr(0, 100);
        EXPECT_EQ(Parsed.GetLogMode(), c.mode) << c.file.substr(0, 100);
        EXPECT_EQ(Internals::RemoteIp(Parsed), c.ip) << c.file.substr(0, 100);
        EXPECT_EQ(Internals::RemotePort(Parsed), c.port) << c.file.substr(0, 100);
    }
}

TEST_F(ConfFile, MissingFifoOrFolderChangesNothingAndNeverBlocks)
{
    EXPECT_FALSE(Internals::ParseLogConfFile(Parsed));
    ASSERT_EQ(mkfifo(Path.c_str(), 0600), 0);
    EXPECT_TRUE(Internals::ParseLogConfFile(Parsed));
    remove(Path.c_str());
    ASSERT_EQ(mkdir(Path.c_str(), 0700), 0);
    EXPECT_TRUE(Internals::ParseLogConfFile(Parsed));
    EXPECT_EQ(Parsed.GetLevel(), Log::INFO);
    EXPECT_EQ(Internals::RemoteIp(Parsed), "");
}

TEST_F(ConfFile, DefaultFileIsElevenExactLinesAndReadsBackToTheSameLevel)
{
    const char* const words[] = {"NONE", "MAJOR", "WARNING", "INFO", "DEBUG", "MORE_DEBUG"};
    for (int level = Log::NONE; level <= Log::MORE_DBG; ++level) {
        Log log("/dev/null", "cue_ctl", Path.c_str(), static_cast<Log::eLevel>(level));
        remove(Path.c_str());
        Internals::WriteDefaultConfFile(log);
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
        ASSERT_TRUE(Internals::ParseLogConfFile(log));
        EXPECT_EQ(log.GetLevel(), level);
    }
}

TEST_F(ConfFile, DefaultFileLeavesAFileThatAppearedAloneAndFollowsASymbolicLink)
{
    WriteFile(Path, "MODE=REMOTE\n");
    Internals::WriteDefaultConfFile(Parsed);
    EXPECT_EQ(ReadFile(Path), "MODE=REMOTE\n");

    // A link, relative to its folder, into a folder of its own.
    remove(Path.c_str());
    ASSERT_EQ(mkdir((Files.Dir + "/shared").c_str(), 0700), 0);
    ASSERT_EQ(symlink("shared/log.conf", Path.c_str()), 0);
    Internals::WriteDefaultConfFile(Parsed);
    char target[64] = {};
    EXPECT_GT(readlink(Path.c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "shared/log.conf");
    EXPECT_EQ(ReadFile(Files.Dir + "/shared/log.conf").substr(0, 42), "#Tavrin Technology Log Configuration File\n");
}
