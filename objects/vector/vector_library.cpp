#include "objects/vector/vector_library.h"

#include "objects/vector/path_commands.h"
#include "objects/vector/path_list.h"
#include "objects/vector/path_render.h"
#include "objects/vector/vector_backend.h"
#include "objects/vector/vector_neighbours.h"
#include "runtime/exports.h"

namespace qv {
namespace {

constexpr qvConstant kVectorConstants[] = {
    {"JOINMITER", nullptr, QV_JOIN_MITER},
    {"JOINROUND", nullptr, QV_JOIN_ROUND},
    {"JOINBEVEL", nullptr, QV_JOIN_BEVEL},
    {"CAPBUTT", nullptr, QV_CAP_BUTT},
    {"CAPROUND", nullptr, QV_CAP_ROUND},
    {"CAPSQUARE", nullptr, QV_CAP_SQUARE},
    {"FILLRULEWINDING", nullptr, QV_FILLRULE_WINDING},
    {"FILLRULEEVENODD", nullptr, QV_FILLRULE_EVENODD},
    {nullptr, nullptr, 0},
};

}  // namespace

void ReleaseFontOutline(uint32_t* handle) {
    if (*handle == 0) return;
    if (const VectorBackend* backend = FindVectorBackend()) backend->freeVectorFont(*handle);
    *handle = 0;
}

}  // namespace qv

int RegisterVectorGraphicsLibrary(qvVmState* L) {
    qv::ResetPathState();
    qv::InstallPathRendering();
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, qv::kVectorCommands, 0);
    RegisterConstants(L, qv::kVectorConstants, 0);
    if (int code = RegisterObjectList(qv::PathListHead())) return code;
    return RegisterCommandTable(qv::kVectorCommands, "vectorgraphics");
}

void FreeAllPaths(qvVmState* L) {
    qv::FreePathList(L);
    qv::ClearDashPattern();
    if (qv::VectorBackendFound()) qv::PathNeighbours().ReleaseFontOutlines();
    qv::UseVectorBackend(nullptr);
}
