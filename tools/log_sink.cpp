// log_sink: a small remote log server for tests and demos. The logging
// library streams records, each one text ending in '\n' plus a zero byte;
// this turns the stream back into one line per record.
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include "tool_support.h"

const char tool::kProgramName[] = "log_sink";

namespace {

using tool::Fd;
using tool::File;
using tool::open_file;
using tool::Parsed;
using tool::report_errno;

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
        case kPort: ok = tool::parse_number(optarg, 1, 65535, o.port); break;
        case kConnections: ok = tool::parse_number(optarg, 0, 1000000, o.connections); break;
        case kTimeout: ok = tool::parse_number(optarg, 0, 86400, o.timeout_s); break;
        case kMaxRecords: ok = tool::parse_number(optarg, 0, 100000000, o.max_records); break;
        case kHelp: std::fputs(kUsage, stdout); return Parsed::Help;
        default: std::fputs(kUsage, stderr); return Parsed::Error;
        }
        if (!ok) {
            tool::report_bad_value(optarg, kLong[index].name);
            return Parsed::Error;
        }
    }
    return tool::no_operands_left(argc, argv, optind) ? Parsed::Run : Parsed::Error;
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

    const Fd listener = tool::open_listener(o.addr, o.port);
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
