// Bytes from the core, fed to the tool's side of a socket pair: DEV_ID, then
// the STOP request and the core's answer to it. The whole stream is written
// before the tool reads and the core's write side is shut, so every receive
// ends at once (data or end of stream), never by its 5 s time-out.
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "cmd/cue_ctl.h"
#include "fuzz_support.h"
#include "log/log.h"

namespace {

// Far below a socket pair's buffer, so writing it all up front never blocks.
constexpr size_t MaxInput = 4096;

// The tool's view of one frame, from the frame layout alone: 4 header bytes
// starting with 02, then (length byte & 0x3F) body bytes and the checksum.
// A stream that ends early fails the read; the buffer stays zero past what
// a successful read filled.
bool TakeFrame(const uint8_t* data, size_t size, size_t& at, uint8_t (&frame)[Cue_Ctl::FrameBufferSize])
{
    memset(frame, 0, sizeof frame);
    if (size - at < 4)
        return false;
    memcpy(frame, data + at, 4);
    at += 4;
    if (frame[0] != 0x02)
        return false;
    const size_t rest = (frame[3] & 0x3F) + 1u;
    if (size - at < rest)
        return false;
    memcpy(frame + 4, data + at, rest);
    at += rest;
    return true;
}

std::string VersionText(unsigned int word)
{
    return std::to_string(word >> 10 & 0x1F) + "." + std::to_string(word >> 5 & 0x1F) + "." +
           std::to_string(word & 0x1F);
}

void WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            abort();  // the harness, not the tool: the pair should take it all
        data += written;
        size -= static_cast<size_t>(written);
    }
}

std::string ReadToEnd(int fd)
{
    std::string received;
    char chunk[256];
    ssize_t count;
    // libFuzzer's timer signal may cut a read short: that is no end of
    // stream. A tool that closed with input unread ends it with ECONNRESET,
    // after all it sent.
    while ((count = read(fd, chunk, sizeof chunk)) != 0) {
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno == ECONNRESET)
            break;
        if (count < 0)
            abort();
        received.append(chunk, static_cast<size_t>(count));
    }
    return received;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A null log, but at MORE_DBG so every record the link writes is still
    // formatted (into /dev/null).
    Log::GetLog("/dev/null", "cue_ctl", "/dev/null", Log::MORE_DBG);
    atexit(Log::Destroy);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > MaxInput)
        return -1;

    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        abort();
    const int tool = pair[0];
    const int core = pair[1];
    WriteAll(core, data, size);
    shutdown(core, SHUT_WR);

    size_t at = 0;
    uint8_t frame[Cue_Ctl::FrameBufferSize];
    const bool devIdExpected = TakeFrame(data, size, at, frame);
    const uint8_t address = frame[1];
    const unsigned int hostId = frame[6] << 8 | frame[7];
    const unsigned int memId = frame[8] << 8 | frame[9];
    const std::string version = VersionText(frame[10] << 8 | frame[11]);

    Cue_Ctl link(tool, "127.0.0.1");
    const bool devId = link.RecvDevId();
    FUZZ_CHECK_EQ(devId, devIdExpected);
    bool stopped = false;
    if (devId) {
        FUZZ_CHECK_EQ(link.GetUniqueAddress(), address);
        FUZZ_CHECK_EQ(link.GetHostId(), hostId);
        FUZZ_CHECK_EQ(link.GetHostMemId(), memId);
        FUZZ_CHECK_EQ(link.GetFirmwareVersion(), version);

        const bool ackExpected = TakeFrame(data, size, at, frame) && frame[4] == 0x00 && frame[5] == 0x00;
        std::string stop = "STOP";
        stopped = link.Process(stop);
        FUZZ_CHECK_EQ(stopped, ackExpected);
    }

    // With the tool's end closed, the core reads exactly what was sent.
    close(tool);
    const std::string sent = ReadToEnd(core);
    close(core);
    if (!devId) {
        FUZZ_CHECK_EQ(sent, std::string());
        return 0;
    }
    const uint8_t request[12] = {0x02, address, 0x00, 0x07, 0x11, 0x20, 0x02, 0x02, 0x10, 0x00, 0xF0, 0x00};
    unsigned int sum = 0;
    for (int i = 0; i < 11; ++i)
        sum += request[i];
    FUZZ_CHECK_EQ(sent.size(), 12u);
    FUZZ_CHECK_EQ(sent.substr(0, 11), std::string(reinterpret_cast<const char*>(request), 11));
    FUZZ_CHECK_EQ(static_cast<unsigned int>(static_cast<uint8_t>(sent[11])), sum & 0xFF);
    return 0;
}
