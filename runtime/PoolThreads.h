// The end of Qt's pooled threads, awaited before the process ends.
//
// Qt paints in parallel on its global thread pool (rectangle fills, image
// blending, conversion and smooth scaling of pictures taller than a few
// dozen lines), and the pool's threads are detached threads. When the
// application object ends, Qt waits until they have finished their work,
// not until they have ended: each thread still releases its own thread data
// on its way out. A process that ends in that moment never does that
// release, and the leak check of the sanitized build reports the thread
// data as lost; under load that happens in a few runs out of a hundred.
//
// A `TPoolThreadsWait` made before the application object is ended after
// it: its destructor waits until no pooled thread is left, looking at the
// process's thread list (on Linux a detached thread's end can only be seen
// there) every millisecond and for one second at most, so an exit is never
// held up for long. Every program and test program that makes a
// QApplication (the ones that paint) makes one of these first.
#pragma once

class TPoolThreadsWait {
public:
    TPoolThreadsWait() = default;
    TPoolThreadsWait(const TPoolThreadsWait&) = delete;
    TPoolThreadsWait& operator=(const TPoolThreadsWait&) = delete;
    ~TPoolThreadsWait();

    // The number of this process's threads that run for Qt's thread pools
    // (named "Thread (pooled)" by Qt).
    static int Count();
};
