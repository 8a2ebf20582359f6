#include "app/run_commands.h"

#include "crawl/run_view.h"
#include "crawl/scraper.h"
#include "platform/log_line.h"

void StopRun(TScraper& scraper, TRunView& view) {
    if (scraper.Paused())
        scraper.Resume();
    scraper.Terminate();
    view.AppendLog(FormatLogLine(QStringLiteral("Останавливаем работу")));
    view.SetProgressPosition(0);
}

void EndPause(TScraper& scraper, TRunView& view) {
    if (!scraper.Paused())
        return;
    scraper.Resume();
    view.AppendLog(FormatLogLine(QStringLiteral("Отключаем паузу, продолжаем работу")));
}
