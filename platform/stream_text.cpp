#include "platform/stream_text.h"

#include "platform/text_codec.h"

#include <algorithm>

QString ReadStreamText(TMemoryStream* stream, int64_t count) {
    if (stream == nullptr || count <= 0)
        return {};
    count = std::min(count, stream->Size());
    stream->Seek(0);
    QByteArray bytes(count, Qt::Uninitialized);
    bytes.truncate(stream->Read(bytes.data(), count));
    return DecodeUtf8(bytes);
}
