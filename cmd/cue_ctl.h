#ifndef CMD_CUE_CTL_H
#define CMD_CUE_CTL_H

#include <stdint.h>

#include <string>

// One run of the tool against the unit's core process: the constructor
// connects to 127.0.0.1:5200, takes the first frame as DEV_ID, carries out
// the command and disconnects. Every outcome is reported through the log.
//
// Frame: 02 | address | 00 | N (bits 0-5) | N body bytes, code first | checksum
// where the checksum is the low 8 bits of the sum of all bytes before it.
//
// Owns the connection to the core, which only a successful run closes.
// Single-threaded.
class Cue_Ctl {
public:
    static constexpr int FrameBufferSize = 68;

    explicit Cue_Ctl(std::string command);
    // Adopts a connected socket and runs nothing: for driving the operations
    // one by one in tests and fuzzing.
    Cue_Ctl(int connectedSocket, const char* coreAddress);
    ~Cue_Ctl() = default;

    Cue_Ctl(const Cue_Ctl&) = delete;
    Cue_Ctl& operator=(const Cue_Ctl&) = delete;

    bool Connect();
    bool Disconnect();
    bool Send(unsigned char* data, int length);
    bool SendData(int socket, unsigned char* data, int length);
    int Receive(int socket, unsigned char* buffer, int length);
    bool Recv(unsigned char* buffer);
    bool RecvDevId();
    bool WaitForAck();
    bool Process(std::string& command);
    bool ProcessStop();

    int GetCoreSocket() const { return CoreSocket; }
    uint8_t GetUniqueAddress() const { return UniqueAddress; }
    uint16_t GetHostId() const { return HostId; }
    uint16_t GetHostMemId() const { return HostMemId; }
    std::string GetFirmwareVersion() const { return VersionStream; }

private:
    int32_t CoreSocket;
    std::string CoreAddress;
    int32_t CorePort;
    uint8_t UniqueAddress;
    uint16_t HostId;
    uint16_t HostMemId;
    std::string VersionStream;  // the host firmware version, "major.minor.revision"
};

#endif
