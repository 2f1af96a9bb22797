#ifndef TESSRA_MUTEX_MUTEX_H
#define TESSRA_MUTEX_MUTEX_H

#include <pthread.h>

#include "thread_annotations.h"

class Log;

// One POSIX mutex, recursive or error-checking, chosen at construction; by
// default a plain error-checking lock without tracing. With a trace log,
// every Lock and Unlock first writes a DBG record through it. Lock and
// Unlock may be called from any thread; results are the POSIX error
// numbers, unchanged. lock and unlock make it a standard lockable, for
// std::lock_guard and std::unique_lock.
class TESSRA_CAPABILITY("mutex") Mutex {
public:
    explicit Mutex(bool recursive = false, Log* traceLog = nullptr);
    ~Mutex();

    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    int Lock() TESSRA_ACQUIRE();
    int Unlock() TESSRA_RELEASE();
    void lock() TESSRA_ACQUIRE() { Lock(); }
    void unlock() TESSRA_RELEASE() { Unlock(); }

    // The owner waits on a condition variable with this handle.
    pthread_mutex_t* Handle() { return &MutexHandle; }

private:
    Log* const TraceLog;
    pthread_mutex_t MutexHandle;
    pthread_mutexattr_t MutexAttr;
};

#endif
