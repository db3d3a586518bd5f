// Where an error happened and how it is shown: the user's file and line through the applet's
// source line map, the error requester, the exit report and the progress lines.
#pragma once

#include "engine/vm.h"
#include "runtime/runtime_state.h"

// The line in the user's source file for the current error line, or -1.
int MapScriptLine(qvVmState* L);
// Formats the message of code into text (1024 bytes) and yields the file name and line to
// show: with the report-script-locations flag the mapped ones ("---" when no source file
// matches), else no file (nullptr) and line 0. L may be nullptr (no script locations).
void ShowErrorLocation(qvVmState* L, int code, char* text, const char** fileName, int* line);
// The error requester, titled "QuorvellaPlayer": the message with the file, line and
// command of the error unless plain is set or locations are not reported.
void ShowFatalError(qvVmState* L, const char* text, int plain, int kind);

// Progress lines on the console, all silent while the run is quiet (attribute 2): the
// message format filled with the file part of name (when given), "..." when dots is set, and
// no line end; then " done", " skipped" or " failed" and the line end.
void PrintLoadingMessage(const char* format, const char* name, int dots);
void PrintLoadingDone();
void PrintLoadingSkipped();
void PrintLoadingFailed();

namespace qv {

// The report of an error that ended the run (codes above 0 but 1003): formatted into the
// options' error text, then shown in the error requester, or, when "DEBUGDEVICE" chose an
// output, written there as "file:line: message" or "Error: message" (after ending a pending
// progress line with "failed" when no screen is open).
void ReportFinalError(qvVmState* L, int code, qvStartupOptions* options, bool screenOpen);

}  // namespace qv
