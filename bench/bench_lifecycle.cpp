// Whole-log operations timed one by one: GetLog and Destroy with a
// configuration file present (the activation thread started and joined),
// and one rotating write as a function of the size of the files it renames
// and of the oldest one, which it removes.
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "log/log.h"
#include "support.h"

namespace {

double NowNs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Median, 99th percentile and maximum of the samples, in microseconds.
void Report(benchmark::State& state, std::vector<double> samplesNs)
{
    if (samplesNs.empty())
        return;
    std::sort(samplesNs.begin(), samplesNs.end());
    const size_t n = samplesNs.size();
    state.counters["median_us"] = samplesNs[n / 2] / 1e3;
    state.counters["p99_us"] = samplesNs[std::min(n - 1, n * 99 / 100)] / 1e3;
    state.counters["max_us"] = samplesNs.back() / 1e3;
    state.counters["samples"] = static_cast<double>(n);
}

constexpr int WarmUpCycles = 10;

void BM_GetLogDestroy(benchmark::State& state)
{
    const TempDir dir;
    const std::string log = dir.Path("cue_ctl.log");
    const std::string conf = dir.Path("cue_ctl.conf");
    WriteFile(conf, "cue_ctl=DEBUG\nMODE=LOCAL\nREMOTE_HOST=0.0.0.0:0\n");
    for (int i = 0; i < WarmUpCycles; ++i) {
        Log::GetLog(log.c_str(), "cue_ctl", conf.c_str(), Log::NONE);
        Log::Destroy();
    }
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(state.max_iterations));
    for (auto _ : state) {
        const double start = NowNs();
        Log::GetLog(log.c_str(), "cue_ctl", conf.c_str(), Log::NONE);
        Log::Destroy();
        const double elapsed = NowNs() - start;
        state.SetIterationTime(elapsed / 1e9);
        samples.push_back(elapsed);
    }
    // Each cycle wrote the column header once: the file was applied.
    if (bench::FileSize(log) <= 0)
        state.SkipWithError("the log never wrote its header: configuration not applied");
    Report(state, samples);
}

// The least a start and stop of such a thread can cost: create one that
// waits on a condition variable, signal it, join it. Under load it shows
// how long a new thread waits for a CPU, which GetLog/Destroy pays too.
struct Sleeper {
    pthread_mutex_t Lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t Wake = PTHREAD_COND_INITIALIZER;
    bool Stop = false;
};

void* SleeperMain(void* arg)
{
    Sleeper* sleeper = static_cast<Sleeper*>(arg);
    pthread_mutex_lock(&sleeper->Lock);
    while (!sleeper->Stop)
        pthread_cond_wait(&sleeper->Wake, &sleeper->Lock);
    pthread_mutex_unlock(&sleeper->Lock);
    return nullptr;
}

void BM_BareThreadCycle(benchmark::State& state)
{
    auto cycle = [] {
        Sleeper sleeper;
        pthread_t thread;
        if (pthread_create(&thread, nullptr, SleeperMain, &sleeper) != 0)
            return false;
        pthread_mutex_lock(&sleeper.Lock);
        sleeper.Stop = true;
        pthread_mutex_unlock(&sleeper.Lock);
        pthread_cond_signal(&sleeper.Wake);
        pthread_join(thread, nullptr);
        return true;
    };
    for (int i = 0; i < WarmUpCycles; ++i)
        cycle();
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(state.max_iterations));
    bool ok = true;
    for (auto _ : state) {
        const double start = NowNs();
        ok = cycle() && ok;
        const double elapsed = NowNs() - start;
        state.SetIterationTime(elapsed / 1e9);
        samples.push_back(elapsed);
    }
    if (!ok)
        state.SkipWithError("pthread_create failed");
    Report(state, samples);
}

constexpr int OlderFiles = 10;
constexpr long long SmallFile = 1 << 20;
constexpr long long BigFile = 100 << 20;

// One rotating write with 1 MiB files, then one with 100 MiB files, in turn,
// so that load from elsewhere falls on both sizes alike. range(0): 1 when
// the oldest file, the one rotation removes, holds real data instead of
// being sparse.
void BM_RotatingWrite(benchmark::State& state)
{
    const bool oldestHasData = state.range(0) != 0;
    const TempDir dir;
    const std::string path = dir.Path("cue_ctl.log");
    const std::string oldest = path + "." + std::to_string(OlderFiles);
    WriteFile(dir.Path("cue_ctl.conf"), "cue_ctl=DEBUG\nMODE=LOCAL\n");
    Log* log = Log::GetLog(path.c_str(), "cue_ctl", dir.Path("cue_ctl.conf").c_str(), Log::NONE);
    // Limit 0: the one write rotates whatever the size; only the sizes differ.
    log->SetLogRotationConfig(0, OlderFiles);

    const std::vector<char> chunk(1 << 20, 'x');
    std::vector<double> samples[2];
    bool rotated = true;
    int64_t turn = 0;
    for (auto _ : state) {
        const bool big = turn++ % 2 != 0;
        const long long size = big ? BigFile : SmallFile;
        // Content does not matter to a rename; sizes are set, not written.
        bench::TruncateTo(path, size);
        for (int i = 1; i <= OlderFiles; ++i)
            bench::TruncateTo(path + "." + std::to_string(i), size);
        if (oldestHasData) {
            // Written long ago on a unit: a new file (no truncation, which
            // would make ext4 start writing it back at close), synced, so
            // its pages are clean and its blocks allocated.
            unlink(oldest.c_str());
            const int fd = open(oldest.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
            for (long long done = 0; fd >= 0 && done < size; done += static_cast<long long>(chunk.size()))
                benchmark::DoNotOptimize(write(fd, chunk.data(), chunk.size()));
            fsync(fd);
            close(fd);
        }
        const double start = NowNs();
        log->Write(bench::MessageFormat, Log::DBG, "BM_RotatingWrite", bench::MessageAddress, bench::MessageHostId);
        const double elapsed = NowNs() - start;
        state.SetIterationTime(elapsed / 1e9);
        samples[big].push_back(elapsed);
        // Rotated: the big file moved to .1, a fresh one holds just the header.
        rotated = rotated && bench::FileSize(path + ".1") > size && bench::FileSize(path) < 4096 &&
                  bench::FileSize(oldest) >= size;
    }
    Log::Destroy();
    if (!rotated)
        state.SkipWithError("a timed write did not rotate");
    for (int big = 0; big < 2; ++big) {
        std::sort(samples[big].begin(), samples[big].end());
        if (samples[big].empty())
            continue;
        const char* name = big ? "median_100MiB_us" : "median_1MiB_us";
        state.counters[name] = samples[big][samples[big].size() / 2] / 1e3;
        state.counters[big ? "max_100MiB_us" : "max_1MiB_us"] = samples[big].back() / 1e3;
    }
    state.counters["samples_per_size"] = static_cast<double>(samples[1].size());
}

}  // namespace

BENCHMARK(BM_GetLogDestroy)->Iterations(1000)->Repetitions(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareThreadCycle)->Iterations(1000)->Repetitions(1)->UseManualTime()->Unit(benchmark::kMicrosecond);
// Sparse files: what the size of the renamed files costs.
BENCHMARK(BM_RotatingWrite)->ArgName("oldest_data")->Arg(0)->Iterations(202)->Repetitions(1)->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
// The oldest file with its data on disk: what removing it costs too.
BENCHMARK(BM_RotatingWrite)->ArgName("oldest_data")->Arg(1)->Iterations(30)->Repetitions(1)->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
