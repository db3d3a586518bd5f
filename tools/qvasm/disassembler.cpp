// The disassembler: chunk bytes to the canonical listing, which assembles to the same bytes.
// What the listing syntax cannot say is kept as .word, or noted in a comment.
#include <bit>
#include <cstdio>
#include <set>

#include "tools/qvasm/chunk_image.h"
#include "tools/qvasm/literals.h"
#include "tools/qvasm/qvasm.h"

namespace qv {
namespace {

std::string NameText(const ChunkString& s) {
    if (!s) return "nil";
    return IsName(*s) && *s != "nil" ? *s : QuoteString(*s);
}

std::string ConstantText(const ChunkConstant& k) {
    if (k.tag == chunk::kTagNil) return ".const nil";
    if (!k.payload) return ".rawconst " + std::to_string(k.tag);
    if (k.tag == chunk::kTagString) return ".const " + QuoteString(k.text);
    std::string text = ".const " + FormatNumber(k.number);
    const auto bits = std::bit_cast<uint64_t>(k.number);
    if (std::bit_cast<uint64_t>(*ParseNumber(FormatNumber(k.number))) != bits) {
        char note[64];
        std::snprintf(note, sizeof note, "  ; note: NaN bits 0x%016llX",
                      static_cast<unsigned long long>(bits));
        text += note;
    }
    return text;
}

std::string HeaderText(const ChunkHeader& h) {
    static constexpr const char* kKeys[] = {"int", "size", "insn", "op", "a", "b", "c", "num"};
    std::string keys;
    if (h.order == chunk::kOrderLittle) keys += " order=le";
    for (size_t i = 0; i < h.sizes.size(); ++i) {
        if (h.sizes[i] != chunk::kSizes[i]) {
            keys += std::string(" ") + kKeys[i] + "=" + std::to_string(h.sizes[i]);
        }
    }
    if (std::bit_cast<uint64_t>(h.testNumber) != std::bit_cast<uint64_t>(chunk::kTestNumber)) {
        keys += " testnum=" + FormatNumber(h.testNumber);
    }
    std::string text = keys.empty() ? "" : ".header" + keys + "\n";
    if (h.order != chunk::kOrderBig && h.order != chunk::kOrderLittle) {
        text += "; note: byte order byte " + std::to_string(h.order) + " (read as big-endian)\n";
    }
    return text;
}

class FunctionPrinter {
public:
    FunctionPrinter(const ChunkFunction& f, std::string name, bool isMain, std::string* out)
        : f_(f), name_(std::move(name)), isMain_(isMain), out_(*out) {}

    void Print();

private:
    int64_t JumpTarget(uint32_t pc) const;
    bool Representable(int64_t target) const {
        return target >= 0 && target <= static_cast<int64_t>(f_.code.size());
    }
    std::string ChildName(size_t i) const {
        return isMain_ ? "p" + std::to_string(i) : name_ + "_" + std::to_string(i);
    }
    void Attributes();
    void Code();
    size_t Captures(uint32_t pc) const;
    std::optional<std::string> InstructionText(uint32_t pc) const;
    std::string OperandText(uint32_t pc, Operand o, uint32_t word) const;
    void Line(const std::string& s) { out_ += s + "\n"; }

    const ChunkFunction& f_;
    std::string name_;
    bool isMain_;
    std::string& out_;
    std::set<int64_t> labels_;
};

void FunctionPrinter::Print() {
    Attributes();
    for (size_t i = 0; i < f_.protos.size(); ++i) {
        FunctionPrinter(f_.protos[i], ChildName(i), false, &out_).Print();
    }
    Code();
    Line(".end");
}

void FunctionPrinter::Attributes() {
    std::string head = ".function " + name_ + " params=" + std::to_string(f_.numparams);
    if (f_.isVararg == 1) head += " vararg";
    if (f_.isVararg > 1) head += " vararg=" + std::to_string(f_.isVararg);
    head += " maxstack=" + std::to_string(f_.maxstack);
    head += " line=" + std::to_string(static_cast<int32_t>(f_.lineDefined));
    Line(head);
    if (isMain_ || f_.source) Line(".source " + NameText(f_.source));
    if (f_.upvalueNames.size() != f_.nups) Line(".nups " + std::to_string(f_.nups));
    for (const ChunkString& name : f_.upvalueNames) Line(".upval " + NameText(name));
    for (const ChunkConstant& k : f_.constants) Line(ConstantText(k));
    for (const ChunkLocal& l : f_.locals) {
        Line(".local " + NameText(l.name) + " " + std::to_string(static_cast<int32_t>(l.startpc)) +
             " " + std::to_string(static_cast<int32_t>(l.endpc)));
    }
}

// The target of a jump instruction at pc, or -1 when it is none.
int64_t FunctionPrinter::JumpTarget(uint32_t pc) const {
    const uint32_t i = f_.code[pc];
    switch (GetOp(i)) {
        case OP_JMP:
            return int64_t{pc} + 1 + GetJOffset(i);
        case OP_FORLOOP:
        case OP_TFORPREP:
            return int64_t{pc} + 1 + GetSBx(i);
        default:
            return -1;
    }
}

void FunctionPrinter::Code() {
    for (uint32_t pc = 0; pc < f_.code.size(); ++pc) {
        if (Representable(JumpTarget(pc))) labels_.insert(JumpTarget(pc));
    }
    const bool lines = !f_.code.empty() && f_.lineinfo.size() == f_.code.size();
    if (!f_.lineinfo.empty() && !lines) {
        Line("; note: " + std::to_string(f_.lineinfo.size()) + " line entries not shown");
    }
    for (uint32_t pc = 0; pc < f_.code.size(); ++pc) {
        if (labels_.count(pc)) Line("L" + std::to_string(pc) + ":");
        if (lines && (pc == 0 || f_.lineinfo[pc] != f_.lineinfo[pc - 1])) {
            Line(".line " + std::to_string(static_cast<int32_t>(f_.lineinfo[pc])));
        }
        if (auto text = InstructionText(pc)) {
            Line("    " + *text);
            pc += static_cast<uint32_t>(Captures(pc));
        } else {
            char word[32];
            std::snprintf(word, sizeof word, "    .word 0x%08X", f_.code[pc]);
            Line(word);
        }
    }
    if (labels_.count(f_.code.size())) Line("L" + std::to_string(f_.code.size()) + ":");
}

// The number of capture words after a CLOSURE at pc that print as its operands.
size_t FunctionPrinter::Captures(uint32_t pc) const {
    const uint32_t i = f_.code[pc];
    return GetOp(i) == OP_CLOSURE ? f_.protos[GetBx(i)].nups : 0;
}

std::string FunctionPrinter::OperandText(uint32_t pc, Operand o, uint32_t word) const {
    const uint32_t fields[] = {GetA(word),  GetB(word),  GetC(word),
                               GetBx(word), GetBx(word), GetJ(word)};
    const uint32_t v = fields[static_cast<int>(o.field)];
    switch (o.syntax) {
        case Syntax::Reg:
            return "r" + std::to_string(v);
        case Syntax::RK:
            return IsRKConst(v) ? "k" + std::to_string(RKConstIndex(v)) : "r" + std::to_string(v);
        case Syntax::Const:
            return "k" + std::to_string(v);
        case Syntax::Upval:
            return "u" + std::to_string(v);
        case Syntax::Int:
        case Syntax::OptInt:
            return std::to_string(v);
        case Syntax::Label:
            return "L" + std::to_string(JumpTarget(pc));
        case Syntax::Proto:
            return ChildName(v);
    }
    return {};
}

// The instruction at pc as text, or nothing when only .word can say it.
std::optional<std::string> FunctionPrinter::InstructionText(uint32_t pc) const {
    const uint32_t word = f_.code[pc];
    const OpInfo* info = GetOpInfo(GetOp(word));
    if (!info) return std::nullopt;
    const uint32_t op = GetOp(word);
    if ((op == OP_JMP || op == OP_FORLOOP || op == OP_TFORPREP) && !Representable(JumpTarget(pc))) {
        return std::nullopt;
    }
    // Fields the form does not write must be zero, or the text would not give the word back.
    uint32_t rebuilt = op;
    for (int k = 0; k < info->noperands; ++k) {
        switch (info->operands[k].field) {
            case Field::A:
                rebuilt |= word & (kMaxA << kAShift);
                break;
            case Field::B:
                rebuilt |= word & (kMaxB << kBShift);
                break;
            case Field::C:
                rebuilt |= word & (kMaxC << kCShift);
                break;
            case Field::Bx:
            case Field::SBx:
                rebuilt |= word & (kMaxBx << kCShift);
                break;
            case Field::J:
                rebuilt = word;
                break;
        }
    }
    if (rebuilt != word) return std::nullopt;
    if (op == OP_JMP && GetM(word) == kJumpSubroutine)
        return "JSR " + OperandText(pc, info->operands[0], word);
    if (op == OP_RETURN && word == CreateABC(OP_RETURN, 0, 0, 1)) return "RETSUB";
    std::string text(info->name);
    for (int k = 0; k < info->noperands; ++k) {
        const Operand o = info->operands[k];
        if (o.syntax == Syntax::OptInt && GetC(word) == 0) break;
        text += " " + OperandText(pc, o, word);
    }
    if (op == OP_JMP && GetM(word) != 0) text += " m=" + std::to_string(GetM(word));
    if (op != OP_CLOSURE) return text;
    // CLOSURE names a nested function and lists its captures, which must be plain MOVE or
    // GETUPVAL words on the same line with no label among them.
    const uint32_t bx = GetBx(word);
    if (bx >= f_.protos.size()) return std::nullopt;
    const size_t n = f_.protos[bx].nups;
    if (pc + n >= f_.code.size()) return std::nullopt;
    const bool lines = f_.lineinfo.size() == f_.code.size();
    for (size_t k = 1; k <= n; ++k) {
        const uint32_t cap = f_.code[pc + k];
        const uint32_t capOp = GetOp(cap);
        if ((capOp != OP_MOVE && capOp != OP_GETUPVAL) ||
            cap != CreateABC(capOp, 0, GetB(cap), 0) || labels_.count(pc + k) ||
            (lines && f_.lineinfo[pc + k] != f_.lineinfo[pc])) {
            return std::nullopt;
        }
        text += (capOp == OP_MOVE ? " r" : " u") + std::to_string(GetB(cap));
    }
    return text;
}

}  // namespace

DisassembleResult Disassemble(std::span<const uint8_t> bytes) {
    DisassembleResult result;
    const auto image = ReadChunkImage(bytes, &result.error);
    if (!image) return result;
    result.text = HeaderText(image->header);
    FunctionPrinter(image->main, "main", true, &result.text).Print();
    return result;
}

}  // namespace qv
