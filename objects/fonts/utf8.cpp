#include "objects/fonts/utf8.h"

#include "platform/linux/memory.h"

namespace {

// Payload bits of a lead byte and the continuation bytes after it; 0 continuation bytes
// with a zero mask marks a byte that cannot start a sequence.
struct Lead {
    int continuations;
    uint32_t payload;
};

Lead ClassifyLead(unsigned char byte) {
    if (byte < 0x80) return {0, 0x7F};
    if (byte < 0xC0) return {0, 0};  // a continuation byte
    if (byte < 0xE0) return {1, 0x1F};
    if (byte < 0xF0) return {2, 0x0F};
    if (byte < 0xF8) return {3, 0x07};
    if (byte < 0xFC) return {4, 0x03};
    return {0, 0};  // 1111110x and 1111111x
}

}  // namespace

int DecodeUtf8(const char* text, int32_t length, int utf8, uint32_t* buffer, size_t bufferSize,
               uint32_t** codePoints, int32_t* count, int* allocated) {
    *codePoints = nullptr;
    *count = 0;
    *allocated = 0;
    if (utf8 == 0 || length < 0) return kUtf8Failed;
    const size_t need = size_t(length) * 4;
    uint32_t* out = buffer;
    bool own = false;
    if (buffer == nullptr || need > bufferSize) {
        out = static_cast<uint32_t*>(AllocMemBlock(need == 0 ? 4 : need, 0));
        if (out == nullptr) return kUtf8Failed;
        own = true;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    int32_t n = 0;
    for (int32_t i = 0; i < length;) {
        Lead lead = ClassifyLead(bytes[i]);
        if (lead.payload == 0 || i + lead.continuations >= length) {
            if (own) FreeMemBlock(out);
            return kUtf8Failed;
        }
        uint32_t code = bytes[i++] & lead.payload;
        for (int k = 0; k < lead.continuations; ++k, ++i) {
            // Only a byte below 128 breaks a sequence; its payload bits are taken as they are.
            if (bytes[i] < 0x80) {
                if (own) FreeMemBlock(out);
                return kUtf8Failed;
            }
            code = (code << 6) | (bytes[i] & 0x3F);
        }
        out[n++] = code;
    }
    *codePoints = out;
    *count = n;
    *allocated = own ? 1 : 0;
    return 0;
}

void FreeCodePoints(uint32_t* codePoints, int allocated) {
    if (allocated != 0) FreeMemBlock(codePoints);
}

namespace qv {

TextCodes::TextCodes(const char* text, int32_t length, int utf8)
    : bytes_(reinterpret_cast<const unsigned char*>(text)) {
    if (length < 0 || text == nullptr) length = 0;
    if (DecodeUtf8(text, length, utf8, local_, sizeof local_, &codes_, &count_, &allocated_) != 0) {
        codes_ = nullptr;
        count_ = length;
    }
}

}  // namespace qv
