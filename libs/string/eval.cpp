#include "libs/string/eval.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/case_tables.h"
#include "engine/convert.h"
#include "platform/linux/blocks.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/number_literal.h"

namespace qv {
namespace {

// Deeper nesting than the engine allows native calls would only ever come from hostile or
// broken text, and unbounded recursion would overflow the native stack.
constexpr int kMaxEvalDepth = 200;
constexpr size_t kMaxNameLength = 64;

// A letter is a byte with a case partner in the ISO 8859-1 tables.
bool IsLetter(uint8_t c) {
    return kUpperCase[c] != kLowerCase[c];
}

bool IsDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}

// The operator words in token order from EVAL_TOKEN_SHL.
constexpr std::string_view kWords[] = {"<<", ">>", "..", "<>", "<=", ">=", "and", "or", "not"};

uint8_t ByteAt(const qvEvalState* s, size_t at) {
    return at < s->length ? static_cast<uint8_t>(s->text[at]) : 0;
}

// Whether word stands at the position in any letter case, not followed by a letter or a
// digit; "1<<2" therefore reads as "<", "<", 2.
bool WordAt(const qvEvalState* s, std::string_view word) {
    if (s->length - s->position < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        const uint8_t c = ByteAt(s, s->position + i);
        if (kLowerCase[c] != kLowerCase[static_cast<uint8_t>(word[i])]) return false;
    }
    const uint8_t next = ByteAt(s, s->position + word.size());
    return !IsLetter(next) && !IsDigit(next);
}

bool ReadWord(qvEvalState* s) {
    for (size_t i = 0; i < std::size(kWords); ++i) {
        if (!WordAt(s, kWords[i])) continue;
        s->position += kWords[i].size();
        s->token = EVAL_TOKEN_SHL + static_cast<int>(i);
        return true;
    }
    return false;
}

bool ReadVariable(qvEvalState* s) {
    if (s->names == nullptr) return false;
    size_t index = 0;
    for (const char* name = s->names; *name != '\0'; name += std::strlen(name) + 1, ++index) {
        if (!WordAt(s, name)) continue;
        s->position += std::strlen(name);
        s->token = EVAL_TOKEN_VALUE;
        s->value = s->values[index];
        return true;
    }
    return false;
}

struct BinaryOperator {
    int token;
    int left;
    int right;
};

constexpr BinaryOperator kBinary[] = {
    {'+', 10, 10},
    {'-', 10, 10},
    {'*', 11, 11},
    {'/', 11, 11},
    {'\\', 11, 11},
    {'%', 11, 11},
    {EVAL_TOKEN_SHL, 9, 9},
    {EVAL_TOKEN_SHR, 9, 9},
    {'|', 6, 6},
    {'&', 8, 8},
    {'~', 7, 7},
    {'^', 14, 13},
    {EVAL_TOKEN_RANGE, 5, 4},
    {EVAL_TOKEN_NE, 3, 3},
    {'=', 3, 3},
    {'<', 3, 3},
    {EVAL_TOKEN_LE, 3, 3},
    {'>', 3, 3},
    {EVAL_TOKEN_GE, 3, 3},
    {EVAL_TOKEN_AND, 2, 2},
    {EVAL_TOKEN_OR, 1, 1},
};

constexpr int kUnaryPriority = 12;

const BinaryOperator* FindBinary(int token) {
    for (const BinaryOperator& op : kBinary) {
        if (op.token == token) return &op;
    }
    return nullptr;
}

// "\" and "%" on signed 32-bit integers; a divisor of -1 is done apart, since the quotient
// of INT32_MIN by it does not fit (the result here is a double, so it simply is 2^31).
int IntegerDivide(int token, double x, double y, double* out) {
    const int32_t a = Trunc32(x);
    const int32_t b = Trunc32(y);
    if (b == 0) return ERR_ZERODIVISION;
    if (b == -1) {
        *out = token == '\\' ? -static_cast<double>(a) : 0.0;
    } else {
        *out = token == '\\' ? a / b : a % b;
    }
    return 0;
}

// Shifts and bit operators on 32-bit patterns; counts are taken modulo 64 and those from 32
// up shift everything out.
double BitOperation(int token, double x, double y) {
    const uint32_t a = Bits32(x);
    const uint32_t b = Bits32(y);
    const uint32_t count = b & 63;
    switch (token) {
        case EVAL_TOKEN_SHL:
            return count < 32 ? a << count : 0;
        case EVAL_TOKEN_SHR:
            return count < 32 ? a >> count : 0;
        case '|':
            return a | b;
        case '&':
            return a & b;
        default:  // '~'
            return a ^ b;
    }
}

int Combine(int token, double x, double y, double* out) {
    switch (token) {
        case '+':
            *out = x + y;
            return 0;
        case '-':
            *out = x - y;
            return 0;
        case '*':
            *out = x * y;
            return 0;
        case '/':
            if (y == 0) return ERR_ZERODIVISION;
            *out = x / y;
            return 0;
        case '\\':
        case '%':
            return IntegerDivide(token, x, y, out);
        case '^':
            *out = std::pow(x, y);
            return 0;
        case EVAL_TOKEN_NE:
            *out = x != y;
            return 0;
        case '=':
            *out = x == y;
            return 0;
        case '<':
            *out = x < y;
            return 0;
        case EVAL_TOKEN_LE:
            *out = x <= y;
            return 0;
        case '>':
            *out = x > y;
            return 0;
        case EVAL_TOKEN_GE:
            *out = x >= y;
            return 0;
        case EVAL_TOKEN_AND:
            *out = x != 0 && y != 0 ? y : 0;
            return 0;
        case EVAL_TOKEN_OR:
            *out = x != 0 ? x : y;
            return 0;
        case EVAL_TOKEN_RANGE:
            return ERR_WRONGOPCST;
        default:
            *out = BitOperation(token, x, y);
            return 0;
    }
}

double ApplyUnary(int token, double v) {
    switch (token) {
        case '-':
            return -v;
        case EVAL_TOKEN_NOT:
            return v == 0 ? 1 : 0;
        default:  // '~'
            return static_cast<uint32_t>(~Bits32(v));
    }
}

// An operand and the token after it.
int ParseOperand(qvEvalState* s, double* value, int* pending) {
    const int token = s->token;
    int code = 0;
    if (token == '-' || token == '~' || token == EVAL_TOKEN_NOT) {
        if ((code = EvalNextToken(s)) != 0) return code;
        if ((code = EvalParse(s, kUnaryPriority, value, pending)) != 0) return code;
        *value = ApplyUnary(token, *value);
        return 0;
    }
    if (token == '(') {
        if ((code = EvalNextToken(s)) != 0) return code;
        if ((code = EvalParse(s, -1, value, pending)) != 0) return code;
        if (*pending != ')') return ERR_SYNTAXERROR;
    } else if (token == EVAL_TOKEN_VALUE) {
        *value = s->value;
    } else {
        return ERR_SYNTAXERROR;
    }
    if ((code = EvalNextToken(s)) != 0) return code;
    *pending = s->token;
    return 0;
}

struct DepthGuard {
    explicit DepthGuard(int* depth) : depth_(depth) { ++*depth_; }
    ~DepthGuard() { --*depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int* depth_;
};

}  // namespace

int Evaluate(const char* text, size_t length, const char* names, const double* values,
             double* result) {
    qvEvalState state{text, length, 0, 0, 0, names, values, 0};
    int pending = 0;
    int code = EvalNextToken(&state);
    if (code == 0) code = EvalParse(&state, -1, result, &pending);
    if (code == 0 && pending != EVAL_TOKEN_END) code = ERR_SYNTAXERROR;
    return code;
}

}  // namespace qv

int EvalNextToken(qvEvalState* s) {
    while (s->position < s->length && (s->text[s->position] == ' ' || s->text[s->position] == '\t'))
        ++s->position;
    if (s->position == s->length) {
        s->token = EVAL_TOKEN_END;
        return 0;
    }
    const auto c = static_cast<uint8_t>(s->text[s->position]);
    if (qv::IsDigit(c) || c == '$') {
        int used = 0;
        int error = 0;
        const double value = ParseNumberLiteral(s->text + s->position, &used, &error);
        if (error != 0) return error;
        s->position += static_cast<size_t>(used);
        s->token = EVAL_TOKEN_VALUE;
        s->value = value;
        return 0;
    }
    if (qv::ReadWord(s) || qv::ReadVariable(s)) return 0;
    ++s->position;
    s->token = c != 0 ? int{c} : int{EVAL_TOKEN_STRAY_NUL};
    return 0;
}

int EvalParse(qvEvalState* s, int limit, double* value, int* pending) {
    if (s->depth > qv::kMaxEvalDepth) return ERR_STACK;
    qv::DepthGuard guard(&s->depth);
    int code = qv::ParseOperand(s, value, pending);
    while (code == 0) {
        const qv::BinaryOperator* op = qv::FindBinary(*pending);
        if (op == nullptr || op->left <= limit) break;
        double right = 0;
        if ((code = EvalNextToken(s)) != 0) break;
        if ((code = EvalParse(s, op->right, &right, pending)) != 0) break;
        code = qv::Combine(op->token, *value, right, value);
    }
    return code;
}

namespace qv {
namespace {

// A variable name: 1 to 64 characters, a letter or "_" first, then letters, digits, "_",
// "$" and "!".
bool IsVariableName(const char* name, size_t length) {
    if (name == nullptr || length == 0 || length > kMaxNameLength) return false;
    const auto first = static_cast<uint8_t>(name[0]);
    if (!IsLetter(first) && first != '_') return false;
    for (size_t i = 1; i < length; ++i) {
        const auto c = static_cast<uint8_t>(name[i]);
        if (!IsLetter(c) && !IsDigit(c) && c != '_' && c != '$' && c != '!') return false;
    }
    return true;
}

// Pushes field of the table at idx. Raw reads: a metamethod could answer the two passes
// differently.
void PushField(qvVmState* L, int idx, const char* field) {
    VmPushString(L, field);
    VmRawGet(L, idx < 0 ? idx - 1 : idx);
}

// The packed names and the values of the "variables" list.
struct Variables {
    BlockPtr<char> names;
    BlockPtr<double> values;
};

// Checks entry i of the list at idx (pushed on top) and adds its name's space to *size.
int CheckVariable(qvVmState* L, size_t* size) {
    if (VmType(L, -1) != VM_TTABLE) return ERR_TABEXPECTED;
    PushField(L, -1, "name");
    size_t length = 0;
    const char* name = VmType(L, -1) == VM_TSTRING ? VmToString(L, -1) : nullptr;
    if (name != nullptr) length = VmStrLen(L, -1);
    VmSetTop(L, -2);
    if (!IsVariableName(name, length)) return ERR_WRONGUSAGE;
    *size += length + 1;
    return 0;
}

// Reads the list at idx in two passes: the first checks every entry and sizes the blocks,
// the second fills them.
int ReadVariables(qvVmState* L, int idx, Variables* out) {
    const int top = VmGetTop(L);
    size_t size = 1;
    size_t count = 0;
    for (;; ++count) {
        VmRawGetI(L, idx, static_cast<int>(count));
        if (VmType(L, -1) == VM_TNIL) break;
        const int code = CheckVariable(L, &size);
        VmSetTop(L, top);
        if (code != 0) return code;
    }
    VmSetTop(L, top);
    out->names.reset(static_cast<char*>(AllocMemBlock(size, 0)));
    out->values.reset(
        static_cast<double*>(AllocMemBlock(std::max<size_t>(count, 1) * sizeof(double), 0)));
    if (!out->names || !out->values) return ERR_MEM;
    char* name = out->names.get();
    for (size_t i = 0; i < count; ++i) {
        VmRawGetI(L, idx, static_cast<int>(i));
        PushField(L, -1, "name");
        const size_t length = VmStrLen(L, -1);
        std::memcpy(name, VmToString(L, -1), length + 1);
        name += length + 1;
        PushField(L, -2, "value");
        // Returned, not raised: every failure of Eval is its code. Nil reads as 0.
        if (!VmIsNumber(L, -1)) return ErrorWithText(ERR_NUMTABLEARG, "value");
        out->values.get()[i] = VmToNumber(L, -1);
        VmSetTop(L, top);
    }
    *name = '\0';
    return 0;
}

// The options table at idx: its "variables" list when that is a table. Options that are no
// table are one of Eval's own returned codes, not an argument check.
int ReadOptions(qvVmState* L, int idx, Variables* out) {
    if (VmType(L, idx) != VM_TTABLE) return ERR_TABEXPECTED;
    PushField(L, idx, "variables");
    const int code = VmType(L, -1) == VM_TTABLE ? ReadVariables(L, VmGetTop(L), out) : 0;
    VmSetTop(L, idx);
    return code;
}

}  // namespace
}  // namespace qv

int Eval(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    size_t length = 0;
    const char* text = GetArgString(L, 1, &length);
    qv::Variables variables;
    if (VmGetTop(L) >= 2) {
        const int code = qv::ReadOptions(L, 2, &variables);
        if (code != 0) return code;
    }
    double result = 0;
    const int code =
        qv::Evaluate(text, length, variables.names.get(), variables.values.get(), &result);
    if (code != 0) return code;
    VmPushNumber(L, result);
    return 1;
}
