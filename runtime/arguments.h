// Argument services of the command handlers: one behaviour and one set of error codes for
// argument counts, ids, integers, percentages and "#CONSTANT" names, and the call of a
// script function by name. Failures that end a command are raised as script errors (they do
// not return), after the message argument was stored.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

// Raises ERR_MISSINGPARAMTR below min arguments and ERR_TOOMANYARGS above max; max 0 sets no
// upper limit, except that min = max = 0 allows none.
void CheckArgCount(qvVmState* L, int min, int max);

// Argument idx as a 32-bit integer (a number or a numeric string, truncated and saturated;
// NaN gives -2147483648). Nil, and an absent argument, give 0 with *wasNil (when given) set
// to 1: commands that create objects take that as a request for an automatic id.
int32_t GetOptIntArg(qvVmState* L, int idx, int* wasNil);

// The id argument of a command that makes an object: a number, or nil (and an absent
// argument) asking for an automatic id.
struct qvNewObjectId {
    uint32_t number;
    bool automatic;
};
qvNewObjectId GetNewObjectIdArg(qvVmState* L, int idx);

// Argument idx as an object id: light user data is an automatic id {0, handle}; a number
// (nil as 0) a script id {number, nullptr}.
qvObjectId GetObjectIdArg(qvVmState* L, int idx);

// A number (nil as 0) unchanged; a string read as a decimal number, which, when "%" follows,
// is a percentage of base: value x base / 100, or with base 0 value / 100 and *isFraction
// (when given) set to 1. A string without a number, a negative percentage or one above 100
// without allowOver100 raise ERR_PERCENTFORMAT; other types ERR_STRORNUM (argument idx as
// the message argument).
double GetNumberOrPercentArg(qvVmState* L, int idx, double base, int allowOver100, int* isFraction);

// Reads "#NAME" at the start of text: a letter or "_", then up to 64 letters, digits, "_",
// "$" and "!" in all. Returns 0 with *length the characters read (with the "#"), *string the
// text of a string constant (nullptr for a number) and *number its value; or ERR_WRONGUSAGE
// without "#", ERR_SYNTAXERROR for a bad first character, ERR_FINDCST for an unknown name.
int GetConstantValue(qvVmState* L, const char* text, int* length, const char** string,
                     double* number);

// Type words of CallScriptFunction's arguments.
enum : int {
    QV_CALLARG_INT = 0,      // int
    QV_CALLARG_UINT = 1,     // unsigned int
    QV_CALLARG_STRING = 2,   // const char*
    QV_CALLARG_NIL = 3,      // no value follows
    QV_CALLARG_POINTER = 4,  // void*, pushed as light user data
    QV_CALLARG_ID = 5,       // const qvObjectId*, pushed as the script sees the id
    QV_CALLARG_VALUE = 6,    // int: a positive stack index, whose value is passed (a table)
};

// Calls the global script function named name (in any letter case) with nargs arguments,
// each a type word and its value, under the engine's protection. Returns 0 with nresults
// results on the stack (-1: all), or the error code of anything that failed on the way
// (nothing is left on the stack then).
int CallScriptFunction(qvVmState* L, const char* name, int nresults, int nargs, ...);

namespace qv {

// Pushes an id as scripts see it: a script id as its number, an automatic id as light user
// data.
void PushObjectId(qvVmState* L, const qvObjectId& id);

// The value at idx (a number or light user data) as an id; other types raise
// ERR_NUMTABLEARG with field as the message argument, or with field nullptr
// ERR_NUMEXPECTED with argument idx.
qvObjectId ReadObjectId(qvVmState* L, int idx, const char* field);

// Adds the script's own text of argument idx (what its global "tostring" makes of it) to the
// buffer; a result that is no string raises ERR_STRINGEXPECTED.
void AddScriptText(qvVmState* L, StrBuf* buffer, int idx);

// GetNumberOrPercentArg of the value at idx, errors naming argument reportIdx.
double ReadNumberOrPercent(qvVmState* L, int idx, int reportIdx, double base, int allowOver100,
                           int* isFraction);

}  // namespace qv
