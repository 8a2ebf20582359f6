#pragma once

#include <QByteArray>

#include <cstdint>

// An in-memory byte stream with a read/write position, the buffer that receives a
// response body. Writing at the position overwrites and then extends; reading
// advances the position. Owned by one thread.
class TMemoryStream {
public:
    int64_t Size() const { return FData.size(); }
    int64_t Position() const { return FPosition; }
    // A position beyond the end is clamped to the end.
    void Seek(int64_t position);
    // Cuts the stream back (or extends it with zero bytes); the position stays within it.
    void SetSize(int64_t size);
    void Write(const char* data, int64_t count);
    void Write(const QByteArray& data) { Write(data.constData(), data.size()); }
    // Reads up to `count` bytes from the position; returns how many were read.
    int64_t Read(char* data, int64_t count);

    const QByteArray& Data() const { return FData; }

private:
    QByteArray FData;
    int64_t FPosition = 0;
};
