// The debug output: the console by default (standard output), or the device chosen by the
// "DEBUGDEVICE" option. Texts are appended as given; no line breaks are added.
#pragma once

#include <string>
#include <string_view>

// Chooses the debug output from the "DEBUGDEVICE" text: "@stdout" standard output,
// "@serial" standard error. Returns 0, or -1 for a device this build does not know (the
// output is then left as it was).
int SelectDebugOutput(const char* device);

// Formats printf-style and appends the text to the debug output.
void WriteDebugText(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace qv {

// Appends text that is data, not a format ("%" stays as it is).
void WriteDebugPlain(std::string_view text);

// While an instance lives, debug output is collected in it instead of being written out.
// Instances nest; the innermost one collects.
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
    std::string text_;
    DebugCapture* previous_;
};

}  // namespace qv
