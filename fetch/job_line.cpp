#include "fetch/job_line.h"

namespace {
const QString Separator = QStringLiteral("|||");
}

QString CardJobCategory(const QString& name) {
    QString category = name;
    for (qsizetype start = category.indexOf(u'|'); start >= 0;
         start = category.indexOf(u'|', start)) {
        qsizetype end = start;
        while (end < category.size() && category[end] == u'|')
            ++end;
        if (end - start >= Separator.size() || end == category.size())
            category.replace(start, end - start, QString(end - start, u'\u00A6'));
        start = end;
    }
    return category;
}

QString CardJobTail(const QString& category, const QString& listUrl) {
    return Separator + category + Separator + listUrl;
}

TJob SplitJobLine(const QString& line) {
    TJob job;
    const qsizetype first = line.indexOf(Separator);
    if (first < 0) {
        job.Url = line;
        return job;
    }
    job.Code = TJobCode::Card;
    job.Url = line.left(first);
    const qsizetype restStart = first + Separator.size();
    const qsizetype second = line.indexOf(Separator, restStart);
    // Job lines are always built with both separators; should one be cut short,
    // everything after the first separator is kept as the subrubric name rather
    // than lost.
    if (second < 0) {
        job.Category = line.mid(restStart);
        return job;
    }
    job.Category = line.mid(restStart, second - restStart);
    job.CategoryUrl = line.mid(second + Separator.size());
    return job;
}
