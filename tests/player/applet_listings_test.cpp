// Applet listings run by the real player, the way a user runs an applet: every
// tests/player/applets/*.qvs is assembled, packed by qvmkapplet and run headless with -QUIET on
// the virtual clock in a scratch folder, its output, status and frames compared with the ";!"
// lines it carries:
//   ;! display W H [TITLE]  the applet declares display 1 of that size
//   ;! make WORD...         more words for qvmkapplet (paths relative to the scratch folder)
//   ;! option WORD...       more words for the player's command line
//   ;! data FILE            copies tests/player/applets/data/FILE into the scratch folder
//   ;! plugin FILE          copies the built plugin FILE (vectorgraphics.qvp, ...) into LIBS:
//   ;! env NAME=VALUE       one more environment variable of the run
//   ;! input LINE           one line of the headless input schedule (QV_HEADLESS_INPUT)
//   ;! out TEXT             the next line of standard output (TEXT may be empty)
//   ;! outprefix TEXT       the next line of standard output begins with TEXT (for lines that
//                           hold an address)
//   ;! err TEXT             the next line of standard error (none given: it must be empty)
//   ;! status N             the exit status (default 0)
//   ;! pixel FRAME X Y RGB  the window's pixel (X, Y) as present FRAME showed it: the newest
//                           frame written at or before that present; FRAME "last" is the last
//                           frame; FRAME@N names window N (default 1); RGB is hexadecimal
// Listings live outside a listings/ folder, which the engine's in-process runner takes.
#include <cstdlib>
#include <map>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

const std::filesystem::path kApplets =
    std::filesystem::path(QV_SOURCE_DIR) / "tests/player/applets";

struct PixelCheck {
    std::string frame;  // a present number or "last"
    int window = 1, x = 0, y = 0;
    uint32_t rgb = 0;
    int line = 0;
};

struct OutputLine {
    std::string text;
    bool prefix = false;  // the line only begins with text
};

struct AppletExpectations {
    std::vector<std::string> make, options, data, plugins, env, input, errors;
    std::vector<OutputLine> out;
    std::string err;
    int status = 0;
    std::vector<PixelCheck> pixels;
};

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

bool ParsePixel(const std::string& rest, PixelCheck* p) {
    const std::vector<std::string> w = Words(rest);
    if (w.size() != 4) return false;
    const size_t at = w[0].find('@');
    p->frame = w[0].substr(0, at);
    char* end = nullptr;
    if (at != std::string::npos) p->window = std::atoi(w[0].c_str() + at + 1);
    p->x = std::atoi(w[1].c_str());
    p->y = std::atoi(w[2].c_str());
    p->rgb = static_cast<uint32_t>(std::strtoul(w[3].c_str(), &end, 16));
    return *end == '\0' && p->window > 0 &&
           (p->frame == "last" || p->frame.find_first_not_of("0123456789") == std::string::npos);
}

// One ";!" directive; false when it is not one of the runner's.
bool ParseDirective(const std::string& name, const std::string& rest, int line,
                    AppletExpectations* e) {
    const std::vector<std::string> words = Words(rest);
    if (name == "display" && (words.size() == 2 || words.size() == 3)) {
        e->make.push_back("--display");
        e->make.push_back("1:" + words[0] + ":" + words[1] +
                          (words.size() == 3 ? ":" + words[2] : ""));
    } else if (name == "make") {
        e->make.insert(e->make.end(), words.begin(), words.end());
    } else if (name == "option") {
        e->options.insert(e->options.end(), words.begin(), words.end());
    } else if (name == "data" && words.size() == 1) {
        e->data.push_back(words[0]);
    } else if (name == "plugin" && words.size() == 1) {
        e->plugins.push_back(words[0]);
    } else if (name == "env" && words.size() == 1) {
        e->env.push_back(words[0]);
    } else if (name == "input") {
        e->input.push_back(rest);
    } else if (name == "out" || name == "outprefix") {
        e->out.push_back({rest, name == "outprefix"});
    } else if (name == "err") {
        e->err += rest + "\n";
    } else if (name == "status" && words.size() == 1) {
        e->status = std::atoi(words[0].c_str());
    } else if (name == "pixel") {
        PixelCheck p;
        p.line = line;
        if (!ParsePixel(rest, &p)) return false;
        e->pixels.push_back(p);
    } else {
        return false;
    }
    return true;
}

AppletExpectations ParseAppletExpectations(const std::string& text) {
    AppletExpectations e;
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, 2, ";!") != 0) continue;
        std::string body = line.substr(start + 2);
        if (!body.empty() && body[0] == ' ') body.erase(0, 1);
        const size_t space = body.find(' ');
        const std::string name = body.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : body.substr(space + 1);
        if (!ParseDirective(name, rest, number, &e))
            e.errors.push_back("line " + std::to_string(number) + ": " + line);
    }
    return e;
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> AppletListings() {
    std::vector<std::string> names;
    if (!std::filesystem::is_directory(kApplets)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(kApplets)) {
        if (entry.path().extension() == ".qvs") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The frame files of one window by present number.
std::map<uint64_t, std::string> FramesOf(const std::string& dir, int window) {
    std::map<uint64_t, std::string> frames;
    const std::string suffix = "-w" + std::to_string(window) + ".png";
    for (const std::string& path : FilesIn(dir)) {
        const std::string name = std::filesystem::path(path).filename().string();
        if (name.rfind("frame-", 0) != 0 || name.size() <= suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        frames[std::strtoull(name.c_str() + 6, nullptr, 10)] = path;
    }
    return frames;
}

// The output against the expected lines: each whole, or beginning with a prefix line's text.
void ExpectOutput(const std::string& out, const std::vector<OutputLine>& expected) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::string want, got;
    for (size_t i = 0; i < std::max(lines.size(), expected.size()); ++i) {
        const std::string* line = i < lines.size() ? &lines[i] : nullptr;
        const OutputLine* e = i < expected.size() ? &expected[i] : nullptr;
        const bool prefixed =
            e != nullptr && e->prefix && line != nullptr && line->rfind(e->text, 0) == 0;
        got += line != nullptr ? *line + "\n" : "";
        want += prefixed ? *line + "\n" : e != nullptr ? e->text + "\n" : "";
    }
    EXPECT_EQ(got, want);
    EXPECT_TRUE(out.empty() || out.back() == '\n') << "the last line has no line break";
}

class AppletListing : public EndToEndTest, public ::testing::WithParamInterface<std::string> {
protected:
    void CheckPixels(const std::vector<PixelCheck>& checks) {
        std::map<std::string, Picture> decoded;
        for (const PixelCheck& p : checks) {
            SCOPED_TRACE("pixel check of listing line " + std::to_string(p.line));
            const std::map<uint64_t, std::string> frames = FramesOf(scratch / "frames", p.window);
            auto shown = frames.end();
            if (p.frame == "last") {
                if (!frames.empty()) shown = std::prev(frames.end());
            } else {
                shown = frames.upper_bound(std::strtoull(p.frame.c_str(), nullptr, 10));
                shown = shown == frames.begin() ? frames.end() : std::prev(shown);
            }
            ASSERT_NE(shown, frames.end()) << "no frame written by present " << p.frame;
            auto [it, fresh] = decoded.try_emplace(shown->second);
            if (fresh) it->second = ReadPpm("pngtopnm " + shown->second + " 2>/dev/null");
            const Picture& picture = it->second;
            ASSERT_TRUE(p.x >= 0 && p.y >= 0 && p.x < picture.width && p.y < picture.height)
                << shown->second << " is " << picture.width << " x " << picture.height;
            char got[8], want[8];
            std::snprintf(got, sizeof got, "%06X", picture.At(p.x, p.y));
            std::snprintf(want, sizeof want, "%06X", p.rgb);
            EXPECT_EQ(std::string(got), std::string(want))
                << "at " << p.x << "," << p.y << " in " << shown->second;
        }
    }
};

TEST_P(AppletListing, RunsAsExpected) {
    const std::filesystem::path source = kApplets / (GetParam() + ".qvs");
    const std::string text = ReadText(source);
    const AppletExpectations e = ParseAppletExpectations(text);
    ASSERT_TRUE(e.errors.empty()) << "unknown or malformed ;! lines:\n" << e.errors.front();
    if (!e.pixels.empty()) QV_REQUIRE_TOOL("pngtopnm");
    for (const std::string& file : e.data)
        std::filesystem::copy_file(kApplets / "data" / file, scratch / file);
    for (const std::string& plugin : e.plugins)
        std::filesystem::copy_file(std::filesystem::path(QV_TEST_PLUGIN_DIR) / plugin,
                                   scratch / ("libs/Quorvella/" + plugin));

    AssembleResult assembled = Assemble(text);
    ASSERT_TRUE(assembled.ok()) << source;
    std::vector<std::string> make = {"-o", scratch / "applet.qva", "--chunk",
                                     scratch.Write("applet.qvb", assembled.bytes)};
    make.insert(make.end(), e.make.begin(), e.make.end());
    std::string error;
    // The make words name files relative to the scratch folder.
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(scratch.path());
    const int made = RunMakeApplet(make, &error);
    std::filesystem::current_path(cwd);
    ASSERT_EQ(made, 0) << error;

    // The virtual clock makes waits instant and every run write the same frames.
    std::vector<std::string> env = {"QV_HEADLESS_CLOCK=virtual"};
    env.insert(env.end(), e.env.begin(), e.env.end());
    scratch.MakeDir("frames");
    env.push_back("QV_HEADLESS_FRAMES=" + (scratch / "frames"));
    if (!e.input.empty()) {
        std::string schedule;
        for (const std::string& line : e.input) schedule += line + "\n";
        env.push_back("QV_HEADLESS_INPUT=" + scratch.Write("input.txt", ToBytes(schedule)));
    }
    std::vector<std::string> args = {"applet.qva", "-QUIET"};
    args.insert(args.end(), e.options.begin(), e.options.end());
    const Outcome o = Player(args, "", env);
    EXPECT_FALSE(o.hung);
    EXPECT_EQ(o.status, e.status);
    EXPECT_EQ(o.err, e.err);
    ExpectOutput(o.out, e.out);
    CheckPixels(e.pixels);
}

INSTANTIATE_TEST_SUITE_P(Applets, AppletListing, ::testing::ValuesIn(AppletListings()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(AppletListing);

}  // namespace
}  // namespace qv::testing
