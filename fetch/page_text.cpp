#include "fetch/page_text.h"

#include "platform/stream_text.h"

// The body is decoded from its bytes directly. Reading it first as text in the default
// code page and converting back only returns the same bytes when that code page is a
// single-byte one; ours falls back from UTF-8 to Windows-1251, and the detour would
// turn a Windows-1251 page into readable text where every page must be read as UTF-8.
QString PageTextFromBody(TMemoryStream* body) {
    return ReadStreamText(body, body->Size());
}
