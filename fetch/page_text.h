#pragma once

#include "platform/memory_stream.h"

#include <QString>

// The page text of a decoded body: all its bytes from the start, decoded as UTF-8
// whatever charset the response declared (malformed sequences become U+FFFD, a
// leading byte-order mark stays as U+FEFF). Leaves the position at the end.
QString PageTextFromBody(TMemoryStream* body);
