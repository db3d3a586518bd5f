// cairo as the reference of the drawing tests: a cleared surface read back as an OpenCV
// image, and the statistics of a comparison of two grey images near a shape's boundary.
#pragma once

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <opencv2/core.hpp>
#include <sstream>
#include <string>

namespace qv::test {

// ---- cairo -------------------------------------------------------------------------------

// A cleared cairo surface (A8 for coverage, ARGB32 for colour) read back as an OpenCV image.
class CairoImage {
public:
    CairoImage(int width, int height, cairo_format_t format)
        : surface_(cairo_image_surface_create(format, width, height)),
          cr_(cairo_create(surface_)) {}
    ~CairoImage() {
        cairo_destroy(cr_);
        cairo_surface_destroy(surface_);
    }
    cairo_t* operator->() const { return cr_; }
    cairo_t* get() const { return cr_; }
    cv::Mat Image() const {
        cairo_surface_flush(surface_);
        const int type =
            cairo_image_surface_get_format(surface_) == CAIRO_FORMAT_A8 ? CV_8UC1 : CV_8UC4;
        return cv::Mat(cairo_image_surface_get_height(surface_),
                       cairo_image_surface_get_width(surface_), type,
                       cairo_image_surface_get_data(surface_),
                       size_t(cairo_image_surface_get_stride(surface_)))
            .clone();
    }

private:
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

struct EdgeStats {
    int outsideBand = 0;  // pixels beyond the band that differ
    double worstFar = 0;  // the largest of those differences
    double meanBand = 0, maxBand = 0;
    double sumDifference = 0;  // signed, in pixels (255 = 1)
    double perimeter = 0;

    std::string Describe() const {
        std::ostringstream out;
        out << "far differences " << outsideBand << " (worst " << worstFar << "), band mean "
            << meanBand << " max " << maxBand << ", coverage difference " << sumDifference
            << " for perimeter " << perimeter;
        return out.str();
    }
};

// Compares two grey images whose pixels lie at distance(x, y) from the boundary.
inline EdgeStats Compare(const cv::Mat& ours, const cv::Mat& theirs, double band,
                         const std::function<double(int, int)>& distance, double perimeter) {
    EdgeStats stats;
    stats.perimeter = perimeter;
    double bandSum = 0;
    int bandCount = 0;
    for (int y = 0; y < ours.rows; ++y) {
        for (int x = 0; x < ours.cols; ++x) {
            const int a = ours.at<uint8_t>(y, x), b = theirs.at<uint8_t>(y, x);
            stats.sumDifference += (a - b) / 255.0;
            if (distance(x, y) > band) {
                if (a != b) {
                    ++stats.outsideBand;
                    stats.worstFar = std::max(stats.worstFar, distance(x, y));
                }
                continue;
            }
            bandSum += std::abs(a - b);
            ++bandCount;
            stats.maxBand = std::max<double>(stats.maxBand, std::abs(a - b));
        }
    }
    stats.meanBand = bandCount > 0 ? bandSum / bandCount : 0;
    return stats;
}

}  // namespace qv::test
