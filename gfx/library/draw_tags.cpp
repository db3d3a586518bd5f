// The default draw tags: two records whose layout belongs to the drawing code, which fills
// them through ParseDrawTags.
#include <cstring>
#include <memory>

#include "gfx/library/commands.h"
#include "gfx/library/graphics_library.h"
#include "gfx/library/neighbours.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"

namespace qv::gfx {
namespace {

DrawTagDefaults defaults{};

struct BlockFree {
    void operator()(void* block) const { FreeMemBlock(block); }
};
using Block = std::unique_ptr<void, BlockFree>;

// A block of size bytes holding source (when given); an empty record needs no block.
bool MakeBlock(size_t size, const void* source, Block* out) {
    if (size == 0) return true;
    out->reset(AllocMemBlock(size, 1));
    if (*out == nullptr) return false;
    if (source != nullptr) std::memcpy(out->get(), source, size);
    return true;
}

}  // namespace

const DrawTagDefaults& DefaultDrawTags() {
    return defaults;
}

int InitDrawTagDefaults() {
    FreeDrawTagDefaults();
    Block style, transform;
    if (!MakeBlock(Neighbour().DrawStyleSize(), nullptr, &style) ||
        !MakeBlock(Neighbour().DrawTransformSize(), nullptr, &transform)) {
        return ERR_MEM;
    }
    Neighbour().InitDrawTags(style.get(), transform.get());
    defaults = {style.release(), transform.release()};
    return 0;
}

void FreeDrawTagDefaults() {
    FreeMemBlock(defaults.style);
    FreeMemBlock(defaults.transform);
    defaults = {};
}

}  // namespace qv::gfx

using namespace qv::gfx;

// The table is parsed over copies, so that a failing table leaves the defaults as they were.
int SetDrawTagsDefault(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    CheckArgTable(L, 1);
    Block style, transform;
    if (!MakeBlock(Neighbour().DrawStyleSize(), defaults.style, &style) ||
        !MakeBlock(Neighbour().DrawTransformSize(), defaults.transform, &transform)) {
        return ERR_MEM;
    }
    // Flag 4: the size fields of a table are not defaults.
    if (const int code = Neighbour().ParseDrawTags(L, 1, style.get(), transform.get(), 4)) {
        return code;
    }
    FreeDrawTagDefaults();
    defaults = {style.release(), transform.release()};
    return 0;
}
