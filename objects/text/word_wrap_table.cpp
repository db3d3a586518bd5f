#include <algorithm>

#include "engine/error_codes.h"
#include "gfx/geometry.h"
#include "objects/text/layout.h"
#include "platform/linux/memory.h"

namespace {

constexpr int32_t kWordWrapTableSize = 32768;
// Entries that reach the last two places of the buffer are refused.
constexpr int32_t kWordWrapTableLimit = kWordWrapTableSize - 2;

// Allocated on first use and kept for the run.
int32_t* wordWrapTable = nullptr;

}  // namespace

int ReadWordWrapTable(qvVmState* L, int table, const int32_t** entries, int32_t* count) {
    *entries = nullptr;
    *count = 0;
    if (wordWrapTable == nullptr) {
        wordWrapTable =
            static_cast<int32_t*>(AllocMemBlock(kWordWrapTableSize * sizeof(int32_t), 0));
        if (wordWrapTable == nullptr) return ERR_MEM;
    }
    if (table < 0) table = VmGetTop(L) + table + 1;
    int32_t read = 0;
    for (;; ++read) {
        VmRawGetI(L, table, read);
        const bool end = VmType(L, -1) == VM_TNIL;
        const double value = end ? 0 : VmToNumber(L, -1);
        VmSetTop(L, -2);
        if (end) break;
        if (read > kWordWrapTableLimit) return ERR_INTERNAL;
        wordWrapTable[read] = qv::gfx::TruncSaturate(value);
    }
    if (read > kWordWrapTableLimit) return ERR_INTERNAL;
    *entries = wordWrapTable;
    *count = read;
    return 0;
}

void FreeWordWrapTable() {
    FreeMemBlock(wordWrapTable);
    wordWrapTable = nullptr;
}
