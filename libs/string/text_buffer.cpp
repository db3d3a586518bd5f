#include "libs/string/text_buffer.h"

#include <algorithm>
#include <cstdint>

namespace qv {

TextBuffer::~TextBuffer() {
    if (data_ != inline_) VmRealloc(L_, data_, capacity_, 0);
}

void TextBuffer::Grow(size_t n) {
    // Engine strings hold at most 2^32 - 1 bytes; a longer result could never be pushed.
    constexpr size_t kMaxText = UINT32_MAX;
    if (n > kMaxText - size_) RaiseError(L_, ERR_MEM);
    const size_t capacity = std::min(std::max(capacity_ * 2, size_ + n), kMaxText);
    if (data_ == inline_) {
        auto* block = static_cast<char*>(VmRealloc(L_, nullptr, 0, capacity));
        std::memcpy(block, inline_, size_);
        data_ = block;
    } else {
        data_ = static_cast<char*>(VmRealloc(L_, data_, capacity_, capacity));
    }
    capacity_ = capacity;
}

}  // namespace qv
