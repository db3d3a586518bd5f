// The end-to-end harness of the player: the real binary, run headless in a scratch folder on
// applets that qvmkapplet builds from the listings in fixtures/, its standard output,
// standard error and exit status captured. A run that does not end within a generous bound
// is killed and fails (a hang guard, not a speed test).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/platform/file_test_support.h"
#include "tests/support/tool_check.h"
#include "tools/qvasm/qvasm.h"
#include "tools/qvmkapplet/applet_builder.h"

extern char** environ;

namespace qv::testing {

inline constexpr auto kHangBound = std::chrono::seconds(120);

struct Outcome {
    int status = -1;  // the exit status, or 128 + the signal that ended the process
    std::string out, err;
    bool hung = false;
};

// Called with the standard output so far; may signal the process.
using OutputWatch = std::function<void(pid_t pid, const std::string& out)>;

// The environment of this process without its QV_ settings and the variables extra sets,
// plus extra; the video back end is headless unless extra says otherwise.
inline std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra) {
    const auto setByExtra = [&](const char* entry) {
        return std::any_of(extra.begin(), extra.end(), [&](const std::string& e) {
            const size_t name = e.find('=') + 1;
            return name > 0 && std::strncmp(entry, e.c_str(), name) == 0;
        });
    };
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "QV", 2) != 0 && !setByExtra(*e)) env.emplace_back(*e);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    const bool chosen = std::any_of(extra.begin(), extra.end(), [](const std::string& e) {
        return e.rfind("QV_VIDEO=", 0) == 0;
    });
    if (!chosen) env.emplace_back("QV_VIDEO=headless");
    return env;
}

inline std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

inline bool Drain(int fd, std::string* into) {
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) into->append(buffer, static_cast<size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

inline Outcome Spawn(std::vector<std::string> argv, const std::string& cwd,
                     const std::vector<std::string>& extraEnv, const OutputWatch& watch = {}) {
    std::vector<std::string> env = ChildEnvironment(extraEnv);
    std::vector<char*> args = Pointers(argv), envp = Pointers(env);
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {out[0], out[1], err[0], err[1], null}) close(fd);
        if (chdir(cwd.c_str()) == 0) execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Outcome o;
    auto deadline = std::chrono::steady_clock::now() + kHangBound;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            o.hung = true;
            break;
        }
        if (poll(fds, 2, 100) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            if (!Drain(fds[i].fd, i == 0 ? &o.out : &o.err)) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
        if (watch) watch(pid, o.out);
    }
    for (const pollfd& f : fds) {
        if (f.fd >= 0) close(f.fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return o;
}

// The banner as a pipe receives it: plain text.
inline std::string Banner() {
    return "QuorvellaPlayer 5.0 [Linux]\n"
           "Runs compiled multimedia applets in its own script engine.\n\n";
}

// The progress lines of a run of the applet up to its start, and what three_lines prints.
inline std::string Progress(const std::string& applet) {
    return "Opening script " + applet + "... done\nCompiling script... done\nLoading applet " +
           applet + "... done\nPreparing display... done\nAnd Action!\n";
}
inline constexpr char kThreeLines[] = "one\ntwo\nthree\n";

inline std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().string());
    return names;
}

// The last of the directory's files in name order (the newest headless frame); "" for none.
inline std::string LastFileIn(const std::string& dir) {
    const std::vector<std::string> names = FilesIn(dir);
    return names.empty() ? std::string() : *std::max_element(names.begin(), names.end());
}

// What the shell command writes to standard output.
inline std::string CommandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// The pixels of a binary PPM as 0xRRGGBB; empty when it is not one.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;
    uint32_t At(int x, int y) const { return rgb[size_t(y) * width + x]; }
};

inline Picture ReadPpm(const std::string& command) {
    Picture p;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return p;
    int maxValue = 0;
    if (std::fscanf(pipe, "P6 %d %d %d", &p.width, &p.height, &maxValue) == 3 && maxValue == 255 &&
        std::fgetc(pipe) != EOF && p.width > 0 && p.height > 0) {
        std::vector<unsigned char> bytes(size_t(p.width) * p.height * 3);
        if (std::fread(bytes.data(), 1, bytes.size(), pipe) == bytes.size()) {
            for (size_t i = 0; i < bytes.size(); i += 3) {
                p.rgb.push_back(uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 |
                                bytes[i + 2]);
            }
        }
    }
    pclose(pipe);
    if (p.rgb.empty()) p.width = p.height = 0;
    return p;
}

class EndToEndTest : public ::testing::Test {
protected:
    EndToEndTest() {
        scratch.MakeDir("t");
        scratch.MakeDir("libs");
        scratch.MakeDir("libs/Quorvella");
    }

    // A chunk of the listing in fixtures/.
    std::string Chunk(const std::string& fixture) {
        std::ifstream in(std::filesystem::path(QV_SOURCE_DIR) / "tests/player/fixtures" /
                         (fixture + ".qvs"));
        std::stringstream text;
        text << in.rdbuf();
        AssembleResult r = Assemble(text.str());
        EXPECT_TRUE(r.ok()) << fixture;
        return scratch.Write(fixture + ".qvb", r.bytes);
    }
    // Runs qvmkapplet with the recipe; the applet's path.
    std::string Applet(const std::string& name, const std::string& fixture,
                       std::vector<std::string> recipe = {}) {
        std::vector<std::string> args = {"-o", scratch / name, "--chunk", Chunk(fixture)};
        args.insert(args.end(), recipe.begin(), recipe.end());
        std::string error;
        EXPECT_EQ(RunMakeApplet(args, &error), 0) << error;
        return scratch / name;
    }

    // The player in the scratch folder with T: and LIBS: of its own (or libs).
    Outcome Player(std::vector<std::string> args, const std::string& libs = "",
                   std::vector<std::string> env = {}, const OutputWatch& watch = {},
                   const std::string& program = QUORVELLA_PATH) {
        args.insert(args.begin(), program);
        env.push_back("QV_ASSIGN=T:=" + (scratch / "t") +
                      ";LIBS:=" + (libs.empty() ? scratch / "libs" : libs));
        return Spawn(args, scratch.path(), env, watch);
    }

    static void Expect(const Outcome& o, const std::string& out, const std::string& err,
                       int status) {
        EXPECT_FALSE(o.hung);
        EXPECT_EQ(o.out, out);
        EXPECT_EQ(o.err, err);
        EXPECT_EQ(o.status, status);
    }

    ScratchDir scratch;
};

}  // namespace qv::testing
