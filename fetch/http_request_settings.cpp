#include "fetch/http_request_settings.h"

#include "fetch/http_errors.h"

void THttpRequestSettings::SetRequestVer(const QString& version) {
    if (version != "1.0" && version != "1.1")
        throw EHttpException("Insupported HTTP version", HttpVersionError);
    FRequestVer = version;
}
