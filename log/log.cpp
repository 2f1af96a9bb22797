#include "log.h"

#include <string.h>
#include <sys/types.h>
#include <time.h>

// Record dates past January 2038 and log files past 2 GiB need both types at
// 64 bits, also on the 32-bit unit: the library's own build sets
// _TIME_BITS=64 and _FILE_OFFSET_BITS=64. No public type uses either, so an
// application builds with whatever flags it has.
static_assert(sizeof(time_t) >= 8, "build the library with -D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64");
static_assert(sizeof(off_t) >= 8, "build the library with -D_FILE_OFFSET_BITS=64");

Log* Log::Instance = nullptr;

Log* Log::GetLog(const char* logFilePath, const char* appName, const char* confFilePath, eLevel level)
{
    if (Instance == nullptr)
        Instance = new Log(logFilePath, appName, confFilePath, level);
    return Instance;
}

void Log::Destroy()
{
    delete Instance;
    Instance = nullptr;
}

Log::Log(const char* logFilePath, const char* appName, const char* confFilePath, eLevel level)
    : LogMutex(true, nullptr),
      Level(level),
      DisplayMethod(false),
      LogMode(0),
      RemoteIp(""),
      RemotePort(0),
      Socket(-1),
      Connected(false),
      LogFilePath(logFilePath),
      AppName(appName),
      ConfFilePath(confFilePath),
      ActivationThread(),
      ThreadStarted(false),
      StopThread(false),
      MaxFileSizeMb(10),
      MaxFileCount(10)
{
    pthread_cond_init(&WakeCond, nullptr);
    if (LogFilePath == "/dev/null")
        return;

    ParseLogConfFile();
    if (LogMode.load() == 1 && !Connected.load())
        Connected.store(Connect(), std::memory_order_release);
    InsertHeader();
    ThreadStarted = pthread_create(&ActivationThread, nullptr, DynamicLogActivationThreadFunc, this) == 0;
}

Log::~Log()
{
    // The request is stored under the lock that the thread holds from its
    // test of StopThread into its wait, so the signal below is never lost.
    LogMutex.Lock();
    StopThread = true;
    LogMutex.Unlock();
    pthread_cond_signal(&WakeCond);
    if (ThreadStarted)
        pthread_join(ActivationThread, nullptr);
    pthread_cond_destroy(&WakeCond);
    if (Connected.load())
        Disconnect();
}
