#include "fetch/job_line.h"

#include "tests/qt_print.h"

#include <gtest/gtest.h>

TEST(SplitJobLine, PageAndCardLines) {
    struct Case {
        const char* name;
        QString line;
        TJob expected;
    } cases[] = {
        {"city page",
         "https://tomsk.quorvel.ru",
         {"https://tomsk.quorvel.ru", "", "", TJobCode::Page}},
        {"card line",
         u"https://tomsk.quorvel.ru/org/1|||Кафе|||https://tomsk.quorvel.ru/kafe/"_qs,
         {"https://tomsk.quorvel.ru/org/1", u"Кафе"_qs, "https://tomsk.quorvel.ru/kafe/",
          TJobCode::Card}},
        {"empty subrubric",
         "https://a/o||||||https://a/l",
         {"https://a/o", "", "https://a/l", TJobCode::Card}},
        {"third separator stays in the list URL",
         "u|||c|||l|||x",
         {"u", "c", "l|||x", TJobCode::Card}},
        {"separator at the start", "|||c|||l", {"", "c", "l", TJobCode::Card}},
        {"one separator only", "u|||c", {"u", "c", "", TJobCode::Card}},
        {"four bars", "u||||c|||l", {"u", "|c", "l", TJobCode::Card}},
        {"two bars are no separator", "https://a/b||c", {"https://a/b||c", "", "", TJobCode::Page}},
        {"empty line", "", {"", "", "", TJobCode::Page}},
    };
    for (const Case& c : cases) {
        const TJob job = SplitJobLine(c.line);
        EXPECT_EQ(job.Url, c.expected.Url) << c.name;
        EXPECT_EQ(job.Category, c.expected.Category) << c.name;
        EXPECT_EQ(job.CategoryUrl, c.expected.CategoryUrl) << c.name;
        EXPECT_EQ(job.Code, c.expected.Code) << c.name;
    }
}
