// The README's "Making an applet" example runs as the README shows it: its commands (the
// listing, qvasm, qvmkapplet and the player of this build) run in a scratch folder and print
// the lines the README promises.
#include <fstream>
#include <sstream>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

// The code blocks (lines indented by four blanks) of the README section under heading, in
// order, without their indentation.
std::vector<std::string> CodeBlocks(const std::string& heading) {
    std::ifstream in(std::filesystem::path(QV_SOURCE_DIR) / "README.md");
    std::vector<std::string> blocks;
    bool inSection = false, inBlock = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("## ")) {
            inSection = line == heading;
            continue;
        }
        const bool code = inSection && line.starts_with("    ");
        if (code && !inBlock) blocks.emplace_back();
        if (code) blocks.back() += line.substr(4) + "\n";
        inBlock = code;
    }
    return blocks;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST(ReadmeExample, RunsAsShown) {
    const std::vector<std::string> blocks = CodeBlocks("## Making an applet");
    ASSERT_GE(blocks.size(), 2u) << "the commands and what they print";
    const std::string bin = std::filesystem::path(QUORVELLA_PATH).parent_path().string();
    ScratchDir scratch;
    const std::string script = scratch.Write(
        "example.sh", ToBytes(ReplaceAll(blocks[0], "build/release/bin/", bin + "/")));
    const Outcome o = Spawn({"/bin/bash", "-e", script}, scratch.path(), {});
    EXPECT_FALSE(o.hung);
    EXPECT_EQ(o.out, blocks[1]);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.status, 0);
}

}  // namespace
}  // namespace qv::testing
