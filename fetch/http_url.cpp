#include "fetch/http_url.h"

namespace {

// Splits "host[:port]" (or "[v6]:port") into host and port.
void SplitHostPort(const QString& hostPort, THttpUrlParts& parts) {
    qsizetype portColon = -1;
    if (hostPort.startsWith(u'[')) {
        const qsizetype close = hostPort.indexOf(u']');
        const qsizetype end = close < 0 ? hostPort.size() : close + 1;
        parts.Host = hostPort.left(end);
        parts.HostName = hostPort.mid(1, (close < 0 ? hostPort.size() : close) - 1);
        if (end < hostPort.size() && hostPort[end] == u':')
            portColon = end;
    } else {
        portColon = hostPort.indexOf(u':');
        parts.Host = portColon < 0 ? hostPort : hostPort.left(portColon);
        parts.HostName = parts.Host;
    }
    if (portColon >= 0)
        parts.Port = hostPort.mid(portColon + 1);
}

} // namespace

QString DefaultPort(const QString& protocol) {
    return protocol == "https" ? "443" : "80";
}

THttpUrlParts SplitHttpUrl(const QString& url) {
    THttpUrlParts parts;
    const qsizetype schemeEnd = url.indexOf("://");
    qsizetype hostStart = 0;
    parts.Protocol = "http";
    if (schemeEnd >= 0) {
        parts.Protocol = url.left(schemeEnd).toLower();
        hostStart = schemeEnd + 3;
    }
    qsizetype pathStart = hostStart;
    while (pathStart < url.size() && url[pathStart] != u'/' && url[pathStart] != u'?')
        ++pathStart;
    QString authority = url.mid(hostStart, pathStart - hostStart);
    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0) {
        parts.UserInfo = authority.left(at);
        authority = authority.mid(at + 1);
    }
    SplitHostPort(authority, parts);
    parts.Path = url.mid(pathStart);
    if (!parts.Path.startsWith(u'/'))
        parts.Path.prepend(u'/');
    return parts;
}

QString UrlDirectory(const QString& path) {
    const qsizetype query = path.indexOf(u'?');
    const QString beforeQuery = query < 0 ? path : path.left(query);
    const qsizetype last = std::max(beforeQuery.lastIndexOf(u'/'), beforeQuery.lastIndexOf(u':'));
    return last < 0 ? QString() : beforeQuery.left(last + 1);
}

THttpRelocation ResolveRelocation(const QString& protocol, const QString& hostName,
                                  const QString& path, QString value) {
    if (value.startsWith("//"))
        value = protocol + ":" + value;
    THttpRelocation target{protocol, hostName, hostName, DefaultPort(protocol),
                           false,    false,    {},       {}};
    if (value.startsWith(u'/')) {
        target.Path = value;
    } else if (value.startsWith("http://", Qt::CaseInsensitive) ||
               value.startsWith("https://", Qt::CaseInsensitive)) {
        const THttpUrlParts parts = SplitHttpUrl(value);
        target.NewTarget = true;
        target.Protocol = parts.Protocol;
        target.Host = parts.Host;
        target.HostName = parts.HostName;
        target.PortNamed = !parts.Port.isEmpty();
        target.Port = target.PortNamed ? parts.Port : DefaultPort(parts.Protocol);
        target.Path = parts.Path;
        const QString afterScheme = value.mid(value.indexOf("://") + 3);
        const bool pathWritten = afterScheme.contains(u'/') || afterScheme.contains(u'?');
        target.Location = parts.Protocol + "://" + parts.Host +
                          (target.PortNamed ? ":" + parts.Port : QString()) +
                          (pathWritten ? parts.Path : QString());
        return target;
    } else {
        target.Path = UrlDirectory(path) + value;
    }
    target.Location = protocol + "://" + hostName + target.Path;
    return target;
}
