// The result strings of the string library are built in one contiguous block and pushed with
// one copy. The engine's StrBuf keeps pieces on the stack and merges them, which copies every
// byte several times: on results of megabytes that doubled the time of ReplaceStr and
// PatternReplaceStr. Short texts stay inline; longer ones take blocks of the engine's
// allocator, which raises ERR_MEM, and the destructor frees them however the command ends.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "engine/vm.h"

namespace qv {

class TextBuffer {
public:
    explicit TextBuffer(qvVmState* L) : L_(L), data_(inline_) {}
    ~TextBuffer();
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    // Makes room for n more bytes and returns where they go; they count as written.
    char* Extend(size_t n) {
        if (capacity_ - size_ < n) Grow(n);
        char* at = data_ + size_;
        size_ += n;
        return at;
    }
    void Append(const char* s, size_t n) {
        if (n > 0) std::memcpy(Extend(n), s, n);
    }
    void Append(std::string_view s) { Append(s.data(), s.size()); }
    void Append(char c) { *Extend(1) = c; }
    // Drops the last n bytes written (n <= size()).
    void Drop(size_t n) { size_ -= n; }

    size_t size() const { return size_; }
    std::string_view View() const { return {data_, size_}; }
    // Pushes the text as one string.
    void Push() const { VmPushLString(L_, data_, size_); }

private:
    static constexpr size_t kInline = 512;
    void Grow(size_t n);

    qvVmState* L_;
    char* data_;
    size_t size_ = 0;
    size_t capacity_ = kInline;
    char inline_[kInline];
};

}  // namespace qv
