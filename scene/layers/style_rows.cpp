#include "scene/layers/style_rows.h"

#include <array>

namespace qv::scene {
namespace {

constexpr uint32_t kRowTypes = 64;
std::array<LayerStyleRow, kRowTypes> rows{};

}  // namespace

void SetLayerStyleRow(uint32_t type, const LayerStyleRow& row) {
    if (type < kRowTypes) rows[type] = row;
}

const LayerStyleRow* FindLayerStyleRow(uint32_t type) {
    if (type >= kRowTypes) return nullptr;
    const LayerStyleRow& row = rows[type];
    return row.read != nullptr || row.retypeItem != nullptr || row.push != nullptr ? &row : nullptr;
}

}  // namespace qv::scene
