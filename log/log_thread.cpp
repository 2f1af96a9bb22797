// The dynamic log activation thread: makes sure the configuration file
// exists, then re-reads it about every five seconds.
#include <errno.h>
#include <time.h>
#include <unistd.h>

#include "log.h"

void* DynamicLogActivationThreadFunc(void* arg)
{
    return static_cast<Log*>(arg)->DynamicLogActivationThread(nullptr);
}

void* Log::DynamicLogActivationThread(void*)
{
    // Once, at start: a file removed later is not re-created.
    if (access(ConfFilePath.c_str(), F_OK) != 0)
        WriteDefaultConfFile();

    for (;;) {
        const struct timespec deadline = {time(nullptr) + 5, 0};
        LogMutex.Lock();
        // Tested under the lock the destructor stores it under, and held into
        // the wait, so a stop request is either seen here or wakes the wait.
        if (StopThread) {
            LogMutex.Unlock();
            break;
        }
        const int waited = pthread_cond_timedwait(&WakeCond, LogMutex.Handle(), &deadline);
        LogMutex.Unlock();
        if (waited != 0 && waited != ETIMEDOUT)
            continue;
        ParseLogConfFile();
        // Release: a writer that sees Connected sees the Socket stored before it.
        if (LogMode.load() == 1 && !Connected.load())
            Connected.store(Connect(), std::memory_order_release);
    }
    return nullptr;
}
