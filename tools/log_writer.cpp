// log_writer LOG CONF THREADS RECORDS PERIOD_US MAX_MB FILES: app "w"; each thread writes RECORDS records,
// one per PERIOD_US (0: at once): "<pid>-<thread>-<seq> " and as many dots as seq says, so no cut passes for whole.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <tessra/log/log.h>

int main(int argc, char** argv)
{
    if (argc != 8)
        return 2;
    const long records = atol(argv[4]);
    const std::chrono::microseconds period(atol(argv[5]));
    Log::GetLog(argv[1], "w", argv[2], Log::NONE)->SetLogRotationConfig(atol(argv[6]), atoi(argv[7]));
    const std::string dots(140, '.');
    std::vector<std::thread> pool;
    for (int thread = 0; thread < atoi(argv[3]); ++thread)
        pool.emplace_back([&, thread] {
            std::chrono::steady_clock::time_point next = std::chrono::steady_clock::now();
            for (long seq = 0; seq < records; ++seq) {
                if (period.count() > 0)  // unthrottled, no clock read: it would make writers collide less often
                    std::this_thread::sleep_until(next += period);
                Log::GetLog()->Write("%ld-%d-%ld %.*s", Log::DBG, "w", static_cast<long>(getpid()), thread, seq,
                                     static_cast<int>(40 + seq % 97), dots.c_str());
            }
        });
    for (std::thread& worker : pool)
        worker.join();
    Log::Destroy();
}
