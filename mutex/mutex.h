#ifndef MUTEX_MUTEX_H
#define MUTEX_MUTEX_H

#include <pthread.h>

#include "thread_annotations.h"

class Log;

// One POSIX mutex, recursive or error-checking, chosen at construction.
// With a trace log, every Lock and Unlock first writes a DBG record through
// it. Lock and Unlock may be called from any thread; results are the POSIX
// error numbers, unchanged.
class CAPABILITY("mutex") Mutex {
public:
    Mutex(bool recursive, Log* traceLog);
    ~Mutex();

    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    int Lock() ACQUIRE();
    int Unlock() RELEASE();

    // The owner waits on a condition variable with this handle.
    pthread_mutex_t* Handle() { return &MutexHandle; }

private:
    Log* const TraceLog;
    pthread_mutex_t MutexHandle;
    pthread_mutexattr_t MutexAttr;
};

#endif
