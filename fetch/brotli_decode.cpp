#include "fetch/brotli_decode.h"

#include <brotli/decode.h>

#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int64_t kInputBlock = 65536;

struct TDecoderRelease {
    void operator()(BrotliDecoderState* state) const { BrotliDecoderDestroyInstance(state); }
};

// Taken at most this much at a time, so the limit is seen before a large block lands.
constexpr size_t kOutputBlock = 1 << 20;

// Moves everything the decoder holds into `dest`, which must not grow past `limit`.
void TakeOutput(BrotliDecoderState* state, TMemoryStream* dest, int64_t limit) {
    while (BrotliDecoderHasMoreOutput(state)) {
        size_t size = kOutputBlock;
        const uint8_t* out = BrotliDecoderTakeOutput(state, &size);
        if (static_cast<int64_t>(size) > limit - dest->Size())
            throw EResponseLimit::BodyBytes();
        dest->Write(reinterpret_cast<const char*>(out), static_cast<int64_t>(size));
    }
}

} // namespace

QString BrotliErrorName(int code) {
    static const std::map<int, const char*> names{
        {0, "NO_ERROR"},
        {1, "SUCCESS"},
        {2, "NEEDS_MORE_INPUT"},
        {3, "NEEDS_MORE_OUTPUT"},
        {-1, "EXUBERANT_NIBBLE"},
        {-2, "RESERVED"},
        {-3, "EXUBERANT_META_NIBBLE"},
        {-4, "SIMPLE_HUFFMAN_ALPHABET"},
        {-5, "SIMPLE_HUFFMAN_SAME"},
        {-6, "CL_SPACE"},
        {-7, "HUFFMAN_SPACE"},
        {-8, "CONTEXT_MAP_REPEAT"},
        {-9, "BLOCK_LENGTH_1"},
        {-10, "BLOCK_LENGTH_2"},
        {-11, "TRANSFORM"},
        {-12, "DICTIONARY"},
        {-13, "WINDOW_BITS"},
        {-14, "PADDING_1"},
        {-15, "PADDING_2"},
        {-19, "DICTIONARY_NOT_SET"},
        {-20, "INVALID_ARGUMENTS"},
        {-21, "CONTEXT_MODES"},
        {-22, "TREE_GROUPS"},
        {-25, "CONTEXT_MAP"},
        {-26, "RING_BUFFER_1"},
        {-27, "RING_BUFFER_2"},
        {-30, "BLOCK_TYPE_TREES"},
        {-31, "UNREACHABLE"},
    };
    const auto it = names.find(code);
    return it == names.end() ? QString("INVALID") : QString(it->second);
}

void DecodeBrotliStream(TMemoryStream* source, TMemoryStream* dest, int64_t limit) {
    std::unique_ptr<BrotliDecoderState, TDecoderRelease> state(
        BrotliDecoderCreateInstance(nullptr, nullptr, nullptr));
    if (!state)
        throw EBrotliDecompressionError("Brotli decompression error");
    std::vector<char> buffer(kInputBlock);
    const uint8_t* next = nullptr;
    size_t available = 0;
    BrotliDecoderResult result = BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT;
    while (result != BROTLI_DECODER_RESULT_SUCCESS) {
        if (result == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT) {
            const int64_t read = source->Read(buffer.data(), kInputBlock);
            if (read <= 0)
                break; // the input ended early: keep what was decoded

            next = reinterpret_cast<const uint8_t*>(buffer.data());
            available = static_cast<size_t>(read);
        } else if (result == BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT) {
            TakeOutput(state.get(), dest, limit);
        } else {
            throw EBrotliDecompressionError(
                BrotliErrorName(BrotliDecoderGetErrorCode(state.get())));
        }
        size_t outRoom = 0;
        result = BrotliDecoderDecompressStream(state.get(), &available, &next, &outRoom, nullptr,
                                               nullptr);
    }
    TakeOutput(state.get(), dest, limit);
}
