// The wrapper's part: the kind chosen at construction, the POSIX results
// passed on unchanged, and the trace records.
#include <errno.h>
#include <gtest/gtest.h>

#include <mutex>

#include <tessra/mutex/mutex.h>
#include "support.h"

// The relocks break the lock discipline on purpose.
TEST(MutexKinds, RecursiveTakesARelockErrorCheckingRefusesIt) TESSRA_NO_THREAD_SAFETY_ANALYSIS
{
    Mutex recursive(true, nullptr);
    EXPECT_EQ(recursive.Lock(), 0);
    EXPECT_EQ(recursive.Lock(), 0);
    EXPECT_EQ(recursive.Unlock(), 0);
    EXPECT_EQ(recursive.Unlock(), 0);

    Mutex checking;  // the default: error-checking, no trace
    {
        const std::lock_guard<Mutex> held(checking);
        EXPECT_EQ(checking.Lock(), EDEADLK);
    }
    EXPECT_EQ(checking.Lock(), 0);  // the guard released it
    EXPECT_EQ(checking.Unlock(), 0);
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
        const std::regex trace(R"(\[int Mutex::Lock\(\)\] \n +Locking\n[^\n]*)"
                               R"(\[int Mutex::Unlock\(\)\] \n +Unlocking\n$)");
        EXPECT_TRUE(level[0] == 'D' ? std::regex_search(content, trace) : content == HeaderBlock) << content;
    }
}
