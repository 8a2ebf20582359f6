#pragma once

#include <QString>

// Where a URL points, split the way the HTTP client requests it.
struct THttpUrlParts {
    QString Protocol; // the scheme in lower case, "http" when none is written
    QString UserInfo; // the text before "@", if any
    QString Host;     // as written; an IPv6 literal keeps its brackets
    QString HostName; // what is looked up: the host without brackets
    QString Port;     // as written, empty when none
    QString Path;     // from the first "/" or "?" on, query and fragment included
};

// Splits `url`. An empty path becomes "/"; a path that starts with its query gets
// the "/" in front that a request line needs.
THttpUrlParts SplitHttpUrl(const QString& url);

// The port a scheme uses when none is written.
QString DefaultPort(const QString& protocol);

// The part of a path up to and including its last "/" or ":" before any "?".
QString UrlDirectory(const QString& path);

// The target of a Location value, worked out from the current request.
struct THttpRelocation {
    QString Protocol;
    QString Host; // as written (a new host only for an absolute value)
    QString HostName;
    QString Port; // the port to connect to
    bool PortNamed = false;
    bool NewTarget = false; // an absolute value: host, port and scheme come from it
    QString Path;
    QString Location; // the URL that is requested next
};

// `protocol`, `hostName` and `path` describe the request being answered; `value` is
// the Location line's value. A value starting with "//" takes the current scheme;
// "/..." replaces the path; "http://" or "https://" names a new target; anything
// else is relative to the current path's directory.
THttpRelocation ResolveRelocation(const QString& protocol, const QString& hostName,
                                  const QString& path, QString value);
