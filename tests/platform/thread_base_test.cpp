#include "platform/event_queue.h"
#include "platform/thread_base.h"
#include "tests/support/event_wait.h"

#include <QCoreApplication>
#include <QThread>

#include <dlfcn.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace {

// While set, the system gives no new thread, as when a process has used up its
// threads: std::thread then raises.
std::atomic<bool> RefuseNewThreads{false};

} // namespace

// Every thread of this test program is made here first.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*routine)(void*), void* argument) {
    using TCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto create = reinterpret_cast<TCreate>(dlsym(RTLD_NEXT, "pthread_create"));
    if (RefuseNewThreads.load())
        return EAGAIN;
    return create(thread, attributes, routine, argument);
}

namespace {

// Counts steps until stopped, pausing at every step boundary.
class TStepper : public TThreadBase {
public:
    std::atomic<int> Steps{0};

protected:
    void Execute() override {
        while (!Terminated()) {
            Checkpoint();
            ++Steps;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

class TSynchronizer : public TThreadBase {
public:
    bool RanOnMain = false;
    QString Failure;

protected:
    void Execute() override {
        Synchronize([this] { RanOnMain = QThread::currentThread() == qApp->thread(); });
        try {
            Synchronize([] { throw std::runtime_error("step failed"); });
        } catch (const std::exception& e) {
            Failure = QString::fromUtf8(e.what());
        }
    }
};

// Runs one step on whatever OS thread the pool gives it.
class TStep : public TThreadBase {
public:
    explicit TStep(std::function<void()> step) : FStep(std::move(step)) {}

protected:
    void Execute() override { FStep(); }

private:
    std::function<void()> FStep;
};

} // namespace

TEST(ThreadBase, CreatedSuspendedRunsOnlyAfterStart) {
    TStepper t;
    EXPECT_EQ(t.Steps.load(), 0);
    EXPECT_FALSE(t.Finished());
    t.Start();
    EXPECT_TRUE(ProcessEventsUntil([&] { return t.Steps.load() > 3; }));
    t.Terminate();
    t.WaitFor();
    EXPECT_TRUE(t.Finished());
}

// The owner hears of the end on its own thread, once the thread counts as
// finished, and may release the object right there.
TEST(ThreadBase, TheEndIsHeardOnTheMainThreadOnceFinished) {
    auto step = std::make_unique<TStep>([] {});
    bool heard = false, finishedWhenHeard = false;
    step->SetOnFinished([&] {
        QMetaObject::invokeMethod(
            qApp,
            [&] {
                heard = true;
                finishedWhenHeard = step->Finished();
                step.reset();
            },
            Qt::QueuedConnection);
    });
    step->Start();
    EXPECT_TRUE(ProcessEventsUntil([&] { return heard; }));
    EXPECT_TRUE(finishedWhenHeard);
}

TEST(ThreadBase, SuspendHoldsAtCheckpointUntilResume) {
    TStepper t;
    t.Start();
    ASSERT_TRUE(ProcessEventsUntil([&] { return t.Steps.load() > 0; }));
    t.Suspend();
    EXPECT_TRUE(t.Paused());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int held = t.Steps.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_LE(t.Steps.load(), held + 1);
    t.Resume();
    EXPECT_FALSE(t.Paused());
    EXPECT_TRUE(ProcessEventsUntil([&] { return t.Steps.load() > held + 3; }));
}

TEST(ThreadBase, TerminateEndsAPausedThread) {
    TStepper t;
    t.Start();
    t.Suspend();
    t.Terminate();
    t.WaitFor();
    EXPECT_TRUE(t.Finished());
}

TEST(ThreadBase, SynchronizeRunsOnMainThreadAndCarriesFailures) {
    TSynchronizer t;
    t.Start();
    t.WaitFor(); // handles the main thread's events while it waits
    EXPECT_TRUE(t.RanOnMain);
    EXPECT_EQ(t.Failure, QStringLiteral("step failed"));
}

TEST(ThreadBase, DestroyingARunningThreadStopsAndJoinsIt) {
    auto t = std::make_unique<TStepper>();
    t->Start();
    ASSERT_TRUE(ProcessEventsUntil([&] { return t->Steps.load() > 0; }));
    t.reset();
    SUCCEED();
}

// OS threads are reused, but each thread object starts with an event queue of its
// own: a notice left unhandled by one must never run inside the next.
TEST(ThreadBase, AReusedOsThreadStartsWithANewEventQueue) {
    bool reused = false;
    for (int round = 0; round < 50 && !reused; ++round) {
        std::thread::id first, second;
        bool leftOverRan = false;
        TStep leaver([&] {
            first = std::this_thread::get_id();
            TEventQueue::ForThisThread().Post([&] { leftOverRan = true; });
        });
        leaver.Start();
        leaver.WaitFor();
        TStep pumper([&] {
            second = std::this_thread::get_id();
            TEventQueue::ForThisThread().Pump();
        });
        pumper.Start();
        pumper.WaitFor();
        EXPECT_FALSE(leftOverRan);
        reused = first == second;
    }
    EXPECT_TRUE(reused) << "no OS thread was reused in 50 rounds";
}

// Threads that wait for one another all run at once: a busy OS thread is never
// the only one offered.
TEST(ThreadBase, ThreadsStartedTogetherRunTogether) {
    constexpr int Count = 12;
    std::mutex lock;
    std::condition_variable changed;
    int arrived = 0;
    std::atomic<int> sawAll{0};
    std::vector<std::unique_ptr<TStep>> threads;
    for (int i = 0; i < Count; ++i) {
        threads.push_back(std::make_unique<TStep>([&] {
            std::unique_lock<std::mutex> guard(lock);
            ++arrived;
            changed.notify_all();
            if (changed.wait_for(guard, std::chrono::seconds(20), [&] { return arrived == Count; }))
                ++sawAll;
        }));
        threads.back()->Start();
    }
    for (auto& thread : threads)
        thread->WaitFor();
    EXPECT_EQ(sawAll.load(), Count);
}

// A thread that cannot get an OS thread raises from Start and is never run: not
// later, when a busy OS thread frees up, and not on the released object.
TEST(ThreadBase, AThreadThatCannotStartNeverRuns) {
    std::mutex lock;
    std::condition_variable changed;
    bool release = false;
    std::atomic<int> ran{0};
    const auto hold = [&] {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_for(guard, std::chrono::seconds(20), [&] { return release; });
        ++ran;
    };
    // Every parked OS thread gets a holder, until a start needs a new one.
    std::vector<std::unique_ptr<TStep>> holders;
    std::unique_ptr<TStep> refused;
    RefuseNewThreads = true;
    for (int i = 0; i < 1000 && !refused; ++i) {
        auto step = std::make_unique<TStep>(hold);
        try {
            step->Start();
            holders.push_back(std::move(step));
        } catch (const std::system_error&) {
            refused = std::move(step);
        }
    }
    RefuseNewThreads = false;
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->Started());
    {
        std::lock_guard<std::mutex> guard(lock);
        release = true;
    }
    changed.notify_all();
    for (auto& holder : holders)
        holder->WaitFor();
    refused.reset();
    EXPECT_EQ(ran.load(), int(holders.size()));
    TStep after([&] { ++ran; });
    after.Start();
    after.WaitFor();
    EXPECT_EQ(ran.load(), int(holders.size()) + 1);
}
