#include "fetch/scraping_thread.h"

TScrapingThread::TScrapingThread() = default;

// The thread base stops and joins a job still running; nothing here outlives it.
TScrapingThread::~TScrapingThread() = default;

void TScrapingThread::Execute() {
    // Fetching arrives with the HTTP client; until then a job ends untried.
    result = 0;
    HandOver();
}

void TScrapingThread::HandOver() {
    if (!Lists)
        return;
    std::lock_guard<std::mutex> guard(Lists->ListLock);
    Lists->RunningList.removeOne(this);
    Lists->FinishedList.append(this);
}
