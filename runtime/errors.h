// Errors travel as numbers; this turns them into texts. A command stores the argument of its
// message (a name or a number) and returns the code; the text is made only when the error is
// shown: looked up by code, translated through the catalog, the argument inserted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/vm.h"

// A script-registered error text; the text is stored in the node's own block.
struct qvErrorText {
    qvErrorText* next;
    char* text;
};

// The numeric argument of the next message ("%d", "%ld").
void SetErrorNumber(uint32_t number);
// The text argument of the next message ("%s"); the store keeps the first 511 bytes.
void SetErrorString(const char* text);
// Sets text as the argument and returns code: the failure of a command that names what failed.
int ErrorWithText(int code, const char* text);

// The complete text of an error into out (size bytes, 1024 by convention).
void FormatErrorMessage(int code, char* out, size_t size);

// Returns the code of a new script error text (1499 for the first, then 1500, ...) or
// ERR_MEM.
int RegisterErrorText(const char* text);

// The engine's hook for a command that returned an error code: records it as the last
// error, then either swallows it (returns 0) or ends the script with it (does not return).
int HandleCommandError(qvVmState* L, int code);
// Fills the command or function name, the script source name and the line of an error from
// the engine's call levels.
void CaptureErrorLocation(qvVmState* L);

namespace qv {

// Fills a message text into out (size bytes, always terminated). Texts may come from scripts
// and catalogs, so they are never printf formats: the first "%s" takes text; without one,
// the first "%d" or "%ld" takes number; "%%" gives "%"; every other "%" is copied.
void FillMessage(std::string_view message, std::string_view text, uint32_t number, char* out,
                 size_t size);

// Frees the registered error texts.
void FreeErrorTexts();

}  // namespace qv
