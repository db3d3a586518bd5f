// The in-memory transport of the network fuzz targets: it hands out the input's stream in
// pieces of 1 to MaxPiece bytes, cut where a seeded generator says, and reports "closed" at the
// end, so that a target explores how a hostile peer splits its bytes into reads.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <string_view>

#include "libs/network/net_objects.h"

namespace qv::fuzz {

struct PiecewiseTransport {
    std::string_view stream;
    size_t position = 0;
    std::minstd_rand cuts;
};
inline PiecewiseTransport transport;

// A receive hook over `transport`.
template <size_t MaxPiece>
int ReadPiece(int32_t*, void* buffer, size_t length, size_t* count, const qvSocketTimeouts*) {
    *count = 0;
    if (transport.position >= transport.stream.size()) return kStatusClosed;
    const size_t piece = std::min({length, transport.stream.size() - transport.position,
                                   size_t(transport.cuts() % MaxPiece + 1)});
    std::memcpy(buffer, transport.stream.data() + transport.position, piece);
    transport.position += piece;
    *count = piece;
    return 0;
}

}  // namespace qv::fuzz
