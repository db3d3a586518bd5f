// Debug information: the names of variables that error texts show, the activation queries of
// hooks, of the call trace and of the run-time's error report, local variables, and the
// short source names of chunks.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "engine/api_internal.h"
#include "engine/opcodes.h"

namespace qv {
namespace {

constexpr const char* kTypeNames[] = {"no value", "nil",   "boolean",  "userdata", "number",
                                      "string",   "table", "function", "userdata", "thread"};

bool IsScriptRecord(const qvCallRecord* ci) {
    return (ci->state & VM_CI_NATIVE) == 0;
}

const qvProto* ProtoOf(const qvCallRecord* ci) {
    return LClosureOf(ci->base - 1)->proto;
}

// The key of a field or method access: RK operand x when it is a string constant, else "?".
const char* ConstantKeyName(const qvProto* p, uint32_t x) {
    if (!IsRKConst(x)) return "?";
    const qvValue* k = &p->k[RKConstIndex(x)];
    return IsString(k) ? StringOf(k)->Data() : "?";
}

// Appends to a caller's buffer of fixed size, always ending the text with a NUL.
class BoundedText {
public:
    BoundedText(char* out, size_t size) : out_(out), room_(size - 1) { out_[0] = '\0'; }
    void Add(std::string_view s) {
        size_t n = std::min(s.size(), room_);
        std::memcpy(out_ + length_, s.data(), n);
        length_ += n;
        room_ -= n;
        out_[length_] = '\0';
    }

private:
    char* out_;
    size_t room_;
    size_t length_ = 0;
};

// The name under which the calling script level called the function of ci: the register
// that held it in the caller's CALL or TAILCALL.
const char* CallerGivenName(qvVmState* L, qvCallRecord* ci, const char** name) {
    if (ci <= L->baseCi || (IsScriptRecord(ci) && ci->tailcalls > 0)) return nullptr;
    qvCallRecord* caller = ci - 1;
    if (!IsScriptRecord(caller)) return nullptr;
    const qvProto* p = ProtoOf(caller);
    int pc = CurrentPc(caller);
    if (pc < 0 || pc >= p->sizecode) return nullptr;
    uint32_t i = p->code[pc];
    if (GetOp(i) != OP_CALL && GetOp(i) != OP_TAILCALL) return nullptr;
    return VmGetObjectName(caller, static_cast<int>(GetA(i)), name);
}

void FillName(qvVmState* L, qvCallRecord* ci, const qvValue* fn, qvDebugRecord* ar) {
    ar->name = nullptr;
    ar->namewhat = ci != nullptr ? CallerGivenName(L, ci, &ar->name) : nullptr;
    if (ar->namewhat != nullptr) return;
    ar->name = GlobalFunctionName(L, fn);
    ar->namewhat = ar->name != nullptr ? "global" : "";
}

void FillSource(const qvValue* fn, qvDebugRecord* ar) {
    if (ClosureOf(fn)->isNative) {
        ar->source = "=[C]";
        ar->linedefined = -1;
        ar->what = "C";
    } else {
        const qvProto* p = LClosureOf(fn)->proto;
        ar->source = p->source != nullptr ? p->source->Data() : "?";
        ar->linedefined = p->lineDefined;
        ar->what = p->lineDefined == 0 ? "main" : "Quorvella";
    }
    VmChunkId(ar->shortSource, ar->source, sizeof ar->shortSource);
}

// A level whose record a tail call replaced: nothing is known of it.
void FillLostTailCall(qvDebugRecord* ar) {
    ar->name = "";
    ar->namewhat = "";
    ar->what = "tail";
    ar->source = "=(tail call)";
    BoundedText(ar->shortSource, sizeof ar->shortSource).Add(ar->source);
    ar->currentline = -1;
    ar->linedefined = -1;
    ar->nups = 0;
}

// The slot of local n of a script activation and its name; nullptr when there is none. A
// chunk may declare more live locals than its frame has registers: those have no slot.
const char* LocalSlot(qvVmState* L, const qvDebugRecord* ar, int n, qvValue** slot) {
    if (ar->callRecord <= 0 || ar->callRecord > L->ci - L->baseCi || n < 1) return nullptr;
    qvCallRecord* ci = L->baseCi + ar->callRecord;
    if (!IsScriptRecord(ci) || n > ci->top - ci->base) return nullptr;
    *slot = ci->base + (n - 1);
    return VmGetLocalName(ProtoOf(ci), n, CurrentPc(ci));
}

}  // namespace

const char* TypeName(int tag) {
    return tag >= VM_TNONE && tag <= VM_TTHREAD ? kTypeNames[tag + 1] : "?";
}

}  // namespace qv

using namespace qv;

const char* VmGetObjectName(qvCallRecord* ci, int reg, const char** name) {
    *name = nullptr;
    if (!IsScriptRecord(ci)) return nullptr;
    const qvProto* p = ProtoOf(ci);
    int pc = CurrentPc(ci);
    for (;;) {
        *name = VmGetLocalName(p, reg + 1, pc);
        if (*name != nullptr) return "local";
        int setter = -1;
        if (VmVerifyCode(p, pc, reg, &setter) == 0 || setter < 0) return nullptr;
        uint32_t i = p->code[setter];
        switch (GetOp(i)) {
            case OP_GETGLOBAL:
                *name = StringOf(&p->k[GetBx(i)])->Data();
                return "global";
            case OP_MOVE:
                if (GetB(i) >= GetA(i)) return nullptr;
                reg = static_cast<int>(GetB(i));
                break;
            case OP_GETTABLE:
                *name = ConstantKeyName(p, GetC(i));
                return "field";
            case OP_SELF:
                *name = ConstantKeyName(p, GetC(i));
                return "method";
            default:
                return nullptr;
        }
    }
}

int VmGetInfo(qvVmState* L, const char* options, qvDebugRecord* ar) {
    qvCallRecord* ci = nullptr;
    qvValue fn;
    if (*options == '>') {
        ++options;
        SetNil(&fn);
        if (L->top > L->base) fn = *--L->top;
        if (!IsFunction(&fn)) RaiseError(L, ERR_FUNCEXPECTED);
    } else if (ar->callRecord > 0) {
        ci = L->baseCi + ar->callRecord;
        fn = ci->base[-1];
    } else {
        FillLostTailCall(ar);
        SetNil(&fn);
    }
    int status = 1;
    for (const char* option = options; *option != '\0'; ++option) {
        switch (*option) {
            case 'S':
                if (IsFunction(&fn)) FillSource(&fn, ar);
                break;
            case 'l':
                if (IsFunction(&fn)) ar->currentline = ci != nullptr ? CurrentLine(ci) : -1;
                break;
            case 'u':
                if (IsFunction(&fn)) ar->nups = ClosureOf(&fn)->nupvalues;
                break;
            case 'n':
                if (IsFunction(&fn)) FillName(L, ci, &fn, ar);
                break;
            case 'f':
                break;
            default:
                status = 0;
        }
    }
    if (std::strchr(options, 'f') != nullptr) PushValue(L, &fn);
    return status;
}

const char* VmGetLocal(qvVmState* L, const qvDebugRecord* ar, int n) {
    qvValue* slot = nullptr;
    const char* name = LocalSlot(L, ar, n, &slot);
    if (name != nullptr) PushValue(L, slot);
    return name;
}

// Internal locals (names starting with "(") keep their values.
const char* VmSetLocal(qvVmState* L, const qvDebugRecord* ar, int n) {
    qvValue value = *--L->top;
    qvValue* slot = nullptr;
    const char* name = LocalSlot(L, ar, n, &slot);
    if (name == nullptr || name[0] == '(') return nullptr;
    *slot = value;
    return name;
}

void VmChunkId(char* out, const char* source, size_t size) {
    if (size == 0) return;
    BoundedText text(out, size);
    std::string_view s(source);
    if (s.starts_with('=')) {
        text.Add(s.substr(1));
    } else if (s.starts_with('@')) {
        std::string_view name = s.substr(1);
        size_t keep = size > 8 ? size - 8 : 0;
        if (name.size() > keep) {
            text.Add("...");
            name = name.substr(name.size() - keep);
        }
        text.Add(name);
    } else {
        size_t keep = size > 17 ? size - 17 : 0;
        std::string_view line = s.substr(0, s.find('\n'));
        bool cut = line.size() > keep || line.size() < s.size();
        text.Add("[string \"");
        text.Add(line.substr(0, keep));
        if (cut) text.Add("...");
        text.Add("\"]");
    }
}
