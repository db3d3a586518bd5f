// The expression evaluator behind Eval: a lexer (EvalNextToken) and a precedence-climbing
// parser that evaluates while it parses (EvalParse). All values are doubles.
#pragma once

#include <cstddef>

#include "engine/vm.h"

// Tokens beyond the single characters.
enum : int {
    EVAL_TOKEN_END = 0,
    EVAL_TOKEN_SHL = 256,    // "<<"
    EVAL_TOKEN_SHR = 257,    // ">>"
    EVAL_TOKEN_RANGE = 258,  // ".."
    EVAL_TOKEN_NE = 259,     // "<>"
    EVAL_TOKEN_LE = 260,     // "<="
    EVAL_TOKEN_GE = 261,     // ">="
    EVAL_TOKEN_AND = 262,
    EVAL_TOKEN_OR = 263,
    EVAL_TOKEN_NOT = 264,
    EVAL_TOKEN_VALUE = 265,  // a number or a variable
    // A zero byte inside the text: no rule takes it, so a text cannot end early.
    EVAL_TOKEN_STRAY_NUL = 266,
};

struct qvEvalState {
    const char* text;  // length bytes followed by a NUL
    size_t length;
    size_t position;
    int token;
    double value;  // of EVAL_TOKEN_VALUE
    // Variable names one after another, each ending in a NUL, the list ending with an empty
    // name; values in the same order. names may be nullptr for none.
    const char* names;
    const double* values;
    int depth;  // nested EvalParse calls
};

// Reads the next token into state; 0 or the number parser's error code.
int EvalNextToken(qvEvalState* state);
// Parses the expression at the current token whose binary operators have a left priority
// above limit (-1 for a whole expression): 0 with the value and the operator token that
// stopped it, or an error code. Nesting deeper than 200 gives ERR_STACK.
int EvalParse(qvEvalState* state, int limit, double* value, int* pending);

// Eval(expression [, options]) returns the expression's value.
int Eval(qvVmState* L);

namespace qv {

// The value of a whole expression (text as in qvEvalState); 0 or an error code.
int Evaluate(const char* text, size_t length, const char* names, const double* values,
             double* result);

}  // namespace qv
