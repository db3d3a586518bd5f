// The command line: the option template (shared with the compiler, whose options are
// accepted and stored) and the parser that turns the argument words into the start-up
// options, the display defaults of the script header, the unknown options kept for the
// script, the export file names, the icon files and the "PRIVATE3" text.
//
// Options are "-" and a name in any letter case; an option with an argument takes the next
// plain word. The first plain word is the applet; a second one is an error. An unknown
// option takes the plain word after it, if any, as its value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/runtime_state.h"

struct qvOptionTemplateEntry {
    const char* name;
    uint32_t id;  // index of its value slot; "PRIVATE1" and "PRIVATE2" share a slot
    uint32_t takesArgument;
    int32_t groupHeading;  // message number of the help group starting here, 0 none, -1 hidden
    uint32_t helpText;     // message number, 0 none
    const char* placeholder;
    const char* choices;
};

inline constexpr int kOptionTemplateRows = 58;
// The rows in table order, then an all-zero row.
extern const qvOptionTemplateEntry qvOptionTemplate[kOptionTemplateRows + 1];

struct qvExeType {
    const char* name;
    uint32_t bit;
};
// The executable-type words of "EXETYPE" in search order.
extern const qvExeType qvExeTypes[15];

struct qvIconOption {
    const char* shortName;
    int32_t width;
    int32_t height;
    uint32_t optionId;
};
// The seven icon sizes; their resolved files are qv::Runtime().iconPaths in this order.
extern const qvIconOption qvIconOptions[qv::kIconCount];

namespace qv {

// The joined line, its terminating NUL included.
inline constexpr size_t kCommandLineSize = 4096;

// Reads argv[1] to argv[argc - 1] into options (over the defaults SetDisplayDefaults made)
// and header->display; with an applet linked to the program (Runtime().appletLinked) the
// applet is options->programPath. Returns 0, ERR_USERABORT when there is nothing to run, or
// the code of the first fault. Values that do not fit their fields and lines that do not fit
// kCommandLineSize are ERR_ARGS.
int ParseCommandLine(int argc, const char* const* argv, qvStartupOptions* options,
                     qvScriptHeader* header);

// Frees the unknown-options list of options.
void FreeUnknownOptions(qvStartupOptions* options);
// Frees the icon files of the run-time state.
void FreeIconPaths();

}  // namespace qv
