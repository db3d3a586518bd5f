// The compiled-chunk writer. It writes big-endian with byte order 0 on every host, so dumps
// are byte-identical with the chunks that applets carry.
#include <bit>
#include <cstring>

#include "engine/api_internal.h"
#include "engine/chunk.h"
#include "engine/chunk_format.h"

namespace qv {

struct DumpState {
    qvVmState* L;
    qvWriter writer;
    void* ud;

    void Bytes(const void* p, size_t n) { writer(L, p, n, ud); }
    void Byte(uint8_t b) { Bytes(&b, 1); }
    template <typename T>
    void Scalar(T v) {
        if (VmEndiannessByte() != chunk::kOrderBig) v = ByteSwap(v);
        Bytes(&v, sizeof v);
    }
    void Int(int32_t v) { Scalar(static_cast<uint32_t>(v)); }
    void Number(double d) { Scalar(std::bit_cast<uint64_t>(d)); }
    void String(const qvString* s) {
        if (s == nullptr) return Scalar(uint32_t{0});
        Scalar(s->length + 1);
        Bytes(s->Data(), s->length + 1);
    }
};

namespace {

void DumpConstant(DumpState* D, const qvValue& k) {
    D->Byte(static_cast<uint8_t>(k.tag));
    if (k.tag == VM_TNUMBER) D->Number(k.value.n);
    if (k.tag == VM_TSTRING) D->String(StringOf(&k));
}

void AppendToVector(qvVmState*, const void* p, size_t n, void* ud) {
    const auto* bytes = static_cast<const uint8_t*>(p);
    auto* out = static_cast<std::vector<uint8_t>*>(ud);
    out->insert(out->end(), bytes, bytes + n);
}

}  // namespace

int DumpFunction(qvVmState* L, int idx, std::vector<uint8_t>* out) {
    return VmDump(L, idx, AppendToVector, out);
}

}  // namespace qv

using qv::DumpState;

int VmEndiannessByte() {
    return std::endian::native == std::endian::little ? 1 : 0;
}

void VmDumpHeader(DumpState* D) {
    for (uint8_t b : qv::chunk::kSignature) D->Byte(b);
    D->Byte(qv::chunk::kOrderBig);
    for (uint8_t size : qv::chunk::kSizes) D->Byte(size);
    D->Number(qv::chunk::kTestNumber);
}

void VmDumpFunction(DumpState* D, const qvProto* f, const qvString* parentSource) {
    D->String(f->source == parentSource ? nullptr : f->source);
    D->Int(f->lineDefined);
    D->Byte(f->nups);
    D->Byte(f->numparams);
    D->Byte(f->isVararg);
    D->Byte(f->maxstacksize);
    D->Int(f->sizelineinfo);
    for (int i = 0; i < f->sizelineinfo; ++i) D->Int(f->lineinfo[i]);
    D->Int(f->sizelocvars);
    for (int i = 0; i < f->sizelocvars; ++i) {
        D->String(f->locvars[i].name);
        D->Int(f->locvars[i].startpc);
        D->Int(f->locvars[i].endpc);
    }
    D->Int(f->sizeupvalues);
    for (int i = 0; i < f->sizeupvalues; ++i) D->String(f->upvalues[i]);
    D->Int(f->sizek);
    for (int i = 0; i < f->sizek; ++i) qv::DumpConstant(D, f->k[i]);
    D->Int(f->sizep);
    for (int i = 0; i < f->sizep; ++i) VmDumpFunction(D, f->p[i], f->source);
    D->Int(f->sizecode);
    for (int i = 0; i < f->sizecode; ++i) D->Scalar(f->code[i]);
}

void VmDumpProto(qvVmState* L, const qvProto* p, qvWriter writer, void* ud) {
    DumpState D{L, writer, ud};
    VmDumpHeader(&D);
    VmDumpFunction(&D, p, nullptr);
}

int VmDump(qvVmState* L, int idx, qvWriter writer, void* ud) {
    const qvValue* v = qv::IndexToValue(L, idx);
    if (v == nullptr || !qv::IsFunction(v) || qv::ClosureOf(v)->isNative) return ERR_NOQVFUNC;
    VmDumpProto(L, qv::LClosureOf(v)->proto, writer, ud);
    return 0;
}
