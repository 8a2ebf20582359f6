#include "fetch/page_text.h"
#include "tests/qt_print.h"

#include <gtest/gtest.h>

namespace {

struct TPageCase {
    QByteArray Body;
    QString Text;
};

class PageTextTable : public testing::TestWithParam<TPageCase> {};

TEST_P(PageTextTable, BodyBytesReadAsUtf8) {
    TMemoryStream body;
    body.Write(GetParam().Body); // the position is at the end, as after a request
    EXPECT_EQ(PageTextFromBody(&body), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, PageTextTable,
    testing::Values(TPageCase{"", ""},
                    TPageCase{"\xef\xbb\xbf<html>", QString(QChar(0xFEFF)) + "<html>"},
                    TPageCase{"\xd0\x9e\xd0\xbe\xd0\xbe",
                              QString::fromUtf8("\xd0\x9e\xd0\xbe\xd0\xbe")},
                    // Windows-1251 "Про" is not UTF-8: no Cyrillic letter comes out.
                    TPageCase{"\xcf\xf0\xee", QString(3, QChar(0xFFFD))},
                    TPageCase{"a\xf0\x9f\x98\x80z", QString::fromUtf8("a\xf0\x9f\x98\x80z")}));

} // namespace
