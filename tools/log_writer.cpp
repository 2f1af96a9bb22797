// log_writer LOG CONF THREADS RECORDS PERIOD_US MAX_MB FILES [SENT]: app "w"; each thread writes RECORDS records,
// one per PERIOD_US (0: at once): "<pid>-<thread>-<seq> " and as many dots as seq says, so no cut passes for whole.
// With SENT, two more records follow, their messages also written to SENT, each ended by a zero byte.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <tessra/log/log.h>

int main(int argc, char** argv)
{
    if (argc != 8 && argc != 9)
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
    if (argc == 9) {
        // Longer than a record holds, a tab in it: the library cuts it.
        const std::string longest = "longest\t" + std::string(10240, 'x');
        Log::GetLog()->Write("%s", Log::DBG, "w", longest.c_str());
        // A dump whose text ends with a newline, as callers' often does: the record holds an empty line.
        const unsigned char frame[20] = {0x02, 0x05, 0x00, 0x07, 0x0A, 0x09, 0x00, 0xFF, 0x7F, 0x80};
        Log::GetLog()->Write("frame:\n", frame, sizeof frame, 10, 4, Log::DBG, "w");
        std::ofstream sent(argv[8], std::ios::binary);
        sent << longest << '\0';
        sent << "frame:\n\n  [ 02 05 00 07 0A 09 00 FF 7F 80 ]\n  [ 00 00 00 00 00 00 00 00 00 00 ]" << '\0';
    }
    Log::Destroy();
}
