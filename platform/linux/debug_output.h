// The debug output: the console by default (standard output), or the device chosen by the
// "DEBUGDEVICE" option. Texts are appended as given; no line breaks are added. The console,
// "@stdout" and the plugins' printf slot all write through the C stream stdout, so that
// their texts keep their order.
#pragma once

#include <string>
#include <string_view>

// Chooses the debug output from the "DEBUGDEVICE" text: "@stdout" standard output,
// "@serial" standard error, "@rexx:PORT" the ARexx sink (standard error until one is
// installed). Returns 0, or -1 for a device this build does not know, which selects the
// console.
int SelectDebugOutput(const char* device);

// The debug console carries the banner and the progress lines. Opening returns 0 or an
// error code; closing it never closes the selected debug output.
int OpenDebugConsole();
void CloseDebugConsole();

// Formats printf-style and appends the text to the debug output.
void WriteDebugText(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace qv {

// Appends text that is data, not a format ("%" stays as it is).
void WriteDebugPlain(std::string_view text);

// Writes text (data) to the debug console.
void WriteConsole(std::string_view text);
// Whether the debug console takes control sequences such as bold: a terminal (not a file, a
// pipe or a capture) that is not "dumb" (TERM), while the user has not asked for plain text
// (NO_COLOR set to any non-empty value).
bool ConsoleTakesStyles();

// Receives the debug output while "@rexx:PORT" is selected; the ARexx library installs it.
using RexxDebugSink = void (*)(const char* port, std::string_view text);
// nullptr goes back to standard error.
void SetRexxDebugSink(RexxDebugSink sink);

// While an instance lives, debug output and console text are collected in it instead of
// being written out. Instances nest; the innermost one collects.
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::string Text() const;
    void Clear();

private:
    friend void WriteDebugPlain(std::string_view);
    friend void WriteConsole(std::string_view);
    std::string text_;
    DebugCapture* previous_;
};

}  // namespace qv
