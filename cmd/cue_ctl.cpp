#include "cue_ctl.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <tessra/log/log.h>


namespace {

constexpr uint8_t StartByte = 0x02;
constexpr int HeaderSize = 4;
constexpr uint8_t LengthMask = 0x3F;
constexpr int MaxSendRetries = 4;
constexpr int MaxReceiveRetries = 2;

const char* const ConstructorSignature =
    "Cue_Ctl::Cue_Ctl(std::basic_string<char, std::char_traits<char>, std::allocator<char> >)";

uint8_t Checksum(const unsigned char* bytes, int count)
{
    unsigned int sum = 0;
    for (int i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

}  // namespace

Cue_Ctl::Cue_Ctl(std::string command)
    : CoreSocket(-1), CoreAddress("127.0.0.1"), CorePort(5200), UniqueAddress(0), HostId(0), HostMemId(0)
{
    if (!Connect()) {
        Log::GetLog()->Write("FATAL ERROR: connect failed.", Log::MAJOR, ConstructorSignature);
        return;
    }
    if (!RecvDevId()) {
        Log::GetLog()->Write("FATAL ERROR: receive DEV_ID failed.", Log::MAJOR, ConstructorSignature);
        return;
    }
    if (!Process(command)) {
        Log::GetLog()->Write("FATAL ERROR: failed to process command %s", Log::MAJOR, ConstructorSignature,
                             command.c_str());
        return;
    }
    Disconnect();
}

Cue_Ctl::Cue_Ctl(int connectedSocket, const char* coreAddress)
    : CoreSocket(connectedSocket), CoreAddress(coreAddress), CorePort(5200), UniqueAddress(0), HostId(0),
      HostMemId(0)
{
}

bool Cue_Ctl::Connect()
{
    static const char* const Signature = "bool Cue_Ctl::Connect()";
    CoreSocket = socket(AF_INET, SOCK_STREAM, 0);
    if (CoreSocket == -1) {
        Log::GetLog()->Write("ERROR: socket failed. Reason: %s", Log::DBG, Signature, strerror(errno));
        return false;
    }
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    if (inet_pton(AF_INET, CoreAddress.c_str(), &address.sin_addr) == -1) {
        Log::GetLog()->Write("ERROR: inet_pton failed. Reason: %s", Log::DBG, Signature, strerror(errno));
        return false;
    }
    address.sin_port = htons(static_cast<uint16_t>(CorePort));
    if (connect(CoreSocket, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == -1) {
        Log::GetLog()->Write("ERROR: connect failed. Reason: %s", Log::DBG, Signature, strerror(errno));
        return false;
    }
    Log::GetLog()->Write("Connection with core established. (Socket: %d)", Log::DBG, Signature,
                         static_cast<int>(CoreSocket));
    return true;
}

bool Cue_Ctl::Disconnect()
{
    shutdown(CoreSocket, SHUT_RDWR);
    close(CoreSocket);
    Log::GetLog()->Write("Connection closed. (Socket: %d)", Log::DBG, "bool Cue_Ctl::Disconnect()",
                         static_cast<int>(CoreSocket));
    return true;
}

bool Cue_Ctl::Send(unsigned char* data, int length)
{
    return SendData(CoreSocket, data, length);
}

// At most five failed sends, each followed by a wait of up to 100 ms for the
// socket to become writable.
bool Cue_Ctl::SendData(int socket, unsigned char* data, int length)
{
    int sent = 0;
    int retries = 0;
    for (;;) {
        const ssize_t result = send(socket, data + sent, length - sent, 0);
        if (result == -1) {
            if (errno != EAGAIN && errno != EINTR)
                break;
            ++retries;
            if (socket >= 0 && socket < FD_SETSIZE) {
                fd_set writable;
                FD_ZERO(&writable);
                FD_SET(socket, &writable);
                struct timeval timeout = {0, 100000};
                select(socket + 1, nullptr, &writable, nullptr, &timeout);
            }
        } else {
            sent += static_cast<int>(result);
        }
        if (retries > MaxSendRetries || sent >= length)
            break;
    }
    return sent == length;
}

// Reads exactly length bytes. One retry count covers the whole call, so a
// silent peer costs at most three 5 s time-outs.
int Cue_Ctl::Receive(int socket, unsigned char* buffer, int length)
{
    static const char* const Signature = "int Cue_Ctl::Receive(int, unsigned char*, int)";
    int received = 0;
    int retries = 0;
    const struct timeval timeout = {5, 0};
    if (setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        Log::GetLog()->Write("ERROR: setsockopt(SO_RCVTIMEO) failed", Log::DBG, Signature);

    while (received < length) {
        if (retries > MaxReceiveRetries)
            break;
        const ssize_t result = recv(socket, buffer + received, length - received, 0);
        if (result == -1 && (errno == EAGAIN || errno == EINTR)) {
            Log::GetLog()->Write("ERROR: Interrupted by signal or would block. Retrying...", Log::DBG, Signature);
            ++retries;
            usleep(10000);
            continue;
        }
        if (result == -1) {
            const int recvErrno = errno;
            Log::GetLog()->Write("ERROR: recv failed. (Socket=%d) Reason: %s", Log::DBG, Signature, socket,
                                 strerror(recvErrno));
            return -1;
        }
        if (result == 0) {
            Log::GetLog()->Write("Connection closed by remote host.", Log::DBG, Signature);
            return 0;
        }
        received += static_cast<int>(result);
    }
    if (retries == MaxReceiveRetries + 1) {
        Log::GetLog()->Write("ERROR: retry count exceeded. (Socket=%d)", Log::DBG, Signature, socket);
        return -2;
    }
    return received;
}

bool Cue_Ctl::Recv(unsigned char* buffer)
{
    if (Receive(CoreSocket, buffer, HeaderSize) <= 0)
        return false;
    if (buffer[0] != StartByte)
        return false;
    const int bodyLength = buffer[3] & LengthMask;
    return Receive(CoreSocket, buffer + HeaderSize, bodyLength + 1) > 0;
}

bool Cue_Ctl::RecvDevId()
{
    // Zeroed, so fields past the end of a short frame read as 0.
    unsigned char frame[FrameBufferSize] = {};
    if (!Recv(frame))
        return false;

    UniqueAddress = frame[1];
    HostId = static_cast<uint16_t>(frame[6] << 8 | frame[7]);
    HostMemId = static_cast<uint16_t>(frame[8] << 8 | frame[9]);
    // Version word: bit 15 unused, then 5 bits each of major, minor, revision.
    const int major = (frame[10] & 0x7C) >> 2;
    const int minor = (frame[10] & 0x03) * 8 + (frame[11] >> 5);
    const int revision = frame[11] & 0x1F;
    VersionStream += std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);

    Log::GetLog()->Write("Received DEV_ID: Unique Corvane Address: 0x%02X  Host Id: 0x%04X  Host Mem Id: 0x%04X  "
                         "Host Firmware Version: %s",
                         Log::DBG, "bool Cue_Ctl::RecvDevId()", static_cast<unsigned int>(UniqueAddress),
                         static_cast<unsigned int>(HostId), static_cast<unsigned int>(HostMemId),
                         VersionStream.c_str());
    return true;
}

bool Cue_Ctl::WaitForAck()
{
    unsigned char frame[FrameBufferSize] = {};
    if (!Recv(frame))
        return false;
    if (frame[4] == 0x00 && frame[5] == 0x00)
        return true;
    Log::GetLog()->Write("ERROR: waiting for ACK but received 0x%04X", Log::DBG, "bool Cue_Ctl::WaitForAck()",
                         static_cast<unsigned int>(frame[4] << 8 | frame[5]));
    return false;
}

bool Cue_Ctl::Process(std::string& command)
{
    if (command == "STOP")
        return ProcessStop();
    Log::GetLog()->Write("ERROR: message not supported: %s", Log::DBG, "bool Cue_Ctl::Process(std::string&)",
                         command.c_str());
    return false;
}

bool Cue_Ctl::ProcessStop()
{
    static const char* const Signature = "bool Cue_Ctl::ProcessStop()";
    // SET_PLAYBACK_MODE (0x1120) with the fixed parameters of the STOP mode.
    unsigned char frame[12] = {StartByte, UniqueAddress, 0x00, 0x07, 0x11, 0x20, 0x02, 0x02, 0x10, 0x00, 0xF0, 0x00};
    frame[11] = Checksum(frame, 11);
    if (!Send(frame, sizeof frame)) {
        Log::GetLog()->Write("ERROR: send SET_PLAYBACK_MODE (STOP) failed", Log::DBG, Signature);
        return false;
    }
    if (!WaitForAck()) {
        Log::GetLog()->Write("ERROR: wait for ack (SET_PLAYBACK_MODE) failed", Log::DBG, Signature);
        return false;
    }
    Log::GetLog()->Write("Exiting ProcessStop()", Log::DBG, Signature);
    return true;
}
