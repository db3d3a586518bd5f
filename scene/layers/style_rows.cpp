#include "scene/layers/style_rows.h"

#include <array>

namespace qv::scene {
namespace {

constexpr uint32_t kRowTypes = 64;
std::array<LayerStyleRow, kRowTypes> rows{};

}  // namespace

qvLayerItem* CopyWorkingItem(const qvLayer* layer) {
    qvLayerItem* item = layer->sourceItem->Copy();
    auto* part = dynamic_cast<qvImageItem*>(item);
    if (part != nullptr) {
        const auto* shown = static_cast<const qvImageItem*>(layer->sourceItem);
        part->partX = shown->partX, part->partY = shown->partY;
    }
    return item;
}

void SetLayerStyleRow(uint32_t type, const LayerStyleRow& row) {
    if (type < kRowTypes) rows[type] = row;
}

const LayerStyleRow* FindLayerStyleRow(uint32_t type) {
    if (type >= kRowTypes) return nullptr;
    const LayerStyleRow& row = rows[type];
    return row.read != nullptr || row.retypeItem != nullptr || row.push != nullptr ? &row : nullptr;
}

}  // namespace qv::scene
