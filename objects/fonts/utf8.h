// UTF-8 text as 32-bit code points, shared by every font engine.
#pragma once

#include <cstddef>
#include <cstdint>

// Failure code of DecodeUtf8; internal: callers fall back to one byte per character and it
// never reaches a script.
inline constexpr int kUtf8Failed = 1003;

// Converts length bytes into code points. Uses the caller's buffer when 4 x length bytes fit
// in bufferSize, else allocates (allocated set to 1; free with FreeCodePoints). Leads of 2 to
// 5 bytes are accepted. Returns 0, or kUtf8Failed when the flag is 0, on a malformed sequence
// (a lead 10xxxxxx, 1111110x or 1111111x, a continuation below 0x80 or above 0xBF, a
// sequence cut by the end) or when the buffer cannot be allocated.
int DecodeUtf8(const char* text, int32_t length, int utf8, uint32_t* buffer, size_t bufferSize,
               uint32_t** codePoints, int32_t* count, int* allocated);
void FreeCodePoints(uint32_t* codePoints, int allocated);

namespace qv {

// The characters of a text: its code points when it decodes as UTF-8 under the flag, else
// its bytes (ISO 8859-1). Small texts stay in the object.
class TextCodes {
public:
    TextCodes(const char* text, int32_t length, int utf8);
    ~TextCodes() { FreeCodePoints(codes_, allocated_); }
    TextCodes(const TextCodes&) = delete;
    TextCodes& operator=(const TextCodes&) = delete;

    int32_t size() const { return count_; }
    // Whether the text decoded as UTF-8 (else its characters are its bytes).
    bool decoded() const { return codes_ != nullptr; }
    uint32_t operator[](int32_t i) const { return codes_ != nullptr ? codes_[i] : bytes_[i]; }

private:
    uint32_t local_[64];
    uint32_t* codes_ = nullptr;  // none: the bytes themselves
    const unsigned char* bytes_;
    int32_t count_ = 0;
    int allocated_ = 0;
};

}  // namespace qv
