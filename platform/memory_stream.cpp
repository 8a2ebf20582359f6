#include "platform/memory_stream.h"

#include <algorithm>
#include <cstring>

void TMemoryStream::Seek(int64_t position) {
    FPosition = std::clamp<int64_t>(position, 0, FData.size());
}

void TMemoryStream::SetSize(int64_t size) {
    FData.resize(std::max<int64_t>(size, 0));
    FPosition = std::min<int64_t>(FPosition, FData.size());
}

void TMemoryStream::Write(const char* data, int64_t count) {
    if (count <= 0)
        return;
    const int64_t overlap = std::min<int64_t>(count, FData.size() - FPosition);
    if (overlap > 0)
        std::memcpy(FData.data() + FPosition, data, overlap);
    if (overlap < count) {
        // Grown by reserving first: that reallocates in place where the allocator can
        // (a large block is moved by remapping its pages, not by copying them), where
        // growing by the append itself would copy the whole of a large body into a new
        // block while the old one is still held.
        const int64_t needed = FData.size() + count - overlap;
        if (needed > FData.capacity())
            FData.reserve(std::max<int64_t>(needed, FData.capacity() * 2));
        FData.append(data + overlap, count - overlap);
    }
    FPosition += count;
}

int64_t TMemoryStream::Read(char* data, int64_t count) {
    const int64_t available =
        std::clamp<int64_t>(FData.size() - FPosition, 0, std::max<int64_t>(count, 0));
    if (available > 0)
        std::memcpy(data, FData.constData() + FPosition, available);
    FPosition += available;
    return available;
}
