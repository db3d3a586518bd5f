// The bytecode verifier: every loaded function passes it before it can run, so the
// interpreter may trust every register, constant, upvalue, prototype and jump an instruction
// names. In tracking mode it also finds the instruction that last set a register, which the
// debug interface uses to name variables.
#include <algorithm>
#include <iterator>

#include "engine/internal.h"
#include "engine/opcodes.h"

namespace qv {
namespace {

class Verifier {
public:
    explicit Verifier(const qvProto* p) : p_(p), maxstack_(p->maxstacksize) {}

    qvVerifyReason Function() const;
    qvVerifyReason Instruction(int pc) const;
    // The pc at which execution continues after the jump at pc.
    int Destination(int pc) const;
    bool Sets(uint32_t i, int reg) const;

private:
    bool Register(int64_t r) const { return r < maxstack_; }
    bool RK(uint32_t x) const {
        return Register(x) || (IsRKConst(x) && RKConstIndex(x) < uint32_t(p_->sizek));
    }
    bool Operand(ArgKind kind, uint32_t x) const;
    bool InCode(int64_t pc) const { return pc >= 0 && pc < p_->sizecode; }
    bool StringConstant(uint32_t k) const { return qv::IsString(&p_->k[k]); }
    bool FollowsMultipleResults(int pc) const;
    bool Captures(int pc, uint32_t proto) const;

    const qvProto* p_;
    int maxstack_;
};

qvVerifyReason Verifier::Function() const {
    const int size = p_->sizecode;
    if (maxstack_ > kMaxRegisters) return VM_VERIFY_STACKSIZE;
    if (p_->sizelineinfo != 0 && p_->sizelineinfo != size) return VM_VERIFY_LINEINFO;
    if (size == 0) return VM_VERIFY_NOCODE;
    return GetOp(p_->code[size - 1]) == OP_RETURN ? VM_VERIFY_OK : VM_VERIFY_NORETURN;
}

bool Verifier::Operand(ArgKind kind, uint32_t x) const {
    switch (kind) {
        case ArgKind::Unused:
            return true;
        case ArgKind::Register:
            return Register(x);
        case ArgKind::RegOrConst:
            return RK(x);
        case ArgKind::Constant:
            return x < uint32_t(p_->sizek);
    }
    return false;
}

int Verifier::Destination(int pc) const {
    const uint32_t i = p_->code[pc];
    return pc + 1 + (GetOp(i) == OP_JMP ? GetJOffset(i) : GetSBx(i));
}

// A call that keeps all its results hands them to an instruction that takes them from the
// stack top, which ends just past the last result, at least at the call's own register: the
// values taken start there or below (compilers put the consumer's register below the call),
// so that their count is never negative.
bool Verifier::FollowsMultipleResults(int pc) const {
    if (!InCode(pc + 1)) return false;
    const uint32_t results = GetA(p_->code[pc]);
    const uint32_t next = p_->code[pc + 1];
    switch (GetOp(next)) {
        case OP_CALL:
        case OP_TAILCALL:
            return GetB(next) == 0 && GetA(next) < results;
        case OP_RETURN:
            return GetB(next) == 0 && GetA(next) <= results;
        case OP_SETLISTO:
            return GetA(next) < results;
        default:
            return false;
    }
}

// The words after a CLOSURE that give the new closure its upvalues.
bool Verifier::Captures(int pc, uint32_t proto) const {
    if (proto >= uint32_t(p_->sizep)) return false;
    const int n = p_->p[proto]->nups;
    if (!InCode(pc + n)) return false;
    for (int k = 1; k <= n; ++k) {
        const uint32_t op = GetOp(p_->code[pc + k]);
        if (op != OP_MOVE && op != OP_GETUPVAL) return false;
    }
    return true;
}

qvVerifyReason Verifier::Instruction(int pc) const {
    const uint32_t i = p_->code[pc];
    const uint32_t op = GetOp(i);
    const uint32_t a = GetA(i), b = GetB(i), c = GetC(i), bx = GetBx(i);
    if (op != OP_JMP && !Register(a)) return VM_VERIFY_REGISTER;
    const OpInfo* info = GetOpInfo(op);
    if (info == nullptr) return VM_VERIFY_OK;  // 43-63 do nothing when run
    if (info->format == OpFormat::ABx && !Operand(info->b, bx)) return VM_VERIFY_OPERAND;
    if (info->format == OpFormat::ABC && !(Operand(info->b, b) && Operand(info->c, c))) {
        return VM_VERIFY_OPERAND;
    }
    if (info->test && !(InCode(pc + 2) && GetOp(p_->code[pc + 1]) == OP_JMP)) {
        return VM_VERIFY_TESTJUMP;
    }
    // Call ranges, returned values, SETLIST ranges, SELF's A+1 and the loops' hidden registers.
    if (!Register(ImpliedRegister(i))) return VM_VERIFY_REGISTER;
    const auto unless = [](bool ok, qvVerifyReason reason) { return ok ? VM_VERIFY_OK : reason; };
    switch (op) {
        case OP_LOADBOOL:
            return unless(c == 0 || InCode(pc + 2), VM_VERIFY_LOADBOOLSKIP);
        case OP_GETUPVAL:
        case OP_SETUPVAL:
            return unless(b < p_->nups, VM_VERIFY_UPVALUE);
        case OP_GETGLOBAL:
        case OP_SETGLOBAL:
            return unless(StringConstant(bx), VM_VERIFY_GLOBALNAME);
        case OP_CONCAT:
            return unless(c < uint32_t(kMaxRegisters) && b < c, VM_VERIFY_CONCAT);
        case OP_JMP:
        case OP_FORLOOP:
        case OP_TFORPREP:
            return unless(InCode(Destination(pc)), VM_VERIFY_JUMP);
        case OP_CALL:
        case OP_TAILCALL:
            return unless(c != 0 || FollowsMultipleResults(pc), VM_VERIFY_CALLRESULTS);
        case OP_CLOSURE:
            return unless(Captures(pc, bx), VM_VERIFY_CAPTURES);
        default:
            return VM_VERIFY_OK;
    }
}

bool Verifier::Sets(uint32_t i, int reg) const {
    const auto a = static_cast<int>(GetA(i));
    switch (GetOp(i)) {
        case OP_LOADNIL:
            return a <= reg && reg <= static_cast<int>(GetB(i));
        case OP_CALL:
        case OP_TAILCALL:
            return reg >= a;
        case OP_SELF:
            if (reg == a + 1) return true;
            break;
        default:
            break;
    }
    const OpInfo* info = GetOpInfo(GetOp(i));
    return info != nullptr && info->setsA && reg == a;
}

}  // namespace
}  // namespace qv

int VmVerifyCode(const qvProto* p, int lastpc, int reg, int* setter) {
    const qv::Verifier v(p);
    if (setter != nullptr) *setter = -1;
    if (v.Function() != VM_VERIFY_OK) return 0;
    const bool tracking = reg != VM_NOREG;
    const int end = tracking ? std::min(std::max(lastpc, 0), p->sizecode) : p->sizecode;
    int last = -1;
    for (int pc = 0; pc < end; ++pc) {
        if (v.Instruction(pc) != VM_VERIFY_OK) return 0;
        if (!tracking) continue;
        const uint32_t i = p->code[pc];
        if (v.Sets(i, reg)) last = pc;
        // Code that a forward jump passes over cannot have set the register.
        if (qv::GetOp(i) == qv::OP_JMP) {
            const int dest = v.Destination(pc);
            if (pc < dest && dest <= lastpc) pc = dest - 1;
        }
    }
    if (setter != nullptr) *setter = last;
    return 1;
}

int VmVerifyFunction(const qvProto* p) {
    return VmVerifyCode(p, p->sizecode, VM_NOREG, nullptr);
}

int VmVerifyDiagnose(const qvProto* p, int* pc) {
    const qv::Verifier v(p);
    *pc = -1;
    if (const qvVerifyReason reason = v.Function()) {
        // The instruction that should have been a RETURN is named.
        if (reason == VM_VERIFY_NORETURN) *pc = p->sizecode - 1;
        return reason;
    }
    for (int at = 0; at < p->sizecode; ++at) {
        if (const qvVerifyReason reason = v.Instruction(at)) {
            *pc = at;
            return reason;
        }
    }
    return VM_VERIFY_OK;
}

const char* VmVerifyReasonText(int reason) {
    static constexpr const char* kTexts[] = {
        "no fault",
        "the function has no code",
        "the function needs more than 250 registers",
        "the line information does not cover the code",
        "the function does not end in RETURN",
        "a register beyond the function's stack size",
        "an operand beyond the registers or constants",
        "a test is not followed by a JMP",
        "LOADBOOL skips past the end of the code",
        "an upvalue the function does not have",
        "a global name that is not a string constant",
        "CONCAT of an empty or too wide range",
        "a jump out of the code",
        "a call keeps all its results for no instruction that takes them",
        "CLOSURE without a capture for each upvalue",
    };
    const bool known = reason >= 0 && size_t(reason) < std::size(kTexts);
    return known ? kTexts[reason] : "an unknown fault";
}

qvVerifyFailure VmLastVerifyFailure(const qvVmState* L) {
    return L->g->lastVerifyFailure;
}
