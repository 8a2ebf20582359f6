#include "platform/stream_text.h"

#include "platform/text_codec.h"

#include <algorithm>

QString ReadStreamText(TMemoryStream* stream, int64_t count) {
    if (stream == nullptr || count <= 0)
        return {};
    count = std::min(count, stream->Size());
    // Read in place: the whole of a stream is decoded without copying its bytes.
    stream->Seek(count);
    return DecodeUtf8(stream->Data().left(count));
}
