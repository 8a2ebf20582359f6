#include "fetch_job.h"

#include "fetch/client_files.h"
#include "testsite/certificates.h"

#include <stdexcept>

TFetchJob::TFetchJob(const QString& pageUrl) {
    if (!FDir.isValid() ||
        !WriteClientCertificate(FDir.path(), QString::fromLatin1(ClientKeyPassPhrase)))
        throw std::runtime_error("cannot make the client certificate");
    Settings.CertFile = FDir.filePath("01cert.pem");
    Settings.PrivKeyFile = FDir.filePath("01key.pem");
    Job.Url = pageUrl;
    Lists = std::make_shared<TRunLists>();
    LogsMemo = [this](const QString& line) { FLogged.append(line); };
}

void TFetchJob::UseCertificateDir(const QString& dir) {
    Settings.CertFile = dir + "/01cert.pem";
    Settings.PrivKeyFile = dir + "/01key.pem";
}

void TFetchJob::StartJob() {
    Lists->RunningList.append(this);
    Start();
}

bool TFetchJob::WaitForHandOver(int limitMs) {
    auto lists = Lists;
    bool handedOver = ProcessEventsUntil(
        [lists] {
            std::lock_guard<std::mutex> guard(lists->ListLock);
            return !lists->FinishedList.isEmpty();
        },
        limitMs);
    if (handedOver)
        WaitFor();
    return handedOver;
}

std::vector<TFetchJob::TWait> TFetchJob::Waits() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FWaits;
}

QStringList TFetchJob::LoggedTexts() const {
    QStringList texts;
    for (const QString& line : FLogged)
        texts.append(line.mid(line.indexOf(": ") + 2));
    return texts;
}

void TFetchJob::WaitHandlingEvents(uint32_t ms, bool endOnStop) {
    {
        std::lock_guard<std::mutex> guard(FLock);
        FWaits.emplace_back(ms, endOnStop);
    }
    if (RealWaits)
        TScrapingThread::WaitHandlingEvents(ms, endOnStop);
}
