// The log's own costs, each timed next to its baseline in the same loop:
//   local      a record to the file / open+write+close+stat of the same bytes
//   filtered   a record below the level
//   remote     a record to a log server on loopback / one bare send of as many bytes
//   rotate     a rotating write, the oldest file holding 100 MiB / 1 MiB of data
// usage: bench_log DIR [ROTATIONS]; DIR is an empty folder on the file system
// to measure. Prints "name median_ns" lines; exit 1 when a check fails.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "log/log.h"

namespace {

std::string Dir;

[[noreturn]] void Fail(const std::string& what)
{
    fprintf(stderr, "bench_log: %s\n", what.c_str());
    exit(1);
}

double NowNs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

long long Size(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

// Creates the file if missing; a larger size leaves it sparse.
void Resize(const std::string& path, long long size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 || ftruncate(fd, size) != 0 || close(fd) != 0)
        Fail("cannot size " + path);
}

Log* OpenLog(const std::string& conf)
{
    const std::string confPath = Dir + "/cue_ctl.conf";
    FILE* file = fopen(confPath.c_str(), "w");
    if (file == nullptr || fputs(conf.c_str(), file) < 0 || fclose(file) != 0)
        Fail("cannot write " + confPath);
    return Log::GetLog((Dir + "/cue_ctl.log").c_str(), "cue_ctl", confPath.c_str(), Log::NONE);
}

constexpr char Message[] = "Received DEV_ID: Unique Corvane Address: 0x%02X  Host Id: 0x%04X";

void WriteRecord(Log* log)
{
    log->Write(Message, Log::DBG, "bench", 0x05u, 0x1234u);
}

using Contestant = std::pair<const char*, std::function<void()>>;  // name, one call

// Times single calls: `calls` of one contestant in a row, the contestants in
// turn for `rounds` rounds, so that load from elsewhere falls on all alike;
// prepare(c) runs untimed before each call. Prints each one's median.
void TimeInTurn(const std::vector<Contestant>& contestants, int rounds, int calls,
                const std::function<void(size_t)>& prepare, int repeatsPerCall = 1)
{
    std::vector<std::vector<double>> samples(contestants.size());
    for (int round = 0; round < rounds; ++round)
        for (size_t c = 0; c < contestants.size(); ++c)
            for (int call = 0; call < calls; ++call) {
                prepare(c);
                const double start = NowNs();
                contestants[c].second();
                samples[c].push_back((NowNs() - start) / repeatsPerCall);
            }
    for (size_t c = 0; c < contestants.size(); ++c) {
        std::vector<double>& s = samples[c];
        std::nth_element(s.begin(), s.begin() + s.size() / 2, s.end());
        printf("%s %.3f\n", contestants[c].first, s[s.size() / 2]);
    }
}

void Local()
{
    Log* log = OpenLog("cue_ctl=DEBUG\nMODE=LOCAL\n");
    const std::string files[] = {Dir + "/cue_ctl.log", Dir + "/bare.log"};
    Resize(files[0], 0);
    Resize(files[1], 0);
    WriteRecord(log);
    const long long length = Size(files[0]);
    if (length <= 0)
        Fail("no record written at DEBUG");
    const std::string record(static_cast<size_t>(length), 'x');
    const auto bare = [&] {
        const int fd = open(files[1].c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        (void)!write(fd, record.data(), record.size());
        close(fd);
        struct stat status;
        stat(files[1].c_str(), &status);
    };
    // Every call must have appended exactly one record of that length.
    long long expected[] = {length, 0};
    TimeInTurn({{"local", [log] { WriteRecord(log); }}, {"local_bare", bare}}, 20, 1000, [&](size_t c) {
        if (Size(files[c]) != expected[c])
            Fail(files[c] + ": a record was lost or changed its length");
        if (expected[c] > (1 << 20)) {  // far below the rotation size
            Resize(files[c], 0);
            expected[c] = 0;
        }
        expected[c] += length;
    });
    Log::Destroy();
}

void Filtered()
{
    Log* log = OpenLog("cue_ctl=NONE\nMODE=LOCAL\n");
    Resize(Dir + "/cue_ctl.log", 0);
    const int batch = 1000;  // records per sample: a clock read costs more than one
    const auto writeBatch = [log] {
        for (int i = 0; i < batch; ++i)
            WriteRecord(log);
    };
    TimeInTurn({{"filtered", writeBatch}}, 1, 20000, [](size_t) {}, batch);
    Log::Destroy();
    if (Size(Dir + "/cue_ctl.log") != 0)
        Fail("a record below the level reached the file");
}

struct sockaddr_in Loopback(int port)
{
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A log server on loopback for both contestants: one thread accepts their two
// connections and drains them, sleeping in poll as a log server does, until
// both hang up. Received[i] counts the bytes of the i-th connection.
struct Server {
    Server()
    {
        struct sockaddr_in address = Loopback(0);
        socklen_t length = sizeof address;
        if (bind(Listener, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0 ||
            listen(Listener, 2) != 0 || getsockname(Listener, reinterpret_cast<struct sockaddr*>(&address), &length))
            Fail("cannot listen on loopback");
        Port = ntohs(address.sin_port);
        Thread = std::thread([this] {
            struct pollfd peers[2];
            int open = 0;
            for (struct pollfd& peer : peers) {
                peer = {accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC), POLLIN, 0};
                open += peer.fd >= 0;
            }
            char buffer[1 << 16];
            while (open > 0 && poll(peers, 2, -1) > 0)
                for (int i = 0; i < 2; ++i) {
                    const ssize_t got = peers[i].revents != 0 ? recv(peers[i].fd, buffer, sizeof buffer, 0) : 0;
                    if (got > 0) {
                        Received[i] += got;
                    } else if (peers[i].revents != 0) {
                        close(peers[i].fd);
                        peers[i].fd = -1;  // ignored by poll from now on
                        --open;
                    }
                }
        });
    }
    ~Server()
    {
        shutdown(Listener, SHUT_RDWR);  // ends a wait in accept
        Thread.join();
        close(Listener);
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    const int Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int Port = 0;
    std::atomic<long long> Received[2] = {{0}, {0}};
    std::thread Thread;
};

// This process's socket connected to port, or -1.
int SocketTo(int port)
{
    for (int fd = 3; fd < 1024; ++fd) {
        struct sockaddr_in peer = {};
        socklen_t length = sizeof peer;
        if (getpeername(fd, reinterpret_cast<struct sockaddr*>(&peer), &length) == 0 && peer.sin_family == AF_INET &&
            ntohs(peer.sin_port) == port)
            return fd;
    }
    return -1;
}

void Remote()
{
    Server server;  // the log connects first, so its connection is the first
    Log* log = OpenLog("cue_ctl=DEBUG\nMODE=REMOTE\nREMOTE_HOST=127.0.0.1:" + std::to_string(server.Port) + "\n");
    const int bare = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const struct sockaddr_in address = Loopback(server.Port);
    const int senders[] = {SocketTo(server.Port), bare};
    if (!log->IsConnected() || senders[0] < 0 ||
        connect(bare, reinterpret_cast<const struct sockaddr*>(&address), sizeof address) != 0)
        Fail("cannot connect to the log server");
    fcntl(bare, F_SETFL, fcntl(bare, F_GETFL) | O_NONBLOCK | O_ASYNC);  // as the log's socket
    // Each record alone on the wire: back to back, small sends pile up behind
    // Nagle's algorithm, which would make the faster sender look faster still.
    long long expected[] = {0, 0};
    const auto settle = [&] {
        int unacknowledged = 1;
        for (const double giveUp = NowNs() + 1e9; NowNs() < giveUp;) {
            bool done = true;
            for (int s = 0; s < 2; ++s)
                done = done && server.Received[s] == expected[s] &&
                       ioctl(senders[s], SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0;
            if (done)
                return;
        }
        Fail("a record was lost on the way to the log server");
    };
    char header[80];
    log->FormatHeader(header, Log::DBG);
    // What the log sends: header, two spaces, message, newline and NUL.
    const long long length = static_cast<long long>(strlen(header)) + snprintf(nullptr, 0, Message, 0x05u, 0x1234u) + 4;
    const std::string record(static_cast<size_t>(length), 'x');
    const auto bareSend = [&] { (void)!send(bare, record.data(), record.size(), 0); };
    TimeInTurn({{"remote", [log] { WriteRecord(log); }}, {"remote_bare", bareSend}}, 20, 250, [&](size_t c) {
        settle();
        expected[c] += length;
    });
    settle();
    Log::Destroy();
    close(bare);
}

// A rotating write with the oldest file, the one rotation removes, holding
// 1 MiB or 100 MiB of data. Each on a fresh log, so that a file left open by
// the previous rotation is released untimed.
void Rotate(int samplesPerSize)
{
    const int older = 10;
    const std::string path = Dir + "/cue_ctl.log", oldest = path + "." + std::to_string(older);
    const std::vector<char> chunk(1 << 20, 'x');
    long long size = 0;
    const auto finish = [&] {
        if (Size(path + ".1") <= size || Size(path) > 4096 || Size(oldest) != size)
            Fail("the timed write did not rotate");
        Log::Destroy();
    };
    const auto prepare = [&](size_t big) {
        if (size != 0)
            finish();
        size = (big ? 100LL : 1LL) << 20;
        // Renames never read a file: the others may be sparse.
        for (int i = 0; i < older; ++i)
            Resize(i == 0 ? path : path + "." + std::to_string(i), size);
        // Written long ago on a unit: a new file (truncating one would make ext4
        // write it back at close), synced, so its pages are clean and its blocks allocated.
        unlink(oldest.c_str());
        const int fd = open(oldest.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        for (long long done = 0; done < size; done += static_cast<long long>(chunk.size()))
            if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size()))
                Fail("cannot write " + oldest);
        if (fsync(fd) != 0 || close(fd) != 0)
            Fail("cannot sync " + oldest);
        OpenLog("cue_ctl=DEBUG\nMODE=LOCAL\n")->SetLogRotationConfig(0, older);  // limit 0: the next write rotates
    };
    const auto writeOne = [] { WriteRecord(Log::GetLog()); };
    TimeInTurn({{"rotate_1MiB", writeOne}, {"rotate_100MiB", writeOne}}, samplesPerSize, 1, prepare);
    finish();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        Fail("usage: bench_log DIR [ROTATIONS]");
    Dir = argv[1];
    Local();
    Filtered();
    Remote();
    Rotate(argc > 2 ? atoi(argv[2]) : 15);
    return 0;
}
