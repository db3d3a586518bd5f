// Style rows read as the style engine reads them: working copies of a real layer (as its own
// type, or retyped through the row's retype item) and the row's reader run under the engine's
// protection on a table made of test arguments.
#pragma once

#include <gtest/gtest.h>

#include "scene/layers/layer.h"
#include "scene/layers/style_rows.h"
#include "tests/support/lib_fixture.h"

namespace qv::test {

class StyleWork {
public:
    StyleWork(qvVmState* L, const qvLayer* layer, uint32_t type) {
        work.layer = *layer;
        work.transform = layer->transform;
        work.live = layer;
        work.oldType = layer->type;
        work.layer.type = type;
        work.retype = type != layer->type;
        row = scene::FindLayerStyleRow(type);
        EXPECT_NE(row, nullptr) << "no row for type " << type;
        if (row == nullptr) return;
        work.item = work.retype ? row->retypeItem(L, &work) : scene::CopyWorkingItem(layer);
        EXPECT_NE(work.item, nullptr);
    }
    ~StyleWork() { FreeLayerItem(work.item); }
    StyleWork(const StyleWork&) = delete;
    StyleWork& operator=(const StyleWork&) = delete;

    template <typename Item>
    Item& As() {
        return *dynamic_cast<Item*>(work.item);
    }

    scene::LayerStyleWork work;
    const scene::LayerStyleRow* row = nullptr;
};

// The row's reader on the table: 0, or the code it returned or raised.
inline int ReadRow(testing::LibFixture& fixture, StyleWork& style, const testing::Arg& table) {
    struct Context {
        testing::LibFixture* fixture;
        StyleWork* style;
        const testing::Arg* table;
    } context{&fixture, &style, &table};
    return VmCPCall(
        fixture.L,
        [](qvVmState* L) -> int {
            auto* c = static_cast<Context*>(VmToUserdata(L, 1));
            c->fixture->PushArg(*c->table);
            return c->style->row->read(L, VmGetTop(L), &c->style->work);
        },
        &context);
}

// A value GetLayerStyle returned, as an argument again.
inline testing::Arg ArgOf(const testing::Value& value) {
    switch (value.type) {
        case VM_TNUMBER:
            return testing::Num(value.number);
        case VM_TSTRING:
            return testing::Str(value.text);
        case VM_TBOOLEAN:
            return testing::Bool(value.boolean);
        case VM_TTABLE: {
            std::vector<std::pair<testing::Arg, testing::Arg>> entries;
            for (const auto& [key, item] : value.entries)
                entries.emplace_back(ArgOf(key), ArgOf(item));
            return testing::Table(std::move(entries));
        }
        default:
            return testing::Nil();
    }
}

}  // namespace qv::test
