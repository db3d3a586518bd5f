// Script errors name the listing: the README's hello listing with a misspelt command, made by
// the real qvasm and qvmkapplet, reports its file and line through the debug device and the
// error requester; a line map given without its container maps the chunk's own source.
#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

// Line 13 names a command that does not exist; the call of line 16 fails.
constexpr char kHello[] = R"(; Greets, then adds the numbers 1 to 10 in a loop.
.function main
    GETGLOBAL r0 "debugprint"
    LOADK r1 "Hello from an applet!"
    CALL r0 2 1
    LOADK r0 0
    LOADK r1 1
add:
    ADD r0 r0 r1
    ADD r1 r1 1
    LE 1 r1 10
    JMP add
    GETGLOBAL r2 "debugprnt"
    LOADK r3 "Sum of 1 to 10:"
    MOVE r4 r0
    CALL r2 3 1
    RETURN r0 1
.end
)";

class ListingErrors : public EndToEndTest {
protected:
    // Runs the tool in the scratch folder; its exit status.
    int Tool(const std::vector<std::string>& args) {
        return Spawn(args, scratch.path(), {}).status;
    }
    // hello.qvs assembled by qvasm and packed by qvmkapplet with the extra options.
    void Build(const std::vector<std::string>& extra = {}) {
        scratch.Write("hello.qvs", ToBytes(kHello));
        ASSERT_EQ(Tool({QVASM_PATH, "asm", "hello.qvs", "-o", "hello.qvb"}), 0);
        std::vector<std::string> args = {QVMKAPPLET_PATH, "-o", "hello.qva", "--chunk",
                                         "hello.qvb"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_EQ(Tool(args), 0);
    }
};

TEST_F(ListingErrors, AnErrorNamesTheListingAndItsLine) {
    Build();
    Expect(Player({"hello.qva", "-QUIET", "-DEBUGDEVICE", "@stdout"}),
           "Hello from an applet!\nhello.qvs:16: Function debugprnt() not found!\n", "", 20);
    Expect(Player({"hello.qva", "-QUIET"}), "Hello from an applet!\n",
           "[QuorvellaPlayer] Function debugprnt() not found!\n"
           "File: hello.qvs (current line: 16 - In function: <<unnamed>>)\n",
           20);
}

TEST_F(ListingErrors, ALineMapWithoutItsContainerMapsTheChunksOwnSource) {
    const struct {
        const char* map;
        const char* located;
    } cases[] = {
        {"10:20:100:main.hws", "main.hws:107"},
        {"1:9:0:main.hws", "---:-1"},          // the line lies outside the map
        {"10:20:0:main.hws:other", "---:-1"},  // another source's map
        {"10:20:0:main.hws:@hello.qvs", "main.hws:7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.map);
        Build({"--linemap", c.map});
        Expect(Player({"hello.qva", "-QUIET", "-DEBUGDEVICE", "@stdout"}),
               std::string("Hello from an applet!\n") + c.located +
                   ": Function debugprnt() not found!\n",
               "", 20);
    }
}

}  // namespace
}  // namespace qv::testing
