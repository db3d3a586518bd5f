// The assembler: listing text to chunk bytes. Instructions are kept as tokens until their
// function's .end, when labels, constants and nested functions are all known.
#include <algorithm>
#include <bit>
#include <cctype>
#include <functional>
#include <optional>

#include "tools/qvasm/chunk_image.h"
#include "tools/qvasm/literals.h"
#include "tools/qvasm/qvasm.h"

namespace qv {
namespace {

struct Token {
    bool quoted = false;  // a string literal (text holds the decoded bytes)
    std::string text;
};
using Tokens = std::vector<Token>;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& ch : out) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return out;
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& ch : out) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return out;
}

int HexDigit(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : -1;
}

// Decodes the string literal that starts at line[*pos] (the opening quote).
std::optional<std::string> ReadQuoted(std::string_view line, size_t* pos, std::string* error) {
    std::string text;
    for (size_t i = *pos + 1; i < line.size(); ++i) {
        char ch = line[i];
        if (ch == '"') {
            *pos = i + 1;
            return text;
        }
        if (ch != '\\') {
            text += ch;
            continue;
        }
        if (++i == line.size()) break;
        switch (line[i]) {
            case '"':
                text += '"';
                break;
            case '\\':
                text += '\\';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case '0':
                text += '\0';
                break;
            case 'x': {
                const int hi = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
                const int lo = i + 2 < line.size() ? HexDigit(line[i + 2]) : -1;
                if (hi < 0 || lo < 0) {
                    *error = "\\x needs two hexadecimal digits";
                    return std::nullopt;
                }
                text += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                *error = std::string("unknown escape \\") + line[i];
                return std::nullopt;
        }
    }
    *error = "unterminated string";
    return std::nullopt;
}

// Splits a line into words and string literals; ';' outside a string starts a comment.
std::optional<Tokens> Tokenize(std::string_view line, std::string* error) {
    Tokens tokens;
    size_t i = 0;
    while (i < line.size()) {
        const char ch = line[i];
        if (ch == ';') break;
        if (std::isspace(static_cast<unsigned char>(ch))) {
            ++i;
        } else if (ch == '"') {
            auto text = ReadQuoted(line, &i, error);
            if (!text) return std::nullopt;
            tokens.push_back({true, std::move(*text)});
        } else {
            const size_t start = i;
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) &&
                   line[i] != ';' && line[i] != '"') {
                ++i;
            }
            tokens.push_back({false, std::string(line.substr(start, i - start))});
        }
    }
    return tokens;
}

// "key=value" words: the key lower-cased, the value as written.
std::optional<std::pair<std::string, std::string>> SplitOption(const Token& t) {
    const size_t eq = t.text.find('=');
    if (t.quoted || eq == std::string::npos) return std::nullopt;
    return std::make_pair(Lower(t.text.substr(0, eq)), t.text.substr(eq + 1));
}

// "rN", "uN", "kN" (prefix in either case).
std::optional<int64_t> PrefixedNumber(const Token& t, char prefix) {
    if (t.quoted || t.text.size() < 2 || std::tolower(t.text[0]) != prefix) return std::nullopt;
    const std::string_view digits = std::string_view(t.text).substr(1);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(c); })) {
        return std::nullopt;
    }
    return ParseInteger(digits);
}

struct PendingInsn {
    int line = 0;
    int pc = 0;
    int op = -1;  // an opcode, or -1 for .word
    uint32_t word = 0;
    Tokens args;
};

struct PendingLocal {
    int line;
    ChunkString name;
    Token from, to;
};

struct FunctionBuilder {
    std::string name;
    ChunkFunction f;
    std::optional<ChunkString> source;  // as given by .source
    std::optional<uint8_t> maxstack;
    std::optional<uint8_t> nups;
    bool hasLines = false;
    uint32_t currentLine = 0;
    std::vector<uint32_t> lines;  // per code position
    size_t number = 0;            // in chunk order
    AsmFunctionLines listing;
    std::vector<bool> reusable;  // per constant: literals may share it
    std::map<std::string, int> codeLabels;
    std::vector<PendingInsn> insns;
    std::vector<PendingLocal> locals;
    std::vector<std::string> childNames;
    int pc = 0;
    int64_t maxRegister = -1;
};

int64_t FieldMax(Field f) {
    switch (f) {
        case Field::A:
            return kMaxA;
        case Field::B:
            return kMaxB;
        case Field::C:
            return kMaxC;
        case Field::Bx:
            return kMaxBx;
        case Field::SBx:
            return kMaxBx - kSBxBias;
        case Field::J:
            return kMaxJ - kJBias;
    }
    return 0;
}

std::string_view FieldName(Field f) {
    static constexpr std::string_view kNames[] = {"A", "B", "C", "Bx", "sBx", "J"};
    return kNames[static_cast<int>(f)];
}

class Assembler {
public:
    explicit Assembler(const AssembleOptions& options) : options_(options) {
        if (options.littleEndian) header_.order = chunk::kOrderLittle;
    }

    AssembleResult Run(std::string_view text);

private:
    void Error(std::string message) { result_.diagnostics.push_back({line_, std::move(message)}); }
    void ErrorAt(int line, std::string message) {
        result_.diagnostics.push_back({line, std::move(message)});
    }
    FunctionBuilder* Current() { return stack_.empty() ? nullptr : &stack_.back(); }

    void Line(Tokens tokens);
    void Directive(const std::string& name, const Tokens& args);
    void HeaderDirective(const Tokens& args);
    void BeginFunction(const Tokens& args);
    bool FunctionAttribute(FunctionBuilder& fb, const Token& t);
    void EndFunction();
    void FunctionDirective(FunctionBuilder& fb, const std::string& name, const Tokens& args);
    void CodeLabel(FunctionBuilder& fb, const std::string& name);
    void Instruction(FunctionBuilder& fb, const std::string& mnemonic, Tokens args);
    void AddInsn(FunctionBuilder& fb, int op, uint32_t word, Tokens args, int size);

    std::optional<int64_t> Integer(const Token& t, int64_t min, int64_t max, std::string_view what);
    std::optional<ChunkString> Name(const Token& t);
    std::optional<ChunkConstant> Literal(const Token& t);

    // Encoding at .end.
    void Encode(FunctionBuilder& fb, const PendingInsn& in);
    std::optional<uint32_t> Operand(FunctionBuilder& fb, const PendingInsn& in, Operand o,
                                    const Token& t);
    std::optional<uint32_t> ConstantIndex(FunctionBuilder& fb, const Token& t, uint32_t max);
    std::optional<int64_t> Target(FunctionBuilder& fb, const Token& t);
    void Captures(FunctionBuilder& fb, const PendingInsn& in, uint32_t proto, const Tokens& caps);
    void ResolveLocals(FunctionBuilder& fb);
    void NoteRegister(FunctionBuilder& fb, int64_t r) {
        fb.maxRegister = std::max(fb.maxRegister, r);
    }

    const AssembleOptions& options_;
    ChunkHeader header_;
    bool mainSourceGiven_ = false;
    std::vector<FunctionBuilder> stack_;
    std::optional<ChunkFunction> main_;
    AssembleResult result_;
    int line_ = 0;
};

// Sources are settled once the whole tree is known: a nested function whose source equals
// its parent's is written without one, as the engine's writer does.
void ResolveSources(ChunkFunction& f, const ChunkString& inherited) {
    const ChunkString effective = f.source ? f.source : inherited;
    if (f.source == inherited) f.source.reset();
    for (ChunkFunction& child : f.protos) ResolveSources(child, effective);
}

AssembleResult Assembler::Run(std::string_view text) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++line_;
        std::string error;
        if (auto tokens = Tokenize(line, &error)) {
            Line(std::move(*tokens));
        } else {
            Error(error);
        }
        start = end + 1;
    }
    if (!stack_.empty()) Error(".function " + stack_.back().name + " has no .end");
    if (!main_) Error("no function");
    if (!result_.ok()) {
        result_.labels.clear();
        return std::move(result_);
    }
    if (!mainSourceGiven_) {
        main_->source = options_.sourceName.empty() ? "=test" : options_.sourceName;
    }
    for (ChunkFunction& child : main_->protos) ResolveSources(child, main_->source);
    result_.bytes = WriteChunkImage({header_, std::move(*main_)});
    return std::move(result_);
}

void Assembler::Line(Tokens tokens) {
    if (tokens.empty()) return;
    FunctionBuilder* fb = Current();
    const Token& first = tokens.front();
    if (!first.quoted && first.text.size() > 1 && first.text.back() == ':' &&
        first.text[0] != '.') {
        if (!fb) return Error("label outside a function");
        CodeLabel(*fb, first.text.substr(0, first.text.size() - 1));
        tokens.erase(tokens.begin());
        if (tokens.empty()) return;
    }
    const std::string head = tokens.front().text;
    tokens.erase(tokens.begin());
    if (!head.empty() && head[0] == '.') return Directive(Lower(head), tokens);
    if (!fb) return Error("instruction outside a function");
    Instruction(*fb, Upper(head), std::move(tokens));
}

void Assembler::Directive(const std::string& name, const Tokens& args) {
    if (name == ".header") return HeaderDirective(args);
    if (name == ".function") return BeginFunction(args);
    FunctionBuilder* fb = Current();
    if (!fb) return Error(name + " outside a function");
    if (name == ".end") {
        if (!args.empty()) Error(".end takes no operands");
        return EndFunction();
    }
    FunctionDirective(*fb, name, args);
}

std::optional<int64_t> Assembler::Integer(const Token& t, int64_t min, int64_t max,
                                          std::string_view what) {
    const auto v = t.quoted ? std::nullopt : ParseInteger(t.text);
    if (!v) {
        Error(std::string(what) + ": expected an integer, found '" + t.text + "'");
    } else if (*v < min || *v > max) {
        Error(std::string(what) + ": " + t.text + " is out of range " + std::to_string(min) + ".." +
              std::to_string(max));
        return std::nullopt;
    }
    return v;
}

// A name: a word, a quoted string, or nil for no string.
std::optional<ChunkString> Assembler::Name(const Token& t) {
    if (t.quoted) return ChunkString(t.text);
    if (t.text == "nil") return ChunkString();
    if (IsName(t.text)) return ChunkString(t.text);
    Error("expected a name, found '" + t.text + "'");
    return std::nullopt;
}

std::optional<ChunkConstant> Assembler::Literal(const Token& t) {
    if (t.quoted) return ChunkConstant{chunk::kTagString, true, 0, t.text};
    if (Lower(t.text) == "nil") return ChunkConstant{};
    if (auto n = ParseNumber(Lower(t.text))) return ChunkConstant{chunk::kTagNumber, true, *n, {}};
    Error("expected a constant, found '" + t.text + "'");
    return std::nullopt;
}

void Assembler::HeaderDirective(const Tokens& args) {
    if (main_ || !stack_.empty()) return Error(".header must come before the first .function");
    static constexpr std::string_view kKeys[] = {"int", "size", "insn", "op", "a", "b", "c", "num"};
    for (const Token& t : args) {
        const auto kv = SplitOption(t);
        if (!kv) {
            Error(".header: expected key=value, found '" + t.text + "'");
            continue;
        }
        const auto& [key, value] = *kv;
        const Token v{false, value};
        if (key == "order") {
            if (value == "be" || value == "le") {
                header_.order = value == "le" ? chunk::kOrderLittle : chunk::kOrderBig;
            } else {
                Error(".header: order must be be or le");
            }
        } else if (key == "testnum") {
            if (auto n = ParseNumber(value)) {
                header_.testNumber = *n;
            } else {
                Error(".header: testnum needs a number");
            }
        } else if (auto it = std::find(std::begin(kKeys), std::end(kKeys), key);
                   it != std::end(kKeys)) {
            if (auto n = Integer(v, 0, 255, ".header " + key)) {
                header_.sizes[it - std::begin(kKeys)] = static_cast<uint8_t>(*n);
            }
        } else {
            Error(".header: unknown key '" + key + "'");
        }
    }
}

void Assembler::BeginFunction(const Tokens& args) {
    if (main_ && stack_.empty()) return Error("a listing holds one main function");
    if (args.empty() || args[0].quoted || !IsName(args[0].text)) {
        return Error(".function needs a name");
    }
    FunctionBuilder fb;
    fb.name = args[0].text;
    fb.number = result_.functions.size();
    fb.listing.begin = line_;
    result_.functions.emplace_back();
    if (!stack_.empty()) {
        FunctionBuilder& parent = stack_.back();
        if (std::count(parent.childNames.begin(), parent.childNames.end(), fb.name)) {
            Error("function " + fb.name + " is defined twice in " + parent.name);
        }
        parent.childNames.push_back(fb.name);
        fb.f.lineDefined = static_cast<uint32_t>(line_);
    }
    for (size_t i = 1; i < args.size(); ++i) {
        if (!FunctionAttribute(fb, args[i]))
            Error(".function: unknown attribute '" + args[i].text + "'");
    }
    stack_.push_back(std::move(fb));
}

bool Assembler::FunctionAttribute(FunctionBuilder& fb, const Token& t) {
    if (!t.quoted && Lower(t.text) == "vararg") {
        fb.f.isVararg = 1;
        return true;
    }
    const auto kv = SplitOption(t);
    if (!kv) return false;
    const Token v{false, kv->second};
    const std::string& key = kv->first;
    if (key == "line") {
        if (auto n = Integer(v, INT32_MIN, UINT32_MAX, "line")) {
            fb.f.lineDefined = static_cast<uint32_t>(*n);
        }
        return true;
    }
    uint8_t* byte = key == "params" ? &fb.f.numparams : key == "vararg" ? &fb.f.isVararg : nullptr;
    if (key == "maxstack") byte = &fb.maxstack.emplace();
    if (!byte) return false;
    if (auto n = Integer(v, 0, 255, key)) *byte = static_cast<uint8_t>(*n);
    return true;
}

void Assembler::FunctionDirective(FunctionBuilder& fb, const std::string& name,
                                  const Tokens& args) {
    const size_t wanted = name == ".local" ? 3 : 1;
    if (args.size() != wanted) {
        return Error(name + " takes " + std::to_string(wanted) + " operand(s)");
    }
    const Token& t = args[0];
    if (name == ".source") {
        if (auto s = Name(t)) {
            fb.source = *s;
            if (stack_.size() == 1) mainSourceGiven_ = true;
        }
    } else if (name == ".upval") {
        if (auto s = Name(t)) fb.f.upvalueNames.push_back(*s);
    } else if (name == ".nups") {
        if (auto n = Integer(t, 0, 255, ".nups")) fb.nups = static_cast<uint8_t>(*n);
    } else if (name == ".const") {
        if (auto k = Literal(t)) {
            fb.f.constants.push_back(*k);
            fb.reusable.push_back(true);
        }
    } else if (name == ".rawconst") {
        if (auto n = Integer(t, 0, 255, ".rawconst")) {
            fb.f.constants.push_back({static_cast<uint8_t>(*n), false, 0, {}});
            fb.reusable.push_back(false);
        }
    } else if (name == ".local") {
        if (auto s = Name(t)) fb.locals.push_back({line_, *s, args[1], args[2]});
    } else if (name == ".line") {
        if (auto n = Integer(t, INT32_MIN, UINT32_MAX, ".line")) {
            fb.hasLines = true;
            fb.currentLine = static_cast<uint32_t>(*n);
        }
    } else if (name == ".label") {
        if (stack_.size() != 1) return Error(".label belongs in the main function");
        if (t.quoted || !IsName(t.text)) return Error(".label needs a name");
        if (!result_.labels.emplace(t.text, fb.pc).second) Error("label " + t.text + " twice");
    } else if (name == ".word") {
        if (auto n = Integer(t, 0, UINT32_MAX, ".word")) {
            AddInsn(fb, -1, static_cast<uint32_t>(*n), {}, 1);
        }
    } else {
        Error("unknown directive " + name);
    }
}

void Assembler::CodeLabel(FunctionBuilder& fb, const std::string& name) {
    if (!IsName(name)) return Error("bad label name '" + name + "'");
    if (!fb.codeLabels.emplace(name, fb.pc).second) Error("label " + name + " defined twice");
}

void Assembler::AddInsn(FunctionBuilder& fb, int op, uint32_t word, Tokens args, int size) {
    fb.insns.push_back({line_, fb.pc, op, word, std::move(args)});
    fb.pc += size;
    fb.lines.insert(fb.lines.end(), size, fb.currentLine);
    fb.listing.code.insert(fb.listing.code.end(), size, line_);
}

void Assembler::Instruction(FunctionBuilder& fb, const std::string& mnemonic, Tokens args) {
    if (mnemonic == "JSR") {
        args.push_back({false, "m=2"});
        return Instruction(fb, "JMP", std::move(args));
    }
    if (mnemonic == "RETSUB") {
        if (!args.empty()) return Error("RETSUB takes no operands");
        return Instruction(fb, "RETURN", {{false, "r0"}, {false, "0"}, {false, "1"}});
    }
    const auto it = std::find_if(kOpInfo.begin(), kOpInfo.end(),
                                 [&](const OpInfo& info) { return info.name == mnemonic; });
    if (it == kOpInfo.end()) return Error("unknown instruction " + mnemonic);
    const auto op = static_cast<int>(it - kOpInfo.begin());
    // CLOSURE's captures take a code position each.
    const int captures = op == OP_CLOSURE ? std::max<int>(0, int(args.size()) - 2) : 0;
    AddInsn(fb, op, 0, std::move(args), 1 + captures);
}

void Assembler::EndFunction() {
    FunctionBuilder fb = std::move(stack_.back());
    stack_.pop_back();
    const int endLine = line_;
    for (const PendingInsn& in : fb.insns) Encode(fb, in);
    ResolveLocals(fb);
    line_ = endLine;
    ChunkFunction& f = fb.f;
    f.source = fb.source.value_or(ChunkString());
    f.nups = fb.nups.value_or(static_cast<uint8_t>(std::min<size_t>(f.upvalueNames.size(), 255)));
    if (fb.hasLines) {
        f.lineinfo = fb.lines;
    } else if (options_.listingLines) {
        f.lineinfo.assign(fb.listing.code.begin(), fb.listing.code.end());
    }
    result_.functions[fb.number] = std::move(fb.listing);
    const int64_t needed = std::max<int64_t>(2, fb.maxRegister + 1);
    if (fb.maxstack) {
        f.maxstack = *fb.maxstack;
    } else if (needed > 255) {
        Error("function " + fb.name + " needs " + std::to_string(needed) +
              " registers; give maxstack=");
    } else {
        f.maxstack = static_cast<uint8_t>(needed);
    }
    if (stack_.empty()) {
        main_ = std::move(f);
    } else {
        stack_.back().f.protos.push_back(std::move(f));
    }
}

void Assembler::ResolveLocals(FunctionBuilder& fb) {
    for (const PendingLocal& l : fb.locals) {
        line_ = l.line;
        const auto from = Target(fb, l.from);
        const auto to = Target(fb, l.to);
        if (from && to) {
            fb.f.locals.push_back(
                {l.name, static_cast<uint32_t>(*from), static_cast<uint32_t>(*to)});
        }
    }
}

// A code label, or a plain pc (locals only take those).
std::optional<int64_t> Assembler::Target(FunctionBuilder& fb, const Token& t) {
    if (auto it = fb.codeLabels.find(t.text); !t.quoted && it != fb.codeLabels.end()) {
        return it->second;
    }
    if (!t.quoted && ParseInteger(t.text)) return Integer(t, INT32_MIN, UINT32_MAX, "pc");
    Error("unknown label '" + t.text + "'");
    return std::nullopt;
}

std::optional<uint32_t> Assembler::ConstantIndex(FunctionBuilder& fb, const Token& t,
                                                 uint32_t max) {
    if (auto k = PrefixedNumber(t, 'k')) {
        if (*k > max) Error("k" + std::to_string(*k) + " is beyond k" + std::to_string(max));
        return *k <= max ? std::optional<uint32_t>(*k) : std::nullopt;
    }
    const auto k = Literal(t);
    if (!k) return std::nullopt;
    const auto same = [&](const ChunkConstant& c) {
        return c.tag == k->tag && c.text == k->text &&
               std::bit_cast<uint64_t>(c.number) == std::bit_cast<uint64_t>(k->number);
    };
    auto& ks = fb.f.constants;
    size_t index = 0;
    while (index < ks.size() && !(fb.reusable[index] && same(ks[index]))) ++index;
    if (index == ks.size()) {
        ks.push_back(*k);
        fb.reusable.push_back(true);
    }
    if (index > max) {
        Error("constant " + t.text + " gets index " + std::to_string(index) + ", beyond k" +
              std::to_string(max));
        return std::nullopt;
    }
    return static_cast<uint32_t>(index);
}

std::optional<uint32_t> Assembler::Operand(FunctionBuilder& fb, const PendingInsn& in,
                                           qv::Operand o, const Token& t) {
    const int64_t max = FieldMax(o.field);
    const std::string what =
        std::string(kOpInfo[in.op].name) + " " + std::string(FieldName(o.field));
    switch (o.syntax) {
        case Syntax::Reg:
        case Syntax::Upval: {
            const char prefix = o.syntax == Syntax::Reg ? 'r' : 'u';
            const auto n = PrefixedNumber(t, prefix);
            if (!n) {
                Error(what + ": expected " + prefix + "N, found '" + t.text + "'");
            } else if (*n > max) {
                Error(what + ": " + t.text + " does not fit the field");
            } else {
                if (o.syntax == Syntax::Reg) NoteRegister(fb, *n);
                return static_cast<uint32_t>(*n);
            }
            return std::nullopt;
        }
        case Syntax::RK:
            if (auto r = PrefixedNumber(t, 'r')) {
                if (*r >= kMaxRegisters) {
                    Error(what + ": " + t.text + " is not a register an RK operand can name");
                    return std::nullopt;
                }
                NoteRegister(fb, *r);
                return static_cast<uint32_t>(*r);
            }
            if (auto k = ConstantIndex(fb, t, kMaxRKConst)) return RKOfConst(*k);
            return std::nullopt;
        case Syntax::Const:
            return ConstantIndex(fb, t, kMaxBx);
        case Syntax::Int:
        case Syntax::OptInt: {
            const auto n = Integer(t, 0, max, what);
            return n ? std::optional<uint32_t>(*n) : std::nullopt;
        }
        case Syntax::Label: {
            const auto it = fb.codeLabels.find(t.text);
            if (t.quoted || it == fb.codeLabels.end()) {
                Error(what + ": unknown label '" + t.text + "'");
                return std::nullopt;
            }
            const int64_t offset = it->second - (in.pc + 1);
            const int64_t min = o.field == Field::J ? -kJBias : -kSBxBias;
            if (offset < min || offset > max) {
                Error(what + ": label " + t.text + " is out of reach");
                return std::nullopt;
            }
            return static_cast<uint32_t>(offset - min);  // the biased field value
        }
        case Syntax::Proto: {
            const auto it = std::find(fb.childNames.begin(), fb.childNames.end(), t.text);
            if (it == fb.childNames.end()) {
                Error(what + ": " + fb.name + " has no nested function '" + t.text + "'");
                return std::nullopt;
            }
            return static_cast<uint32_t>(it - fb.childNames.begin());
        }
    }
    return std::nullopt;
}

void Assembler::Encode(FunctionBuilder& fb, const PendingInsn& in) {
    line_ = in.line;
    if (in.op < 0) {
        fb.f.code.push_back(in.word);
        return;
    }
    const OpInfo& info = kOpInfo[in.op];
    Tokens args = in.args;
    uint32_t m = 0;
    if (in.op == OP_JMP && !args.empty()) {
        const auto kv = SplitOption(args.back());
        if (kv && kv->first == "m") {
            m = static_cast<uint32_t>(Integer({false, kv->second}, 0, kMaxM, "JMP m").value_or(0));
            args.pop_back();
        }
    }
    Tokens captures;
    if (in.op == OP_CLOSURE && args.size() > 2) {
        captures.assign(args.begin() + 2, args.end());
        args.resize(2);
    }
    const bool optionalLast = info.operands[info.noperands - 1].syntax == Syntax::OptInt;
    if (args.size() != info.noperands && !(optionalLast && args.size() + 1 == info.noperands)) {
        Error(std::string(info.name) + " takes " + std::to_string(info.noperands) + " operands");
    }
    uint32_t fields[6] = {};
    for (size_t i = 0; i < std::min<size_t>(args.size(), info.noperands); ++i) {
        const qv::Operand o = info.operands[i];
        if (auto v = Operand(fb, in, o, args[i])) fields[static_cast<int>(o.field)] = *v;
    }
    const auto [a, b, c, bx, sbx, j] = fields;
    uint32_t word = 0;
    switch (info.format) {
        case OpFormat::ABC:
            word = CreateABC(in.op, a, b, c);
            break;
        case OpFormat::ABx:
            word = CreateABx(in.op, a, bx);
            break;
        case OpFormat::AsBx:
            word = CreateABx(in.op, a, sbx);
            break;
        case OpFormat::Jump:
            word = CreateABx(in.op, 0, j) | (m << kMShift);
            break;
    }
    NoteRegister(fb, ImpliedRegister(word));
    fb.f.code.push_back(word);
    if (in.op == OP_CLOSURE) Captures(fb, in, bx, captures);
}

// Each capture is a MOVE (a register of this function) or GETUPVAL (one of its upvalues).
void Assembler::Captures(FunctionBuilder& fb, const PendingInsn& in, uint32_t proto,
                         const Tokens& caps) {
    if (proto < fb.f.protos.size() && fb.f.protos[proto].nups != caps.size()) {
        Error("CLOSURE " + fb.childNames[proto] + " needs " +
              std::to_string(fb.f.protos[proto].nups) + " captures, found " +
              std::to_string(caps.size()));
    }
    for (const Token& t : caps) {
        const bool isUpval = PrefixedNumber(t, 'u').has_value();
        const qv::Operand o{Field::B, isUpval ? Syntax::Upval : Syntax::Reg};
        const uint32_t b = Operand(fb, in, o, t).value_or(0);
        fb.f.code.push_back(CreateABC(isUpval ? OP_GETUPVAL : OP_MOVE, 0, b, 0));
    }
}

}  // namespace

AssembleResult Assemble(std::string_view text, const AssembleOptions& options) {
    return Assembler(options).Run(text);
}

}  // namespace qv
