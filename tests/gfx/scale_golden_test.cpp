// Golden outputs of bilinear ScalePixels: random stored values (every alpha byte, unused bits
// set) scaled up and down between odd sizes, one-pixel sides and vector-width tails, with an
// alpha plane beside. The destination rows are wider than the scaled width and filled with a
// guard value first, so the hash also pins that nothing past the width is written. A changed
// hash is printed with its case; pin a new one only for a meant change.
#include <gtest/gtest.h>

#include <vector>

#include "gfx/pixel_format.h"
#include "gfx/scale.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/fnv_hash.h"

namespace {

struct Job {
    int32_t sourceWidth, sourceHeight, destWidth, destHeight;
};
constexpr Job kJobs[] = {
    {67, 41, 31, 19}, {31, 19, 67, 41},     {1, 9, 5, 7},       {13, 1, 29, 3},   {1, 1, 9, 4},
    {7, 7, 7, 7},     {260, 256, 130, 128}, {301, 23, 150, 11}, {17, 33, 33, 65}, {64, 48, 3, 2},
    {2, 2, 41, 37},   {96, 54, 47, 27},     {40, 30, 39, 29},
};
// Halving and near-halving widths: whole vector blocks, odd tails, blocks that read up to the
// row's last pixel and steps just over two columns that leave the contiguous reads.
constexpr Job kHalvingJobs[] = {
    {35, 9, 17, 4}, {34, 6, 17, 3}, {33, 5, 16, 2},    {49, 7, 24, 3},
    {67, 4, 32, 2}, {81, 3, 40, 1}, {1921, 3, 960, 1}, {203, 11, 97, 5},
};
constexpr int32_t kPadding = 5;  // pixels (bytes in the alpha plane) right of each row

using Hash = qv::test::FnvHash;

void ScaleInto(const Job& job, uint32_t format, uint32_t seed, Hash& hash) {
    qv::test::BitMapPtr source =
        qv::test::RandomRawBitMap(job.sourceWidth, job.sourceHeight, seed, format);
    std::vector<uint8_t> sourceAlpha(size_t(job.sourceWidth) * job.sourceHeight);
    for (size_t i = 0; i < sourceAlpha.size(); ++i) sourceAlpha[i] = uint8_t(i * 37 + seed);
    const int bytes = qv::BytesPerPixel(format);
    const int32_t rowLength = job.destWidth + kPadding;
    std::vector<uint8_t> dest(size_t(rowLength) * job.destHeight * bytes, 0xA5);
    std::vector<uint8_t> destAlpha(size_t(rowLength) * job.destHeight, 0x5A);
    std::vector<int32_t> xSteps(job.destWidth + 1), xFractions(job.destWidth + 1);
    std::vector<int32_t> ySteps(job.destHeight + 1), yFractions(job.destHeight + 1);
    std::vector<uint32_t> rows(size_t(job.destWidth + 1) * 3);

    qvScaleBlock block{};
    block.source = static_cast<const uint8_t*>(source->pixels), block.dest = dest.data();
    block.sourceAlpha = sourceAlpha.data(), block.destAlpha = destAlpha.data();
    block.sourceWidth = job.sourceWidth, block.sourceHeight = job.sourceHeight;
    block.destWidth = job.destWidth, block.destHeight = job.destHeight;
    block.sourceRowLength = source->rowLength, block.destRowLength = rowLength;
    block.sourceAlphaBytesPerRow = job.sourceWidth, block.destAlphaBytesPerRow = rowLength;
    block.smooth = 1, block.format = format, block.bytesPerPixel = bytes;
    block.xSteps = xSteps.data(), block.xFractions = xFractions.data();
    block.ySteps = ySteps.data(), block.yFractions = yFractions.data();
    block.rows = rows.data();
    ScalePixels(block);
    hash.Add(dest.data(), dest.size());
    hash.Add(destAlpha.data(), destAlpha.size());
}

template <size_t N>
uint64_t HashOf(uint32_t format, const Job (&jobs)[N]) {
    Hash hash;
    uint32_t seed = 1;
    for (const Job& job : jobs) ScaleInto(job, format, seed++, hash);
    return hash.value;
}

struct FormatHash {
    uint32_t format;
    uint64_t hash;
};

template <size_t N, size_t M>
void ExpectHashes(const Job (&jobs)[N], const FormatHash (&rows)[M]) {
    for (const FormatHash& row : rows)
        EXPECT_EQ(HashOf(row.format, jobs), row.hash) << "format " << row.format;
}

TEST(ScaleGolden, BilinearKeepsItsBytesInEveryFormat) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    const FormatHash rows[] = {
        {QV_FMT_A8R8G8B8, 0x43D4F27674BCA7A5u},       {QV_FMT_R5G6B5, 0x51F6614D0872A89Du},
        {QV_FMT_R8G8B8A8, 0x1935450C72945E3Bu},       {QV_FMT_B8G8R8, 0x859550CC27F53617u},
        {QV_FMT_R5G5B5, 0xA50958A923BC2075u},         {QV_FMT_B5G5R5, 0xA50958A923BC2075u},
        {QV_FMT_R5G5B5_SWAPPED, 0x8B5BE33B5A9FD109u}, {QV_FMT_B5G5R5_SWAPPED, 0x8B5BE33B5A9FD109u},
        {QV_FMT_B5G6R5, 0x51F6614D0872A89Du},         {QV_FMT_R5G6B5_SWAPPED, 0x5F4FC0FA78742594u},
        {QV_FMT_B5G6R5_SWAPPED, 0x5F4FC0FA78742594u}, {QV_FMT_R8G8B8, 0x859550CC27F53617u},
        {QV_FMT_B8G8R8A8, 0x1935450C72945E3Bu},       {QV_FMT_A8B8G8R8, 0x43D4F27674BCA7A5u},
    };
    ExpectHashes(kJobs, rows);
}

TEST(ScaleGolden, BilinearHalvingKeepsItsBytes) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    const FormatHash rows[] = {
        {QV_FMT_A8R8G8B8, 0xF539B2C4D023F017u}, {QV_FMT_R8G8B8A8, 0x890FC6A1225FDF25u},
        {QV_FMT_B8G8R8A8, 0x890FC6A1225FDF25u}, {QV_FMT_A8B8G8R8, 0xF539B2C4D023F017u},
        {QV_FMT_R5G6B5, 0x55483A099A033BE7u},   {QV_FMT_B8G8R8, 0xEB03AC9FFEBD0E00u},
    };
    ExpectHashes(kHalvingJobs, rows);
}

}  // namespace
