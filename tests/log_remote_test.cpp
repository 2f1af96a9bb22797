#include <gtest/gtest.h>
#include <unistd.h>

#include "log_test_support.h"
#include "socket_support.h"

namespace {

const char* const Function = "bool Cue_Ctl::ProcessStop()";

class RemoteLog : public ::testing::Test, protected LogFiles {
protected:
    Listener Server;

    std::string RemoteConf(int port) const
    {
        return "cue_ctl=DEBUG\nMODE=REMOTE\nREMOTE_HOST=127.0.0.1:" + std::to_string(port) + "\n";
    }
};

// Splits "header" "  " "message\n\0": returns the message, or a note why not.
std::string MessageOf(const std::string& record)
{
    std::smatch match;
    if (!std::regex_search(record, match, RecordHeader(), std::regex_constants::match_continuous))
        return "(no header) " + record;
    const std::string rest = match.suffix();
    if (rest.compare(0, 2, "  ") != 0 || rest.size() < 4 || rest.compare(rest.size() - 2, 2, std::string("\n\0", 2)))
        return "(bad framing) " + rest;
    return rest.substr(2, rest.size() - 4);
}

}  // namespace

TEST_F(RemoteLog, SendsEachRecordWithTwoMoreSpacesANewlineAndAZeroByte)
{
    auto log = Open(RemoteConf(Server.Port()));
    log->SetDisplayMethod(true);
    const int peer = Server.Accept();
    ASSERT_GE(peer, 0);
    EXPECT_TRUE(log->IsConnected());

    log->Write("Exiting %s", Log::DBG, Function, "ProcessStop()");
    log->Write("not sent", Log::MORE_DBG, Function);
    log->Write("FATAL ERROR: connect failed.", Log::MAJOR, Function);
    const std::string stream = ReadUntil(peer, "failed.\n" + std::string(1, '\0'));

    const size_t first = stream.find('\0') + 1;
    ASSERT_NE(first, 0u) << stream;
    EXPECT_EQ(MessageOf(stream.substr(0, first)), "Exiting ProcessStop()");
    EXPECT_EQ(MessageOf(stream.substr(first)), "FATAL ERROR: connect failed.");
    EXPECT_NE(stream.find("   DBG    Exiting"), std::string::npos);
    // The file gets the header block and nothing else.
    EXPECT_EQ(ReadFile(LogPath), HeaderBlock);
    close(peer);
}

TEST_F(RemoteLog, CutsALongRecordToFitTenThousandTwoHundredFortyBytes)
{
    auto log = Open(RemoteConf(Server.Port()));
    const int peer = Server.Accept();
    ASSERT_GE(peer, 0);
    log->Write("%s", Log::DBG, Function, std::string(20000, 'm').c_str());
    const std::string record = ReadUntil(peer, std::string("\n\0", 2));

    ASSERT_EQ(record.size(), 10240u);
    const std::string message = MessageOf(record);
    EXPECT_EQ(message, std::string(message.size(), 'm'));
    close(peer);
}

TEST_F(RemoteLog, UnreachableServerIsReportedAndRecordsAreDropped)
{
    const int port = UnusedPort();
    ::testing::internal::CaptureStderr();
    auto log = Open(RemoteConf(port));
    const std::string reported = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(reported, "Error while attempting to connect to host: 127.0.0.1:" + std::to_string(port) + "\n");
    EXPECT_FALSE(log->IsConnected());
    log->Write("dropped", Log::DBG, Function);
    EXPECT_EQ(ReadFile(LogPath), HeaderBlock);
}

TEST_F(RemoteLog, DefaultRemoteHostFailsToConnect)
{
    ::testing::internal::CaptureStderr();
    auto log = Open("cue_ctl=DEBUG\nMODE=REMOTE\nREMOTE_HOST=0.0.0.0:0\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error while attempting to connect to host: 0.0.0.0:0\n");
}

TEST_F(RemoteLog, ServerThatClosedCostsRecordsButNeitherTheProcessNorTheConnection)
{
    auto log = Open(RemoteConf(Server.Port()));
    const int peer = Server.Accept();
    ASSERT_GE(peer, 0);
    close(peer);

    // The first sends may still be taken by the kernel; then the reset
    // arrives and the broken pipe must be reported, not raised.
    std::string reported;
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 50; ++i) {
        log->Write("record %d", Log::DBG, Function, i);
        usleep(2000);
    }
    reported = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(reported.find("ERROR: send failed. Reason: "), std::string::npos) << reported;
    EXPECT_TRUE(log->IsConnected());
}

TEST_F(RemoteLog, ServerThatStopsReadingCostsRecordsNotTime)
{
    auto log = Open(RemoteConf(Server.Port()));
    const int peer = Server.Accept();
    ASSERT_GE(peer, 0);
    // Never read: once the socket buffers are full, each send fails at once.
    const std::string message(10000, 'r');
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 2000; ++i)
        log->Write("%s", Log::DBG, Function, message.c_str());
    const std::string reported = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(reported.find("ERROR: send failed. Reason: Resource temporarily unavailable\n"), std::string::npos);
    EXPECT_TRUE(log->IsConnected());
    close(peer);
}
