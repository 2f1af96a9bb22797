// core_sim: stands in for the unit's core process. It speaks the framed TCP
// protocol from the core's side: DEV_ID on connect, then an answer to each
// request frame. A fault scripts another opening or answer, so cue_ctl's error
// paths can be driven end to end. Its framing is written here on purpose, not
// shared with cue_ctl: it is the independent other end.
//
// It listens on 127.0.0.1 and writes one event line per step (CONNECT, RX <hex>
// for each request frame, CLOSED when the client hangs up) to stdout or --out.
// It exits 0 after --connections connections; SIGALRM ends it after --timeout
// seconds whatever happens. Numbers take 0x hex or decimal.
#include <arpa/inet.h>
#include <getopt.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kStart = 0x02;
constexpr std::size_t kHeaderSize = 4;
constexpr std::uint8_t kLengthMask = 0x3F;
constexpr std::size_t kWhole = 0xFFFF;  // more bytes than any frame holds

// How the frames go out: in one send, cut inside the header and inside the
// body (the boundaries a reader is most tempted to assume arrive together),
// or a byte at a time.
enum class Pace { Whole, Pieces, Trickle };

// What follows the opening: answer each request, read requests without
// answering, hang up, reset the connection, or send junk and then only read.
enum class Then { Ack, Nack, Silent, HangUp, Reset, Garbage };

// A fault as the steps of one connection: the DEV_ID frame's start byte and
// the bits or'ed into its length byte, how many of its bytes are sent and
// how, then what follows.
struct Script {
    const char* fault;
    std::uint8_t start;
    std::uint8_t length_bits;
    std::size_t dev_id_bytes;
    Pace pace;
    Then then;
};

const Script kScripts[] = {
    {"none", kStart, 0x00, kWhole, Pace::Whole, Then::Ack},
    {"close", kStart, 0x00, 0, Pace::Whole, Then::HangUp},
    {"silent", kStart, 0x00, 0, Pace::Whole, Then::Silent},
    {"bad-start", 0x03, 0x00, kWhole, Pace::Whole, Then::Ack},
    {"nack", kStart, 0x00, kWhole, Pace::Whole, Then::Nack},
    {"pieces", kStart, 0x00, kWhole, Pace::Pieces, Then::Ack},
    {"long-length", kStart, 0xC0, kWhole, Pace::Whole, Then::Ack},
    {"trickle", kStart, 0x00, kWhole, Pace::Trickle, Then::Ack},
    {"reset", kStart, 0x00, 11, Pace::Whole, Then::Reset},
    {"stall-length", kStart, kLengthMask, kHeaderSize, Pace::Whole, Then::Silent},
    {"garbage", kStart, 0x00, 0, Pace::Whole, Then::Garbage},
};

struct Options {
    unsigned long port = 5200;
    unsigned long connections = 1;
    unsigned long timeout_s = 30;
    unsigned long unique_address = 0x05;
    unsigned long host_id = 0x1234;
    unsigned long host_mem_id = 0x0001;
    unsigned long firmware = 0x0C43;
    unsigned long length_byte = 16;  // DEV_ID's; its body is cut or zero-padded to fit
    unsigned long piece_delay_ms = 200;  // between pieces, and before a reset
    unsigned long trickle_ms = 4000;
    unsigned long garbage_bytes = 65536;
    std::string ready_file;  // created once listening
    std::string out_file;
    const Script* script = &kScripts[0];
};

FILE* g_events = stdout;

void event_line(const std::string& line) {
    std::fprintf(g_events, "%s\n", line.c_str());
    std::fflush(g_events);
}

void event_bytes(const char* tag, const Bytes& bytes) {
    std::string line = tag;
    char hex[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned>(byte));
        line += hex;
    }
    event_line(line);
}

void put_u16(Bytes& out, unsigned long value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

Bytes make_frame(std::uint8_t start, const Options& o, std::uint8_t length_byte, Bytes body) {
    body.resize(length_byte & kLengthMask, 0);
    Bytes frame{start, static_cast<std::uint8_t>(o.unique_address), 0x00, length_byte};
    // appended byte by byte: g++ 12 misreports insert() on a small vector
    for (std::uint8_t byte : body) frame.push_back(byte);
    unsigned sum = 0;
    for (std::uint8_t byte : frame) sum += byte;
    frame.push_back(static_cast<std::uint8_t>(sum));
    return frame;
}

Bytes dev_id_frame(const Options& o) {
    Bytes body;
    put_u16(body, 0x0001);  // the DEV_ID message code
    put_u16(body, o.host_id);
    put_u16(body, o.host_mem_id);
    put_u16(body, o.firmware);
    for (char c : "CORESIM") body.push_back(static_cast<std::uint8_t>(c));
    const auto length_byte = static_cast<std::uint8_t>(o.length_byte | o.script->length_bits);
    return make_frame(o.script->start, o, length_byte, body);
}

Bytes answer_frame(const Options& o) {
    Bytes code;
    put_u16(code, o.script->then == Then::Nack ? 0x0001 : 0x0000);
    return make_frame(kStart, o, 2, code);
}

bool send_all(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0) {
            std::perror("core_sim: send");
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool send_paced(int fd, const Bytes& frame, Pace pace, const Options& o) {
    std::vector<std::size_t> ends;
    if (pace == Pace::Pieces) ends = {2, kHeaderSize, (kHeaderSize + frame.size()) / 2};
    for (std::size_t end = 1; pace == Pace::Trickle && end < frame.size(); ++end) ends.push_back(end);
    ends.push_back(frame.size());
    const unsigned long delay_ms = pace == Pace::Trickle ? o.trickle_ms : o.piece_delay_ms;
    std::size_t from = 0;
    for (std::size_t end : ends) {
        if (from > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        if (!send_all(fd, frame.data() + from, end - from)) return false;
        from = end;
    }
    return true;
}

enum class Read { Ok, PeerClosed, Failed };

Read read_exactly(int fd, std::uint8_t* buffer, std::size_t size) {
    while (size > 0) {
        const ssize_t got = ::recv(fd, buffer, size, 0);
        if (got == 0) return Read::PeerClosed;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            std::perror("core_sim: recv");
            return Read::Failed;
        }
        buffer += got;
        size -= static_cast<std::size_t>(got);
    }
    return Read::Ok;
}

// Logs each request frame and answers it unless the script is silent. True
// when the client hung up.
bool serve_requests(int fd, const Options& o) {
    for (;;) {
        Bytes frame(kHeaderSize);
        Read result = read_exactly(fd, frame.data(), kHeaderSize);
        if (result == Read::Ok) {
            frame.resize(kHeaderSize + (frame[3] & kLengthMask) + 1);
            result = read_exactly(fd, frame.data() + kHeaderSize, frame.size() - kHeaderSize);
        }
        if (result != Read::Ok) return result == Read::PeerClosed;
        event_bytes("RX", frame);
        const bool answers = o.script->then == Then::Ack || o.script->then == Then::Nack;
        const Pace answer_pace = o.script->pace == Pace::Pieces ? Pace::Pieces : Pace::Whole;
        if (answers && !send_paced(fd, answer_frame(o), answer_pace, o)) return false;
    }
}

// A fixed seed, so that a failing run can be replayed byte for byte.
Bytes garbage(unsigned long size) {
    std::minstd_rand random(1);
    Bytes junk(size);
    for (std::uint8_t& byte : junk) byte = static_cast<std::uint8_t>(random());
    if (!junk.empty()) junk[0] = kStart;  // so that the client reads on
    return junk;
}

// Runs the script on one connection. True when the client hung up.
bool serve(int fd, const Options& o) {
    Bytes dev_id = dev_id_frame(o);
    if (dev_id.size() > o.script->dev_id_bytes) dev_id.resize(o.script->dev_id_bytes);
    if (!send_paced(fd, dev_id, o.script->pace, o)) return false;
    switch (o.script->then) {
    case Then::HangUp:
        return false;
    case Then::Reset: {
        // The client takes the part sent before the RST that close now sends.
        std::this_thread::sleep_for(std::chrono::milliseconds(o.piece_delay_ms));
        const linger abort_on_close{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
        return false;
    }
    case Then::Garbage: {
        const Bytes junk = garbage(o.garbage_bytes);
        return send_all(fd, junk.data(), junk.size()) && serve_requests(fd, o);
    }
    case Then::Ack:
    case Then::Nack:
    case Then::Silent:
        break;
    }
    return serve_requests(fd, o);
}

bool parse_number(const char* text, unsigned long max, unsigned long& out) {
    // strtoul would quietly take a sign or leading blanks
    if (text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (errno != 0 || *end != '\0' || value > max) return false;
    out = value;
    return true;
}

bool parse_fault(const char* name, Options& o) {
    for (const Script& script : kScripts) {
        if (std::strcmp(name, script.fault) == 0) {
            o.script = &script;
            return true;
        }
    }
    return false;
}

struct NumberOption {
    const char* name;
    unsigned long Options::*field;
    unsigned long max;
};

const NumberOption kNumberOptions[] = {
    {"port", &Options::port, 65535},
    {"connections", &Options::connections, 1000000},
    {"timeout", &Options::timeout_s, 86400},
    {"unique-address", &Options::unique_address, 0xFF},
    {"host-id", &Options::host_id, 0xFFFF},
    {"host-mem-id", &Options::host_mem_id, 0xFFFF},
    {"firmware", &Options::firmware, 0xFFFF},
    {"length-byte", &Options::length_byte, 0xFF},
    {"piece-delay-ms", &Options::piece_delay_ms, 600000},
    {"trickle-ms", &Options::trickle_ms, 600000},
    {"garbage-bytes", &Options::garbage_bytes, 64ul << 20},
};

// getopt_long ids: the text options, then kNumberBase + each number's index.
enum { kReady = 256, kOut, kFault, kNumberBase };

bool parse_options(int argc, char** argv, Options& o) {
    std::vector<option> table{
        {"ready", required_argument, nullptr, kReady},
        {"out", required_argument, nullptr, kOut},
        {"fault", required_argument, nullptr, kFault},
    };
    int id = kNumberBase;
    for (const NumberOption& number : kNumberOptions) table.push_back({number.name, required_argument, nullptr, id++});
    table.push_back({nullptr, 0, nullptr, 0});
    while ((id = ::getopt_long(argc, argv, "", table.data(), nullptr)) != -1) {
        bool ok = id != '?';
        if (id == kReady) {
            o.ready_file = optarg;
        } else if (id == kOut) {
            o.out_file = optarg;
        } else if (id == kFault) {
            ok = parse_fault(optarg, o);
        } else if (ok) {
            const NumberOption& number = kNumberOptions[id - kNumberBase];
            ok = parse_number(optarg, number.max, o.*number.field);
        }
        if (!ok) break;
    }
    if (id == -1 && optind == argc) return true;
    std::string usage = "usage: core_sim [--ready FILE] [--out FILE] [--fault";
    for (const Script& script : kScripts) usage += std::string(&script == kScripts ? " " : "|") + script.fault;
    for (const NumberOption& number : kNumberOptions) usage += std::string("] [--") + number.name + " N";
    std::fprintf(stderr, "%s]\n", usage.c_str());
    return false;
}

int listen_on_loopback(unsigned long port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
        std::perror("core_sim: listen");
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse_options(argc, argv, o)) return 1;
    ::signal(SIGPIPE, SIG_IGN);  // a vanished client shows up as EPIPE instead
    ::alarm(static_cast<unsigned>(o.timeout_s));
    if (!o.out_file.empty()) g_events = std::fopen(o.out_file.c_str(), "a");
    const int listener = listen_on_loopback(o.port);
    FILE* ready = o.ready_file.empty() ? nullptr : std::fopen(o.ready_file.c_str(), "w");
    if (g_events == nullptr || listener < 0 || (ready == nullptr && !o.ready_file.empty())) {
        std::perror("core_sim: setup");
        return 1;
    }
    if (ready != nullptr) std::fclose(ready);
    for (unsigned long served = 0; served < o.connections; ++served) {
        int connection = ::accept(listener, nullptr, nullptr);
        while (connection < 0 && (errno == EINTR || errno == ECONNABORTED)) connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) {
            std::perror("core_sim: accept");
            return 1;
        }
        event_line("CONNECT");
        if (serve(connection, o)) event_line("CLOSED");
        ::close(connection);
    }
    return 0;
}
