#ifndef TESSRA_LOG_LOG_H
#define TESSRA_LOG_LOG_H

#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>

#include <atomic>
#include <string>

#include <tessra/mutex/mutex.h>

#define TESSRA_PRINTF(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))

namespace tessra {
struct LogInternals;
}

// The process's one logger, reached through Log::GetLog. It writes
// timestamped, level-tagged records to its log file (opened and closed per
// record, rotated by size) or, in REMOTE mode, to a log server over TCP.
//
// It owns its Mutex, its condition variable, the remote socket and the
// activation thread, which re-reads the configuration file about every five
// seconds and changes the level, the mode and the connection.
//
// From where:
// - GetLog with arguments (the first call, which makes the log) and Destroy
//   take no lock: make them while no other thread uses the library.
// - GetLog without arguments, Write, WriteV, the setters and the getters may
//   be called from any thread, at any time in between. Records may be
//   written from any number of threads and processes: each rotation of a
//   file happens once, and a fresh file always starts with the header block.
class Log {
public:
    enum eLevel : int32_t { NONE = 0, MAJOR = 1, WARN = 2, INFO = 3, DBG = 4, MORE_DBG = 5 };

    static Log* GetLog(const char* logFilePath = "/dev/null", const char* appName = "",
                       const char* confFilePath = "/etc/log.conf", eLevel level = NONE);
    static void Destroy();

    // A log on "/dev/null" is a null log: no configuration, no header, no thread.
    Log(const char* logFilePath, const char* appName, const char* confFilePath, eLevel level);
    ~Log();

    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void SetDisplayMethod(bool display) { DisplayMethod.store(display, std::memory_order_relaxed); }
    void SetLogRotationConfig(long maxFileSizeMb, int maxFileCount)
    {
        MaxFileSizeMb.store(maxFileSizeMb, std::memory_order_relaxed);
        MaxFileCount.store(maxFileCount, std::memory_order_relaxed);
    }

    // A record at level, if the log's level takes it. function is the caller's
    // signature text, shown in the file when the display method is on.
    void Write(const char* format, eLevel level, const char* function, ...) TESSRA_PRINTF(2, 5);
    // The record's message is the formatted text, a newline and a hex dump of data.
    void Write(const char* format, const unsigned char* data, unsigned int size, unsigned int bytesPerLine,
               unsigned int indentation, eLevel level, const char* function, ...) TESSRA_PRINTF(2, 9);
    // The same, for an application's own printf-like wrappers.
    void WriteV(const char* format, eLevel level, const char* function, va_list args) TESSRA_PRINTF(2, 0);
    void WriteV(const char* format, const unsigned char* data, unsigned int size, unsigned int bytesPerLine,
                unsigned int indentation, eLevel level, const char* function, va_list args) TESSRA_PRINTF(2, 0);

    eLevel GetLevel() const { return Level.load(std::memory_order_relaxed); }
    // 0: LOCAL, the log file; 1: REMOTE, the log server.
    int32_t GetLogMode() const { return LogMode.load(std::memory_order_relaxed); }
    bool IsConnected() const { return Connected.load(std::memory_order_acquire); }

private:
    friend void* DynamicLogActivationThreadFunc(void* arg);
    friend struct tessra::LogInternals;  // the library's own tests

    static std::string ConvertByteArrayToString(const unsigned char* data, unsigned int size, int bytesPerLine,
                                                unsigned int indentation);
    void FormatHeader(char* buffer, eLevel level);
    void Deliver(const char* format, eLevel level, const char* function, va_list args) TESSRA_PRINTF(2, 0);
    void WriteLocal(eLevel level, const char* format, const char* function, va_list args) TESSRA_PRINTF(3, 0);
    void SendRemote(const char* header, const char* format, va_list args) TESSRA_PRINTF(3, 0);
    void RotateLogFile();
    void InsertHeader();

    // Applies the configuration file; false when it cannot be opened.
    bool ParseLogConfFile();
    void WriteDefaultConfFile();
    bool Connect();
    bool Disconnect();
    void* DynamicLogActivationThread(void* unused);

    static Log* Instance;

    Mutex LogMutex;
    pthread_cond_t WakeCond;
    // Every setting a writer reads is an atomic; Connected is published after
    // Socket (release/acquire). RemoteIp and RemotePort belong to the thread
    // that reads the configuration.
    std::atomic<eLevel> Level;
    std::atomic<bool> DisplayMethod;
    std::atomic<int32_t> LogMode;
    std::string RemoteIp;
    int32_t RemotePort;
    std::atomic<int> Socket;
    std::atomic<bool> Connected;
    const std::string LogFilePath;
    const std::string AppName;
    const std::string ConfFilePath;
    pthread_t ActivationThread;
    bool ThreadStarted;
    bool StopThread TESSRA_GUARDED_BY(LogMutex);
    std::atomic<long> MaxFileSizeMb;
    std::atomic<int> MaxFileCount;
};

// Level names as written in records, indexed by Log::eLevel.
static constexpr const char* LevelStr[] = {"NONE", "MAJOR", "WARN", "INFO", "DBG", "MORE_DBG"};

void* DynamicLogActivationThreadFunc(void* arg);

// TESSRA_LOG(Log::INFO, "sent %u bytes", size) writes a record to the
// process's log with the calling function's signature text; below the log's
// level it evaluates nothing after the level. TESSRA_LOG_DUMP(Log::DBG,
// data, size, bytesPerLine, indentation, "sent %u bytes", size) adds a hex
// dump of data.
#define TESSRA_LOG(level, ...) \
    do { \
        const Log::eLevel tessraLevel_ = (level); \
        Log* const tessraLog_ = Log::GetLog(); \
        if (tessraLevel_ <= tessraLog_->GetLevel()) \
            ::tessra::WriteRecord(*tessraLog_, tessraLevel_, __PRETTY_FUNCTION__, __VA_ARGS__); \
    } while (false)

#define TESSRA_LOG_DUMP(level, data, size, bytesPerLine, indentation, ...) \
    do { \
        const Log::eLevel tessraLevel_ = (level); \
        Log* const tessraLog_ = Log::GetLog(); \
        if (tessraLevel_ <= tessraLog_->GetLevel()) \
            ::tessra::WriteRecord(*tessraLog_, tessraLevel_, __PRETTY_FUNCTION__, (data), (size), (bytesPerLine), \
                                  (indentation), __VA_ARGS__); \
    } while (false)

namespace tessra {

// The macros' calls: the level and the caller first, so that the format
// can lead the macro's variable arguments.
void WriteRecord(Log& log, Log::eLevel level, const char* function, const char* format, ...) TESSRA_PRINTF(4, 5);
void WriteRecord(Log& log, Log::eLevel level, const char* function, const unsigned char* data, unsigned int size,
                 unsigned int bytesPerLine, unsigned int indentation, const char* format, ...) TESSRA_PRINTF(8, 9);

}  // namespace tessra

#endif
