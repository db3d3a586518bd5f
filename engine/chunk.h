// The compiled-chunk reader's input stream and the loader's internal steps. The public entry
// points (VmLoad, VmDump, the verifier) are in engine/vm.h.
#pragma once

#include "engine/internal.h"

// The chunk's bytes, pulled block by block from a reader.
struct qvStream {
    size_t n;       // bytes left in the current block
    const char* p;  // next byte of the block
    qvReader reader;
    void* ud;
    const char* name;  // the chunk's name for messages
};

namespace qv {
// The chunk name for messages: "@" or "=" dropped, a name starting with ESC is "binary
// string", none is "?".
const char* ChunkMessageName(const char* chunkname);
struct LoadState;
struct DumpState;

// Integer fields of a chunk in the other byte order.
template <typename T>
T ByteSwap(T v) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8);
    if constexpr (sizeof(T) == 4) {
        return __builtin_bswap32(v);
    } else {
        return __builtin_bswap64(v);
    }
}
}  // namespace qv

void StreamInit(qvStream* s, qvReader reader, void* ud, const char* name);
// Pulls the next block; returns its first byte (consumed) or -1 at the end of input.
int StreamFill(qvStream* s);
// Copies n bytes; returns how many are missing (0 on success).
size_t StreamRead(qvStream* s, void* dest, size_t n);
// Grows the buffer to at least n bytes (never below 32); returns its data.
char* StreamResizeBuffer(qvVmState* L, qvScratchBuffer* buffer, size_t n);

// Loads a chunk under protection and pushes its main function; returns the status.
int VmLoadChunk(qvVmState* L, qvStream* stream);
// The protected body of VmLoadChunk; ud is its load context.
void VmLoadChunkBody(qvVmState* L, void* ud);

// Reads the header and the main function.
qvProto* VmUndump(qvVmState* L, qvStream* stream, qvScratchBuffer* buffer);
// One function record; parentSource stands in for a missing source.
qvProto* VmUndumpFunction(qv::LoadState* S, qvString* parentSource, int depth);
// A string field; nullptr for the size-0 "no string".
qvString* VmUndumpString(qv::LoadState* S);

void VmDumpHeader(qv::DumpState* D);
void VmDumpFunction(qv::DumpState* D, const qvProto* f, const qvString* parentSource);
