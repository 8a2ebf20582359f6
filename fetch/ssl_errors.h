#pragma once

#include <QStringList>

// Takes every error queued by the TLS library on this thread, oldest first, as
// texts of at most 120 characters each, and leaves the queue empty.
QStringList TakeSslErrorTexts();
