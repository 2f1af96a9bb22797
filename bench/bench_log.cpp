// The log's own costs, measured with Google Benchmark next to their baselines:
//   Local           a record to the file   / LocalBare: open+write+close+stat of the same bytes
//   Remote          a record to a server    / RemoteBare: the log's three calls per record, a
//                                             send of as many bytes between two signal masks
//   FilteredWrite   Write below the level, its argument computed anyway
//   FilteredMacro   TESSRA_LOG below the level, the same argument
// usage: bench_log DIR [benchmark flags]; DIR is an empty folder on the file
// system to measure. bench/run turns the figures into ratios.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include <tessra/log/log.h>

namespace {

std::string Dir;

const char* const Signature = "bench";

Log* OpenLog(const std::string& conf)
{
    const std::string confPath = Dir + "/cue_ctl.conf";
    FILE* file = fopen(confPath.c_str(), "w");
    if (file != nullptr) {
        fputs(conf.c_str(), file);
        fclose(file);
    }
    Log* log = Log::GetLog((Dir + "/cue_ctl.log").c_str(), "cue_ctl", confPath.c_str(), Log::NONE);
    log->SetLogRotationConfig(2047, 1);  // the largest limit: no rotation while measuring
    return log;
}

void WriteRecord(Log* log)
{
    log->Write("Received DEV_ID: Unique Corvane Address: 0x%02X  Host Id: 0x%04X", Log::DBG, Signature, 0x05u, 0x1234u);
}

// The bytes one record takes: what WriteRecord adds to the file.
std::string OneRecord()
{
    Log* log = OpenLog("cue_ctl=DEBUG\nMODE=LOCAL\n");
    struct stat before = {};
    struct stat after = {};
    stat((Dir + "/cue_ctl.log").c_str(), &before);
    WriteRecord(log);
    stat((Dir + "/cue_ctl.log").c_str(), &after);
    Log::Destroy();
    return std::string(static_cast<size_t>(after.st_size - before.st_size), 'x');
}

void Local(benchmark::State& state)
{
    Log* log = OpenLog("cue_ctl=DEBUG\nMODE=LOCAL\n");
    for (auto _ : state)
        WriteRecord(log);
    Log::Destroy();
}

void LocalBare(benchmark::State& state)
{
    const std::string record = OneRecord();
    const std::string path = Dir + "/bare.log";
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        (void)!write(fd, record.data(), record.size());
        close(fd);
        struct stat status;
        stat(path.c_str(), &status);
    }
}

// A log server on loopback that reads and drops everything, and the log's
// connection to it, or a bare socket set up as the log sets up its own.
class Server {
public:
    Server() : Listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), Address()
    {
        Address.sin_family = AF_INET;
        Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof Address;
        bind(Listener, reinterpret_cast<struct sockaddr*>(&Address), sizeof Address);
        listen(Listener, 2);
        getsockname(Listener, reinterpret_cast<struct sockaddr*>(&Address), &size);
        Reader = std::thread([this] { Drain(accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC)); });
    }
    ~Server() { close(Listener); }

    std::string Conf() const
    {
        return "cue_ctl=DEBUG\nMODE=REMOTE\nREMOTE_HOST=127.0.0.1:" + std::to_string(ntohs(Address.sin_port)) + "\n";
    }
    int ConnectBare() const
    {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        connect(fd, reinterpret_cast<const struct sockaddr*>(&Address), sizeof Address);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK | O_ASYNC);
        return fd;
    }
    // Once the client has closed its end: all it sent.
    long long Received()
    {
        Reader.join();
        return Bytes;
    }

private:
    void Drain(int connection)
    {
        char buffer[65536];
        for (ssize_t count; (count = read(connection, buffer, sizeof buffer)) > 0;)
            Bytes += count;
        close(connection);
    }

    const int Listener;
    struct sockaddr_in Address;
    std::thread Reader;
    long long Bytes = 0;
};

// Records the server never got (a full socket buffer drops them) fail the run.
void CheckReceived(benchmark::State& state, long long received, size_t recordSize)
{
    if (received != static_cast<long long>(state.iterations() * recordSize))
        state.SkipWithError("records were lost on the way to the log server");
}

void Remote(benchmark::State& state)
{
    const size_t recordSize = OneRecord().size() + 3;  // two more spaces and the zero byte
    Server server;
    Log* log = OpenLog(server.Conf());
    for (auto _ : state)
        WriteRecord(log);
    Log::Destroy();
    CheckReceived(state, server.Received(), recordSize);
}

void RemoteBare(benchmark::State& state)
{
    const std::string record = OneRecord() + "  " + std::string(1, '\0');
    Server server;
    const int fd = server.ConnectBare();
    // SIGPIPE is blocked around each send, as the log blocks it.
    sigset_t pipe;
    sigset_t previous;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    for (auto _ : state) {
        pthread_sigmask(SIG_BLOCK, &pipe, &previous);
        (void)!send(fd, record.data(), record.size(), 0);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    close(fd);
    CheckReceived(state, server.Received(), record.size());
}

// An argument that takes microseconds to compute, as a formatted dump or a
// status query would.
unsigned int CostlyArgument()
{
    unsigned int hash = 2166136261u;
    for (int i = 0; i < 2000; ++i) {
        hash = (hash ^ static_cast<unsigned int>(i)) * 16777619u;
        benchmark::DoNotOptimize(hash);
    }
    return hash;
}

void FilteredWrite(benchmark::State& state)
{
    OpenLog("cue_ctl=NONE\nMODE=LOCAL\n");
    for (auto _ : state)
        Log::GetLog()->Write("state %u", Log::DBG, Signature, CostlyArgument());
    Log::Destroy();
}

void FilteredMacro(benchmark::State& state)
{
    OpenLog("cue_ctl=NONE\nMODE=LOCAL\n");
    for (auto _ : state)
        TESSRA_LOG(Log::DBG, "state %u", CostlyArgument());
    Log::Destroy();
}

}  // namespace

BENCHMARK(Local);
BENCHMARK(LocalBare);
BENCHMARK(Remote);
BENCHMARK(RemoteBare);
BENCHMARK(FilteredWrite);
BENCHMARK(FilteredMacro);

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: bench_log DIR [benchmark flags]\n");
        return 2;
    }
    Dir = argv[1];
    argv[1] = argv[0];
    int benchmarkArgc = argc - 1;
    benchmark::Initialize(&benchmarkArgc, argv + 1);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
