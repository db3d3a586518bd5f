#include "runtime/report.h"

#include <cstdio>
#include <cstring>

#include "platform/linux/debug_output.h"
#include "platform/linux/requester.h"
#include "runtime/errors.h"
#include "runtime/file_parts.h"
#include "runtime/messages.h"

namespace qv {
namespace {

constexpr char kNoFile[] = "---";
constexpr size_t kMessageSize = 1024;

// Error locations go through the line map only for applets, whose "script" is ":none:".
bool IsApplet(qvVmState* L) {
    const char* script = GetRegistryString(L, "script");
    return script != nullptr && std::strcmp(script, ":none:") == 0;
}

// The line-map entry of the error's source and line, or nullptr.
const qvLineMapEntry* FindLineMapEntry(qvVmState* L) {
    const auto* header = static_cast<const qvScriptHeader*>(GetRegistryPointer(L, "applet"));
    if (header == nullptr) return nullptr;
    const qvErrorState& e = Runtime().error;
    const char* container = std::strcmp(e.sourceName, "?") == 0 ? "" : e.sourceName;
    for (const qvLineMapEntry* entry = header->lineMap; entry != nullptr; entry = entry->next) {
        if (std::strcmp(entry->containerName, container) == 0 &&
            static_cast<int64_t>(entry->firstLine) <= e.line &&
            static_cast<int64_t>(entry->lastLine) >= e.line) {
            return entry;
        }
    }
    return nullptr;
}

// The source file of the error as reports name it: a line-map entry's, else "---".
const char* LocatedFile(qvVmState* L) {
    const qvLineMapEntry* entry = IsApplet(L) ? FindLineMapEntry(L) : nullptr;
    return entry != nullptr ? entry->sourceName : kNoFile;
}

bool ReportsLocations(qvVmState* L) {
    return L != nullptr && Runtime().error.reportLocations != 0;
}

void PrintLoadingEnd(uint32_t word) {
    if (Runtime().quiet != 0) return;
    WriteConsole(" ");
    WriteConsole(GetMessageText(word));
    WriteConsole("\n");
}

}  // namespace

void ReportFinalError(qvVmState* L, int code, qvStartupOptions* options, bool screenOpen) {
    if (code <= 0 || code == ERR_USERABORT) return;
    const char* file = nullptr;
    int line = 0;
    ShowErrorLocation(L, code, options->errorText, &file, &line);
    if (Runtime().debugDevice == 0) {
        ShowFatalError(L, options->errorText, 0, 0);
        return;
    }
    if (!screenOpen) PrintLoadingFailed();
    char report[kMessageSize + 1200];
    if (file != nullptr) {
        std::snprintf(report, sizeof report, "%s:%d: %s\n", file, line, options->errorText);
    } else {
        std::snprintf(report, sizeof report, "%s: %s\n", GetMessageText(kMsgError),
                      options->errorText);
    }
    WriteDebugPlain(report);
}

}  // namespace qv

int MapScriptLine(qvVmState* L) {
    const qvErrorState& e = qv::Runtime().error;
    if (!qv::IsApplet(L)) return e.line;
    const qvLineMapEntry* entry = qv::FindLineMapEntry(L);
    if (entry == nullptr) return -1;
    return static_cast<int>(e.line + static_cast<int64_t>(entry->lineOffset) + 1 -
                            static_cast<int64_t>(entry->firstLine));
}

void ShowErrorLocation(qvVmState* L, int code, char* text, const char** fileName, int* line) {
    FormatErrorMessage(code, text, qv::kMessageSize);
    if (!qv::ReportsLocations(L)) {
        *fileName = nullptr;
        *line = 0;
        return;
    }
    *fileName = qv::LocatedFile(L);
    *line = MapScriptLine(L);
}

void ShowFatalError(qvVmState* L, const char* text, int plain, int kind) {
    char message[qv::kMessageSize + 1200];
    const char* command = qv::Runtime().error.command;
    if (plain != 0 || !qv::ReportsLocations(L)) {
        std::snprintf(message, sizeof message, "%s", text);
    } else if (std::strcmp(command, "----") == 0) {
        std::snprintf(message, sizeof message, "%s\n%s: %s (%s: %d)", text,
                      GetMessageText(qv::kMsgFile), FilePartEx(qv::LocatedFile(L)),
                      GetMessageText(qv::kMsgCurrentLine), MapScriptLine(L));
    } else {
        std::snprintf(message, sizeof message, "%s\n%s: %s (%s: %d - %s: %s)", text,
                      GetMessageText(qv::kMsgFile), FilePartEx(qv::LocatedFile(L)),
                      GetMessageText(qv::kMsgCurrentLine), MapScriptLine(L),
                      GetMessageText(qv::kMsgInFunction), command);
    }
    ShowMessageRequester("QuorvellaPlayer", message, "OK", kind);
}

void PrintLoadingMessage(const char* format, const char* name, int dots) {
    if (qv::Runtime().quiet != 0) return;
    char line[qv::kMessageSize];
    qv::FillMessage(format, name != nullptr ? FilePartEx(name) : "", 0, line, sizeof line);
    qv::WriteConsole(line);
    if (dots != 0) qv::WriteConsole("...");
}

void PrintLoadingDone() {
    qv::PrintLoadingEnd(qv::kMsgDone);
}

void PrintLoadingSkipped() {
    qv::PrintLoadingEnd(qv::kMsgSkipped);
}

void PrintLoadingFailed() {
    qv::PrintLoadingEnd(qv::kMsgFailed);
}
