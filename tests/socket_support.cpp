#include "socket_support.h"

#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int BoundSocket(int* port)
{
    const int wanted = *port;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(wanted));
    const int reuse = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        abort();
    *port = ntohs(address.sin_port);
    return fd;
}

bool WaitReadable(int fd, int timeoutMs)
{
    struct pollfd entry = {fd, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) == 1;
}

}  // namespace

Listener::Listener(int port) : Fd(-1), PortNumber(port)
{
    Fd = BoundSocket(&PortNumber);
    if (listen(Fd, 8) != 0)
        abort();
}

Listener::~Listener()
{
    close(Fd);
}

int Listener::Accept(int timeoutMs)
{
    return WaitReadable(Fd, timeoutMs) ? accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
}

int UnusedPort()
{
    int port = 0;
    close(BoundSocket(&port));
    return port;
}

std::string ReadUntil(int fd, const std::string& until, int timeoutMs)
{
    std::string received;
    char chunk[4096];
    while (received.find(until) == std::string::npos && WaitReadable(fd, timeoutMs)) {
        const ssize_t count = read(fd, chunk, sizeof chunk);
        if (count <= 0)
            break;
        received.append(chunk, static_cast<size_t>(count));
    }
    return received;
}
