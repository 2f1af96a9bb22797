// The pieces a record is made of, timed alone, to see what a ratio in the
// table is made of. Not part of bench/run's table; run it by hand:
//   build/bench/bench/bench_parts
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "log/log.h"
#include "support.h"

namespace {

void BM_Part_FormatHeader(benchmark::State& state)
{
    Log formatter("/dev/null", "", "/dev/null", Log::NONE);
    char header[80];
    for (auto _ : state) {
        formatter.FormatHeader(header, Log::DBG);
        benchmark::DoNotOptimize(header);
    }
}

void BM_Part_FormatMessage(benchmark::State& state)
{
    char message[10240];
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            snprintf(message, sizeof message, bench::MessageFormat, bench::MessageAddress, bench::MessageHostId));
        benchmark::ClobberMemory();
    }
}

void BM_Part_StatByPath(benchmark::State& state)
{
    const TempDir dir;
    const std::string path = dir.Path("cue_ctl.log");
    bench::TruncateTo(path, 4096);
    struct stat status;
    for (auto _ : state)
        benchmark::DoNotOptimize(stat(path.c_str(), &status));
}

void BM_Part_StatByFd(benchmark::State& state)
{
    const TempDir dir;
    const std::string path = dir.Path("cue_ctl.log");
    bench::TruncateTo(path, 4096);
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    struct stat status;
    for (auto _ : state)
        benchmark::DoNotOptimize(fstat(fd, &status));
    close(fd);
}

// What REMOTE mode adds around each send to keep SIGPIPE away.
void BM_Part_SigmaskPair(benchmark::State& state)
{
    sigset_t pipe, previous;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    for (auto _ : state) {
        pthread_sigmask(SIG_BLOCK, &pipe, &previous);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
}

}  // namespace

BENCHMARK(BM_Part_FormatHeader);
BENCHMARK(BM_Part_FormatMessage);
BENCHMARK(BM_Part_StatByPath);
BENCHMARK(BM_Part_StatByFd);
BENCHMARK(BM_Part_SigmaskPair);

BENCHMARK_MAIN();
