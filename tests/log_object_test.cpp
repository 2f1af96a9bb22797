#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "log_test_support.h"

TEST(LogObject, FirstCallCreatesTheOneLogAndLaterArgumentsAreIgnored)
{
    LogFiles files;
    WriteFile(files.ConfPath, "cue_ctl=DEBUG\n");
    Log* first = Log::GetLog(files.LogPath.c_str(), "cue_ctl", files.ConfPath.c_str(), Log::NONE);
    EXPECT_EQ(Log::GetLog(), first);
    EXPECT_EQ(Log::GetLog("/dev/null", "other", "/etc/log.conf", Log::MAJOR), first);
    EXPECT_EQ(first->GetLevel(), Log::DBG);
    Log::Destroy();
    Log::Destroy();
}

TEST(LogObject, DefaultsMakeANullLogThatReadsNothing)
{
    Log* log = Log::GetLog();
    EXPECT_EQ(log->GetLevel(), Log::NONE);
    EXPECT_EQ(log->GetLogMode(), 0);
    EXPECT_EQ(log->GetRemoteIp(), "");
    log->Write("into /dev/null", Log::NONE, "void Test()");
    Log::Destroy();
    // A new object after Destroy, from the new arguments.
    Log* next = Log::GetLog("/dev/null", "", "/etc/log.conf", Log::WARN);
    EXPECT_EQ(next->GetLevel(), Log::WARN);
    Log::Destroy();
}

// The activation thread stores Level while this thread filters on it (the
// thread sanitizer build checks the sharing): records go on while the file
// flips between two levels, and the last word written wins.
TEST(LogObject, RecordsWrittenWhileTheFileFlipsTheLevel)
{
    LogFiles files;
    auto log = files.Open("cue_ctl=DEBUG\n");
    std::atomic<bool> flipping{true};
    std::thread editor([&] {
        for (int flip = 0; flipping; ++flip) {
            WriteFile(files.ConfPath, flip % 2 ? "cue_ctl=DEBUG\n" : "cue_ctl=MAJOR\n");
            usleep(20000);
        }
        WriteFile(files.ConfPath, "cue_ctl=NONE\n");
    });
    using Clock = std::chrono::steady_clock;
    const auto flipsEnd = Clock::now() + std::chrono::milliseconds(5500);
    const auto limit = flipsEnd + std::chrono::seconds(7);
    while (log->GetLevel() != Log::NONE && Clock::now() < limit) {
        log->Write("record", Log::DBG, "void Test()");
        if (Clock::now() > flipsEnd && flipping.exchange(false))
            editor.join();
        usleep(1000);
    }
    if (flipping.exchange(false))
        editor.join();
    ASSERT_EQ(log->GetLevel(), Log::NONE);
    const size_t size = ReadFile(files.LogPath).size();
    log->Write("filtered", Log::DBG, "void Test()");
    EXPECT_EQ(ReadFile(files.LogPath).size(), size);
    EXPECT_NE(ReadFile(files.LogPath).find("record"), std::string::npos);
}
