// The REMOTE destination: one TCP connection to the log server, one send
// per record, each record ended by a newline and a zero byte.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "log.h"

namespace {

constexpr size_t RecordSize = 10240;

// The kernel's default send buffer (16 KiB, grown only as the server reads)
// dropped most of a burst; this holds 1,000 records of 150 bytes at once with
// room to spare (the kernel doubles it, up to net.core.wmem_max).
constexpr int SendBufferSize = 192 * 1024;

// A server that has gone away must not kill the process with SIGPIPE. The
// process-wide disposition belongs to the application, so the signal is
// blocked in this thread for the one send, and the one it raised consumed.
ssize_t SendWithoutSigpipe(int fd, const char* data, size_t length)
{
    sigset_t pipe, previous;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &previous);
    const ssize_t sent = send(fd, data, length, 0);
    const int sendErrno = errno;
    // A SIGPIPE the caller had blocked already is the caller's to handle.
    if (sent < 0 && sendErrno == EPIPE && !sigismember(&previous, SIGPIPE)) {
        const struct timespec noWait = {0, 0};
        sigtimedwait(&pipe, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = sendErrno;
    return sent;
}

}  // namespace

bool Log::Connect()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Socket = fd;
    if (fd == -1) {
        fprintf(stderr, "Failed to create socket. Reason: %s\n", strerror(errno));
        return false;
    }
    // Best effort: without it, records are sent as before, only fewer in a burst.
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &SendBufferSize, sizeof SendBufferSize);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(RemotePort));
    // Only -1 is a failure; text that is no address leaves 0.0.0.0.
    if (inet_pton(AF_INET, RemoteIp.c_str(), &address.sin_addr) == -1) {
        fprintf(stderr, "Error during socket setup. Errno: %s\n", strerror(errno));
        close(fd);
        return false;
    }
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == -1) {
        fprintf(stderr, "Error while attempting to connect to host: %s:%d\n", RemoteIp.c_str(),
                static_cast<int>(RemotePort));
        close(fd);
        return false;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fcntl(fd, F_SETFL, flags | O_NONBLOCK | O_ASYNC) == -1) {
        Disconnect();
        return false;
    }
    return true;
}

bool Log::Disconnect()
{
    const int fd = Socket.load();
    shutdown(fd, SHUT_RDWR);
    close(fd);
    return true;
}

// header, two spaces, message, "\n", "\0": cut so that all fit in RecordSize.
void Log::SendRemote(const char* header, const char* format, va_list args)
{
    char record[RecordSize];
    size_t length = strlen(header);
    memcpy(record, header, length);
    record[length++] = ' ';
    record[length++] = ' ';
    const size_t room = RecordSize - length - 2;
    const int formatted = vsnprintf(record + length, room + 1, format, args);
    length += formatted < 0 ? 0 : static_cast<size_t>(formatted) < room ? formatted : room;
    record[length++] = '\n';
    record[length++] = '\0';
    if (SendWithoutSigpipe(Socket.load(std::memory_order_relaxed), record, length) < 0)
        fprintf(stderr, "ERROR: send failed. Reason: %s\n", strerror(errno));
}
