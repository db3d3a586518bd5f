#include "objects/vector/vector_neighbours.h"

#include "engine/vm.h"
#include "objects/draw/draw_state.h"
#include "objects/text/text_library.h"

namespace qv {
namespace {

VectorNeighbours defaults;
VectorNeighbours* installed = &defaults;

}  // namespace

PathDrawSettings VectorNeighbours::DrawSettings() {
    const qvDrawState* state = GetDrawState();
    return {state->fillStyle, state->formStyle, state->lineWidth};
}

int32_t VectorNeighbours::DefaultEncoding() {
    return GetDefaultEncoding();
}

int VectorNeighbours::CurrentTextFont(PathTextFont*) {
    return ERR_VFONTTYPE;
}

VectorNeighbours& PathNeighbours() {
    return *installed;
}

void SetPathNeighbours(VectorNeighbours* neighbours) {
    installed = neighbours != nullptr ? neighbours : &defaults;
}

}  // namespace qv
