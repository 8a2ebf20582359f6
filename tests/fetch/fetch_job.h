#pragma once

#include "fetch/scraping_thread.h"
#include "tests/support/event_wait.h"

#include <QStringList>
#include <QTemporaryDir>

#include <mutex>
#include <utility>
#include <vector>

// A fetch job as the tests drive it: its own run lists, its log lines collected on
// the main thread, its TLS files in a temporary directory, and a record of the
// waits it asked for. Unless RealWaits is set, the waits are only recorded, so a
// job of 15 attempts runs without waiting out its pauses.
class TFetchJob : public TScrapingThread {
public:
    using TWait = std::pair<uint32_t, bool>; // milliseconds, ends on a stop request

    // A job for the page at `pageUrl`; a test of a card job sets Job itself.
    explicit TFetchJob(const QString& pageUrl);

    void SetTimeout(uint32_t seconds) { Settings.TimeoutSeconds = seconds; }
    void UseMissingCertificate() { Settings.CertFile = FDir.filePath("missing.pem"); }
    // Uses "01cert.pem" and "01key.pem" of `dir` instead of the job's own.
    void UseCertificateDir(const QString& dir);
    QString CertificateDir() const { return FDir.path(); }

    // Starts the job and waits, handling the main thread's events, until it has
    // handed itself over; false when it did not within `limitMs`.
    void StartJob();
    bool WaitForHandOver(int limitMs = 60000);

    std::vector<TWait> Waits() const;
    // The texts of the log lines after their date-time prefix (main thread).
    QStringList LoggedTexts() const;

    bool RealWaits = false;

protected:
    void WaitHandlingEvents(uint32_t ms, bool endOnStop) override;

private:
    QTemporaryDir FDir;
    QStringList FLogged;
    mutable std::mutex FLock;
    std::vector<TWait> FWaits;
};
