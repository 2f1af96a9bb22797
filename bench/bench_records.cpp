// Cost of one record: the LOCAL writer against the bare system calls it is
// built from and against other loggers writing the same bytes to the same
// filesystem; a record filtered out by level; the REMOTE writer against one
// bare send over loopback.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#ifdef CUE_BENCH_SPDLOG
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif

#include "log/log.h"
#include "support.h"

namespace {

// Files are emptied this often, for every contestant alike, so none of them
// grows past 1 MiB and the log never reaches its rotation size.
constexpr int64_t RecordsPerFile = 8192;

void KeepSmall(benchmark::State& state, const std::string& path, int64_t& written)
{
    if (++written % RecordsPerFile != 0)
        return;
    state.PauseTiming();
    bench::TruncateTo(path, 0);
    state.ResumeTiming();
}

// Each contestant's first record goes to an empty file and must come out
// exactly as long as the log's own.
bool SameBytes(benchmark::State& state, const std::string& path, size_t expected)
{
    const long long size = bench::FileSize(path);
    if (size == static_cast<long long>(expected))
        return true;
    state.SkipWithError(("record of " + std::to_string(size) + " bytes, expected " + std::to_string(expected))
                            .c_str());
    return false;
}

// Checks the contestant's first record, then times one record per iteration,
// keeping the file small between batches.
template <typename WriteOne>
void TimeRecords(benchmark::State& state, const std::string& path, size_t expected, WriteOne once)
{
    once();
    if (!SameBytes(state, path, expected))
        return;
    int64_t written = 0;
    for (auto _ : state) {
        once();
        KeepSmall(state, path, written);
    }
}

std::string LocalRecord()
{
    return bench::Header(Log::DBG) + bench::Message() + "\n";
}

// A full log of the unit's kind, its configuration file in dir.
Log* OpenLog(const TempDir& dir, const std::string& conf)
{
    WriteFile(dir.Path("cue_ctl.conf"), conf);
    return Log::GetLog(dir.Path("cue_ctl.log").c_str(), "cue_ctl", dir.Path("cue_ctl.conf").c_str(), Log::NONE);
}

void BM_Local_Ours(benchmark::State& state)
{
    const TempDir dir;
    Log* log = OpenLog(dir, "cue_ctl=DEBUG\nMODE=LOCAL\n");
    const std::string path = dir.Path("cue_ctl.log");
    bench::TruncateTo(path, 0);
    if (log->GetLevel() != Log::DBG)
        state.SkipWithError("the configuration file did not set DEBUG");
    else
        TimeRecords(state, path, LocalRecord().size(), [log] {
            log->Write(bench::MessageFormat, Log::DBG, "BM_Local_Ours", bench::MessageAddress, bench::MessageHostId);
        });
    Log::Destroy();
}

// The least the design can do per record: open, one write, close, stat.
void BM_Local_BareSyscalls(benchmark::State& state)
{
    const TempDir dir;
    const std::string path = dir.Path("bare.log");
    const std::string record = LocalRecord();
    auto once = [&] {
        const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
        benchmark::DoNotOptimize(write(fd, record.data(), record.size()));
        close(fd);
        struct stat status;
        benchmark::DoNotOptimize(stat(path.c_str(), &status));
    };
    TimeRecords(state, path, record.size(), once);
}

// A plain C logger: the same header and message through stdio, file opened
// and closed per line.
void BM_Local_Fprintf(benchmark::State& state)
{
    const TempDir dir;
    const std::string path = dir.Path("stdio.log");
    auto once = [&] {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        const time_t seconds = now.tv_sec;
        struct tm utc;
        gmtime_r(&seconds, &utc);
        FILE* file = fopen(path.c_str(), "a");
        fprintf(file,
                "%d/%02d/%02d %02d:%02d:%02d.%03d %8lu %5.5s  Received DEV_ID: Unique Corvane Address: 0x%02X  "
                "Host Id: 0x%04X\n",
                utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(now.tv_nsec / 1000000), static_cast<unsigned long>(pthread_self()), "DBG",
                bench::MessageAddress, bench::MessageHostId);
        fclose(file);
    };
    TimeRecords(state, path, LocalRecord().size(), once);
}

#ifdef CUE_BENCH_SPDLOG
// The file stays open; every record is flushed to it.
void BM_Local_SpdlogFlushEach(benchmark::State& state)
{
    const TempDir dir;
    const std::string path = dir.Path("spdlog.log");
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_st>(path);
    spdlog::logger logger("cue_ctl", sink);
    // Same columns as the log's header: thread number padded to its width.
    const std::string threadColumn = std::to_string(bench::Header(Log::DBG).size() - 32);
    logger.set_pattern("%Y/%m/%d %H:%M:%S.%e %" + threadColumn + "t %5!l  %v", spdlog::pattern_time_type::utc);
    logger.set_level(spdlog::level::debug);
    logger.flush_on(spdlog::level::debug);
    auto once = [&] {
        logger.debug("Received DEV_ID: Unique Corvane Address: 0x{:02X}  Host Id: 0x{:04X}", bench::MessageAddress,
                     bench::MessageHostId);
    };
    bench::TruncateTo(path, 0);
    TimeRecords(state, path, LocalRecord().size(), once);
}
#endif

void BM_FilteredOut(benchmark::State& state)
{
    const TempDir dir;
    Log* log = OpenLog(dir, "cue_ctl=NONE\nMODE=LOCAL\n");
    if (log->GetLevel() != Log::NONE)
        state.SkipWithError("the configuration file did not set NONE");
    for (auto _ : state)
        log->Write(bench::MessageFormat, Log::DBG, "BM_FilteredOut", bench::MessageAddress, bench::MessageHostId);
    Log::Destroy();
    if (bench::FileSize(dir.Path("cue_ctl.log")) > 0)
        state.SkipWithError("a filtered record reached the file");
}

// ---- REMOTE --------------------------------------------------------------

// A log server on loopback: accepts one connection and drains it on its own
// thread into a large buffer, counting bytes, until the peer hangs up. It
// sleeps in recv as a log server does, so every record wakes it.
class Reader {
public:
    Reader()
    {
        Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // Inherited by the accepted socket: room for bursts while this
        // thread is off the CPU.
        const int size = 8 << 20;
        setsockopt(Listener, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
        struct sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(Listener, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0 ||
            listen(Listener, 1) != 0 ||
            getsockname(Listener, reinterpret_cast<struct sockaddr*>(&address), &length) != 0)
            throw std::runtime_error(std::string("reader socket: ") + strerror(errno));
        Port = ntohs(address.sin_port);
        Thread = std::thread([this] { Drain(); });
    }
    ~Reader()
    {
        if (Thread.joinable())
            Thread.join();
        close(Listener);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    int GetPort() const { return Port; }
    long long GetReceived() const { return Received.load(std::memory_order_acquire); }
    // For a peer that never connected: ends the wait in accept.
    void Abandon() { shutdown(Listener, SHUT_RDWR); }

    // The sending socket of this process, found by the port the reader saw
    // it connect from; -1 when there is none.
    int FindSender() const
    {
        while (PeerPort.load() == 0 && !Gone.load())
            std::this_thread::yield();
        for (int fd = 0; fd < 1024; ++fd) {
            struct sockaddr_in address = {};
            socklen_t length = sizeof address;
            if (getsockname(fd, reinterpret_cast<struct sockaddr*>(&address), &length) == 0 &&
                address.sin_family == AF_INET && ntohs(address.sin_port) == PeerPort.load())
                return fd;
        }
        return -1;
    }

    // After the peer has hung up.
    long long Finish()
    {
        Thread.join();
        return Received.load();
    }

private:
    void Drain()
    {
        struct sockaddr_in peer = {};
        socklen_t length = sizeof peer;
        const int fd = accept(Listener, reinterpret_cast<struct sockaddr*>(&peer), &length);
        if (fd < 0) {
            Gone = true;
            return;
        }
        PeerPort = ntohs(peer.sin_port);
        std::vector<char> buffer(1 << 20);
        for (;;) {
            const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
            if (got > 0)
                Received.fetch_add(got, std::memory_order_release);
            else if (got == 0 || errno != EINTR)
                break;
        }
        close(fd);
        Gone = true;
    }

    int Listener;
    int Port;
    std::thread Thread;
    std::atomic<long long> Received{0};
    std::atomic<int> PeerPort{0};
    std::atomic<bool> Gone{false};
};

// header, two spaces, message, newline, zero byte: what SendRemote builds.
std::string RemoteRecord()
{
    return bench::Header(Log::DBG) + "  " + bench::Message() + "\n" + std::string(1, '\0');
}

double NowNs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Times each record alone on the wire: before the next one the reader has
// taken every byte and the sender's queue holds nothing unacknowledged.
// Back to back, small sends would pile up behind Nagle's algorithm and most
// would cost a copy only; how many do depends on the sender's own speed,
// which would make the faster contestant look faster still.
template <typename Send>
void TimeRecords(benchmark::State& state, Reader& reader, int sender, size_t recordSize, Send send)
{
    long long expected = reader.GetReceived();
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        const double start = NowNs();
        const bool sent = send();
        const double elapsed = NowNs() - start;
        state.SetIterationTime(elapsed / 1e9);
        samples.push_back(elapsed);
        if (sent)
            expected += static_cast<long long>(recordSize);
        int unacknowledged = 1;
        const double giveUp = NowNs() + 1e9;
        while (reader.GetReceived() < expected ||
               (ioctl(sender, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged > 0)) {
            if (NowNs() > giveUp) {
                state.SkipWithError("a record was not delivered within a second");
                break;
            }
        }
    }
    // The mean carries every preemption of this 2-core machine; the median
    // is the record's own cost.
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        state.counters["median_ns"] = samples[samples.size() / 2];
    }
}

// What the reader got against what was sent: anything missing means a send
// failed and the figure is not a record's cost.
void CheckDelivered(benchmark::State& state, long long received, long long expected)
{
    state.counters["lost_bytes"] = static_cast<double>(expected - received);
    if (received != expected)
        state.SkipWithError(("reader got " + std::to_string(received) + " of " + std::to_string(expected) + " bytes")
                                .c_str());
}

void BM_Remote_Ours(benchmark::State& state)
{
    const TempDir dir;
    Reader reader;
    Log* log = OpenLog(dir, "cue_ctl=DEBUG\nMODE=REMOTE\nREMOTE_HOST=127.0.0.1:" +
                                std::to_string(reader.GetPort()) + "\n");
    const bool connected = log->IsConnected();
    const int sender = connected ? reader.FindSender() : -1;
    if (sender < 0) {
        state.SkipWithError("the log did not connect");
        reader.Abandon();
    } else {
        // A failed send shows only on stderr; the reader's count catches it.
        TimeRecords(state, reader, sender, RemoteRecord().size(), [log] {
            log->Write(bench::MessageFormat, Log::DBG, "BM_Remote_Ours", bench::MessageAddress,
                       bench::MessageHostId);
            return true;
        });
    }
    Log::Destroy();
    const long long expected = static_cast<long long>(state.iterations()) * RemoteRecord().size();
    CheckDelivered(state, reader.Finish(), sender >= 0 ? expected : 0);
}

// One send of the record's bytes on a connected socket with the flags the
// log sets on its own: non-blocking and O_ASYNC.
void BM_Remote_BareSend(benchmark::State& state)
{
    Reader reader;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(reader.GetPort()));
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error(std::string("connect: ") + strerror(errno));
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK | O_ASYNC);
    const std::string record = RemoteRecord();
    long long failed = 0;
    TimeRecords(state, reader, fd, record.size(), [&] {
        const bool sent = send(fd, record.data(), record.size(), 0) == static_cast<ssize_t>(record.size());
        failed += !sent;
        return sent;
    });
    shutdown(fd, SHUT_RDWR);
    close(fd);
    state.counters["failed_sends"] = static_cast<double>(failed);
    if (failed != 0)
        state.SkipWithError("sends failed: the figure would not be a record's cost");
    CheckDelivered(state, reader.Finish(),
                   static_cast<long long>(state.iterations() - failed) * static_cast<long long>(record.size()));
}

}  // namespace

BENCHMARK(BM_Local_Ours)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Local_BareSyscalls)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Local_Fprintf)->Unit(benchmark::kNanosecond);
#ifdef CUE_BENCH_SPDLOG
BENCHMARK(BM_Local_SpdlogFlushEach)->Unit(benchmark::kNanosecond);
#endif
BENCHMARK(BM_FilteredOut)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Remote_Ours)->UseManualTime()->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Remote_BareSend)->UseManualTime()->Unit(benchmark::kNanosecond);

BENCHMARK_MAIN();
