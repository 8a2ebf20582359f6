#include "platform/stream_text.h"

#include "tests/qt_print.h"

#include <gtest/gtest.h>

TEST(ReadStreamText, ReadsFromTheStartUpToTheCount) {
    const QByteArray page = "\xEF\xBB\xBF<p>\xD0\x9C\xD0\xB8\xD1\x80</p>";
    struct Case {
        const char* name;
        int64_t count;
        QString expected;
    } cases[] = {
        {"whole", page.size(), u"\uFEFF<p>Мир</p>"_qs},
        {"count beyond size", page.size() + 100, u"\uFEFF<p>Мир</p>"_qs},
        {"cut inside a letter", 7, u"\uFEFF<p>\uFFFD"_qs},
        {"zero", 0, ""},
        {"negative", -5, ""},
    };
    for (const Case& c : cases) {
        TMemoryStream stream;
        stream.Write(page);
        EXPECT_EQ(ReadStreamText(&stream, c.count), c.expected) << c.name;
    }
}

TEST(ReadStreamText, NoStreamGivesEmptyText) {
    EXPECT_EQ(ReadStreamText(nullptr, 10), "");
}
