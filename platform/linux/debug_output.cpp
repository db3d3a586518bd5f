#include "platform/linux/debug_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace qv {
namespace {

// Other tasks may write debug text too; one lock keeps lines whole.
std::mutex outputLock;
FILE* debugStream = nullptr;  // nullptr: standard output
DebugCapture* activeCapture = nullptr;

}  // namespace

DebugCapture::DebugCapture() {
    std::lock_guard guard(outputLock);
    previous_ = activeCapture;
    activeCapture = this;
}

DebugCapture::~DebugCapture() {
    std::lock_guard guard(outputLock);
    activeCapture = previous_;
}

std::string DebugCapture::Text() const {
    std::lock_guard guard(outputLock);
    return text_;
}

void DebugCapture::Clear() {
    std::lock_guard guard(outputLock);
    text_.clear();
}

void WriteDebugPlain(std::string_view text) {
    std::lock_guard guard(outputLock);
    if (activeCapture != nullptr) {
        activeCapture->text_.append(text);
        return;
    }
    FILE* stream = debugStream ? debugStream : stdout;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace qv

int SelectDebugOutput(const char* device) {
    std::lock_guard guard(qv::outputLock);
    if (std::strcmp(device, "@stdout") == 0) {
        qv::debugStream = stdout;
        return 0;
    }
    if (std::strcmp(device, "@serial") == 0) {
        qv::debugStream = stderr;
        return 0;
    }
    return -1;
}

void WriteDebugText(const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(copy);
        return;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        va_end(copy);
        qv::WriteDebugPlain(std::string_view(small, n));
        return;
    }
    std::vector<char> large(static_cast<size_t>(n) + 1);
    std::vsnprintf(large.data(), large.size(), format, copy);
    va_end(copy);
    qv::WriteDebugPlain(std::string_view(large.data(), n));
}
