#include "platform/linux/debug_output.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace qv {
namespace {

enum class Device { kConsole, kStdout, kSerial, kRexx };

// Other tasks may write debug text too; one lock keeps lines whole.
std::mutex outputLock;
Device device = Device::kConsole;
char rexxPort[256] = "";
RexxDebugSink rexxSink = nullptr;
DebugCapture* activeCapture = nullptr;

void WriteStream(FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

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
    std::unique_lock guard(outputLock);
    if (activeCapture != nullptr) {
        activeCapture->text_.append(text);
        return;
    }
    switch (device) {
        case Device::kConsole:
        case Device::kStdout:
            WriteStream(stdout, text);
            return;
        case Device::kSerial:
            WriteStream(stderr, text);
            return;
        case Device::kRexx:
            break;
    }
    if (rexxSink == nullptr) {
        WriteStream(stderr, text);
        return;
    }
    // The sink runs outside the lock: it may itself write debug text.
    RexxDebugSink sink = rexxSink;
    char port[sizeof rexxPort];
    std::memcpy(port, rexxPort, sizeof port);
    guard.unlock();
    sink(port, text);
}

void WriteConsole(std::string_view text) {
    std::lock_guard guard(outputLock);
    if (activeCapture != nullptr) {
        activeCapture->text_.append(text);
        return;
    }
    WriteStream(stdout, text);
}

bool ConsoleTakesStyles() {
    const char* noColour = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    if ((noColour != nullptr && *noColour != '\0') ||
        (term != nullptr && std::strcmp(term, "dumb") == 0)) {
        return false;
    }
    std::lock_guard guard(outputLock);
    return activeCapture == nullptr && isatty(fileno(stdout)) != 0;
}

void SetRexxDebugSink(RexxDebugSink sink) {
    std::lock_guard guard(outputLock);
    rexxSink = sink;
}

}  // namespace qv

int SelectDebugOutput(const char* name) {
    constexpr std::string_view kRexx = "@rexx:";
    std::lock_guard guard(qv::outputLock);
    if (std::strcmp(name, "@stdout") == 0) {
        qv::device = qv::Device::kStdout;
    } else if (std::strcmp(name, "@serial") == 0) {
        qv::device = qv::Device::kSerial;
    } else if (std::string_view(name).starts_with(kRexx)) {
        qv::device = qv::Device::kRexx;
        std::snprintf(qv::rexxPort, sizeof qv::rexxPort, "%s", name + kRexx.size());
    } else {
        qv::device = qv::Device::kConsole;
        return -1;
    }
    return 0;
}

// The console is the process's standard output, which is always there.
int OpenDebugConsole() {
    return 0;
}

void CloseDebugConsole() {
    std::lock_guard guard(qv::outputLock);
    std::fflush(stdout);
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
