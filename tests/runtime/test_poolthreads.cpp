// The wait for the end of Qt's pooled threads.
#include "runtime/PoolThreads.h"

#include <QSemaphore>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <memory>

TEST(PoolThreads, TheWaitOutlastsEveryThreadOfAPoolThatEnded)
{
    // Threads of the global pool that earlier tests of this process used
    // may still be idle; they are not this pool's.
    const int before = TPoolThreadsWait::Count();
    auto pool = std::make_unique<QThreadPool>();
    pool->setMaxThreadCount(2);
    QSemaphore done;
    for (int i = 0; i < 4; ++i)
        pool->start([&done] { done.release(); });
    done.acquire(4);
    // Threads whose task is done stay for the next one and are seen by their
    // name.
    EXPECT_GE(TPoolThreadsWait::Count(), before + 1);

    // The pool's end (as waitForDone) waits for their work, not for the
    // threads' own end.
    pool.reset();
    {
        TPoolThreadsWait wait;
    }
    EXPECT_LE(TPoolThreadsWait::Count(), before);
}
