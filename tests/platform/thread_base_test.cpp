#include "platform/thread_base.h"
#include "tests/support/event_wait.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

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
