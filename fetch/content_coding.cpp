#include "fetch/content_coding.h"

#include <algorithm>

namespace {

bool AlwaysActive() {
    return true;
}

template <class TDecoder>
std::unique_ptr<THttpContentCoding> CreateDecoder(TWriteBufferProc outputWriteBuffer) {
    return std::make_unique<TDecoder>(std::move(outputWriteBuffer));
}

bool IsBlank(QChar c) {
    return c.unicode() <= 32;
}

// Reads one item starting at `pos` (just after a comma or at the start); leaves `pos`
// on the comma that ends the item, or at the end.
QString TakeCodingName(const QString& text, qsizetype& pos) {
    const qsizetype end = text.size();
    while (pos < end && IsBlank(text[pos]))
        ++pos;
    QString name;
    if (pos < end && text[pos] == u'"') {
        const qsizetype close = text.indexOf(u'"', pos + 1);
        const qsizetype stop = close < 0 ? end : close;
        name = text.mid(pos + 1, stop - pos - 1);
        pos = stop < end ? stop + 1 : end;
    } else {
        const qsizetype start = pos;
        while (pos < end && text[pos] != u',' && !IsBlank(text[pos]))
            ++pos;
        name = text.mid(start, pos - start);
    }
    while (pos < end && text[pos] != u',')
        ++pos;
    return name;
}

} // namespace

const TContentCodingClass& THttpCCodIdentity::Class() {
    static const TContentCodingClass cls{"identity", &AlwaysActive,
                                         &CreateDecoder<THttpCCodIdentity>};
    return cls;
}

const TContentCodingClass& THttpCCodStar::Class() {
    static const TContentCodingClass cls{"*", &AlwaysActive, &CreateDecoder<THttpCCodStar>};
    return cls;
}

QStringList SplitCodingNames(const QString& encodings, qsizetype most) {
    QStringList names;
    qsizetype pos = 0;
    for (;;) {
        names.append(TakeCodingName(encodings, pos));
        if (pos >= encodings.size() || names.size() >= most)
            return names;
        ++pos; // the comma
    }
}

TContCodingsList::TContCodingsList() {
    Add(THttpCCodIdentity::Class(), 0.0f);
    Add(THttpCCodStar::Class(), 0.0f);
}

TContCodingsList& TContCodingsList::Instance() {
    static TContCodingsList list;
    return list;
}

void TContCodingsList::Add(const TContentCodingClass& codingClass, float defaultQuality) {
    FEntries.push_back({&codingClass, defaultQuality});
}

void TContCodingsList::Remove(const TContentCodingClass& codingClass) {
    std::erase_if(FEntries, [&](const TEntry& e) { return e.CodingClass == &codingClass; });
}

const TContentCodingClass* TContCodingsList::FindCoding(const QString& coding) const {
    for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it) {
        const QStringList names = SplitCodingNames(it->CodingClass->Coding);
        for (const QString& name : names)
            if (name.compare(coding, Qt::CaseInsensitive) == 0)
                return it->CodingClass;
    }
    return nullptr;
}

void RegisterContentCoding(const TContentCodingClass& codingClass, float defaultQuality) {
    TContCodingsList::Instance().Add(codingClass, defaultQuality);
}

THttpContCodHandler::THttpContCodHandler(TMemoryStream* const* outputStream,
                                         TWriteBufferProc outputWriteBuffer)
    : FOutputStream(outputStream), FOutputWriteBuffer(std::move(outputWriteBuffer)) {
    for (const auto& entry : TContCodingsList::Instance().Entries())
        FCodingParams.emplace_back(*entry.CodingClass, entry.DefaultQuality);
    ResetChain();
}

void THttpContCodHandler::SetUseQuality(bool useQuality) {
    FUseQuality = useQuality;
    FRecalcHeader = true;
}

QString THttpContCodHandler::HeaderText() {
    if (!FEnabled)
        return {};
    if (FRecalcHeader) {
        FHeaderText = ComputeHeaderText();
        FRecalcHeader = false;
    }
    return FHeaderText;
}

// With quality values every offered name carries its item's quality ("gzip;q=1").
QString THttpContCodHandler::ComputeHeaderText() const {
    QStringList offered;
    for (const THttpContCodItem& item : FCodingParams) {
        if (!item.Enabled() || item.Quality() <= 0)
            continue;
        if (!FUseQuality) {
            offered.append(item.Coding());
            continue;
        }
        for (const QString& name : SplitCodingNames(item.Coding()))
            offered.append(name + ";q=" + QString::number(item.Quality(), 'g', 3));
    }
    return offered.join(", ");
}

void THttpContCodHandler::ResetChain() {
    FCodingList.clear();
    FInputWriteBuffer = [this](const char* data, int64_t count) { WriteOutput(data, count); };
}

void THttpContCodHandler::Reset() {
    ResetChain();
    FOutputCount = 0;
}

bool THttpContCodHandler::Prepare(const QString& encodings) {
    Reset();
    if (!FEnabled || encodings.isEmpty())
        return true;
    // One name past the cap is enough to refuse the list, however long the header.
    const QStringList names = SplitCodingNames(encodings, MaxContentCodings + 1);
    if (names.size() > MaxContentCodings)
        throw EResponseLimit::Codings();
    const TContCodingsList& registry = TContCodingsList::Instance();
    for (const QString& name : names) {
        const TContentCodingClass* cls = registry.FindCoding(name);
        if (!cls) {
            ResetChain();
            return false;
        }
        // The first decoder writes to the counted output; every later one feeds a decoder.
        FCodingList.push_back(
            cls->Create(FCodingList.empty() ? FInputWriteBuffer : BoundedStage(FInputWriteBuffer)));
        THttpContentCoding* decoder = FCodingList.back().get();
        FInputWriteBuffer = [decoder](const char* data, int64_t count) {
            decoder->WriteBuffer(data, count);
        };
    }
    return true;
}

// Completing the last-made decoder first lets its output reach the earlier ones
// before they are completed in turn.
void THttpContCodHandler::Complete() {
    for (auto it = FCodingList.rbegin(); it != FCodingList.rend(); ++it)
        (*it)->Complete();
    ResetChain();
}

void THttpContCodHandler::WriteOutput(const char* data, int64_t count) {
    if (count > OutputLimit - FOutputCount)
        throw EResponseLimit::BodyBytes();
    FOutputCount += count;
    if (TMemoryStream* stream = *FOutputStream)
        stream->Write(data, count);
    if (FOutputWriteBuffer)
        FOutputWriteBuffer(data, count);
}

// What one decoder hands to the next is bounded like the final output: a zlib decoder
// keeps all its input until the body ends, so an unbounded stage could hold far more
// than the output limit, however small the body on the wire.
TWriteBufferProc THttpContCodHandler::BoundedStage(TWriteBufferProc next) const {
    return [next = std::move(next), limit = OutputLimit,
            written = int64_t(0)](const char* data, int64_t count) mutable {
        if (count > limit - written)
            throw EResponseLimit::BodyBytes();
        written += count;
        next(data, count);
    };
}
