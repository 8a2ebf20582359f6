#pragma once

#include <QString>

#include <cstdint>

// What a client's requests ask for: set by the client's owner between requests and
// only read by the client. Lines left empty are not sent.
class THttpRequestSettings {
public:
    QString URL;
    QString Reference;                             // sent as Referer
    QString Agent = QStringLiteral("Mozilla/4.0"); // sent as User-Agent
    QString Accept = QStringLiteral("image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    uint32_t Timeout = 30; // seconds without activity before Get gives up

    QString RequestVer() const { return FRequestVer; }
    // Only "1.0" and "1.1"; anything else raises "Insupported HTTP version" (5) and
    // leaves the version as it was.
    void SetRequestVer(const QString& version);

private:
    QString FRequestVer = QStringLiteral("1.0");
};
