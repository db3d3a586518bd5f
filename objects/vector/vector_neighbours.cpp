#include "objects/vector/vector_neighbours.h"

#include "engine/vm.h"

namespace qv {
namespace {

VectorNeighbours defaults;
VectorNeighbours* installed = &defaults;

}  // namespace

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
