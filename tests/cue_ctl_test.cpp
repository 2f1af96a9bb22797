#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "cmd/cue_ctl.h"
#include "log/log.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A frame as the core builds it: 02, address, 00, length byte, body, checksum.
Bytes Frame(unsigned char address, const Bytes& body, int lengthByte = -1)
{
    Bytes frame = {0x02, address, 0x00,
                   static_cast<unsigned char>(lengthByte < 0 ? body.size() : static_cast<size_t>(lengthByte))};
    frame.reserve(frame.size() + body.size() + 1);
    frame.insert(frame.end(), body.begin(), body.end());
    unsigned int sum = 0;
    for (unsigned char byte : frame)
        sum += byte;
    frame.push_back(static_cast<unsigned char>(sum));
    return frame;
}

Bytes DevId(unsigned char address, uint16_t hostId, uint16_t memId, uint16_t firmware)
{
    return Frame(address, {0x00, 0x01, static_cast<unsigned char>(hostId >> 8), static_cast<unsigned char>(hostId),
                           static_cast<unsigned char>(memId >> 8), static_cast<unsigned char>(memId),
                           static_cast<unsigned char>(firmware >> 8), static_cast<unsigned char>(firmware), 'C',
                           'O', 'R', 'E', 0, 0, 0, 0});
}

const Bytes Ack = Frame(0x05, {0x00, 0x00});

// The tool's side of a socket pair wrapped in a Cue_Ctl, the core's side kept here.
class CoreLink : public ::testing::Test {
protected:
    int Core = -1;
    std::unique_ptr<Cue_Ctl> Tool;

    void SetUp() override
    {
        Log::GetLog();  // a null log: records go nowhere
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        Core = pair[1];
        Tool = std::make_unique<Cue_Ctl>(pair[0], "127.0.0.1");
    }
    void TearDown() override
    {
        close(Tool->GetCoreSocket());
        if (Core >= 0)
            close(Core);
        Log::Destroy();
    }

    void CoreSends(const Bytes& bytes) { ASSERT_EQ(write(Core, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
};

}  // namespace

TEST_F(CoreLink, DevIdGivesAddressIdsAndFirmwareVersion)
{
    CoreSends(DevId(0x05, 0x1234, 0x0001, 0x0C43));
    ASSERT_TRUE(Tool->RecvDevId());
    EXPECT_EQ(Tool->GetUniqueAddress(), 0x05);
    EXPECT_EQ(Tool->GetHostId(), 0x1234);
    EXPECT_EQ(Tool->GetHostMemId(), 0x0001);
    EXPECT_EQ(Tool->GetFirmwareVersion(), "3.2.3");
}

TEST_F(CoreLink, FirmwareWordIgnoresBit15AndSpansFiveBitsPerNumber)
{
    const std::pair<uint16_t, const char*> cases[] = {
        {0x8C43, "3.2.3"}, {0x7FFF, "31.31.31"}, {0x0000, "0.0.0"}, {0x0421, "1.1.1"}};
    for (const auto& [word, text] : cases) {
        Cue_Ctl tool(Tool->GetCoreSocket(), "127.0.0.1");
        CoreSends(DevId(0x01, 0, 0, word));
        ASSERT_TRUE(tool.RecvDevId());
        EXPECT_EQ(tool.GetFirmwareVersion(), text) << std::hex << word;
    }
}

TEST_F(CoreLink, ShortDevIdReadsZeroPastTheFrame)
{
    const Bytes frame = Frame(0x07, {0x00, 0x01});
    CoreSends(frame);
    ASSERT_TRUE(Tool->RecvDevId());
    EXPECT_EQ(Tool->GetUniqueAddress(), 0x07);
    // Offset 6 holds the checksum; everything after it was never received.
    EXPECT_EQ(Tool->GetHostId(), frame[6] << 8);
    EXPECT_EQ(Tool->GetHostMemId(), 0);
    EXPECT_EQ(Tool->GetFirmwareVersion(), "0.0.0");
}

TEST_F(CoreLink, LengthByteTopBitsAreIgnored)
{
    Bytes frame = Frame(0x05, {0x00, 0x01, 0x12, 0x34, 0x00, 0x01, 0x0C}, 0xC7);
    CoreSends(frame);
    CoreSends(Ack);
    ASSERT_TRUE(Tool->RecvDevId());
    EXPECT_EQ(Tool->GetHostId(), 0x1234);
    // Exactly 7 + 1 bytes were taken: the next frame is read whole.
    EXPECT_TRUE(Tool->WaitForAck());
}

TEST_F(CoreLink, BadStartByteFailsWithoutReadingTheRest)
{
    Bytes frame = DevId(0x05, 0x1234, 0x0001, 0x0C43);
    frame[0] = 0x03;
    CoreSends(frame);
    EXPECT_FALSE(Tool->RecvDevId());
    unsigned char next[4];
    ASSERT_EQ(Tool->Receive(Tool->GetCoreSocket(), next, 4), 4);
    EXPECT_EQ(Bytes(next, next + 4), Bytes(frame.begin() + 4, frame.begin() + 8));
}

TEST_F(CoreLink, AnswerOtherThanAckFailsTheStop)
{
    CoreSends(DevId(0x05, 0x1234, 0x0001, 0x0C43));
    CoreSends(Frame(0x05, {0x00, 0x01}));
    CoreSends(Ack);
    ASSERT_TRUE(Tool->RecvDevId());
    EXPECT_FALSE(Tool->ProcessStop());
    // Only the one answer was read.
    EXPECT_TRUE(Tool->WaitForAck());
}

TEST_F(CoreLink, AckWithAnyAddressOrChecksumIsAccepted)
{
    Bytes ack = Frame(0x99, {0x00, 0x00, 0xAA});
    ack.back() ^= 0xFF;
    CoreSends(ack);
    EXPECT_TRUE(Tool->WaitForAck());
}
