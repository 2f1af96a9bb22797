#include "mutex.h"

#include <tessra/log/log.h>

Mutex::Mutex(bool recursive, Log* traceLog) : TraceLog(traceLog)
{
    pthread_mutexattr_init(&MutexAttr);
    pthread_mutexattr_settype(&MutexAttr, recursive ? PTHREAD_MUTEX_RECURSIVE : PTHREAD_MUTEX_ERRORCHECK);
    pthread_mutex_init(&MutexHandle, &MutexAttr);
}

Mutex::~Mutex()
{
    pthread_mutex_destroy(&MutexHandle);
}

// The analysis cannot see that pthread_mutex_lock takes this capability.
int Mutex::Lock() TESSRA_NO_THREAD_SAFETY_ANALYSIS
{
    // Traced before the lock is taken, so the trace is not serialised by it.
    if (TraceLog != nullptr)
        TraceLog->Write("Locking", Log::DBG, "int Mutex::Lock()");
    return pthread_mutex_lock(&MutexHandle);
}

int Mutex::Unlock() TESSRA_NO_THREAD_SAFETY_ANALYSIS
{
    // Traced while still held.
    if (TraceLog != nullptr)
        TraceLog->Write("Unlocking", Log::DBG, "int Mutex::Unlock()");
    return pthread_mutex_unlock(&MutexHandle);
}
