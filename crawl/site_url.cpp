#include "crawl/site_url.h"

#include <QtGlobal>

QString SiteBaseUrl() {
    QString base = qEnvironmentVariable("QUORVEL_BASE_URL");
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    if (base.isEmpty())
        return QStringLiteral("https://quorvel.ru");
    return base;
}
