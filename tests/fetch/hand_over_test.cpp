#include "fetch/scraping_thread.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A job that does nothing but hand itself over, as the controller sees every job end.
class THandOverOnly : public TScrapingThread {
public:
    using TScrapingThread::HandOver;

protected:
    void Execute() override { HandOver(); }
};

QList<TScrapingThread*> Entries(const std::vector<int>& codes, TScrapingThread* self,
                                TScrapingThread* other) {
    QList<TScrapingThread*> list;
    for (int code : codes)
        list.append(code == 0 ? self : other);
    return list;
}

// Compared as vectors: the toolkit's own comparison of pointer lists hands a null
// data pointer to memcmp when a list is empty, which the sanitizer build rejects.
std::vector<TScrapingThread*> Items(const QList<TScrapingThread*>& list) {
    return {list.begin(), list.end()};
}

TEST(HandOver, MovesTheFirstEntryOfItselfToTheEndOfFinishedList) {
    const struct {
        const char* Name;
        // Entries of RunningList before the hand-over: 0 = the thread itself, 1 = another.
        std::vector<int> RunningBefore;
        std::vector<int> RunningAfter;
        bool OtherAlreadyFinished;
    } cases[] = {
        {"alone", {0}, {}, false},
        {"behind_another", {1, 0, 1}, {1, 1}, true},
        {"listed_twice", {0, 1, 0}, {1, 0}, false},
        {"not_listed", {1}, {1}, true},
        {"empty_run", {}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        THandOverOnly self, other;
        self.Lists = std::make_shared<TRunLists>();
        self.Lists->RunningList = Entries(c.RunningBefore, &self, &other);
        if (c.OtherAlreadyFinished)
            self.Lists->FinishedList.append(&other);

        self.HandOver();

        EXPECT_EQ(Items(self.Lists->RunningList), Items(Entries(c.RunningAfter, &self, &other)));
        QList<TScrapingThread*> finished;
        if (c.OtherAlreadyFinished)
            finished.append(&other);
        finished.append(&self);
        EXPECT_EQ(Items(self.Lists->FinishedList), Items(finished));
    }
}

TEST(HandOverThreads, EveryJobEndsInFinishedListOnceWhileTheRunLetsGo) {
    constexpr int Jobs = 8;
    std::vector<std::unique_ptr<THandOverOnly>> jobs;
    std::weak_ptr<TRunLists> watch;
    {
        auto lists = std::make_shared<TRunLists>();
        watch = lists;
        for (int i = 0; i < Jobs; ++i) {
            jobs.push_back(std::make_unique<THandOverOnly>());
            jobs.back()->Lists = lists;
            lists->RunningList.append(jobs.back().get());
        }
        for (auto& job : jobs)
            job->Start();
    } // the run lets go of its lists while its jobs may still be running
    for (auto& job : jobs)
        job->WaitFor();

    auto lists = watch.lock();
    ASSERT_TRUE(lists);
    EXPECT_TRUE(lists->RunningList.isEmpty());
    ASSERT_EQ(lists->FinishedList.size(), Jobs);
    for (auto& job : jobs)
        EXPECT_EQ(lists->FinishedList.count(job.get()), 1);
}

} // namespace
