#pragma once

#include "platform/memory_stream.h"

#include <QString>

#include <cstdint>

// The text of the first `count` bytes of a stream (all of it when the stream is
// shorter), read from its start; an empty text for no stream or a count of 0 or less.
// The bytes are read as UTF-8: malformed sequences become U+FFFD and a leading
// byte-order mark stays as U+FEFF, so one bad byte in a page costs one character
// rather than the whole page's decoding. Leaves the stream positioned after what
// was read. Runs on the thread that owns the stream.
QString ReadStreamText(TMemoryStream* stream, int64_t count);
