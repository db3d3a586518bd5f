// Builds applet containers for tests: well-formed ones section by section, and broken ones
// (another magic, cut files, unknown sections). The layout is written out here on its own,
// without the loader's code, so that the two check each other.
//
// The version section comes first; every other section follows in the order it was added;
// the program chunk comes after them, and item names and external linked data after the
// chunk, with their offsets patched in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

using Bytes = std::vector<uint8_t>;

struct GradientSpec {
    uint8_t style = 2;
    uint32_t centerX = 500000;  // fractions times 1000000
    uint32_t centerY = 500000;
    uint32_t balance = 500000;
    uint32_t border = 0;
    struct Stop {
        uint32_t colour;
        uint32_t position;
    };
    std::vector<Stop> stops;
};

struct RegionSpec {
    uint32_t type, x, y, width, height;
};

// One preload item of section 2. Fields a type does not carry are ignored.
struct PreloadSpec {
    uint8_t type = 0;
    uint32_t id = 1;
    std::string name;             // written after the chunk; empty: name size 0
    std::optional<Bytes> linked;  // linked data, written after the chunk
    // None: the player's "not given", which is -1 (no transparent colour) for pictures (0, 1,
    // 2, 7) and 0 for the other types.
    std::optional<uint32_t> arg1;
    uint32_t arg2 = 0, line = 0;
    // Pictures (1, 2, 7), buttons (5) and displays (10); the first four types keep them in
    // 16 bits, displays in 32.
    int32_t width = 0, height = 0, x = 0, y = 0;
    int32_t frames = 0, framesPerRow = 0, globalAlpha = -1;  // -1: no global alpha
    uint8_t hardware = 0, fromDisk = 0;
    int32_t right = 0, bottom = 0;  // buttons: left = x, top = y
    // Fills of background pictures (0) and displays (10): none for a picture, which would
    // otherwise lose its transparent parts to the fill; DisplayItem fills with colour 0.
    uint8_t fillStyle = 0;
    uint32_t colour = 0, gradientEnd = 0;
    uint16_t angle = 0;
    uint32_t textureBrush = 0, textureX = 0, textureY = 0;
    GradientSpec gradient;
    // Displays (10).
    uint32_t bgpic = 0, styleFlags = 0, givenFlags = 0, scaleWidth = 0, scaleHeight = 0;
    std::vector<RegionSpec> dragRegions, sizeRegions;
    std::string title;
};

// A display item of that size and title, centred and active, filled with colour 0.
PreloadSpec DisplayItem(uint32_t id, uint32_t width, uint32_t height, std::string_view title);

class AppletBuilder {
public:
    void SetVersion(uint8_t major, uint8_t minor);
    void SetChunk(Bytes chunk) { chunk_ = std::move(chunk); }
    // "QVA" and a zero byte by default; other text is cut or zero-padded to 4 bytes.
    void SetMagic(std::string_view magic);
    // "QVZ", four zero bytes and one zlib stream of the whole container.
    void SetCompressed(bool compressed) { compressed_ = compressed; }
    // Keeps only the first n bytes of the result.
    void SetTruncate(size_t n) { truncate_ = n; }

    void AddInfo(int n, std::string_view text);  // n 1..5: sections 11..15
    void AddTitle(std::string_view text);        // section 4
    // borderless, fixed, sizeable, hidepointer, nomodeswitch, nohide; false when unknown.
    bool AddFlag(std::string_view name, bool on);
    void AddScreen(uint16_t width, uint16_t height);  // section 22
    void AddPreload(const PreloadSpec& item);         // section 2 with one item
    void AddDisplay(uint32_t id, uint32_t width, uint32_t height, std::string_view title);
    // Section 26 with one file: its data inline, or (external) after the chunk.
    void AddLink(std::string_view name, const Bytes& data, bool external);
    void AddConstant(std::string_view name, double value);  // section 31
    void AddConstant(std::string_view name, std::string_view text);
    void AddLabel(std::string_view name, uint32_t value);  // section 9
    // Section 27 with a container name, section 8 without.
    void AddLineMap(uint32_t first, uint32_t last, uint32_t offset, std::string_view source,
                    std::optional<std::string_view> container);
    // A section of any type with the given bytes after its type byte.
    void AddRawSection(uint8_t type, const Bytes& data);

    Bytes Build() const;

private:
    struct Fixup {
        size_t at;    // where the offset word stands in the section's data
        size_t blob;  // what it points at: an index into the blobs after the chunk
    };
    struct Section {
        uint8_t type;
        Bytes data;
        std::vector<Fixup> fixups;
        std::optional<PreloadSpec> preload;  // laid out at Build time
    };
    Section& NewSection(uint8_t type);
    Section PreloadSection(const PreloadSpec& item, std::vector<Bytes>* blobs) const;
    bool HasFill() const;

    uint8_t major_ = 5, minor_ = 0;
    std::string magic_ = std::string("QVA\0", 4);
    bool compressed_ = false;
    std::optional<size_t> truncate_;
    Bytes chunk_;
    std::vector<Section> sections_;
    std::vector<Bytes> blobs_;  // names and external data, written after the chunk
};

// OUT for --append-to: the player with the applet appended and its link record's offset
// word set to where the applet starts. False (and error set) when the player does not hold
// the link record's marker exactly once.
bool AppendAppletToPlayer(const Bytes& player, const Bytes& applet, Bytes* out, std::string* error);

// The eight marker bytes that follow the offset word of the link record.
inline constexpr uint8_t kAppletLinkMarker[8] = {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A};

// Runs the command line of qvmkapplet; 0 on success, else 1 with a message in error.
int RunMakeApplet(const std::vector<std::string>& args, std::string* error);
// Every option of the command line with a line of description.
std::string MakeAppletHelp();

}  // namespace qv
