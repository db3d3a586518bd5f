#include "tests/scene/support/fake_displays.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "scene/events/buttons.h"

namespace qv::testing {

FakeDisplays::FakeDisplays() {
    events::SetEventDisplays(this);
    SetDisplayInput(this);
}

FakeDisplays::~FakeDisplays() {
    FreeAll(nullptr);
    if (CurrentDisplayInput() == this) SetDisplayInput(nullptr);
    if (&events::Displays() == this) events::SetEventDisplays(nullptr);
}

FakeDisplay* FakeDisplays::Add(uint32_t id) {
    auto* display = new FakeDisplay{};
    display->prefix.header.type = 21;
    display->prefix.header.id = id;
    for (qvEventHandler& slot : display->handlers) slot = {-1, -1};
    display->open = true;
    display->facts = {320, 200, 10, 20, 0, 0, 0, false};
    display->picture.header.type = 1;
    display->picture.header.id = id;
    display->picture.width = display->picture.shownWidth = 320;
    display->picture.height = display->picture.shownHeight = 200;
    NewList(&display->picture.layers);
    display->drawsIntoPicture = true;
    display->window = AllocPlatformDisplay(display->record());
    const qvWindowSpec spec{10, 20, 320, 200, 0, "fake"};
    if (display->window != nullptr) OpenPlatformWindow(display->window, spec, 0, nullptr, nullptr);
    list_.push_back(display);
    if (current_ == nullptr) current_ = display;
    return display;
}

void FakeDisplays::Free(qvVmState* L, FakeDisplay* display) {
    auto at = std::find(list_.begin(), list_.end(), display);
    if (at == list_.end()) return;
    at = list_.erase(at);
    FakeDisplay* successor = at != list_.end() ? *at : nullptr;
    DropDisplayEvents(display->record());
    events::ForgetEventDisplay(display->record(), successor ? successor->record() : nullptr);
    for (const qvEventHandler& slot : display->handlers) {
        if (L == nullptr) break;
        FreeRef(L, VM_REGISTRYINDEX, slot.function);
        FreeRef(L, VM_REGISTRYINDEX, slot.userData);
    }
    events::FreeButtonList(L, &display->picture);
    FreePlatformDisplay(display->window);
    if (current_ == display) current_ = list_.empty() ? nullptr : list_.front();
    delete display;
}

void FakeDisplays::FreeAll(qvVmState* L) {
    while (!list_.empty()) Free(L, list_.front());
}

qvDisplay* FakeDisplays::FirstDisplay() {
    return list_.empty() ? nullptr : list_.front()->record();
}

qvDisplay* FakeDisplays::NextDisplay(const qvDisplay* display) {
    auto at = std::find(list_.begin(), list_.end(), &Of(display));
    return at == list_.end() || ++at == list_.end() ? nullptr : (*at)->record();
}

events::DisplayPoint FakeDisplays::ToDisplay(const qvDisplay* display, int32_t x, int32_t y,
                                             events::Rounding rounding) {
    const FakeDisplay& d = Of(display);
    const auto axis = [&](int32_t at, int32_t offset) {
        const double value = (double(at) - offset) / (d.scale > 0 ? d.scale : 1.0);
        return int32_t(rounding == events::Rounding::kDown ? std::floor(value) : std::trunc(value));
    };
    return {axis(x, d.offsetX), axis(y, d.offsetY)};
}

void FakeDisplays::ForgetInput(qvVmState*) {
    if (current_ == nullptr) return;
    std::fill(std::begin(current_->keys), std::end(current_->keys), 0);
    std::fill(std::begin(current_->buttons), std::end(current_->buttons), false);
}

bool FakeDisplays::IsPrimary(const qvDisplay* display) {
    return !list_.empty() && list_.front() == &Of(display);
}

}  // namespace qv::testing
