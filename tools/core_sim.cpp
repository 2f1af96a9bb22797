// core_sim: stands in for the unit's core process. It speaks the framed TCP
// protocol from the core's side and can misbehave on request, so cue_ctl's
// error paths can be driven end to end. Its framing is written here on
// purpose, not shared with cue_ctl: it is the independent other end.
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tool_support.h"

const char tool::kProgramName[] = "core_sim";

namespace {

using tool::Fd;
using tool::Parsed;
using tool::report_errno;

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kStart = 0x02;
constexpr std::size_t kHeaderSize = 4;
constexpr std::uint8_t kLengthMask = 0x3F;
constexpr std::size_t kMaxFrame = kHeaderSize + kLengthMask + 1;
constexpr unsigned kDevIdCode = 0x0001;
constexpr std::uint8_t kDevIdBodySize = 16;

enum class Fault {
    None, Close, Silent, BadStart, Nack, NoAck, Pieces, LongLength,
    ShortDevId, Reset, StallLength, Trickle, Garbage
};

struct FaultName {
    const char* name;
    Fault fault;
};

const FaultName kFaults[] = {
    {"none", Fault::None},         {"close", Fault::Close},
    {"silent", Fault::Silent},     {"bad-start", Fault::BadStart},
    {"nack", Fault::Nack},         {"no-ack", Fault::NoAck},
    {"pieces", Fault::Pieces},     {"long-length", Fault::LongLength},
    {"reset", Fault::Reset},       {"short-devid", Fault::ShortDevId},
    {"trickle", Fault::Trickle},   {"stall-length", Fault::StallLength},
    {"garbage", Fault::Garbage},
};

struct Options {
    std::string addr = "127.0.0.1";
    unsigned long port = 5200;
    unsigned long connections = 1;
    unsigned long timeout_s = 30;
    unsigned long unique_address = 0x05;
    unsigned long host_id = 0x1234;
    unsigned long host_mem_id = 0x0001;
    unsigned long firmware = 0x0C43;
    std::string ready_file;
    std::string out_file;
    Fault fault = Fault::None;
    unsigned long nack_code = 0x0001;
    unsigned long length_byte = 0;
    bool length_byte_set = false;
    unsigned long piece_delay_ms = 200;
    unsigned long trickle_ms = 4000;
    unsigned long garbage_bytes = 65536;
};

// How a connection's exchange ended; only a clean hang-up by the client is
// reported as CLOSED.
enum class Io { Ok, PeerClosed, Failed };

// ---- event lines -------------------------------------------------------

FILE* g_events = stdout;

void event_line(const std::string& line) {
    std::fputs(line.c_str(), g_events);
    std::fputc('\n', g_events);
    std::fflush(g_events);
}

void event_bytes(const char* tag, const Bytes& bytes) {
    std::string line = tag;
    char hex[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned>(b));
        line += hex;
    }
    event_line(line);
}

// ---- frames -------------------------------------------------------------

void put_u16(Bytes& out, unsigned long value) {
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

// The body is cut or zero-padded to what the length byte announces, so odd
// length bytes still yield a frame whose checksum is right.
Bytes make_frame(std::uint8_t start, std::uint8_t address,
                 std::uint8_t length_byte, Bytes body) {
    body.resize(length_byte & kLengthMask, 0);
    Bytes frame{start, address, 0x00, length_byte};
    // appended byte by byte: g++ 12 misreports insert() on a small vector
    for (std::uint8_t b : body) frame.push_back(b);
    unsigned sum = 0;
    for (std::uint8_t b : frame) sum += b;
    frame.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    return frame;
}

std::uint8_t devid_length_byte(const Options& o) {
    if (o.length_byte_set) return static_cast<std::uint8_t>(o.length_byte);
    if (o.fault == Fault::ShortDevId) return 2;
    if (o.fault == Fault::LongLength) return 0xC0 | kDevIdBodySize;
    return kDevIdBodySize;
}

Bytes devid_frame(const Options& o) {
    Bytes body;
    put_u16(body, kDevIdCode);
    put_u16(body, o.host_id);
    put_u16(body, o.host_mem_id);
    put_u16(body, o.firmware);
    const char text[8] = "CORESIM";
    body.insert(body.end(), text, text + sizeof text);
    const std::uint8_t start = o.fault == Fault::BadStart ? 0x03 : kStart;
    return make_frame(start, static_cast<std::uint8_t>(o.unique_address),
                      devid_length_byte(o), body);
}

Bytes answer_frame(const Options& o) {
    Bytes body;
    put_u16(body, o.fault == Fault::Nack ? o.nack_code : 0x0000);
    return make_frame(kStart, static_cast<std::uint8_t>(o.unique_address), 2,
                      body);
}

// ---- socket helpers -----------------------------------------------------

Io send_all(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            report_errno("send");
            return Io::Failed;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return Io::Ok;
}

// Appends up to `want` bytes to `buf`; on a hang-up mid-way `buf` keeps what
// did arrive.
Io recv_append(int fd, Bytes& buf, std::size_t want) {
    while (want > 0) {
        std::uint8_t chunk[kMaxFrame];
        const std::size_t ask = want < sizeof chunk ? want : sizeof chunk;
        const ssize_t got = ::recv(fd, chunk, ask, 0);
        if (got == 0) return Io::PeerClosed;
        if (got < 0) {
            if (errno == EINTR) continue;
            report_errno("recv");
            return Io::Failed;
        }
        buf.insert(buf.end(), chunk, chunk + got);
        want -= static_cast<std::size_t>(got);
    }
    return Io::Ok;
}

// Waits `ms` but notices the client hanging up, so slow faults don't go on
// talking to a closed socket. Pending request bytes are left for the reader.
Io pause_ms(int fd, unsigned long ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(ms)) > 0) {
        std::uint8_t peek = 0;
        const ssize_t n = ::recv(fd, &peek, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0) return Io::PeerClosed;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            report_errno("recv");
            return Io::Failed;
        }
    }
    // Waiting request bytes keep poll from blocking, so sleep out the rest.
    std::this_thread::sleep_until(deadline);
    return Io::Ok;
}

// Sends `data` in pieces ending at each cut, pausing between pieces.
Io send_paced(int fd, const Bytes& data, const std::vector<std::size_t>& cuts,
              unsigned long delay_ms) {
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        if (from > 0) {
            const Io r = pause_ms(fd, delay_ms);
            if (r != Io::Ok) return r;
        }
        const Io r = send_all(fd, data.data() + from, cut - from);
        if (r != Io::Ok) return r;
        from = cut;
    }
    return Io::Ok;
}

// Splits inside the header and inside the body, the boundaries a reader is
// most tempted to assume arrive together.
Io send_frame(int fd, const Bytes& frame, const Options& o) {
    if (o.fault != Fault::Pieces) return send_all(fd, frame.data(), frame.size());
    std::vector<std::size_t> cuts{2, kHeaderSize};
    const std::size_t rest = frame.size() - kHeaderSize;
    if (rest >= 2) cuts.push_back(kHeaderSize + rest / 2);
    cuts.push_back(frame.size());
    return send_paced(fd, frame, cuts, o.piece_delay_ms);
}

// ---- connection behaviours ----------------------------------------------

// Reads request frames, logs each, and answers unless the fault says not to.
Io serve_requests(int fd, const Options& o, bool answer) {
    for (;;) {
        Bytes frame;
        Io r = recv_append(fd, frame, 1);
        if (r != Io::Ok) return r;
        if (frame[0] != kStart) {
            std::uint8_t rest[kMaxFrame - 1];
            const ssize_t n = ::recv(fd, rest, sizeof rest, MSG_DONTWAIT);
            if (n > 0) frame.insert(frame.end(), rest, rest + n);
            event_bytes("RX-BAD", frame);
            return Io::Ok;
        }
        r = recv_append(fd, frame, kHeaderSize - 1);
        if (r == Io::Ok) r = recv_append(fd, frame, (frame[3] & kLengthMask) + 1u);
        if (r != Io::Ok) {
            if (r == Io::PeerClosed) event_bytes("RX-PARTIAL", frame);
            return r;
        }
        event_bytes("RX", frame);
        if (answer) {
            r = send_frame(fd, answer_frame(o), o);
            if (r != Io::Ok) return r;
        }
    }
}

Io drain_until_closed(int fd) {
    for (;;) {
        Bytes junk;
        const Io r = recv_append(fd, junk, kMaxFrame);
        if (r != Io::Ok) return r;
    }
}

// Fixed-seed xorshift so a failing run can be replayed byte for byte.
Bytes garbage(unsigned long size) {
    Bytes out(size);
    std::uint32_t state = 0x2545F491u;
    for (std::uint8_t& b : out) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<std::uint8_t>(state & 0xFF);
    }
    if (!out.empty()) out[0] = kStart;  // so the client reads on
    return out;
}

Io reset_midway(int fd, const Options& o) {
    const Bytes frame = devid_frame(o);
    Io r = send_all(fd, frame.data(), frame.size() / 2);
    // Give the client time to take the half frame before the RST lands.
    if (r == Io::Ok) r = pause_ms(fd, o.piece_delay_ms);
    if (r != Io::Ok) return r;
    const linger abort_on_close{1, 0};
    if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close,
                     sizeof abort_on_close) != 0) {
        report_errno("setsockopt(SO_LINGER)");
        return Io::Failed;
    }
    return Io::Ok;  // the caller's close now sends the RST
}

Io serve(int fd, const Options& o) {
    switch (o.fault) {
    case Fault::Close:
        return Io::Ok;
    case Fault::Silent:
        return serve_requests(fd, o, false);
    case Fault::Reset:
        return reset_midway(fd, o);
    case Fault::StallLength: {
        const Bytes header{kStart, static_cast<std::uint8_t>(o.unique_address),
                           0x00, kLengthMask};
        const Io r = send_all(fd, header.data(), header.size());
        return r == Io::Ok ? serve_requests(fd, o, false) : r;
    }
    case Fault::Garbage: {
        const Bytes junk = garbage(o.garbage_bytes);
        const Io r = send_all(fd, junk.data(), junk.size());
        return r == Io::Ok ? drain_until_closed(fd) : r;
    }
    case Fault::Trickle: {
        const Bytes frame = devid_frame(o);
        std::vector<std::size_t> cuts;
        for (std::size_t i = 1; i <= frame.size(); ++i) cuts.push_back(i);
        const Io r = send_paced(fd, frame, cuts, o.trickle_ms);
        return r == Io::Ok ? serve_requests(fd, o, true) : r;
    }
    case Fault::None:
    case Fault::BadStart:
    case Fault::Nack:
    case Fault::NoAck:
    case Fault::Pieces:
    case Fault::LongLength:
    case Fault::ShortDevId:
        break;
    }
    const Io r = send_frame(fd, devid_frame(o), o);
    return r == Io::Ok ? serve_requests(fd, o, o.fault != Fault::NoAck) : r;
}

// ---- setup ---------------------------------------------------------------

// Exits with status 2 from the signal itself, so no blocking call can keep
// the simulator alive past its deadline.
void on_deadline(int) {
    static const char msg[] = "core_sim: timeout\n";
    const ssize_t ignored = ::write(STDERR_FILENO, msg, sizeof msg - 1);
    (void)ignored;
    ::_exit(2);
}

bool create_empty_file(const std::string& path) {
    Fd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    if (!file.valid()) report_errno(("open " + path).c_str());
    return file.valid();
}

const char kUsage[] =
    "usage: core_sim [options]\n"
    "Stands in for the core process: sends DEV_ID on connect, then answers\n"
    "each request frame; logs CONNECT, RX <hex>, RX-BAD <hex>, CLOSED.\n"
    "  --addr A             listen address (default 127.0.0.1)\n"
    "  --port P             listen port (default 5200)\n"
    "  --connections K      exit 0 after serving K connections (default 1)\n"
    "  --timeout S          exit 2 after S seconds whatever happens (default 30)\n"
    "  --unique-address X   address byte of every frame sent (default 0x05)\n"
    "  --host-id X          DEV_ID host id (default 0x1234)\n"
    "  --host-mem-id X      DEV_ID host memory id (default 0x0001)\n"
    "  --firmware X         DEV_ID firmware version word (default 0x0C43)\n"
    "  --length-byte X      DEV_ID length byte as sent; body length is X & 0x3F\n"
    "  --ready FILE         create FILE once listening\n"
    "  --out FILE           append event lines to FILE instead of stdout\n"
    "  --fault NAME         none close silent bad-start nack no-ack pieces\n"
    "                       long-length short-devid reset stall-length trickle\n"
    "                       garbage (default none)\n"
    "  --nack-code X        message code answered by the nack fault (default 0x0001)\n"
    "  --piece-delay-ms M   pause between pieces, and before reset (default 200)\n"
    "  --trickle-ms M       pause between DEV_ID bytes for trickle (default 4000)\n"
    "  --garbage-bytes B    junk sent by the garbage fault (default 65536)\n"
    "  --help               show this text\n"
    "Numbers take 0x hex or decimal.\n";

bool parse_fault(const char* text, Fault& out) {
    for (const FaultName& f : kFaults) {
        if (std::strcmp(text, f.name) == 0) {
            out = f.fault;
            return true;
        }
    }
    return false;
}

// Numeric options: where each lands and the range it must fit.
struct NumberFlag {
    const char* name;
    unsigned long Options::*field;
    unsigned long min;
    unsigned long max;
};

const NumberFlag kNumberFlags[] = {
    {"port", &Options::port, 1, 65535},
    {"connections", &Options::connections, 1, 1000000},
    {"timeout", &Options::timeout_s, 1, 86400},
    {"unique-address", &Options::unique_address, 0, 0xFF},
    {"host-id", &Options::host_id, 0, 0xFFFF},
    {"host-mem-id", &Options::host_mem_id, 0, 0xFFFF},
    {"firmware", &Options::firmware, 0, 0xFFFF},
    {"length-byte", &Options::length_byte, 0, 0xFF},
    {"nack-code", &Options::nack_code, 0, 0xFFFF},
    {"piece-delay-ms", &Options::piece_delay_ms, 0, 600000},
    {"trickle-ms", &Options::trickle_ms, 0, 600000},
    {"garbage-bytes", &Options::garbage_bytes, 0, 64ul * 1024 * 1024},
};

// getopt_long ids: text options here, numeric ones kNumberBase + index.
enum { kAddr = 256, kReady, kOut, kFault, kHelp, kNumberBase };

Parsed parse_options(int argc, char** argv, Options& o) {
    std::vector<option> table{
        {"addr", required_argument, nullptr, kAddr},
        {"ready", required_argument, nullptr, kReady},
        {"out", required_argument, nullptr, kOut},
        {"fault", required_argument, nullptr, kFault},
        {"help", no_argument, nullptr, kHelp},
    };
    int id = kNumberBase;
    for (const NumberFlag& n : kNumberFlags) table.push_back({n.name, required_argument, nullptr, id++});
    table.push_back({nullptr, 0, nullptr, 0});

    while ((id = ::getopt_long(argc, argv, "", table.data(), nullptr)) != -1) {
        if (id == kHelp) {
            std::fputs(kUsage, stdout);
            return Parsed::Help;
        }
        if (id == '?') {
            std::fputs(kUsage, stderr);
            return Parsed::Error;
        }
        bool ok = true;
        const char* name = "fault";
        if (id == kAddr) {
            o.addr = optarg;
        } else if (id == kReady) {
            o.ready_file = optarg;
        } else if (id == kOut) {
            o.out_file = optarg;
        } else if (id == kFault) {
            ok = parse_fault(optarg, o.fault);
        } else {
            const NumberFlag& n = kNumberFlags[id - kNumberBase];
            name = n.name;
            ok = tool::parse_number(optarg, n.min, n.max, o.*n.field);
            if (n.field == &Options::length_byte) o.length_byte_set = true;
        }
        if (!ok) {
            tool::report_bad_value(optarg, name);
            return Parsed::Error;
        }
    }
    return tool::no_operands_left(argc, argv, optind) ? Parsed::Run : Parsed::Error;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const Parsed parsed = parse_options(argc, argv, o);
    if (parsed != Parsed::Run) return parsed == Parsed::Help ? 0 : 1;

    struct sigaction deadline {};
    deadline.sa_handler = on_deadline;
    sigemptyset(&deadline.sa_mask);
    if (::sigaction(SIGALRM, &deadline, nullptr) != 0) {
        report_errno("sigaction");
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);  // a vanished client shows up as EPIPE instead
    ::alarm(static_cast<unsigned>(o.timeout_s));

    tool::File events_file;
    if (!o.out_file.empty()) {
        events_file = tool::open_file(o.out_file, "a");
        if (!events_file) return 1;
        g_events = events_file.get();
    }
    const Fd listener = tool::open_listener(o.addr, o.port);
    if (!listener.valid()) return 1;
    if (!o.ready_file.empty() && !create_empty_file(o.ready_file)) return 1;

    for (unsigned long served = 0; served < o.connections; ++served) {
        Fd conn(::accept(listener.get(), nullptr, nullptr));
        while (!conn.valid() && (errno == EINTR || errno == ECONNABORTED)) {
            conn.reset(::accept(listener.get(), nullptr, nullptr));
        }
        if (!conn.valid()) {
            report_errno("accept");
            return 1;
        }
        event_line("CONNECT");
        if (serve(conn.get(), o) == Io::PeerClosed) event_line("CLOSED");
    }
    return 0;
}
