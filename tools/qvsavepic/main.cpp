// qvsavepic [--format N] [--colour 0xRRGGBB|none] [--quality Q] [--colors N] [--dither 0|1]
//           input.ppm|input.pam output
// Reads a binary PPM (P6) or PAM (P7, RGB or RGB_ALPHA; RGB_ALPHA sets the alpha flag) with
// a maximum value of 255 and saves it with SavePicture. Prints the error code on failure.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gfx/save_picture.h"
#include "runtime/errors.h"

namespace {

struct Options {
    int32_t format = IMGFMT_BMP;
    uint32_t colour = QV_NOCOLOR;
    int32_t quality = 90;
    int32_t colours = 256;
    int dither = 0;
    const char* input = nullptr;
    const char* output = nullptr;
};

struct Picture {
    std::vector<qvARGB> pixels;
    int32_t width = 0;
    int32_t height = 0;
    bool alpha = false;
};

bool ParseNumber(const char* text, long low, long high, long* out) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 0);
    if (end == text || *end != '\0' || value < low || value > high) return false;
    *out = value;
    return true;
}

bool ParseOption(const char* name, const char* value, Options& options) {
    long number = 0;
    if (std::strcmp(name, "--colour") == 0) {
        if (std::strcmp(value, "none") == 0) return true;
        if (!ParseNumber(value, 0, 0xFFFFFF, &number)) return false;
        options.colour = uint32_t(number);
        return true;
    }
    const struct {
        const char* name;
        long low, high;
        int32_t* target;
    } numbers[] = {{"--format", 0, 0x7FFFFFFF, &options.format},
                   {"--quality", 1, 100, &options.quality},
                   {"--colors", 2, 256, &options.colours},
                   {"--dither", 0, 1, &options.dither}};
    for (const auto& n : numbers) {
        if (std::strcmp(name, n.name) != 0) continue;
        if (!ParseNumber(value, n.low, n.high, &number)) return false;
        *n.target = int32_t(number);
        return true;
    }
    return false;
}

bool ParseArguments(int argc, char** argv, Options& options) {
    int i = 1;
    for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2)
        if (!ParseOption(argv[i], argv[i + 1], options)) return false;
    if (argc - i != 2) return false;
    options.input = argv[i];
    options.output = argv[i + 1];
    return true;
}

// The header's next token, skipping white space and comments.
bool NextToken(const std::string& data, size_t& at, std::string& token) {
    while (at < data.size()) {
        if (data[at] == '#') {
            while (at < data.size() && data[at] != '\n') ++at;
        } else if (std::isspace(static_cast<unsigned char>(data[at]))) {
            ++at;
        } else {
            break;
        }
    }
    const size_t start = at;
    while (at < data.size() && !std::isspace(static_cast<unsigned char>(data[at]))) ++at;
    token.assign(data, start, at - start);
    return !token.empty();
}

bool ReadHeaderNumber(const std::string& data, size_t& at, long high, long* out) {
    std::string token;
    return NextToken(data, at, token) && ParseNumber(token.c_str(), 1, high, out);
}

// PAM: "KEY value" lines up to ENDHDR. Returns the channel count (3 or 4), 0 when malformed.
int ReadPamHeader(const std::string& data, size_t& at, long* width, long* height) {
    std::string key, value;
    long depth = 0, maxval = 0;
    while (NextToken(data, at, key) && key != "ENDHDR") {
        long* target = key == "WIDTH"    ? width
                       : key == "HEIGHT" ? height
                       : key == "DEPTH"  ? &depth
                       : key == "MAXVAL" ? &maxval
                                         : nullptr;
        if (target != nullptr ? !ReadHeaderNumber(data, at, 65535, target)
                              : !NextToken(data, at, value))
            return 0;
    }
    if (key != "ENDHDR" || maxval != 255 || (depth != 3 && depth != 4)) return 0;
    return int(depth);
}

bool ReadPicture(const char* name, Picture& picture) {
    std::ifstream in(name, std::ios::binary);
    const std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    size_t at = 0;
    std::string magic;
    long width = 0, height = 0, maxval = 0;
    int channels = 0;
    if (!NextToken(data, at, magic)) return false;
    if (magic == "P6") {
        if (!ReadHeaderNumber(data, at, 65535, &width) ||
            !ReadHeaderNumber(data, at, 65535, &height) ||
            !ReadHeaderNumber(data, at, 255, &maxval) || maxval != 255)
            return false;
        channels = 3;
    } else if (magic == "P7") {
        channels = ReadPamHeader(data, at, &width, &height);
    }
    ++at;  // the one white-space character before the samples
    const size_t count = size_t(width) * size_t(height);
    if (channels == 0 || width < 1 || height < 1 || data.size() < at + count * channels)
        return false;
    picture.width = int32_t(width);
    picture.height = int32_t(height);
    picture.alpha = channels == 4;
    picture.pixels.resize(count);
    const auto* s = reinterpret_cast<const uint8_t*>(data.data() + at);
    for (size_t i = 0; i < count; ++i, s += channels)
        picture.pixels[i] = qvARGB(channels == 4 ? s[3] : 0xFF) << 24 | qvARGB(s[0]) << 16 |
                            qvARGB(s[1]) << 8 | s[2];
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: qvsavepic [--format N] [--colour 0xRRGGBB|none] [--quality Q] "
                     "[--colors N] [--dither 0|1] input.ppm|input.pam output\n");
        return 2;
    }
    Picture picture;
    if (!ReadPicture(options.input, picture)) {
        std::fprintf(stderr, "qvsavepic: %s is no 8-bit PPM or PAM picture\n", options.input);
        return 1;
    }
    const int error = SavePicture(
        options.format, picture.pixels.data(), picture.width, picture.height, options.output,
        options.colour, picture.alpha ? 1 : 0, options.quality, options.colours, options.dither);
    if (error == 0) return 0;
    char message[1024];
    FormatErrorMessage(error, message, sizeof message);
    std::printf("error %d: %s\n", error, message);
    return 1;
}
