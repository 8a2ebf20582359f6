#include "fetch_job.h"

#include "testsite/site_server.h"

#include <gtest/gtest.h>

#include "tests/qt_print.h"

namespace {

// The synthetic site's pages, plain, gzip and br alike, arrive whole through a
// fetch job, as a crawl of the site relies on.
TEST(FetchSitePages, EveryListPageArrivesAsTheSiteMadeIt) {
    TSiteServer site;
    for (const TExpectedListPage& page : site.Model().ExpectedListPages()) {
        TFetchJob job(page.Url);
        job.StartJob();
        ASSERT_TRUE(job.WaitForHandOver()) << qPrintable(page.Url);
        TSitePage expected;
        ASSERT_TRUE(site.Model().Page(page.Url.mid(site.BaseUrl().size()), expected));
        EXPECT_EQ(job.result, TFetchResult::Fetched) << qPrintable(job.statusText);
        EXPECT_EQ(job.html, expected.Html) << qPrintable(page.Url);
    }
}

} // namespace
