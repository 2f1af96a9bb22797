// reliability_writer LOG CONF APP THREADS RECORDS RATE [MAX_MB FILES]: an application under load.
// THREADS threads write RECORDS records each, RATE records per second in all (0: unthrottled). A
// message is "<pid>-<thread>-<seq> " and dots of a length the checker derives from seq, so a cut or
// glued record never passes for a whole one.
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "log/log.h"

namespace {

void WriteRecords(int thread, long records, long long periodNs)
{
    static const std::string Dots(140, '.');
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (long seq = 0; seq < records; ++seq) {
        if (periodNs > 0) {
            const long long due = next.tv_nsec + periodNs;
            next.tv_sec += static_cast<time_t>(due / 1000000000);
            next.tv_nsec = static_cast<long>(due % 1000000000);
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
        Log::GetLog()->Write("%ld-%d-%ld %.*s", Log::DBG, "WriteRecords", static_cast<long>(getpid()), thread, seq,
                             static_cast<int>(40 + seq % 97), Dots.c_str());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 7 && argc != 9) {
        fprintf(stderr, "usage: reliability_writer LOG CONF APP THREADS RECORDS RATE [MAX_MB FILES]\n");
        return 2;
    }
    const int threads = atoi(argv[4]);
    const double rate = atof(argv[6]);
    Log::GetLog(argv[1], argv[3], argv[2], Log::NONE);
    // Without a rotation setting, a limit no run reaches.
    Log::GetLog()->SetLogRotationConfig(argc == 9 ? atol(argv[7]) : 1024, argc == 9 ? atoi(argv[8]) : 2);
    std::vector<std::thread> pool;
    for (int thread = 0; thread < threads; ++thread)
        pool.emplace_back(WriteRecords, thread, atol(argv[5]), rate > 0 ? static_cast<long long>(1e9 * threads / rate) : 0);
    for (std::thread& worker : pool)
        worker.join();
    Log::Destroy();
    return 0;
}
