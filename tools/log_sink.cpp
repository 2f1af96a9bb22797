// log_sink: a small remote log server for tests and demos. The logging
// library streams records, each one text ending in '\n' plus a zero byte;
// this turns the stream back into one line per record.
#include <arpa/inet.h>
#include <getopt.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

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

struct Options {
    std::string addr = "127.0.0.1";
    unsigned long port = 5140;
    std::string out_file;
    std::string raw_file;
    std::string ready_file;
    unsigned long connections = 0;  // 0: unlimited
    unsigned long timeout_s = 60;   // 0: none; the default keeps it from lingering
    unsigned long max_records = 0;  // 0: unlimited
    bool close_on_accept = false;
    bool no_read = false;
};

volatile std::sig_atomic_t g_stop = 0;

void on_stop(int) { g_stop = 1; }

void report_errno(const char* call) {
    std::fprintf(stderr, "log_sink: %s: %s\n", call, std::strerror(errno));
}

// Splits the received stream at zero bytes into one output line per record.
class RecordWriter {
public:
    RecordWriter(FILE* out, FILE* raw, unsigned long max_records)
        : out_(out), raw_(raw), max_records_(max_records) {}

    // Returns false once the record limit is reached.
    bool take(const char* data, std::size_t size) {
        if (raw_ != nullptr) {
            std::fwrite(data, 1, size, raw_);
            std::fflush(raw_);
        }
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] != '\0') {
                pending_ += data[i];
                continue;
            }
            const bool has_newline = !pending_.empty() && pending_.back() == '\n';
            write_line(has_newline ? "" : "\n");
            if (max_records_ != 0 && ++records_ >= max_records_) return false;
        }
        return true;
    }

    // A record cut short by the hang-up still shows, on a line of its own.
    void end_connection() {
        if (!pending_.empty()) write_line("\n");
    }

private:
    void write_line(const char* ending) {
        std::fwrite(pending_.data(), 1, pending_.size(), out_);
        std::fputs(ending, out_);
        std::fflush(out_);
        pending_.clear();
    }

    FILE* out_;
    FILE* raw_;
    unsigned long max_records_;
    unsigned long records_ = 0;
    std::string pending_;
};

Fd open_listener(const Options& o) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(o.port));
    if (::inet_pton(AF_INET, o.addr.c_str(), &sa.sin_addr) != 1) {
        std::fprintf(stderr, "log_sink: inet_pton: bad address '%s'\n", o.addr.c_str());
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

File open_file(const std::string& path, const char* mode) {
    File f(std::fopen(path.c_str(), mode));
    if (!f) report_errno(("fopen " + path).c_str());
    return f;
}

const char kUsage[] =
    "usage: log_sink [options]\n"
    "Receives log records (text, '\\n', zero byte) over TCP and writes one\n"
    "line per record. Serves one connection at a time.\n"
    "  --addr A            listen address (default 127.0.0.1)\n"
    "  --port P            listen port (default 5140)\n"
    "  --out FILE          append record lines to FILE (default stdout)\n"
    "  --raw FILE          also append the exact received bytes to FILE\n"
    "  --connections K     exit after K connections have ended (default 0: no limit)\n"
    "  --timeout S         exit 0 after S seconds (default 60, 0: never)\n"
    "  --max-records R     exit 0 after R records (default 0: no limit)\n"
    "  --ready FILE        create FILE once listening\n"
    "  --close-on-accept   close each connection right after accepting it\n"
    "  --no-read           accept but never read, so the sender's buffer fills\n"
    "  --help              show this text\n";

enum { kAddr = 256, kPort, kOut, kRaw, kConnections, kTimeout, kMaxRecords,
       kReady, kCloseOnAccept, kNoRead, kHelp };

bool parse_number(const char* text, unsigned long max, unsigned long& out) {
    // strtoul would quietly accept a sign or leading blanks
    if (text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (errno != 0 || *end != '\0' || value > max) return false;
    out = value;
    return true;
}

enum class Parsed { Run, Help, Error };

Parsed parse_options(int argc, char** argv, Options& o) {
    static const option kLong[] = {
        {"addr", required_argument, nullptr, kAddr},
        {"port", required_argument, nullptr, kPort},
        {"out", required_argument, nullptr, kOut},
        {"raw", required_argument, nullptr, kRaw},
        {"connections", required_argument, nullptr, kConnections},
        {"timeout", required_argument, nullptr, kTimeout},
        {"max-records", required_argument, nullptr, kMaxRecords},
        {"ready", required_argument, nullptr, kReady},
        {"close-on-accept", no_argument, nullptr, kCloseOnAccept},
        {"no-read", no_argument, nullptr, kNoRead},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    int id = 0;
    int index = 0;
    while ((id = ::getopt_long(argc, argv, "", kLong, &index)) != -1) {
        bool ok = true;
        switch (id) {
        case kAddr: o.addr = optarg; break;
        case kOut: o.out_file = optarg; break;
        case kRaw: o.raw_file = optarg; break;
        case kReady: o.ready_file = optarg; break;
        case kCloseOnAccept: o.close_on_accept = true; break;
        case kNoRead: o.no_read = true; break;
        case kPort: ok = parse_number(optarg, 65535, o.port) && o.port != 0; break;
        case kConnections: ok = parse_number(optarg, 1000000, o.connections); break;
        case kTimeout: ok = parse_number(optarg, 86400, o.timeout_s); break;
        case kMaxRecords: ok = parse_number(optarg, 100000000, o.max_records); break;
        case kHelp: std::fputs(kUsage, stdout); return Parsed::Help;
        default: std::fputs(kUsage, stderr); return Parsed::Error;
        }
        if (!ok) {
            std::fprintf(stderr, "log_sink: bad value '%s' for --%s (see --help)\n",
                         optarg, kLong[index].name);
            return Parsed::Error;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "log_sink: unexpected argument '%s'\n", argv[optind]);
        return Parsed::Error;
    }
    return Parsed::Run;
}

#ifdef POLLRDHUP
constexpr short kPeerHangup = POLLRDHUP;  // seen even with unread data queued
#else
constexpr short kPeerHangup = 0;
#endif

// Short, so a stop signal or the deadline is noticed promptly.
constexpr int kPollMs = 100;

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const Parsed parsed = parse_options(argc, argv, o);
    if (parsed != Parsed::Run) return parsed == Parsed::Help ? 0 : 1;

    struct sigaction stop {};
    stop.sa_handler = on_stop;
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    File out_file, raw_file;
    if (!o.out_file.empty() && !(out_file = open_file(o.out_file, "a"))) return 1;
    if (!o.raw_file.empty() && !(raw_file = open_file(o.raw_file, "ab"))) return 1;
    RecordWriter writer(out_file ? out_file.get() : stdout, raw_file.get(), o.max_records);

    const Fd listener = open_listener(o);
    if (!listener.valid()) return 1;
    if (!o.ready_file.empty() && !open_file(o.ready_file, "w")) return 1;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(o.timeout_s);
    Fd client;
    const short client_events = o.no_read ? kPeerHangup : static_cast<short>(POLLIN);
    unsigned long ended = 0;
    const auto end_connection = [&] {
        writer.end_connection();
        client.reset();
        ++ended;
    };
    while (!g_stop && (o.connections == 0 || ended < o.connections)) {
        if (o.timeout_s != 0 && Clock::now() >= deadline) break;
        pollfd p{listener.get(), POLLIN, 0};
        if (client.valid()) p = pollfd{client.get(), client_events, 0};
        const int ready = ::poll(&p, 1, kPollMs);
        if (ready < 0 && errno != EINTR) {
            report_errno("poll");
            return 1;
        }
        if (ready <= 0) continue;
        if (!client.valid()) {
            client.reset(::accept(listener.get(), nullptr, nullptr));
            if (!client.valid() && errno != EINTR && errno != ECONNABORTED) {
                report_errno("accept");
                return 1;
            }
            if (client.valid() && o.close_on_accept) end_connection();
            continue;
        }
        if (o.no_read) {  // the sender hung up; there is nothing else to notice
            end_connection();
            continue;
        }
        char buf[4096];
        const ssize_t got = ::recv(client.get(), buf, sizeof buf, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (got <= 0) {
            end_connection();
        } else if (!writer.take(buf, static_cast<std::size_t>(got))) {
            return 0;
        }
    }
    // Stopped by signal or deadline: show what the open connection had sent.
    if (client.valid()) writer.end_connection();
    return 0;
}
