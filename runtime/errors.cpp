#include "runtime/errors.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "runtime/exports.h"
#include "runtime/file_parts.h"
#include "runtime/messages.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

constexpr char kNoCommand[] = "----";

void CopyBounded(char* out, size_t size, std::string_view text) {
    size_t n = std::min(text.size(), size - 1);
    std::memmove(out, text.data(), n);
    out[n] = '\0';
}

// Appends to a fixed buffer, dropping what does not fit.
class BoundedText {
public:
    BoundedText(char* out, size_t size) : out_(out), size_(size) {}
    void Append(std::string_view text) {
        size_t n = std::min(text.size(), size_ - 1 - used_);
        std::memcpy(out_ + used_, text.data(), n);
        used_ += n;
    }
    void Finish() { out_[used_] = '\0'; }

private:
    char* out_;
    size_t size_;
    size_t used_ = 0;
};

enum class Placeholder { kNone, kText, kNumber };

// The length of the placeholder at the start of s ("%s", "%d", "%ld", "%%"), 0 for none.
size_t PlaceholderLength(std::string_view s) {
    for (std::string_view p : {"%s", "%d", "%ld", "%%"}) {
        if (s.starts_with(p)) return p.size();
    }
    return 0;
}

// Which argument the message takes: the text when it has a "%s", else the number when it
// has a "%d" or "%ld".
Placeholder FilledBy(std::string_view message) {
    Placeholder fill = Placeholder::kNone;
    for (size_t at = message.find('%'); at != std::string_view::npos; at = message.find('%')) {
        message.remove_prefix(at);
        size_t length = PlaceholderLength(message);
        char kind = length != 0 ? message[length - 1] : '\0';
        if (kind == 's') return Placeholder::kText;
        if (kind == 'd') fill = Placeholder::kNumber;
        message.remove_prefix(std::max<size_t>(length, 1));
    }
    return fill;
}

// The code's message before the argument goes in.
const char* MessageOfCode(int code) {
    if (code >= kFirstRegisteredCode) {
        int index = code - kFirstRegisteredCode;
        for (qvErrorText* t = Runtime().error.texts; t != nullptr; t = t->next, --index) {
            if (index == 0) return t->text;
        }
    } else if (code >= kFirstErrorCode) {
        uint32_t number = qvErrorMessageMap[code - kFirstErrorCode];
        if (number != kNoMessage) return GetMessageText(number);
    }
    return GetMessageText(kMsgUnknownErrorCode);
}

// Codes whose argument is a path of which only the file part is shown.
bool ShowsFilePart(int code) {
    switch (code) {
        case ERR_LOADPICTURE:
        case ERR_READFILE:
        case ERR_OPENSOUND:
        case ERR_NOALPHA:
        case ERR_OPENANIM2:
        case ERR_OPENSOUND2:
        case ERR_LOADPICTURE2:
        case ERR_IMAGEERROR:
            return true;
        default:
            return false;
    }
}

// The text argument as the message shows it. A virtual file inside the applet is named by
// its own file name, which also replaces the stored argument; a virtual path without that
// name is shown whole, never cut like a path.
std::string_view TextArgument(int code) {
    char* stored = Runtime().error.text;
    std::string_view name;
    if (VirtualFileName(stored, &name)) {
        CopyBounded(stored, sizeof Runtime().error.text, name);
        return stored;
    }
    if (IsChunkPath(stored)) return stored;
    return ShowsFilePart(code) ? FilePartEx(stored) : stored;
}

bool IsNoCommand(const char* name) {
    return std::strcmp(name, kNoCommand) == 0;
}

// What the location capture needs of one call level.
struct LevelInfo {
    bool native;
    bool main;           // the main chunk
    const char* name;    // nullptr when the function has none
    const char* source;  // "=[C]" for commands
};

// Describes a level of the engine's call stack; false for a lost tail call.
bool DescribeLevel(qvVmState* L, qvDebugRecord* ar, LevelInfo* info) {
    VmGetInfo(L, "Sn", ar);
    if (std::strcmp(ar->what, "tail") == 0) return false;
    *info = {std::strcmp(ar->what, "C") == 0, std::strcmp(ar->what, "main") == 0, ar->name,
             ar->source};
    return true;
}

// The name an error report gives a level: a command as its library's table spells it, a
// script function by name, "anonymous" without one, the main chunk "<<unnamed>>".
const char* ReportedName(const LevelInfo& info) {
    if (info.native) {
        const char* spelled = info.name != nullptr ? FindCommandSpelling(info.name) : nullptr;
        return spelled != nullptr ? spelled : "?";
    }
    if (info.main) return "<<unnamed>>";
    return info.name != nullptr ? info.name : "anonymous";
}

}  // namespace

void FillMessage(std::string_view message, std::string_view text, uint32_t number, char* out,
                 size_t size) {
    if (size == 0) return;
    Placeholder fill = FilledBy(message);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", static_cast<int32_t>(number));
    BoundedText result(out, size);
    while (!message.empty()) {
        size_t at = message.find('%');
        result.Append(message.substr(0, at));
        if (at == std::string_view::npos) break;
        message.remove_prefix(at);
        size_t length = PlaceholderLength(message);
        char kind = length != 0 ? message[length - 1] : '\0';
        if (kind == '%') {
            result.Append("%");
        } else if (kind == 's' && fill == Placeholder::kText) {
            result.Append(text);
            fill = Placeholder::kNone;
        } else if (kind == 'd' && fill == Placeholder::kNumber) {
            result.Append(digits);
            fill = Placeholder::kNone;
        } else {
            length = 1;
            result.Append("%");
        }
        message.remove_prefix(length);
    }
    result.Finish();
}

void FreeErrorTexts() {
    DrainList(&Runtime().error.texts, FreeMemBlock);
}

}  // namespace qv

void SetErrorNumber(uint32_t number) {
    qv::Runtime().error.number = number;
}

void SetErrorString(const char* text) {
    char* store = qv::Runtime().error.text;
    qv::CopyBounded(store, sizeof qv::Runtime().error.text, text != nullptr ? text : "");
}

int ErrorWithText(int code, const char* text) {
    SetErrorString(text);
    return code;
}

void FormatErrorMessage(int code, char* out, size_t size) {
    if (size == 0) return;
    const qvErrorState& e = qv::Runtime().error;
    // The message of these two is the argument itself, shown as it is.
    if (code == ERR_OPENFONT || code == ERR_ERRORCALLED) {
        qv::CopyBounded(out, size, e.text);
        return;
    }
    const char* message = qv::MessageOfCode(code);
    bool takesText = qv::FilledBy(message) == qv::Placeholder::kText;
    qv::FillMessage(message, takesText ? qv::TextArgument(code) : "", e.number, out, size);
}

int RegisterErrorText(const char* text) {
    size_t length = std::strlen(text);
    auto* node = static_cast<qvErrorText*>(AllocMemBlock(sizeof(qvErrorText) + length + 1, 0));
    if (node == nullptr) return ERR_MEM;
    node->next = nullptr;
    node->text = reinterpret_cast<char*>(node + 1);
    std::memcpy(node->text, text, length + 1);
    int code = kFirstRegisteredCode;
    qvErrorText** link = &qv::Runtime().error.texts;
    for (; *link != nullptr; link = &(*link)->next) ++code;
    *link = node;
    return code;
}

int HandleCommandError(qvVmState* L, int code) {
    qv::RuntimeState& rt = qv::Runtime();
    qvErrorState& e = rt.error;
    e.lastError = static_cast<uint32_t>(code);
    if (e.exitOnError == 0) {
        if (e.nestedCalls == 0) {
            qv::CopyBounded(e.command, sizeof e.command, qv::kNoCommand);
            e.line = -1;
        }
        return 0;
    }
    CaptureErrorLocation(L);
    // Inside a script callback of a command the error unwinds to that command, which decides.
    if (e.nestedCalls == 0) rt.abortFlag.store(1);
    VmThrow(L, code);
}

void CaptureErrorLocation(qvVmState* L) {
    qvErrorState& e = qv::Runtime().error;
    bool sourceFound = false;
    qvDebugRecord ar;
    for (int level = 0; VmGetStack(L, level, &ar) != 0; ++level) {
        qv::LevelInfo info;
        if (!qv::DescribeLevel(L, &ar, &info)) continue;
        if (!sourceFound && info.source[0] != '=' && info.source[0] != '?') {
            qv::CopyBounded(e.sourceName, sizeof e.sourceName, info.source);
            sourceFound = true;
        }
        if (qv::IsNoCommand(e.command)) {
            qv::CopyBounded(e.command, sizeof e.command, qv::ReportedName(info));
        }
        if (sourceFound) break;
    }
    if (e.line == -1 && VmGetStack(L, 1, &ar) != 0 && VmGetInfo(L, "l", &ar) != 0) {
        e.line = ar.currentline;
    }
}
