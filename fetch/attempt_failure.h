#pragma once

#include <QString>

// Whether a failed attempt looks like trouble with the connection, so the next
// attempt waits a moment: the failure's message, its ASCII letters lower-cased,
// holds "socket" or "#10061" (a refused connection), or the client's reason
// phrase is exactly the inactivity time-out's "Request aborted on timeout".
bool FailureNeedsPause(const QString& message, const QString& reasonPhrase);

// The status text of a failure: "ERROR_" and the message, or, for an empty
// message, "ERROR_" and the client's status code.
QString FailureStatusText(const QString& message, int statusCode);
