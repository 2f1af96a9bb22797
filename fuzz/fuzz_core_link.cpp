// An input is what the core sends: DEV_ID, then the answer to STOP, all in the
// tool's socket before it reads and the core's side shut, so no receive waits.
#include "cmd/cue_ctl.h"
#include "fuzz_support.h"

static Log* const NullLog = Log::GetLog("/dev/null", "cue_ctl", "/dev/null", Log::MORE_DBG);  // records still formatted

// The next frame by its layout alone: 02, two bytes, the length byte whose low
// 6 bits count the body, the body, the checksum. Zero past its end.
static bool TakeFrame(const uint8_t* data, size_t size, size_t& at, uint8_t (&frame)[Cue_Ctl::FrameBufferSize])
{
    memset(frame, 0, sizeof frame);
    const size_t length = size - at < 5 ? 0 : 5u + (data[at + 3] & 0x3F);
    if (length == 0 || size - at < length || data[at] != 0x02)
        return false;
    memcpy(frame, data + at, length);
    at += length;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)  // far below the socket buffer: the write takes it all
        return -1;
    int tool[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, tool) == 0);
    FUZZ_CHECK(write(tool[1], data, size) == static_cast<ssize_t>(size) && shutdown(tool[1], SHUT_WR) == 0);
    size_t at = 0;
    uint8_t devId[Cue_Ctl::FrameBufferSize], answer[Cue_Ctl::FrameBufferSize];
    const bool devIdSent = TakeFrame(data, size, at, devId);
    const bool ackSent = TakeFrame(data, size, at, answer) && answer[4] == 0 && answer[5] == 0;
    char version[16];
    snprintf(version, sizeof version, "%d.%d.%d", devId[10] >> 2 & 31, (devId[10] << 8 | devId[11]) >> 5 & 31,
             devId[11] & 31);

    Cue_Ctl link(tool[0], "127.0.0.1");
    std::string stop = "STOP";
    FUZZ_CHECK(link.RecvDevId() == devIdSent);
    FUZZ_CHECK(!devIdSent || (link.GetUniqueAddress() == devId[1] && link.GetHostId() == (devId[6] << 8 | devId[7]) &&
                              link.GetHostMemId() == (devId[8] << 8 | devId[9])));
    FUZZ_CHECK(!devIdSent || link.GetFirmwareVersion() == version);
    FUZZ_CHECK(!devIdSent || link.Process(stop) == ackSent);

    // What reached the core: the STOP request after a DEV_ID, else nothing.
    uint8_t request[12] = {0x02, devId[1], 0x00, 0x07, 0x11, 0x20, 0x02, 0x02, 0x10, 0x00, 0xF0, 0x00}, sent[64];
    for (int i = 0; i < 11; ++i)
        request[11] += request[i];
    const ssize_t count = recv(tool[1], sent, sizeof sent, MSG_DONTWAIT);
    FUZZ_CHECK(devIdSent ? count == 12 && memcmp(sent, request, 12) == 0 : count < 0);
    close(tool[0]);
    close(tool[1]);
    return 0;
}
