// The pattern language of PatternFindStr and PatternReplaceStr: single-character classes
// (".", "%a" and the other class letters, "[set]"), the repetitions "?", "*", "+" and "-",
// text and position captures, back-references "%1" to "%9", balanced runs "%bxy", frontiers
// "%f[set]" and a final "$". The matcher backtracks; it recurses only for repetitions and
// captures, at most 200 levels deep (deeper patterns raise ERR_STACK), and it ends with
// ERR_USERABORT when the abort flag is set while it runs.
#pragma once

#include "engine/vm.h"

// PatternFindStr(s, pattern) returns an iterator: each call returns the captures of the next
// match (the whole match when the pattern has none), nothing when no match is left.
int PatternFindStr(qvVmState* L);
// PatternReplaceStr(s, pattern, repl [, max]) returns s with at most max matches replaced by
// repl (a string with "%0" to "%9" or a function of the captures), and their number.
int PatternReplaceStr(qvVmState* L);
