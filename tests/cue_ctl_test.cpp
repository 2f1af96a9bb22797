// The core link over a socketpair: Cue_Ctl adopts the tool's end, the test
// plays the core on the other. Records go to a log file at DEBUG.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "cmd/cue_ctl.h"
#include "support.h"

namespace {

using Bytes = std::string;

// 02 | address | 00 | length byte | body | checksum of all before it.
Bytes Frame(unsigned char address, const Bytes& body, unsigned char lengthBits = 0)
{
    Bytes frame = {'\x02', static_cast<char>(address), '\0', static_cast<char>(body.size() | lengthBits)};
    frame += body;
    unsigned char sum = 0;
    for (char byte : frame)
        sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(byte));
    return frame + static_cast<char>(sum);
}

Bytes Word(unsigned int value)
{
    return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

// Message code 0x0001, Host Id, Host Mem Id, firmware word, the 8-byte text.
Bytes DevId(unsigned char address, unsigned int hostId, unsigned int memId, unsigned int firmware)
{
    return Frame(address, Word(0x0001) + Word(hostId) + Word(memId) + Word(firmware) + Bytes("CORESIM\0", 8));
}

const Bytes Ack = Frame(0x05, Word(0x0000));
const char* const Retrying = "ERROR: Interrupted by signal or would block. Retrying...|";
const char* const DevIdRecord = "Received DEV_ID: Unique Corvane Address: 0x05  Host Id: 0x1234  "
                                "Host Mem Id: 0x0001  Host Firmware Version: 3.2.3|";

class CoreLink : public ::testing::Test, protected LogFiles {
protected:
    void SetUp() override
    {
        WriteFile(ConfPath, "cue_ctl=DEBUG\n");
        Log::GetLog(LogPath.c_str(), "cue_ctl", ConfPath.c_str(), Log::NONE)->SetDisplayMethod(false);
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Ends), 0);
        Link = std::make_unique<Cue_Ctl>(Tool(), "127.0.0.1");
    }
    void TearDown() override
    {
        Log::Destroy();
        close(Ends[0]);
        close(Ends[1]);
    }
    int Tool() const { return Ends[0]; }
    void CoreSends(const Bytes& bytes) const
    {
        ASSERT_EQ(write(Ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    Bytes CoreReceived() const
    {
        char buffer[256];
        const ssize_t count = recv(Ends[1], buffer, sizeof buffer, MSG_DONTWAIT);
        return Bytes(buffer, static_cast<size_t>(count > 0 ? count : 0));
    }
    // A receive that finds nothing then fails at once with EAGAIN, as one
    // whose time-out expired does.
    void WouldBlockAtOnce() const { fcntl(Tool(), F_SETFL, O_NONBLOCK); }

    int Ends[2] = {-1, -1};
    std::unique_ptr<Cue_Ctl> Link;
};

// The real 5 s receive time-outs: label timeouts.
class CoreLinkTimeouts : public CoreLink {};

}  // namespace

TEST_F(CoreLink, DevIdFieldsAreReadHighByteFirstAndStopGoesToItsAddress)
{
    const struct {
        unsigned int firmware;
        const char* version;
    } cases[] = {{0x0C43, "3.2.3"}, {0x8C43, "3.2.3"}, {0x7FFF, "31.31.31"}, {0xFFFF, "31.31.31"},
                 {0x0000, "0.0.0"}, {0x03E0, "0.31.0"}, {0x0421, "1.1.1"}};
    for (const auto& c : cases) {
        Cue_Ctl link(Tool(), "127.0.0.1");
        CoreSends(DevId(0xA7, 0xA1B2, 0xFF03, c.firmware) + Ack);
        ASSERT_TRUE(link.RecvDevId());
        EXPECT_EQ(link.GetUniqueAddress(), 0xA7);
        EXPECT_EQ(link.GetHostId(), 0xA1B2);
        EXPECT_EQ(link.GetHostMemId(), 0xFF03);
        EXPECT_EQ(link.GetFirmwareVersion(), c.version) << std::hex << c.firmware;
        std::string stop = "STOP";
        EXPECT_TRUE(link.Process(stop));
        EXPECT_EQ(CoreReceived(), Frame(0xA7, Bytes("\x11\x20\x02\x02\x10\x00\xF0", 7)));
    }
    EXPECT_NE(Messages().find("Received DEV_ID: Unique Corvane Address: 0xA7  Host Id: 0xA1B2  Host Mem Id: 0xFF03  "
                              "Host Firmware Version: 31.31.31|Exiting ProcessStop()|"),
              std::string::npos);
}

TEST_F(CoreLink, OnlyTheLengthBitsAreReadAndABadStartByteStopsTheFrameAtItsHeader)
{
    WouldBlockAtOnce();  // a frame read too long fails at once
    unsigned char buffer[Cue_Ctl::FrameBufferSize];
    // Each frame is read whole and no further: the ACK after it comes next.
    const Bytes frames[] = {Frame(0x05, Bytes(7, 'b'), 0xC0), Frame(0x05, ""), Frame(0x05, "", 0x40),
                            Frame(0x05, Bytes(63, 'b')), Frame(0x05, Bytes(63, 'b'), 0xC0)};
    for (const Bytes& frame : frames) {
        CoreSends(frame + Ack);
        EXPECT_TRUE(Link->Recv(buffer)) << frame.size();
        EXPECT_TRUE(Link->WaitForAck()) << frame.size();
    }
    for (char start : {'\x00', '\x01', '\x03', '\x82'}) {
        CoreSends(start + Ack.substr(1));
        EXPECT_FALSE(Link->Recv(buffer));
        EXPECT_EQ(recv(Tool(), buffer, sizeof buffer, 0), 3);  // the rest of the frame, unread
    }
    EXPECT_EQ(Messages(), "");
}

TEST_F(CoreLink, AnAckIsAnyFrameWithMessageCodeZero)
{
    WouldBlockAtOnce();
    CoreSends(Frame(0x33, Word(0x0000) + "x", 0x80).substr(0, 7) + '\x99');  // any address and checksum
    EXPECT_TRUE(Link->WaitForAck());
    CoreSends(Frame(0x05, Word(0x0001)) + Frame(0x05, Word(0x0100)));
    EXPECT_FALSE(Link->WaitForAck());
    EXPECT_FALSE(Link->WaitForAck());
    CoreSends(DevId(0x05, 0x1234, 0x0001, 0x0C43) + Frame(0x05, Word(0x1120)));
    std::string stop = "STOP";
    ASSERT_TRUE(Link->RecvDevId());
    EXPECT_FALSE(Link->Process(stop));
    EXPECT_EQ(Messages(), "ERROR: waiting for ACK but received 0x0001|ERROR: waiting for ACK but received 0x0100|" +
                              Bytes(DevIdRecord) +
                              "ERROR: waiting for ACK but received 0x1120|"
                              "ERROR: wait for ack (SET_PLAYBACK_MODE) failed|");
}

TEST_F(CoreLink, OnlyTheExactWordStopIsSupportedAndNothingElseIsSent)
{
    std::string messages;
    for (std::string command : {"stop", "STOP ", " STOP", "STO", "STOPSTOP", ""}) {
        EXPECT_FALSE(Link->Process(command));
        messages += "ERROR: message not supported: " + command + "|";
    }
    EXPECT_EQ(CoreReceived(), "");
    EXPECT_EQ(Messages(), messages);
}

TEST_F(CoreLink, AReceiveEndsAtTheThirdTimeOutAHangUpOrANonSocketWithItsRecord)
{
    WouldBlockAtOnce();
    unsigned char buffer[4];
    CoreSends("\x02\x05");  // half of what is asked for, then nothing: one retry count covers the whole receive
    EXPECT_EQ(Link->Receive(Tool(), buffer, 4), -2);
    std::string records = Bytes(Retrying) + Retrying + Retrying + "ERROR: retry count exceeded. (Socket=" +
                          std::to_string(Tool()) + ")|";
    EXPECT_EQ(Messages(), records);

    CoreSends(DevId(0x05, 0x1234, 0x0001, 0x0C43).substr(0, 9));
    shutdown(Ends[1], SHUT_WR);
    EXPECT_FALSE(Link->RecvDevId());
    records += "Connection closed by remote host.|";
    EXPECT_EQ(Messages(), records);

    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    EXPECT_EQ(Link->Receive(pipeEnds[0], buffer, 4), -1);
    EXPECT_EQ(Messages(), records + "ERROR: setsockopt(SO_RCVTIMEO) failed|ERROR: recv failed. (Socket=" +
                              std::to_string(pipeEnds[0]) + ") Reason: Socket operation on non-socket|");
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST_F(CoreLinkTimeouts, APieceAfterTwoTimeOutsStillCompletesTheFrame)
{
    const Bytes devId = DevId(0x05, 0x1234, 0x0001, 0x0C43);
    CoreSends(devId.substr(0, 2));
    // Time-outs end at 5 and 10 s, the third would at 15 s.
    std::thread core([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(12500));
        CoreSends(devId.substr(2));
    });
    EXPECT_TRUE(Link->RecvDevId());
    core.join();
    EXPECT_EQ(Messages(), Bytes(Retrying) + Retrying + DevIdRecord);
}
