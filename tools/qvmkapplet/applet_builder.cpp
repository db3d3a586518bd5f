#include "tools/qvmkapplet/applet_builder.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>

namespace qv {
namespace {

void Put8(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
}

void Put16(Bytes& out, uint32_t v) {
    Put8(out, v >> 8);
    Put8(out, v);
}

void Put32(Bytes& out, uint32_t v) {
    Put16(out, v >> 16);
    Put16(out, v);
}

void PutText(Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

void PutString(Bytes& out, std::string_view text) {
    PutText(out, text);
    Put8(out, 0);
}

void Patch32(Bytes& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void PutGradient(Bytes& out, const GradientSpec& g) {
    Put8(out, g.style);
    for (uint32_t v : {g.centerX, g.centerY, g.balance, g.border}) Put32(out, v);
    Put8(out, static_cast<uint32_t>(g.stops.size()));
    for (const auto& stop : g.stops) {
        Put32(out, stop.colour);
        Put32(out, stop.position);
    }
}

void PutRegions(Bytes& out, const std::vector<RegionSpec>& regions) {
    Put32(out, static_cast<uint32_t>(regions.size()));
    for (const RegionSpec& r : regions) {
        for (uint32_t v : {r.type, r.x, r.y, r.width, r.height}) Put32(out, v);
    }
}

struct FlagSection {
    std::string_view name;
    uint8_t type;
};
constexpr FlagSection kFlagSections[] = {
    {"borderless", 18},  {"fixed", 19},        {"sizeable", 20},
    {"hidepointer", 24}, {"nomodeswitch", 25}, {"nohide", 30},
};

// Pictures take their transparent colour from the first argument, where -1 means none.
uint32_t NotGivenArg1(uint8_t type) {
    const bool picture = type == 0 || type == 1 || type == 2 || type == 7;
    return picture ? 0xFFFFFFFF : 0;
}

Bytes Compress(const Bytes& container) {
    uLongf size = compressBound(container.size());
    Bytes out(8 + size);
    std::memcpy(out.data(), "QVZ\0\0\0\0\0", 8);
    compress2(out.data() + 8, &size, container.data(), container.size(), Z_DEFAULT_COMPRESSION);
    out.resize(8 + size);
    return out;
}

}  // namespace

void AppletBuilder::SetVersion(uint8_t major, uint8_t minor) {
    major_ = major;
    minor_ = minor;
}

void AppletBuilder::SetMagic(std::string_view magic) {
    magic_ = std::string(magic.substr(0, 4));
    magic_.resize(4, '\0');
}

AppletBuilder::Section& AppletBuilder::NewSection(uint8_t type) {
    return sections_.emplace_back(Section{type, {}, {}, std::nullopt});
}

void AppletBuilder::AddInfo(int n, std::string_view text) {
    PutString(NewSection(static_cast<uint8_t>(10 + n)).data, text);
}

void AppletBuilder::AddTitle(std::string_view text) {
    Bytes& out = NewSection(4).data;
    Put16(out, static_cast<uint32_t>(text.size()));
    PutText(out, text);
}

bool AppletBuilder::AddFlag(std::string_view name, bool on) {
    auto it = std::find_if(std::begin(kFlagSections), std::end(kFlagSections),
                           [&](const FlagSection& f) { return f.name == name; });
    if (it == std::end(kFlagSections)) return false;
    Put8(NewSection(it->type).data, on ? 1 : 0);
    return true;
}

void AppletBuilder::AddScreen(uint16_t width, uint16_t height) {
    Bytes& out = NewSection(22).data;
    Put16(out, width);
    Put16(out, height);
}

// Background pictures and displays carry a fill from 4.7 on.
bool AppletBuilder::HasFill() const {
    return major_ > 4 || (major_ == 4 && minor_ >= 7);
}

AppletBuilder::Section AppletBuilder::PreloadSection(const PreloadSpec& item,
                                                     std::vector<Bytes>* blobs) const {
    Section s{2, {}, {}, std::nullopt};
    Bytes& out = s.data;
    auto fixup = [&](Bytes blob) {
        blobs->push_back(std::move(blob));
        s.fixups.push_back({out.size(), blobs->size() - 1});
        Put32(out, 0);
    };
    Put32(out, 1);  // one item
    Put8(out, item.type);
    Put32(out, item.id);
    if (!item.name.empty()) {
        fixup(Bytes(item.name.begin(), item.name.end()));
    } else {
        Put32(out, 0);
    }
    Put32(out, static_cast<uint32_t>(item.name.size()));
    if (item.linked) {
        fixup(*item.linked);
    } else {
        Put32(out, 0);
    }
    Put32(out, item.linked ? static_cast<uint32_t>(item.linked->size()) : 0);
    for (uint32_t v : {item.arg1.value_or(NotGivenArg1(item.type)), item.arg2, item.line}) {
        Put32(out, v);
    }
    auto fill = [&](bool withColour) {
        Put8(out, item.fillStyle);
        if (withColour) Put32(out, item.colour);
        Put32(out, item.gradientEnd);
        Put16(out, item.angle);
        for (uint32_t v : {item.textureBrush, item.textureX, item.textureY}) Put32(out, v);
        if (major_ != 4) PutGradient(out, item.gradient);
    };
    auto put16s = [&](std::initializer_list<int32_t> values) {
        for (int32_t v : values) Put16(out, static_cast<uint32_t>(v));
    };
    switch (item.type) {
        case 0:
            if (HasFill()) fill(true);
            break;
        case 1:
            put16s({item.width, item.height, item.x, item.y, item.globalAlpha});
            if (major_ > 4) Put8(out, item.hardware);
            break;
        case 2:
            if (major_ > 2) Put8(out, item.fromDisk);
            if (major_ != 3 && !(major_ == 4 && minor_ == 0)) {
                put16s({item.width, item.height, item.frames, item.framesPerRow, item.x, item.y});
            }
            break;
        case 5:
            put16s({item.x, item.y, item.right, item.bottom});
            break;
        case 7:
            put16s({item.width, item.height, item.frames, item.framesPerRow, item.x, item.y});
            break;
        case 10:
            for (uint32_t v : {item.bgpic, static_cast<uint32_t>(item.x),
                               static_cast<uint32_t>(item.y), static_cast<uint32_t>(item.width),
                               static_cast<uint32_t>(item.height), item.colour, item.styleFlags,
                               item.givenFlags, item.scaleWidth, item.scaleHeight}) {
                Put32(out, v);
            }
            PutRegions(out, item.dragRegions);
            PutRegions(out, item.sizeRegions);
            Put16(out, static_cast<uint32_t>(item.title.size()));
            PutText(out, item.title);
            if (HasFill()) fill(false);
            break;
        default:
            break;
    }
    return s;
}

void AppletBuilder::AddPreload(const PreloadSpec& item) {
    NewSection(2).preload = item;  // laid out by Build, under the final version
}

void AppletBuilder::AddDisplay(uint32_t id, uint32_t width, uint32_t height,
                               std::string_view title) {
    AddPreload(DisplayItem(id, width, height, title));
}

PreloadSpec DisplayItem(uint32_t id, uint32_t width, uint32_t height, std::string_view title) {
    PreloadSpec item;
    item.type = 10;
    item.id = id;
    item.width = static_cast<int32_t>(width);
    item.height = static_cast<int32_t>(height);
    item.x = item.y = -100000;
    item.styleFlags = 0x400;
    item.fillStyle = 1;
    item.title = std::string(title);
    return item;
}

void AppletBuilder::AddLink(std::string_view name, const Bytes& data, bool external) {
    Section& s = NewSection(26);
    Put32(s.data, 1);
    Put32(s.data, 0);
    PutString(s.data, name);
    if (external) {
        Put32(s.data, 0xFFFFFFFF);
        Put32(s.data, static_cast<uint32_t>(data.size()));
        blobs_.push_back(data);
        s.fixups.push_back({s.data.size(), blobs_.size() - 1});
        Put32(s.data, 0);
    } else {
        Put32(s.data, static_cast<uint32_t>(data.size()));
        s.data.insert(s.data.end(), data.begin(), data.end());
    }
}

void AppletBuilder::AddConstant(std::string_view name, double value) {
    Bytes& out = NewSection(31).data;
    PutString(out, name);
    Put8(out, 0);
    uint64_t bits = std::bit_cast<uint64_t>(value);
    Put32(out, static_cast<uint32_t>(bits >> 32));
    Put32(out, static_cast<uint32_t>(bits));
    Put8(out, 0);  // the empty name that ends the records
}

void AppletBuilder::AddConstant(std::string_view name, std::string_view text) {
    Bytes& out = NewSection(31).data;
    PutString(out, name);
    Put8(out, 1);
    PutString(out, text);
    Put8(out, 0);
}

void AppletBuilder::AddLabel(std::string_view name, uint32_t value) {
    Bytes& out = NewSection(9).data;
    Put32(out, 1);
    Put32(out, value);
    PutString(out, name);
}

void AppletBuilder::AddLineMap(uint32_t first, uint32_t last, uint32_t offset,
                               std::string_view source, std::optional<std::string_view> container) {
    Bytes& out = NewSection(container ? 27 : 8).data;
    Put32(out, 1);
    for (uint32_t v : {first, last, offset}) Put32(out, v);
    PutString(out, source);
    if (container) PutString(out, *container);
}

void AppletBuilder::AddRawSection(uint8_t type, const Bytes& data) {
    NewSection(type).data = data;
}

Bytes AppletBuilder::Build() const {
    Bytes out;
    PutText(out, magic_);
    Put32(out, 0);  // header bytes the loader skips
    Put8(out, 10);
    Put8(out, major_);
    Put8(out, minor_);
    std::vector<Bytes> blobs = blobs_;
    std::vector<std::pair<size_t, size_t>> patches;  // (position in out, blob)
    for (const Section& given : sections_) {
        const Section s = given.preload ? PreloadSection(*given.preload, &blobs) : given;
        Put8(out, s.type);
        for (const Fixup& f : s.fixups) patches.push_back({out.size() + f.at, f.blob});
        out.insert(out.end(), s.data.begin(), s.data.end());
    }
    Put8(out, 1);
    Put32(out, static_cast<uint32_t>(chunk_.size()));
    out.insert(out.end(), chunk_.begin(), chunk_.end());
    std::vector<uint32_t> blobOffsets;
    for (const Bytes& b : blobs) {
        blobOffsets.push_back(static_cast<uint32_t>(out.size()));
        out.insert(out.end(), b.begin(), b.end());
    }
    for (auto [at, blob] : patches) Patch32(out, at, blobOffsets[blob]);
    if (compressed_) out = Compress(out);
    if (truncate_ && *truncate_ < out.size()) out.resize(*truncate_);
    return out;
}

bool AppendAppletToPlayer(const Bytes& player, const Bytes& applet, Bytes* out,
                          std::string* error) {
    const std::boyer_moore_horspool_searcher marker(std::begin(kAppletLinkMarker),
                                                    std::end(kAppletLinkMarker));
    auto first = std::search(player.begin(), player.end(), marker);
    if (first == player.end() || first - player.begin() < 4) {
        *error = "the player holds no applet link record";
        return false;
    }
    if (std::search(first + 1, player.end(), marker) != player.end()) {
        *error = "the player holds more than one applet link record";
        return false;
    }
    *out = player;
    Patch32(*out, static_cast<size_t>(first - player.begin()) - 4,
            static_cast<uint32_t>(player.size()));
    out->insert(out->end(), applet.begin(), applet.end());
    return true;
}

}  // namespace qv
