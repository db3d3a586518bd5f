// The vector back end over cairo: the entry points of capability 0x20 (qv_plugin_api.h).
// Extents are measured on a 1 x 1 A8 surface; coverage is drawn into the caller's 8-bit
// plane as an A8 surface (through A8 tiles of our own where its rows or size do not suit
// cairo).
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugins/vectorgraphics/outline_text.h"
#include "runtime/plugin_api/qv_plugin_api.h"

namespace qv::vectorgraphics {

int GetPathExtents(qvPathExtentsRequest* request);
int DrawPath(const qvPathDrawRequest* request);
int TranslatePath(const qvPathTranslateRequest* request);
int GetCurrentPoint(const uint8_t* stream, size_t length, const qvPathStrokeStyle* style, double* x,
                    double* y);

}  // namespace qv::vectorgraphics
