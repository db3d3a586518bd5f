// The index maps of bilinear scaling, kept between calls in the graphics state: per axis a
// map of integer steps and a map of 16.16 fractions, and along x three rows of the
// destination's width: the source columns and two source rows interpolated across.
#pragma once

#include <cstdint>

namespace qv::gfx {

class ScaleMaps {
public:
    enum Axis { kX = 0, kY = 1 };

    ScaleMaps() = default;
    ~ScaleMaps() { Free(); }
    ScaleMaps(const ScaleMaps&) = delete;
    ScaleMaps& operator=(const ScaleMaps&) = delete;

    // Makes the maps of the axis hold at least size + 1 entries; they are regrown only for a
    // larger size. False when memory is short: the axis then has no maps and capacity 0, so
    // that no later call reads a map that failed.
    bool Reserve(Axis axis, int32_t size);
    int32_t* Steps(Axis axis) const { return axes_[axis].steps; }
    int32_t* Fractions(Axis axis) const { return axes_[axis].fractions; }
    // Three rows of x capacity + 1 entries.
    uint32_t* Rows() const { return rows_; }
    int32_t Capacity(Axis axis) const { return axes_[axis].capacity; }
    // Frees every map (FreeScaleTables at shutdown).
    void Free();

private:
    struct AxisMaps {
        int32_t* steps = nullptr;
        int32_t* fractions = nullptr;
        int32_t capacity = 0;
    };
    void Release(Axis axis);

    AxisMaps axes_[2];
    uint32_t* rows_ = nullptr;
};

}  // namespace qv::gfx
