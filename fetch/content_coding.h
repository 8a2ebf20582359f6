#pragma once

#include "fetch/response_limits.h"
#include "platform/memory_stream.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

// Where a block of bytes goes next: a decoder's input or the handler's output stage.
using TWriteBufferProc = std::function<void(const char* data, int64_t count)>;

// One content decoder of one response body. Each decoder takes coded bytes through
// WriteBuffer and hands decoded bytes to the output target it was created with.
// Belongs to its handler and so to the client's thread.
class THttpContentCoding {
public:
    explicit THttpContentCoding(TWriteBufferProc outputWriteBuffer)
        : FOutputWriteBuffer(std::move(outputWriteBuffer)) {}
    virtual ~THttpContentCoding() = default;
    THttpContentCoding(const THttpContentCoding&) = delete;
    THttpContentCoding& operator=(const THttpContentCoding&) = delete;

    // The end of the body: every byte has been written.
    virtual void Complete() {}
    virtual void WriteBuffer(const char* data, int64_t count) = 0;

protected:
    TWriteBufferProc FOutputWriteBuffer;
};

// What the registry knows of a decoder class: its coding names, whether it is usable,
// and how to make one.
struct TContentCodingClass {
    QString Coding; // comma-separated coding names, e.g. "gzip, deflate"
    bool (*Active)();
    std::unique_ptr<THttpContentCoding> (*Create)(TWriteBufferProc outputWriteBuffer);
};

// "identity" and "*" name no transformation: a body labelled with them passes through
// unchanged rather than failing the request.
class THttpCCodIdentity : public THttpContentCoding {
public:
    using THttpContentCoding::THttpContentCoding;
    static const TContentCodingClass& Class();
    void WriteBuffer(const char* data, int64_t count) override { FOutputWriteBuffer(data, count); }
};

class THttpCCodStar : public THttpContentCoding {
public:
    using THttpContentCoding::THttpContentCoding;
    static const TContentCodingClass& Class();
    void WriteBuffer(const char* data, int64_t count) override { FOutputWriteBuffer(data, count); }
};

// The process-wide registry of decoder classes. Filled at start-up before any client
// exists and only read afterwards, so it takes no lock.
class TContCodingsList {
public:
    struct TEntry {
        const TContentCodingClass* CodingClass;
        float DefaultQuality;
    };

    // Created on first use with the "identity" and "*" entries.
    static TContCodingsList& Instance();

    void Add(const TContentCodingClass& codingClass, float defaultQuality);
    void Remove(const TContentCodingClass& codingClass);
    // The class of the last entry that names `coding` (ignoring letter case), or none.
    const TContentCodingClass* FindCoding(const QString& coding) const;
    const std::vector<TEntry>& Entries() const { return FEntries; }

private:
    TContCodingsList();
    std::vector<TEntry> FEntries;
};

void RegisterContentCoding(const TContentCodingClass& codingClass, float defaultQuality);

// Splits a Content-Encoding value into coding names: commas separate, blanks around a
// name are skipped, a blank inside ends the name (the rest of that item is ignored),
// and a name in double quotes may hold commas and blanks. Stops after `most` names.
QStringList SplitCodingNames(const QString& encodings,
                             qsizetype most = std::numeric_limits<qsizetype>::max());

// A handler's view of one registry entry.
class THttpContCodItem {
public:
    THttpContCodItem(const TContentCodingClass& codingClass, float quality)
        : FCodingClass(&codingClass), FQuality(quality) {}

    QString Coding() const { return FCodingClass->Coding; }
    bool Enabled() const { return FEnabled && FCodingClass->Active(); }
    void SetEnabled(bool enabled) { FEnabled = enabled; }
    float Quality() const { return FQuality; }
    void SetQuality(float quality) { FQuality = quality; }

private:
    const TContentCodingClass* FCodingClass;
    bool FEnabled = true;
    float FQuality;
};

// The decoding stage of one HTTP client: offers codings for the request and builds,
// per response, the chain of decoders named by its Content-Encoding. Output goes to
// whatever receive buffer the client holds at the time of writing (the slot may be
// re-pointed or emptied between responses). A body whose output would grow past
// OutputLimit raises EResponseLimit before that block is written, so a small coded
// body cannot expand without end; so does the output of each decoder that feeds
// another one, which that decoder holds until the body ends. Owned by the client,
// used on its thread.
class THttpContCodHandler {
public:
    int64_t OutputLimit = MaxResponseBodyBytes; // per response

    THttpContCodHandler(TMemoryStream* const* outputStream, TWriteBufferProc outputWriteBuffer);

    QString HeaderText();
    // A new response begins: no decoder of an earlier one may see its body or its
    // end, and its output is counted from zero. Its body, if any, calls Prepare.
    void Reset();
    // Builds the chain for one response; false when a name is unknown, in which case
    // the whole body passes unchanged. More than MaxContentCodings names raise
    // EResponseLimit, whatever they are.
    bool Prepare(const QString& encodings);
    // The next body bytes, in arrival order.
    void WriteBuffer(const char* data, int64_t count) { FInputWriteBuffer(data, count); }
    // The body has ended: the chain hands out what it still holds and is dropped, so
    // it runs once per response whatever ends the response afterwards.
    void Complete();

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled) { FEnabled = enabled; }
    bool UseQuality() const { return FUseQuality; }
    void SetUseQuality(bool useQuality);
    std::vector<THttpContCodItem>& CodingParams() { return FCodingParams; }

private:
    void WriteOutput(const char* data, int64_t count);
    TWriteBufferProc BoundedStage(TWriteBufferProc next) const;
    void ResetChain();
    QString ComputeHeaderText() const;

    std::vector<std::unique_ptr<THttpContentCoding>> FCodingList;
    std::vector<THttpContCodItem> FCodingParams;
    TMemoryStream* const* FOutputStream;
    TWriteBufferProc FInputWriteBuffer;
    TWriteBufferProc FOutputWriteBuffer;
    int64_t FOutputCount = 0;
    QString FHeaderText;
    bool FRecalcHeader = true;
    bool FEnabled = false;
    bool FUseQuality = false;
};
