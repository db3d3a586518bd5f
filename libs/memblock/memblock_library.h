// The "memblock" command library: numbered blocks of raw memory that scripts allocate, peek
// and poke (big-endian), fill, copy, move to and from file objects and dump as hexadecimal.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

enum : uint32_t { QV_OBJ_MEMORY = 39 };

struct qvMemBlock {
    qvObjectHeader header;
    int32_t size;
    uint8_t* data;  // not cleared: undefined until written
};

// Registers the commands and the block list; 0 or ERR_MEM.
int RegisterMemBlockLibrary(qvVmState* L);
// Shutdown: frees every block.
void FreeAllMemBlocks(qvVmState* L);

// The block of id; 0, or ERR_FINDARRAY for a handle and ERR_FINDMEMBLK (the number as the
// error argument) for a numeric id.
int FindMemBlock(qvObjectId id, qvMemBlock** block);
