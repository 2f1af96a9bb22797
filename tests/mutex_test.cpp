#include <errno.h>
#include <gtest/gtest.h>

#include <thread>

#include "mutex/mutex.h"
#include "support.h"

namespace {

// What another thread gets from a try-lock (released again when it succeeds).
int TryLockElsewhere(Mutex& mutex)
{
    int result = -1;
    std::thread([&] {
        result = pthread_mutex_trylock(mutex.Handle());
        if (result == 0)
            pthread_mutex_unlock(mutex.Handle());
    }).join();
    return result;
}

}  // namespace

// These tests break the lock discipline on purpose.
TEST(MutexKinds, RecursiveNeedsAsManyUnlocksAsLocksErrorCheckingRefusesARelock) NO_THREAD_SAFETY_ANALYSIS
{
    Mutex recursive(true, nullptr);
    EXPECT_EQ(recursive.Lock(), 0);
    EXPECT_EQ(recursive.Lock(), 0);
    EXPECT_EQ(recursive.Unlock(), 0);
    EXPECT_EQ(TryLockElsewhere(recursive), EBUSY);
    EXPECT_EQ(recursive.Unlock(), 0);
    EXPECT_EQ(TryLockElsewhere(recursive), 0);

    Mutex checking(false, nullptr);
    EXPECT_EQ(checking.Lock(), 0);
    EXPECT_EQ(checking.Lock(), EDEADLK);
    EXPECT_EQ(checking.Unlock(), 0);
    EXPECT_EQ(TryLockElsewhere(checking), 0);
}

TEST(MutexKinds, ErrorCheckingRefusesAForeignUnlock) NO_THREAD_SAFETY_ANALYSIS
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer reports the deliberate misuse itself";
#endif
    Mutex mutex(false, nullptr);
    EXPECT_EQ(mutex.Lock(), 0);
    int foreign = -1;
    std::thread([&]() NO_THREAD_SAFETY_ANALYSIS { foreign = mutex.Unlock(); }).join();
    EXPECT_EQ(foreign, EPERM);
    EXPECT_EQ(TryLockElsewhere(mutex), EBUSY);
    EXPECT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(mutex.Unlock(), EPERM);
}

TEST(MutexTrace, WritesLockingThenUnlockingRecordsOnlyAtDbg)
{
    for (const char* level : {"DEBUG", "INFO"}) {
        LogFiles files;
        auto log = files.Open(std::string("cue_ctl=") + level + "\n");
        log->SetDisplayMethod(true);
        Mutex mutex(false, log.get());
        mutex.Lock();
        mutex.Unlock();
        const std::string content = ReadFile(files.LogPath);
        if (level[0] == 'D')
            EXPECT_TRUE(std::regex_search(content, std::regex(R"(\[int Mutex::Lock\(\)\] \n +Locking\n[^\n]*)"
                                                              R"(\[int Mutex::Unlock\(\)\] \n +Unlocking\n$)")))
                << content;
        else
            EXPECT_EQ(content, HeaderBlock);
    }
}
