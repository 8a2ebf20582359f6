#include "fetch/job_line.h"

#include "tests/qt_print.h"

#include <gtest/gtest.h>

TEST(SplitJobLine, PageAndCardLines) {
    struct Case {
        const char* name;
        QString line;
        TJobLine expected;
    } cases[] = {
        {"city page", "https://tomsk.quorvel.ru", {"https://tomsk.quorvel.ru", "", "", false}},
        {"card line",
         u"https://tomsk.quorvel.ru/org/1|||Кафе|||https://tomsk.quorvel.ru/kafe/"_qs,
         {"https://tomsk.quorvel.ru/org/1", u"Кафе"_qs, "https://tomsk.quorvel.ru/kafe/", true}},
        {"empty subrubric",
         "https://a/o||||||https://a/l",
         {"https://a/o", "", "https://a/l", true}},
        {"third separator stays in the list URL", "u|||c|||l|||x", {"u", "c", "l|||x", true}},
        {"separator at the start", "|||c|||l", {"", "c", "l", true}},
        {"one separator only", "u|||c", {"u", "c", "", true}},
        {"four bars", "u||||c|||l", {"u", "|c", "l", true}},
        {"two bars are no separator", "https://a/b||c", {"https://a/b||c", "", "", false}},
        {"empty line", "", {"", "", "", false}},
    };
    for (const Case& c : cases) {
        const TJobLine job = SplitJobLine(c.line);
        EXPECT_EQ(job.Url, c.expected.Url) << c.name;
        EXPECT_EQ(job.Category, c.expected.Category) << c.name;
        EXPECT_EQ(job.CategoryUrl, c.expected.CategoryUrl) << c.name;
        EXPECT_EQ(job.IsCard, c.expected.IsCard) << c.name;
    }
}
