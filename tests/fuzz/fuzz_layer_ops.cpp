// Layer operations drawn from the fuzzer's bytes (the steps of the compositor's property
// test) on a small display: every step must stay inside its buffers and leave the window
// showing exactly what the picture recomposes to.
#include <cstdint>
#include <cstdlib>

#include "tests/scene/support/layer_steps.h"

namespace {

class Bytes final : public qv::test::Choices {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    // As many bytes as the range needs; 0 once the input is used up.
    uint32_t Below(uint32_t bound) override {
        uint32_t value = 0;
        for (uint32_t range = bound - 1; range != 0 && at_ < size_; range >>= 8) {
            value = value << 8 | data_[at_++];
        }
        return value % bound;
    }
    bool More() const { return at_ < size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::test::Planes background = qv::test::Solid(48, 32, 0);
    for (size_t i = 0; i < background.rgb.size(); ++i) background.rgb[i] = uint32_t(i) * 0x030507;
    qv::test::SceneDisplay scene(background);
    qv::test::LayerSteps steps(nullptr, scene);
    Bytes bytes(data, size);
    for (int step = 0; step < 400 && bytes.More(); ++step) {
        steps.Step(bytes);
        if (!steps.Redirected() && !steps.WindowMatches()) std::abort();
    }
    return 0;
}
