#include <errno.h>
#include <gtest/gtest.h>

#include <thread>

#include "log_test_support.h"
#include "mutex/mutex.h"

namespace {

// Runs f on another thread and returns its result.
template <typename F>
int OnOtherThread(F f)
{
    int result = -1;
    std::thread other([&] { result = f(); });
    other.join();
    return result;
}

int TryLockElsewhere(Mutex& mutex)
{
    return OnOtherThread([&] {
        const int result = pthread_mutex_trylock(mutex.Handle());
        if (result == 0)
            pthread_mutex_unlock(mutex.Handle());
        return result;
    });
}

}  // namespace

// These tests break the lock discipline on purpose.
TEST(MutexKinds, RecursiveMutexNeedsAsManyUnlocksAsLocks) NO_THREAD_SAFETY_ANALYSIS
{
    Mutex mutex(true, nullptr);
    EXPECT_EQ(mutex.Lock(), 0);
    EXPECT_EQ(mutex.Lock(), 0);
    EXPECT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(TryLockElsewhere(mutex), EBUSY);
    EXPECT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(TryLockElsewhere(mutex), 0);
}

TEST(MutexKinds, ErrorCheckingMutexRefusesARelock) NO_THREAD_SAFETY_ANALYSIS
{
    Mutex mutex(false, nullptr);
    EXPECT_EQ(mutex.Lock(), 0);
    EXPECT_EQ(mutex.Lock(), EDEADLK);
    EXPECT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(TryLockElsewhere(mutex), 0);
}

TEST(MutexKinds, ErrorCheckingMutexRefusesAForeignUnlock) NO_THREAD_SAFETY_ANALYSIS
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer reports the deliberate misuse itself";
#endif
    Mutex mutex(false, nullptr);
    EXPECT_EQ(mutex.Lock(), 0);
    EXPECT_EQ(OnOtherThread([&]() NO_THREAD_SAFETY_ANALYSIS { return mutex.Unlock(); }), EPERM);
    EXPECT_EQ(TryLockElsewhere(mutex), EBUSY);
    EXPECT_EQ(mutex.Unlock(), 0);
    EXPECT_EQ(mutex.Unlock(), EPERM);
}

class MutexTrace : public ::testing::Test, protected LogFiles {
protected:
    std::string TraceAt(const std::string& conf)
    {
        remove(LogPath.c_str());
        auto log = Open(conf);
        log->SetDisplayMethod(true);
        Mutex mutex(false, log.get());
        mutex.Lock();
        mutex.Unlock();
        log.reset();
        return FileExists(LogPath) ? ReadFile(LogPath) : "";
    }
};

TEST_F(MutexTrace, WritesLockingAndUnlockingRecordsOnlyAtDbg)
{
    const std::string traced = TraceAt("cue_ctl=DEBUG\n");
    const size_t locking = traced.find("[int Mutex::Lock()] \n");
    const size_t unlocking = traced.find("[int Mutex::Unlock()] \n");
    ASSERT_NE(locking, std::string::npos) << traced;
    ASSERT_NE(unlocking, std::string::npos) << traced;
    EXPECT_LT(locking, unlocking);
    EXPECT_NE(traced.find("Locking\n", locking), std::string::npos);
    EXPECT_NE(traced.find("Unlocking\n", unlocking), std::string::npos);

    const std::string info = TraceAt("cue_ctl=INFO\n");
    EXPECT_EQ(info, HeaderBlock);
}
