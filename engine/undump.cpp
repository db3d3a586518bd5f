// The compiled-chunk reader. Chunks come from applet files and the network, so nothing in
// them is trusted: every count is checked before use, arrays and strings grow only as their
// bytes arrive (a count that lies ends in ERR_UNEXPECTEDEOF with bounded memory), nesting is
// bounded, and each function passes the verifier before its parent goes on.
//
// No collection runs while loading (nothing here reaches a collector check point), so the
// prototypes under construction need no anchor; after an error the collector reclaims them.
#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/chunk.h"
#include "engine/chunk_format.h"
#include "engine/convert.h"

namespace qv {

// Arrays start at this many items and then double, up to their count.
constexpr int32_t kFirstArrayStep = 64;
// Strings are read in pieces of at least this many bytes, doubling.
constexpr size_t kFirstStringStep = 4096;

struct LoadState {
    qvVmState* L;
    qvStream* stream;
    qvScratchBuffer* buffer;
    bool swap;          // the chunk's byte order differs from ours
    int functions = 0;  // functions met so far, in the order qvVerifyFailure numbers them

    [[noreturn]] void Fail(int code) { VmThrow(L, code); }

    void Read(void* dest, size_t n) {
        if (StreamRead(stream, dest, n) != 0) Fail(ERR_UNEXPECTEDEOF);
    }
    uint8_t Byte() {
        uint8_t b;
        Read(&b, 1);
        return b;
    }
    template <typename T>
    T Scalar() {
        T v;
        Read(&v, sizeof v);
        return swap ? ByteSwap(v) : v;
    }
    // An int field: counts, lines and pcs may not be negative.
    int32_t Int() {
        const auto v = static_cast<int32_t>(Scalar<uint32_t>());
        if (v < 0) Fail(ERR_BADINTEGER);
        return v;
    }
    double Number() { return std::bit_cast<double>(Scalar<uint64_t>()); }
};

namespace {

// Grows one of a prototype's arrays to newSize items, keeping its size field equal to the
// allocation so that freeing the prototype after an error stays exact.
template <typename T>
void GrowArray(LoadState* S, T*& array, int32_t& size, int32_t newSize, T fill) {
    array = static_cast<T*>(
        VmRealloc(S->L, array, sizeof(T) * static_cast<size_t>(size), sizeof(T) * newSize));
    std::fill(array + size, array + newSize, fill);
    size = newSize;
}

// Reads count items, growing the array as they arrive.
template <typename T, typename ReadItem>
void ReadArray(LoadState* S, T*& array, int32_t& size, int32_t count, T fill, ReadItem read) {
    for (int32_t i = 0; i < count; ++i) {
        if (i == size) {
            const int32_t step = std::max(size, kFirstArrayStep);
            GrowArray(S, array, size, std::min(count, size + step), fill);
        }
        array[i] = read();
    }
}

// A string that must be there: a name or a string constant.
qvString* RequiredString(LoadState* S, int code) {
    qvString* s = VmUndumpString(S);
    if (s == nullptr) S->Fail(code);
    return s;
}

qvValue ReadConstant(LoadState* S) {
    qvValue v{};  // the spare word starts as hint 0
    switch (S->Byte()) {
        case chunk::kTagNil:
            SetNil(&v);
            break;
        case chunk::kTagNumber:
            SetNumber(&v, S->Number());
            break;
        case chunk::kTagString:
            SetString(&v, RequiredString(S, ERR_BADCONSTANT));
            break;
        default:
            S->Fail(ERR_BADCONSTANT);
    }
    return v;
}

void ReadHeader(LoadState* S) {
    // Input of any other form, the empty input included, fails on the signature.
    for (uint8_t expected : chunk::kSignature) {
        uint8_t b;
        if (StreamRead(S->stream, &b, 1) != 0 || b != expected) S->Fail(ERR_BADSIGNATURE);
    }
    S->swap = S->Byte() != VmEndiannessByte();
    for (uint8_t expected : chunk::kSizes) {
        if (S->Byte() != expected) S->Fail(ERR_VMMISMATCH);
    }
    if (Trunc32(S->Number()) != chunk::kTestInteger) S->Fail(ERR_UNKNUMFMT);
}

struct LoadContext {
    qvStream* stream;
    qvScratchBuffer buffer;
};

// Frees the loader's scratch buffer however the load ends.
class ScratchBufferGuard {
public:
    ScratchBufferGuard(qvVmState* L, qvScratchBuffer* b) : L_(L), b_(b) {}
    ~ScratchBufferGuard() { VmRealloc(L_, b_->data, b_->size, 0); }
    ScratchBufferGuard(const ScratchBufferGuard&) = delete;
    ScratchBufferGuard& operator=(const ScratchBufferGuard&) = delete;

private:
    qvVmState* L_;
    qvScratchBuffer* b_;
};

// The reader over one block of memory.
struct MemoryBlock {
    std::span<const uint8_t> bytes;
};

const char* ReadMemoryBlock(void* ud, size_t* size) {
    auto* block = static_cast<MemoryBlock*>(ud);
    *size = block->bytes.size();
    const auto* data = reinterpret_cast<const char*>(block->bytes.data());
    block->bytes = {};
    return data;
}

}  // namespace

const char* ChunkMessageName(const char* chunkname) {
    if (chunkname == nullptr) return "?";
    if (chunkname[0] == '@' || chunkname[0] == '=') return chunkname + 1;
    if (chunkname[0] == chunk::kSignature[0]) return "binary string";
    return chunkname;
}

int LoadChunk(qvVmState* L, std::span<const uint8_t> chunk, const char* chunkname) {
    MemoryBlock block{chunk};
    return VmLoad(L, ReadMemoryBlock, &block, chunkname);
}

}  // namespace qv

using qv::LoadState;

void StreamInit(qvStream* s, qvReader reader, void* ud, const char* name) {
    *s = {0, nullptr, reader, ud, name};
}

int StreamFill(qvStream* s) {
    size_t size = 0;
    const char* block = s->reader(s->ud, &size);
    if (block == nullptr || size == 0) return -1;
    s->n = size - 1;
    s->p = block + 1;
    return static_cast<unsigned char>(block[0]);
}

size_t StreamRead(qvStream* s, void* dest, size_t n) {
    auto* out = static_cast<char*>(dest);
    while (n > 0) {
        if (s->n == 0) {
            const int c = StreamFill(s);
            if (c < 0) return n;
            *out++ = static_cast<char>(c);
            --n;
            continue;
        }
        const size_t m = std::min(n, s->n);
        std::memcpy(out, s->p, m);
        s->n -= m;
        s->p += m;
        out += m;
        n -= m;
    }
    return 0;
}

char* StreamResizeBuffer(qvVmState* L, qvScratchBuffer* buffer, size_t n) {
    n = std::max<size_t>(n, 32);
    if (buffer->size < n) {
        buffer->data = static_cast<char*>(VmRealloc(L, buffer->data, buffer->size, n));
        buffer->size = n;
    }
    return buffer->data;
}

qvString* VmUndumpString(LoadState* S) {
    const auto size = S->Scalar<uint32_t>();
    if (size == 0) return nullptr;
    // A claimed size is believed only as far as its bytes arrive.
    size_t have = 0;
    while (have < size) {
        const size_t step = std::min<size_t>(size - have, std::max(have, qv::kFirstStringStep));
        char* data = StreamResizeBuffer(S->L, S->buffer, have + step);
        S->Read(data + have, step);
        have += step;
    }
    return VmNewString(S->L, S->buffer->data, size - 1);
}

qvProto* VmUndumpFunction(LoadState* S, qvString* parentSource, int depth) {
    if (depth > qv::chunk::kMaxNesting) S->Fail(ERR_BADBYTECODE);
    const int number = S->functions++;
    qvProto* f = VmNewProto(S->L);
    f->source = VmUndumpString(S);
    if (f->source == nullptr) f->source = parentSource;
    f->lineDefined = S->Int();
    f->nups = S->Byte();
    f->numparams = S->Byte();
    f->isVararg = S->Byte();
    f->maxstacksize = S->Byte();
    qv::ReadArray(S, f->lineinfo, f->sizelineinfo, S->Int(), 0, [S] { return S->Int(); });
    qv::ReadArray(S, f->locvars, f->sizelocvars, S->Int(), qvLocVar{}, [S] {
        qvLocVar v;
        v.name = qv::RequiredString(S, ERR_BADBYTECODE);
        v.startpc = S->Int();
        v.endpc = S->Int();
        return v;
    });
    const int32_t nnames = S->Int();
    if (nnames != 0 && nnames != f->nups) S->Fail(ERR_BADUPVALUES);
    qv::ReadArray(S, f->upvalues, f->sizeupvalues, nnames, static_cast<qvString*>(nullptr),
                  [S] { return qv::RequiredString(S, ERR_BADUPVALUES); });
    qv::ReadArray(S, f->k, f->sizek, S->Int(), qv::kNilObject, [S] { return qv::ReadConstant(S); });
    qv::ReadArray(S, f->p, f->sizep, S->Int(), static_cast<qvProto*>(nullptr),
                  [S, f, depth] { return VmUndumpFunction(S, f->source, depth + 1); });
    qv::ReadArray(S, f->code, f->sizecode, S->Int(), qvInstruction{0},
                  [S] { return S->Scalar<qvInstruction>(); });
    int pc;
    if (const int reason = VmVerifyDiagnose(f, &pc)) {
        S->L->g->lastVerifyFailure = {reason, number, pc};
        S->Fail(ERR_BADBYTECODE);
    }
    return f;
}

qvProto* VmUndump(qvVmState* L, qvStream* stream, qvScratchBuffer* buffer) {
    LoadState S{L, stream, buffer, false};
    L->g->lastVerifyFailure = {};
    qv::ReadHeader(&S);
    return VmUndumpFunction(&S, nullptr, 0);
}

void VmLoadChunkBody(qvVmState* L, void* ud) {
    auto* ctx = static_cast<qv::LoadContext*>(ud);
    VmCheckGC(L);
    qvProto* p = VmUndump(L, ctx->stream, &ctx->buffer);
    // A dumped closure keeps its upvalue count, and its code may read them: loaded on its
    // own, it gets upvalues of its own, each holding nil.
    qvLClosure* cl = VmNewScriptClosure(L, p->nups, &L->globals);
    cl->proto = p;
    for (int i = 0; i < p->nups; ++i) cl->Upvalues()[i] = qv::NewClosedUpvalue(L);
    qv::SetFunction(L->top, cl);
    qv::IncrementTop(L);
}

int VmLoadChunk(qvVmState* L, qvStream* stream) {
    qv::LoadContext ctx{stream, {nullptr, 0}};
    const qv::ScratchBufferGuard guard(L, &ctx.buffer);
    return VmProtectedRun(L, VmLoadChunkBody, &ctx);
}

int VmLoad(qvVmState* L, qvReader reader, void* ud, const char* chunkname) {
    qvStream stream;
    StreamInit(&stream, reader, ud, qv::ChunkMessageName(chunkname));
    return VmLoadChunk(L, &stream);
}
