// Helpers shared by the test stand-ins (core_sim, log_sink). Nothing here
// may come from the product folders: the tools are the other end of the wire.
#ifndef TOOLS_TOOL_SUPPORT_H
#define TOOLS_TOOL_SUPPORT_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace tool {

// Prefix of every message; each program defines it once.
extern const char kProgramName[];

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

enum class Parsed { Run, Help, Error };

inline void report_errno(const char* call) {
    std::fprintf(stderr, "%s: %s: %s\n", kProgramName, call, std::strerror(errno));
}

inline void report_bad_value(const char* value, const char* flag) {
    std::fprintf(stderr, "%s: bad value '%s' for --%s (see --help)\n",
                 kProgramName, value, flag);
}

// Operands are never taken, so any left after getopt_long is a mistake.
inline bool no_operands_left(int argc, char** argv, int first) {
    if (first >= argc) return true;
    std::fprintf(stderr, "%s: unexpected argument '%s'\n", kProgramName, argv[first]);
    return false;
}

inline bool parse_number(const char* text, unsigned long min, unsigned long max,
                         unsigned long& out) {
    // strtoul would quietly accept a sign or leading blanks
    if (text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (errno != 0 || *end != '\0' || value < min || value > max) return false;
    out = value;
    return true;
}

inline File open_file(const std::string& path, const char* mode) {
    File f(std::fopen(path.c_str(), mode));
    if (!f) report_errno(("fopen " + path).c_str());
    return f;
}

inline Fd open_listener(const std::string& addr, unsigned long port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, addr.c_str(), &sa.sin_addr) != 1) {
        std::fprintf(stderr, "%s: inet_pton: bad address '%s'\n", kProgramName,
                     addr.c_str());
        return Fd();
    }
    Fd sock(::socket(AF_INET, SOCK_STREAM, 0));
    const int on = 1;
    if (!sock.valid()) {
        report_errno("socket");
    } else if (::setsockopt(sock.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        report_errno("setsockopt(SO_REUSEADDR)");
    } else if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        report_errno("bind");
    } else if (::listen(sock.get(), 8) != 0) {
        report_errno("listen");
    } else {
        return sock;
    }
    return Fd();
}

}  // namespace tool

#endif
