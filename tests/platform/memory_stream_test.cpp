#include "platform/memory_stream.h"

#include <gtest/gtest.h>

TEST(MemoryStream, WriteOverwritesThenExtendsAtPosition) {
    TMemoryStream s;
    s.Write(QByteArray("abcdef"));
    s.Seek(4);
    s.Write(QByteArray("XYZ"));
    EXPECT_EQ(s.Data(), QByteArray("abcdXYZ"));
    EXPECT_EQ(s.Position(), 7);
}

TEST(MemoryStream, SetSizeCutsBackAndClampsPosition) {
    TMemoryStream s;
    s.Write(QByteArray("0123456789"));
    s.SetSize(4);
    EXPECT_EQ(s.Data(), QByteArray("0123"));
    EXPECT_EQ(s.Position(), 4);
    s.Write(QByteArray("x"));
    EXPECT_EQ(s.Data(), QByteArray("0123x"));
}

TEST(MemoryStream, ReadStopsAtEndAndSeekClamps) {
    TMemoryStream s;
    s.Write(QByteArray("hello"));
    s.Seek(100);
    EXPECT_EQ(s.Position(), 5);
    s.Seek(3);
    char buf[8] = {};
    EXPECT_EQ(s.Read(buf, 8), 2);
    EXPECT_EQ(QByteArray(buf, 2), QByteArray("lo"));
    EXPECT_EQ(s.Read(buf, 8), 0);
    EXPECT_EQ(s.Read(buf, -1), 0);
}
