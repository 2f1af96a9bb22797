// REMOTE records cut at the record buffer: a full log in REMOTE mode sends to
// a loopback listener of this process; every input is one record's text, and
// the record read back must be header, two spaces, the text cut to what fits,
// "\n", zero byte, in at most 10240 bytes.
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "fuzz_support.h"
#include "log/log.h"

namespace {

constexpr size_t RecordSize = 10240;
constexpr size_t MaxInput = 12000;

Log* RemoteLog = nullptr;
int Server = -1;  // our end of the log's connection
std::string Pending;  // bytes read past the last record's zero byte

int Listen(int* port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // the kernel picks
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 1) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        perror("fuzz_remote_record: listener");
        abort();
    }
    *port = ntohs(address.sin_port);
    return fd;
}

// Waits up to timeoutMs for fd to be readable. libFuzzer's timer signal
// (for -timeout) interrupts the wait: that is no answer, so wait on.
bool Readable(int fd, int timeoutMs)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long deadline = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + timeoutMs;
    for (;;) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long left = deadline - (now.tv_sec * 1000LL + now.tv_nsec / 1000000);
        struct pollfd entry = {fd, POLLIN, 0};
        const int ready = poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
        if (ready == 1)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

// Up to and with the next zero byte; what came after it stays pending.
std::string NextRecord()
{
    char chunk[16384];
    size_t zero;
    while ((zero = Pending.find('\0')) == std::string::npos) {
        if (!Readable(Server, 5000)) {
            // Say what did come and what the log thinks of its link.
            fprintf(stderr, "no zero byte within 5 s; %zu bytes pending: %s\nlog: level %d, mode %d, connected %d\n",
                    Pending.size(), FuzzEscaped(Pending).c_str(), static_cast<int>(RemoteLog->GetLevel()),
                    static_cast<int>(RemoteLog->GetLogMode()), static_cast<int>(RemoteLog->IsConnected()));
            FUZZ_CHECK(!"record complete");
        }
        const ssize_t count = read(Server, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        FUZZ_CHECK(count > 0);
        Pending.append(chunk, static_cast<size_t>(count));
    }
    const std::string record = Pending.substr(0, zero + 1);
    Pending.erase(0, zero + 1);
    return record;
}

void Shutdown()
{
    delete RemoteLog;
    RemoteLog = nullptr;
    if (Server >= 0)
        close(Server);
    Server = -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string& dir = FuzzTempDir();
    int port = 0;
    const int listener = Listen(&port);
    const std::string confPath = dir + "/cue_ctl.conf";
    const std::string conf = "cue_ctl=MORE_DEBUG\nMODE=REMOTE\nREMOTE_HOST=127.0.0.1:" + std::to_string(port) + "\n";
    WriteWholeFile(confPath, conf.data(), conf.size());

    // The log connects in its constructor; the backlog holds the connection.
    RemoteLog = new Log((dir + "/cue_ctl.log").c_str(), "cue_ctl", confPath.c_str(), Log::NONE);
    atexit(Shutdown);  // before the folder goes
    if (Readable(listener, 5000))
        Server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    close(listener);
    if (Server < 0 || !RemoteLog->IsConnected() || RemoteLog->GetLevel() != Log::MORE_DBG) {
        fprintf(stderr, "fuzz_remote_record: the log did not connect to 127.0.0.1:%d\n", port);
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > MaxInput)
        return -1;
    // The record's text as a C string: the input up to its first zero byte.
    const std::string text(data, std::find(data, data + size, 0));
    const long long before = NowMs();
    RemoteLog->Write("%s", Log::DBG, "f()", text.c_str());
    const long long after = NowMs();
    const std::string record = NextRecord();

    FUZZ_CHECK(record.size() <= RecordSize);
    const size_t headerLength = CheckRecordHeader(record, Log::DBG, before, after);
    FUZZ_CHECK(record.size() >= headerLength + 4);
    FUZZ_CHECK_EQ(record.substr(headerLength, 2), std::string("  "));
    FUZZ_CHECK_EQ(record.substr(record.size() - 2), std::string("\n\0", 2));
    const std::string message = record.substr(headerLength + 2, record.size() - headerLength - 4);
    FUZZ_CHECK_EQ(message, text.substr(0, RecordSize - 4 - headerLength));
    // One record per Write, so nothing may follow it.
    FUZZ_CHECK_EQ(Pending, std::string());
    return 0;
}
