#include "platform/linux/icons.h"

#include <strings.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "engine/error_codes.h"
#include "platform/linux/paths.h"
#include "platform/linux/private_dir.h"

namespace qv {
namespace {

constexpr std::string_view kHeader = "QVICON 1";
constexpr const char* kTypeNames[] = {"disk", "drawer", "tool", "project"};
// An icon is a few lines; a larger file is no icon of ours.
constexpr std::streamsize kMaxIconFile = 1 << 20;

int TypeNamed(std::string_view name) {
    for (size_t i = 0; i < std::size(kTypeNames); ++i) {
        if (name == kTypeNames[i]) return static_cast<int>(i) + 1;
    }
    return 0;
}

bool FitsOnALine(std::string_view text) {
    return text.find_first_of(std::string_view("\n\r\0", 3)) == std::string_view::npos;
}

bool ResolveIcon(const char* name, std::string* path) {
    std::string file(IconBaseName(name != nullptr ? name : ""));
    file += ".info";
    return ResolvePath(file, LeafLookup::kFold, path);
}

bool ReadIconFile(const std::string& path, qvIconInfo* icon) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string text(kMaxIconFile + 1, '\0');
    in.read(text.data(), kMaxIconFile + 1);
    if (in.gcount() > kMaxIconFile) return false;
    text.resize(static_cast<size_t>(in.gcount()));
    return ParseIcon(text, icon);
}

}  // namespace

std::string_view IconBaseName(std::string_view name) {
    constexpr std::string_view kSuffix = ".info";
    if (name.size() >= kSuffix.size() && strncasecmp(name.data() + name.size() - kSuffix.size(),
                                                     kSuffix.data(), kSuffix.size()) == 0) {
        name.remove_suffix(kSuffix.size());
    }
    return name;
}

bool ParseIcon(std::string_view text, qvIconInfo* icon) {
    *icon = {};
    bool first = true;
    bool hasTool = false;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (first) {
            if (line != kHeader) return false;
            first = false;
            continue;
        }
        if (line.empty() || line.front() == '#') continue;
        if (line.find('\0') != std::string_view::npos) return false;
        size_t space = line.find(' ');
        std::string_view keyword = line.substr(0, space);
        std::string_view value =
            space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        if (keyword == "type" && icon->type == 0) {
            if ((icon->type = TypeNamed(value)) == 0) return false;
        } else if (keyword == "tool" && !hasTool) {
            icon->defaultTool.assign(value);
            hasTool = true;
        } else if (keyword == "tooltype") {
            icon->toolTypes.emplace_back(value);
        } else {
            return false;
        }
    }
    return !first && icon->type != 0;
}

std::string FormatIcon(const qvIconInfo& icon) {
    std::ostringstream out;
    out << kHeader << "\ntype " << kTypeNames[icon.type - 1] << '\n';
    if (!icon.defaultTool.empty()) out << "tool " << icon.defaultTool << '\n';
    for (const std::string& toolType : icon.toolTypes) out << "tooltype " << toolType << '\n';
    return out.str();
}

}  // namespace qv

int LoadIconObject(const char* name, qvIconInfo* icon) {
    std::string path;
    if (!qv::ResolveIcon(name, &path) || !qv::ReadIconFile(path, icon)) return ERR_READFILE;
    return 0;
}

int WriteIconProperties(const char* name, const qvIconInfo& icon) {
    std::string path;
    qvIconInfo old;
    if (!qv::ResolveIcon(name, &path) || !qv::ReadIconFile(path, &old)) return ERR_READFILE;
    if (icon.type < 1 || icon.type > 4 || !qv::FitsOnALine(icon.defaultTool)) {
        return ERR_WRONGUSAGE;
    }
    for (const std::string& toolType : icon.toolTypes) {
        if (!qv::FitsOnALine(toolType)) return ERR_WRONGUSAGE;
    }
    return qv::ReplaceFile(path, qv::FormatIcon(icon)) ? 0 : ERR_WRITEFILE;
}
