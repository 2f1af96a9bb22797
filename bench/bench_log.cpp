// The log's own costs, each timed next to its baseline in the same loop:
//   local      a record to the file / open+write+close+stat of the same bytes
//   filtered   a record below the level
//   remote     a record to a log server on loopback / one send of as many bytes
// usage: bench_log DIR; DIR is an empty folder on the file system to measure.
// Prints "name median_ns" lines; exit 1 when a check fails.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <tessra/log/log.h>

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

void Empty(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || close(fd) != 0)
        Fail("cannot empty " + path);
}

Log* OpenLog(const std::string& conf)
{
    const std::string confPath = Dir + "/cue_ctl.conf";
    FILE* file = fopen(confPath.c_str(), "w");
    if (file == nullptr || fputs(conf.c_str(), file) < 0 || fclose(file) != 0)
        Fail("cannot write " + confPath);
    return Log::GetLog((Dir + "/cue_ctl.log").c_str(), "cue_ctl", confPath.c_str(), Log::NONE);
}

void WriteRecord(Log* log)
{
    log->Write("Received DEV_ID: Unique Corvane Address: 0x%02X  Host Id: 0x%04X", Log::DBG, "bench", 0x05u, 0x1234u);
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
    Empty(files[0]);
    Empty(files[1]);
    WriteRecord(log);
    const long long length = Size(files[0]);
    const std::string record(static_cast<size_t>(std::max(length, 0LL)), 'x');
    const auto bare = [&] {
        const int fd = open(files[1].c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        (void)!write(fd, record.data(), record.size());
        close(fd);
        struct stat status;
        stat(files[1].c_str(), &status);
    };
    const int rounds = 20;
    const int calls = 200;  // the files stay far below the rotation size
    TimeInTurn({{"local", [log] { WriteRecord(log); }}, {"local_bare", bare}}, rounds, calls, [](size_t) {});
    Log::Destroy();
    const long long written = rounds * calls * length;
    if (length <= 0 || Size(files[0]) != length + written || Size(files[1]) != written)
        Fail("a record was lost or changed its length");
}

void Filtered()
{
    Log* log = OpenLog("cue_ctl=NONE\nMODE=LOCAL\n");
    Empty(Dir + "/cue_ctl.log");
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

void Remote()
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 2) != 0 || getsockname(listener, reinterpret_cast<struct sockaddr*>(&address), &size) != 0)
        Fail("cannot listen on loopback");
    const std::string port = std::to_string(ntohs(address.sin_port));
    Log* log = OpenLog("cue_ctl=DEBUG\nMODE=REMOTE\nREMOTE_HOST=127.0.0.1:" + port + "\n");
    const int bare = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (!log->IsConnected() || connect(bare, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0)
        Fail("cannot connect to the log server");
    fcntl(bare, F_SETFL, fcntl(bare, F_GETFL) | O_NONBLOCK | O_ASYNC);  // as the log's socket
    // The server's ends, in the order the two connected: the log's, then the
    // bare socket's. A read waits a second at most, so a lost record fails.
    const struct timeval second = {1, 0};
    int serverEnds[2];
    for (int& end : serverEnds) {
        end = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        setsockopt(end, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    }
    WriteRecord(log);
    char buffer[4096];
    const ssize_t length = recv(serverEnds[0], buffer, sizeof buffer, 0);  // what the log sends for a record
    const std::string record(static_cast<size_t>(std::max(length, ssize_t{0})), 'x');
    const auto bareSend = [&] { (void)!send(bare, record.data(), record.size(), 0); };
    // Each call after the server has read the one before: back to back, small
    // sends pile up behind Nagle's algorithm, which would make the faster
    // sender look faster still.
    ssize_t unread[] = {0, 0};
    const auto serverRead = [&](size_t c) {
        if (recv(serverEnds[c], buffer, static_cast<size_t>(unread[c]), MSG_WAITALL) != unread[c])
            Fail("a record was lost on the way to the log server");
        unread[c] = length;
    };
    TimeInTurn({{"remote", [log] { WriteRecord(log); }}, {"remote_bare", bareSend}}, 20, 250, serverRead);
    serverRead(0);
    serverRead(1);
    Log::Destroy();
    for (int fd : {bare, serverEnds[0], serverEnds[1], listener})
        close(fd);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        Fail("usage: bench_log DIR");
    Dir = argv[1];
    Local();
    Filtered();
    Remote();
    return 0;
}
