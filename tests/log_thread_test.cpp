#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "log_test_support.h"
#include "socket_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// Polls for a condition the activation thread brings about within its period.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline)
            return false;
        usleep(10000);
    }
    return true;
}

class ActivationThread : public ::testing::Test, protected LogFiles {};

}  // namespace

TEST_F(ActivationThread, WritesAMissingConfigurationFileBeforeItsFirstWait)
{
    {
        Log log(LogPath.c_str(), "cue_ctl", ConfPath.c_str(), Log::DBG);
        // Destroyed at once: the thread still writes the file before it
        // looks at the stop request.
    }
    const std::string content = ReadFile(ConfPath);
    EXPECT_EQ(content.substr(content.find("cue_ctl=")), "cue_ctl=DEBUG\nMODE=LOCAL\nREMOTE_HOST=0.0.0.0:0\n");
}

TEST_F(ActivationThread, LeavesAnExistingFileAlone)
{
    auto log = Open("cue_ctl=MAJOR\n");
    log.reset();
    EXPECT_EQ(ReadFile(ConfPath), "cue_ctl=MAJOR\n");
}

TEST_F(ActivationThread, FollowsALevelChangedInTheFile)
{
    auto log = Open("cue_ctl=NONE\n");
    log->Write("before", Log::DBG, "void Test()");
    WriteFile(ConfPath, "cue_ctl=DEBUG\n");
    ASSERT_TRUE(Eventually([&] { return log->GetLevel() == Log::DBG; }, std::chrono::seconds(7)));
    log->Write("after", Log::DBG, "void Test()");
    const std::string content = ReadFile(LogPath);
    EXPECT_EQ(content.find("before"), std::string::npos);
    EXPECT_NE(content.find("after"), std::string::npos);
}

TEST_F(ActivationThread, RetriesTheServerAfterEachWaitUntilConnectedThenStops)
{
    const int port = UnusedPort();
    ::testing::internal::CaptureStderr();
    auto log = Open("cue_ctl=DEBUG\nMODE=REMOTE\nREMOTE_HOST=127.0.0.1:" + std::to_string(port) + "\n");
    EXPECT_FALSE(log->IsConnected());

    Listener server(port);
    ASSERT_TRUE(Eventually([&] { return log->IsConnected(); }, std::chrono::seconds(7)));
    const std::string reported = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(reported, "Error while attempting to connect to host: 127.0.0.1:" + std::to_string(port) + "\n");
    const int peer = server.Accept(0);
    EXPECT_GE(peer, 0);
    // Connected: the next pass makes no further attempt.
    EXPECT_EQ(server.Accept(5500), -1);
    close(peer);
}

TEST_F(ActivationThread, DestroyNeverWaitsOutAPeriod)
{
    WriteFile(ConfPath, "cue_ctl=NONE\n");
    Clock::duration slowest{};
    for (int cycle = 0; cycle < 1000; ++cycle) {
        const auto start = Clock::now();
        Log::GetLog(LogPath.c_str(), "cue_ctl", ConfPath.c_str(), Log::NONE);
        Log::Destroy();
        slowest = std::max(slowest, Clock::now() - start);
    }
    const auto slowestUs = std::chrono::duration_cast<std::chrono::microseconds>(slowest).count();
    RecordProperty("slowest_cycle_us", std::to_string(slowestUs));
    std::cout << "slowest create/destroy cycle: " << slowestUs << " us\n";
    // A lost wake-up would cost a whole period of four to five seconds.
    EXPECT_LT(slowest, std::chrono::seconds(1));
}
