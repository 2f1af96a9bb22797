// core_sim: stands in for the unit's core process. It speaks the framed TCP
// protocol from the core's side: DEV_ID on connect, then an answer to each
// request frame. A fault scripts another opening or answer, so cue_ctl's error
// paths can be driven end to end. Its framing is written here on purpose, not
// shared with cue_ctl: it is the independent other end.
//
// It listens on 127.0.0.1 and writes one event line per step (CONNECT, RX <hex>
// for each request frame, CLOSED when the client's side ends) to stdout or
// --out. It exits 0 after --connections connections; SIGALRM ends it after
// --timeout seconds whatever happens. `core_sim --help` lists the options.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
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

// Every option: its default and, for a number, its largest value (0 for text).
// Numbers take 0x hex or decimal.
struct Option {
    const char* value;
    unsigned long max;
};

const std::map<std::string, Option> kOptions = {
    {"port", {"5200", 65535}},
    {"connections", {"1", 1000000}},
    {"timeout", {"30", 86400}},
    {"fault", {"none", 0}},
    {"unique-address", {"0x05", 0xFF}},
    {"host-id", {"0x1234", 0xFFFF}},
    {"host-mem-id", {"0x0001", 0xFFFF}},
    {"firmware", {"0x0C43", 0xFFFF}},
    {"length-byte", {"16", 0xFF}},  // DEV_ID's; its body is cut or zero-padded to fit
    {"piece-delay-ms", {"200", 600000}},  // between pieces, and before a reset
    {"trickle-ms", {"4000", 600000}},
    {"garbage-bytes", {"65536", 64ul << 20}},
    {"ready", {"", 0}},  // a file created once listening
    {"out", {"", 0}},
};

struct Options {
    std::map<std::string, std::string> given;
    const Script* script = nullptr;
};

[[noreturn]] void usage() {
    std::string text = "usage: core_sim";
    for (const auto& [name, option] : kOptions)
        text += " [--" + name + " " + (*option.value ? option.value : "FILE") + "]";
    text += "\nfaults:";
    for (const Script& script : kScripts)
        text += std::string(" ") + script.fault;
    std::fprintf(stderr, "%s\n", text.c_str());
    std::exit(1);
}

unsigned long number(const Options& o, const std::string& name) {
    const std::string& text = o.given.at(name);
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    // strtoul would quietly take a sign or leading blanks
    if (text[0] < '0' || text[0] > '9' || errno != 0 || *end != '\0' || value > kOptions.at(name).max)
        usage();
    return value;
}

Options parse_options(int argc, char** argv) {
    Options o;
    for (const auto& [name, option] : kOptions)
        o.given[name] = option.value;
    for (int i = 1; i < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag.rfind("--", 0) != 0 || kOptions.count(flag.substr(2)) == 0 || i + 1 == argc)
            usage();
        o.given[flag.substr(2)] = argv[i + 1];
    }
    for (const auto& [name, option] : kOptions) {
        if (option.max > 0)
            number(o, name);
    }
    for (const Script& script : kScripts) {
        if (o.given["fault"] == script.fault)
            o.script = &script;
    }
    if (o.script == nullptr)
        usage();
    return o;
}

FILE* g_events = stdout;

void event(const std::string& line) {
    std::fprintf(g_events, "%s\n", line.c_str());
    std::fflush(g_events);
}

void put_u16(Bytes& out, unsigned long value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

Bytes make_frame(std::uint8_t start, const Options& o, std::uint8_t length_byte, Bytes body) {
    body.resize(length_byte & kLengthMask, 0);
    Bytes frame{start, static_cast<std::uint8_t>(number(o, "unique-address")), 0x00, length_byte};
    // appended byte by byte: g++ 12 misreports insert() on a small vector
    for (std::uint8_t byte : body)
        frame.push_back(byte);
    unsigned sum = 0;
    for (std::uint8_t byte : frame)
        sum += byte;
    frame.push_back(static_cast<std::uint8_t>(sum));
    return frame;
}

Bytes dev_id_frame(const Options& o) {
    Bytes body;
    put_u16(body, 0x0001);  // the DEV_ID message code
    put_u16(body, number(o, "host-id"));
    put_u16(body, number(o, "host-mem-id"));
    put_u16(body, number(o, "firmware"));
    for (char c : "CORESIM")
        body.push_back(static_cast<std::uint8_t>(c));
    const auto length_byte = static_cast<std::uint8_t>(number(o, "length-byte") | o.script->length_bits);
    return make_frame(o.script->start, o, length_byte, body);
}

Bytes answer_frame(const Options& o) {
    Bytes code;
    put_u16(code, o.script->then == Then::Nack ? 0x0001 : 0x0000);
    return make_frame(kStart, o, 2, code);
}

// Blocking and with no signal handler, send queues all of it or fails; a
// vanished client gives EPIPE, not a signal.
bool send_all(int fd, const std::uint8_t* data, std::size_t size) {
    return ::send(fd, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
}

bool send_paced(int fd, const Bytes& frame, Pace pace, const Options& o) {
    std::vector<std::size_t> ends;
    if (pace == Pace::Pieces)
        ends = {2, kHeaderSize, (kHeaderSize + frame.size()) / 2};
    for (std::size_t end = 1; pace == Pace::Trickle && end < frame.size(); ++end)
        ends.push_back(end);
    ends.push_back(frame.size());
    const unsigned long delay_ms = number(o, pace == Pace::Trickle ? "trickle-ms" : "piece-delay-ms");
    std::size_t from = 0;
    for (std::size_t end : ends) {
        if (from > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        if (!send_all(fd, frame.data() + from, end - from))
            return false;
        from = end;
    }
    return true;
}

// False once the client's side has ended: hung up or reset.
bool read_exactly(int fd, std::uint8_t* buffer, std::size_t size) {
    return ::recv(fd, buffer, size, MSG_WAITALL) == static_cast<ssize_t>(size);
}

// Logs each request frame and answers it unless the script is silent, until
// the client's side ends.
void serve_requests(int fd, const Options& o) {
    const bool answers = o.script->then == Then::Ack || o.script->then == Then::Nack;
    const Pace answer_pace = o.script->pace == Pace::Pieces ? Pace::Pieces : Pace::Whole;
    for (;;) {
        Bytes frame(kHeaderSize);
        if (!read_exactly(fd, frame.data(), kHeaderSize))
            break;
        frame.resize(kHeaderSize + (frame[3] & kLengthMask) + 1);
        if (!read_exactly(fd, frame.data() + kHeaderSize, frame.size() - kHeaderSize))
            break;
        std::string line = "RX";
        for (std::uint8_t byte : frame) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned>(byte));
            line += hex;
        }
        event(line);
        if (answers && !send_paced(fd, answer_frame(o), answer_pace, o))
            break;
    }
    event("CLOSED");
}

// Runs the script on one connection.
void serve(int fd, const Options& o) {
    Bytes dev_id = dev_id_frame(o);
    if (dev_id.size() > o.script->dev_id_bytes)
        dev_id.resize(o.script->dev_id_bytes);
    if (!send_paced(fd, dev_id, o.script->pace, o))
        return;
    if (o.script->then == Then::HangUp)
        return;
    if (o.script->then == Then::Reset) {
        // The client takes the part sent before the RST that close now sends.
        std::this_thread::sleep_for(std::chrono::milliseconds(number(o, "piece-delay-ms")));
        const linger abort_on_close{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
        return;
    }
    if (o.script->then == Then::Garbage) {
        std::minstd_rand random(1);  // a fixed seed: a failing run replays byte for byte
        Bytes junk(number(o, "garbage-bytes"), kStart);  // starts as a frame, so that the client reads on
        for (std::size_t i = 1; i < junk.size(); ++i)
            junk[i] = static_cast<std::uint8_t>(random());
        if (!send_all(fd, junk.data(), junk.size()))
            return;
    }
    serve_requests(fd, o);
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
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse_options(argc, argv);
    ::alarm(static_cast<unsigned>(number(o, "timeout")));
    const std::string& out = o.given.at("out");
    const std::string& ready = o.given.at("ready");
    if (!out.empty())
        g_events = std::fopen(out.c_str(), "a");
    const int listener = listen_on_loopback(number(o, "port"));
    FILE* ready_file = ready.empty() ? nullptr : std::fopen(ready.c_str(), "w");
    if (g_events == nullptr || listener < 0 || (ready_file == nullptr && !ready.empty())) {
        std::perror("core_sim");
        return 1;
    }
    if (ready_file != nullptr)
        std::fclose(ready_file);
    const unsigned long connections = number(o, "connections");
    for (unsigned long served = 0; served < connections; ++served) {
        int connection = ::accept(listener, nullptr, nullptr);
        while (connection < 0 && errno == ECONNABORTED)
            connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) {
            std::perror("core_sim: accept");
            return 1;
        }
        event("CONNECT");
        serve(connection, o);
        ::close(connection);
    }
    return 0;
}
