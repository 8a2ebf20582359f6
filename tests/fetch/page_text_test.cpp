#include "fetch/page_text.h"
#include "tests/qt_print.h"

#include <gtest/gtest.h>

namespace {

TEST(PageText, BodyBytesReadAsUtf8) {
    const struct {
        QByteArray Body;
        QString Text;
    } cases[] = {
        {"", ""},
        {"\xef\xbb\xbf<html>", QString(QChar(0xFEFF)) + "<html>"},
        {"\xd0\x9e\xd0\xbe\xd0\xbe", QString::fromUtf8("\xd0\x9e\xd0\xbe\xd0\xbe")},
        // Windows-1251 "Про" is not UTF-8: no Cyrillic letter comes out.
        {"\xcf\xf0\xee", QString(3, QChar(0xFFFD))},
        {"a\xf0\x9f\x98\x80z", QString::fromUtf8("a\xf0\x9f\x98\x80z")},
    };
    for (const auto& c : cases) {
        TMemoryStream body;
        body.Write(c.Body); // the position is at the end, as after a request
        EXPECT_EQ(PageTextFromBody(&body), c.Text) << c.Body.toHex().toStdString();
    }
}

} // namespace
