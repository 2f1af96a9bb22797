#ifndef TESTS_SOCKET_SUPPORT_H
#define TESTS_SOCKET_SUPPORT_H

#include <string>

// A loopback TCP listener on a port the kernel picks, so parallel tests never
// share one.
class Listener {
public:
    // Port 0: the kernel picks one.
    explicit Listener(int port = 0);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int Port() const { return PortNumber; }
    // The next connection, or -1 when none arrives within the time.
    int Accept(int timeoutMs = 5000);

private:
    int Fd;
    int PortNumber;
};

// A loopback port with nothing listening on it.
int UnusedPort();

// Reads until `until` has been seen or the peer closes or the time runs out.
std::string ReadUntil(int fd, const std::string& until, int timeoutMs = 5000);

#endif
