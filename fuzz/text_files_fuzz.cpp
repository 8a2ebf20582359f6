// The system's text files as a user may leave them (cities.txt, selection.txt,
// skip.txt and the list files): read by byte-order mark, as UTF-8 or as
// Windows-1251 without one, split into lines; the city lines, the saved selection
// matched against them, the name-value lookups, rubric lines and job lines.
//
// Properties: no line holds a line break; text without a mark reads as the
// toolkit's own decoders read it; UTF-8 decoding and encoding undo each other;
// a list written and read back gives the same entries; the selection, the lookups
// and the order of links agree with a plain comparison of every pair; rubric and
// job lines split back into what they were made of.

#include "crawl/city_list.h"
#include "crawl/name_value_list.h"
#include "crawl/run_journal.h"
#include "crawl/text_utils.h"
#include "fetch/job_line.h"
#include "fuzz/fuzz_support.h"
#include "platform/text_codec.h"
#include "platform/text_compare.h"
#include "platform/text_file.h"

#include <QStringDecoder>

namespace {

void CheckDecoding(const QByteArray& bytes, const QString& text) {
    if (bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") ||
        bytes.startsWith("\xFE\xFF"))
        return;
    if (IsValidUtf8(bytes)) {
        Require(text == QString::fromUtf8(bytes),
                "UTF-8 without a mark reads as the toolkit reads it");
        Require(EncodeUtf8(text) == bytes, "valid UTF-8 decodes and encodes back to its bytes");
        return;
    }
    QStringDecoder cp1251("windows-1251");
    if (cp1251.isValid() && !bytes.contains('\x98'))
        Require(text == cp1251.decode(bytes),
                "anything else reads as Windows-1251, as the toolkit reads it");
}

void CheckListRoundTrip(const QStringList& lines) {
    QStringList expected;
    for (const QString& line : lines) {
        Require(!line.contains(u'\r') && !line.contains(u'\n'), "no line holds a line break", line);
        expected.append(WithoutLoneSurrogates(line));
    }
    Require(SplitLines(DecodeTextFileBytes(ListFileBytes(lines))) == expected,
            "a list written and read back gives the same entries");
}

// Every pair compared, as the sorted and mapped lookups must answer.
void CheckLookups(const QStringList& lines) {
    const QList<TCityItem> items = ParseCityLines(lines);
    TNameValueList values;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const TCityItem& item = items[i];
        Require(item.HasUrl ? item.Label + "=" + item.Url == lines[i] : item.Label == lines[i],
                "a city line splits into label and address", lines[i]);
        values.Add(item.Label, item.Url);
    }
    const QList<int> selected = MatchSelection(items, lines.mid(lines.size() / 2));
    QList<int> expected;
    for (int i = 0; i < items.size(); ++i) {
        bool match = false;
        for (const QString& label : lines.mid(lines.size() / 2))
            match = match || SameTextIgnoreCase(items[i].Label, label);
        if (match)
            expected.append(i);
        QString first;
        for (int j = i; j >= 0; --j)
            if (SameTextIgnoreCase(items[j].Label, items[i].Label))
                first = items[j].Url;
        Require(values.Lookup(items[i].Label) == first,
                "a lookup finds the first entry of its name", items[i].Label);
    }
    Require(selected == expected, "the selection matches every label equal but for case");
}

void CheckOrder(QStringList lines) {
    std::sort(lines.begin(), lines.end(), TLessIgnoreCase());
    for (qsizetype i = 0; i < lines.size(); ++i)
        for (qsizetype j = i + 1; j < lines.size(); ++j)
            Require(CompareTextIgnoreCase(lines[j], lines[i]) >= 0 &&
                        (CompareTextIgnoreCase(lines[i], lines[j]) == 0) ==
                            (CompareTextIgnoreCase(lines[j], lines[i]) == 0),
                    "the order of links ignoring case is a total order",
                    lines[i] + " / " + lines[j]);
}

void CheckSplits(const QStringList& lines) {
    for (const QString& line : lines) {
        TRubricEntry rubric;
        if (ParseRubricLine(line, rubric))
            Require(RubricLine(rubric) == line && !rubric.first.contains(u'\t'),
                    "a rubric line splits back into link and name", line);
        const TJob job = SplitJobLine(line);
        const QString joined =
            job.Url + "|||" + job.Category +
            (line.indexOf("|||", job.Url.size() + 3) >= 0 ? "|||" + job.CategoryUrl : QString());
        Require(job.Code == TJobCode::Page || joined == line,
                "a card job line splits back into its parts", line);
        Require(job.Code == TJobCode::Card || job.Url == line, "a page job line is its URL", line);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    const QByteArray bytes = TakeRest(in);
    if (flags & 1) {
        // Any text, lone surrogates included, through UTF-8 and back.
        const QString text = Utf16Text(bytes);
        Require(IsValidUtf8(EncodeUtf8(text)) &&
                    DecodeUtf8(EncodeUtf8(text)) == WithoutLoneSurrogates(text),
                "any text encodes as valid UTF-8 and decodes back, lone surrogates as U+FFFD");
        return 0;
    }
    const QString text = DecodeTextFileBytes(bytes);
    CheckDecoding(bytes, text);
    const QStringList lines = SplitLines(text);
    CheckListRoundTrip(lines);
    if (lines.size() > 300)
        return 0; // the plain comparisons of every pair are quadratic
    CheckLookups(lines);
    CheckOrder(lines);
    CheckSplits(lines);
    return 0;
}
