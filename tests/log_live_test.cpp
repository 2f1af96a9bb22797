// The log while it lives: the singleton, REMOTE records, the activation thread.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "support.h"

namespace {

const char* const Function = "bool Cue_Ctl::ProcessStop()";

class LiveLog : public ::testing::Test, protected LogFiles {};

std::string RemoteConf(int port)
{
    return "cue_ctl=DEBUG\nMODE=REMOTE\nREMOTE_HOST=127.0.0.1:" + std::to_string(port) + "\n";
}

// The activation thread acts within one period (four to five seconds); this
// waits five periods, so a loaded or emulated run has room.
bool Eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(25);
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        usleep(10000);
    return condition();
}

}  // namespace

TEST_F(LiveLog, RemoteRecordsAreFramedCutToTheBufferAndDroppedWhenTheServerStallsOrGoes)
{
    Listener server;
    auto log = Open(RemoteConf(server.Port));
    log->SetDisplayMethod(true);
    const int peer = server.Accept();
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(log->IsConnected());
    log->Write("Exiting %s", Log::DBG, Function, "ProcessStop()");
    log->Write("not sent", Log::MORE_DBG, Function);
    log->Write("%s", Log::MAJOR, Function, std::string(20000, 'm').c_str());
    std::string stream;
    char chunk[4096];
    for (ssize_t count; stream.find(std::string("mm\n", 4)) == std::string::npos && Listener::Readable(peer, 5000) &&
                        (count = read(peer, chunk, sizeof chunk)) > 0;)
        stream.append(chunk, static_cast<size_t>(count));
    // Each record: its header, two spaces, the message, a newline and a zero byte.
    const size_t header = stream.find("  DBG  ") + 7;
    EXPECT_TRUE(std::regex_match(stream.substr(0, header), RecordHeader)) << stream.substr(0, 80);
    EXPECT_EQ(stream.substr(header, 25), std::string("  Exiting ProcessStop()\n\0", 25));
    const std::string cut = stream.substr(header + 25);
    ASSERT_EQ(cut.size(), 10240u);  // the record buffer, whole
    EXPECT_TRUE(std::regex_match(cut.substr(0, header), RecordHeader)) << cut.substr(0, 80);
    EXPECT_EQ(cut.substr(header), "  " + std::string(10236 - header, 'm') + std::string("\n\0", 2));
    EXPECT_EQ(ReadFile(LogPath), HeaderBlock);  // the file gets only the header block

    // No longer read: once the socket buffers are full, each send fails at once.
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 2000; ++i)
        log->Write("%10000d", Log::DBG, Function, i);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find(
                  "ERROR: send failed. Reason: Resource temporarily unavailable\n"),
              std::string::npos);
    EXPECT_TRUE(log->IsConnected());

    // A server gone: each send fails with its reason, and the process lives on.
    close(peer);
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i)
        log->Write("after the server went", Log::DBG, Function);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("ERROR: send failed. Reason: Broken pipe\n"),
              std::string::npos);
    EXPECT_TRUE(log->IsConnected());  // no new connection either
}

TEST_F(LiveLog, UnreachableServerIsReportedRecordsAreDroppedAndTheThreadRetries)
{
    const int port = Listener().Port;  // nothing listens there now
    ::testing::internal::CaptureStderr();
    auto log = Open(RemoteConf(port));
    EXPECT_FALSE(log->IsConnected());
    log->Write("dropped", Log::DBG, Function);
    Listener server(port);
    ASSERT_TRUE(Eventually([&] { return log->IsConnected(); }));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error while attempting to connect to host: 127.0.0.1:" + std::to_string(port) + "\n");
    const int peer = server.Accept(0);
    EXPECT_GE(peer, 0);
    EXPECT_EQ(server.Accept(5500), -1);  // connected: no further attempt
    EXPECT_EQ(ReadFile(LogPath), HeaderBlock);
    log.reset();  // the server sees the connection end while the process lives on
    char byte;
    EXPECT_TRUE(Listener::Readable(peer, 5000));
    EXPECT_EQ(read(peer, &byte, 1), 0);
    close(peer);
}

TEST_F(LiveLog, ThreadWritesAMissingFileOnceAndFollowsEditsEveryPeriod)
{
    {
        Log log(LogPath.c_str(), "cue_ctl", ConfPath.c_str(), Log::DBG);  // destroyed at once: still written
    }
    EXPECT_TRUE(Exists(ConfPath));  // its text: log_conf_test
    auto log = Open("cue_ctl=NONE\n");
    log->Write("before", Log::DBG, Function);
    WriteFile(ConfPath, "cue_ctl=DEBUG\n");
    ASSERT_TRUE(Eventually([&] { return log->GetLevel() == Log::DBG; }));
    log->Write("after", Log::DBG, Function);
    // The next read comes when the thread's wait ends, five seconds after the
    // second of this one. The baseline: the same wait, timed here in the same run.
    const auto read = std::chrono::steady_clock::now();
    WriteFile(ConfPath, "cue_ctl=MAJOR\n");
    std::this_thread::sleep_until(std::chrono::system_clock::from_time_t(time(nullptr) + 5));
    const auto baseline = std::chrono::steady_clock::now() - read;
    ASSERT_TRUE(Eventually([&] { return log->GetLevel() == Log::MAJOR; }));
    EXPECT_LT(std::chrono::steady_clock::now() - read, baseline + std::chrono::seconds(2));
    remove(ConfPath.c_str());
    log.reset();
    EXPECT_EQ(Messages(), "after|");
    EXPECT_FALSE(Exists(ConfPath));  // removed while running: not written again
}

TEST_F(LiveLog, TheFirstCallMakesTheOneLogWhichDestroyStopsAtOnceAndDefaultsMakeANullLog)
{
    WriteFile(ConfPath, "cue_ctl=DEBUG\n");
    Log* first = Log::GetLog(LogPath.c_str(), "cue_ctl", ConfPath.c_str(), Log::NONE);
    EXPECT_EQ(Log::GetLog(), first);
    EXPECT_EQ(Log::GetLog("/dev/null", "other", "/etc/log.conf", Log::MAJOR)->GetLevel(), Log::DBG);
    usleep(20000);  // the thread is in its wait by now
    const auto start = std::chrono::steady_clock::now();
    Log::Destroy();
    // A lost wake-up costs a period of four to five seconds; a stop takes well under a millisecond.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    Log::Destroy();

    // A null log reads nothing, writes nothing, starts no thread.
    Log* null = Log::GetLog("/dev/null", "cue_ctl", ConfPath.c_str(), Log::WARN);
    EXPECT_EQ(null->GetLevel(), Log::WARN);
    null->Write("into /dev/null", Log::MAJOR, Function);
    Log::Destroy();
    EXPECT_EQ(ReadFile(LogPath), HeaderBlock);
}

// Settings change from any thread while others write: ThreadSanitizer checks
// how they are shared, this case what reaches the files.
TEST_F(LiveLog, ThreadsWriteWhileAnotherChangesRotationAndDisplayAndEveryFileStaysWhole)
{
    auto log = Open("cue_ctl=DEBUG\n");
    std::atomic<bool> writing(true);
    std::thread settings([&] {
        for (int round = 0; writing; ++round) {
            log->SetLogRotationConfig(0, 1 + round % 4);  // 0 MiB: every record rotates
            log->SetDisplayMethod(round % 2 == 0);
        }
    });
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 4; ++writer)
        writers.emplace_back([&, writer] {
            for (int seq = 0; seq < 200; ++seq)
                log->Write("%d-%d", Log::INFO, Function, writer, seq);
        });
    for (std::thread& thread : writers)
        thread.join();
    writing = false;
    settings.join();
    log.reset();

    // Every file starts with the header block; every line is whole.
    const std::string header = R"(\d{4}/\S+ \S+ +\d+  INFO  )";
    const std::regex line("|YYYY.*|-{23} .*|" + header + R"((\[bool Cue_Ctl::ProcessStop\(\)\] |\d-\d+)| +\d-\d+)");
    for (const std::string suffix : {"", ".1", ".2", ".3", ".4"}) {
        if (!Exists(LogPath + suffix))
            continue;
        const std::string content = ReadFile(LogPath + suffix);
        EXPECT_EQ(content.substr(0, sizeof HeaderBlock - 1), HeaderBlock) << suffix;
        std::istringstream lines(content);
        for (std::string text; std::getline(lines, text);)
            EXPECT_TRUE(std::regex_match(text, line)) << suffix << ": " << text;
    }
    EXPECT_FALSE(Exists(LogPath + ".5"));
    EXPECT_FALSE(Exists(LogPath + ".new"));
}
