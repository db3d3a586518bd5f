// After every step of a random run of layer operations (outside the batches drawn into the
// shown picture) the window shows exactly what the picture recomposes to from scratch: what each
// operation repaints covers everything it changed, and partial recompositions agree with a full
// one.
#include <random>

#include "tests/scene/layers/layer_fixture.h"
#include "tests/scene/support/layer_steps.h"

namespace qv::testing {
namespace {

class Generated final : public Choices {
public:
    explicit Generated(uint32_t seed) : rng_(seed) {}
    uint32_t Below(uint32_t bound) override { return rng_() % bound; }

private:
    std::mt19937 rng_;
};

class CompositorProperty : public LayerFixture {};

TEST_F(CompositorProperty, TheWindowAlwaysShowsAFullRecomposition) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        FreeLayerList(L, scene.picture);
        RefreshDisplayArea(L, 0, 0, scene.width, scene.height);
        Generated choices(seed);
        LayerSteps steps(L, scene);
        for (int step = 0; step < 200; ++step) {
            const char* what = steps.Step(choices);
            if (steps.Redirected()) continue;
            ASSERT_TRUE(steps.WindowMatches())
                << "seed " << seed << ", step " << step << ": " << what;
        }
    }
}

}  // namespace
}  // namespace qv::testing
