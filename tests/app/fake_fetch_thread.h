#pragma once

#include "fetch/scraping_thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// Stands in for the network in window tests. Every fetch thread of a run waits
// at the gate until the test opens it or the run asks the thread to stop, then
// fails its page, so a run stays busy exactly as long as a test needs.
class TFetchGate : public std::enable_shared_from_this<TFetchGate> {
public:
    std::atomic<int> Started{0};

    void Open() {
        {
            std::lock_guard<std::mutex> guard(FLock);
            FOpen = true;
        }
        FChanged.notify_all();
    }

    // Waits until the gate is open or `stopRequested` answers true.
    void Pass(const std::function<bool()>& stopRequested) {
        std::unique_lock<std::mutex> lock(FLock);
        while (!FOpen && !stopRequested())
            FChanged.wait_for(lock, std::chrono::milliseconds(5));
    }

    std::function<TScrapingThread*()> Factory();

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FOpen = false;
};

class TGatedFetchThread : public TScrapingThread {
public:
    explicit TGatedFetchThread(std::shared_ptr<TFetchGate> gate) : FGate(std::move(gate)) {}

protected:
    void Execute() override {
        ++FGate->Started;
        FGate->Pass([this] { return Terminated(); });
        result = -1;
        statusText = QStringLiteral("ERROR_нет сети в тесте");
        HandOver();
    }

private:
    std::shared_ptr<TFetchGate> FGate;
};

inline std::function<TScrapingThread*()> TFetchGate::Factory() {
    std::shared_ptr<TFetchGate> self = shared_from_this();
    return [self] { return new TGatedFetchThread(self); };
}
