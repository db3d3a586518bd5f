// Helpers for tests of the run-time core: a fresh run-time state and engine with the real
// host, assembled chunks, and captures of the process's standard streams (files and
// environment settings come from the file layer's test support).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "engine/vm.h"
#include "runtime/errors.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"
#include "tests/platform/file_test_support.h"
#include "tools/qvasm/qvasm.h"

namespace qv::testing {

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRuntimeState();
        L = VmOpen();
        ASSERT_NE(L, nullptr);
        InstallRuntimeHost(L);
    }
    void TearDown() override {
        VmClose(L);
        ResetRuntimeState();
    }

    // Assembles listing and pushes its main function; fails the test on a diagnostic.
    void PushChunk(const std::string& listing) {
        AssembleResult r = Assemble(listing);
        ASSERT_TRUE(r.ok()) << (r.diagnostics.empty() ? "" : r.diagnostics[0].message);
        ASSERT_EQ(LoadChunk(L, r.bytes, nullptr), 0);
    }

    qvVmState* L = nullptr;
};

// The error text of code as the run-time would show it now.
inline std::string ErrorText(int code) {
    char text[1024];
    FormatErrorMessage(code, text, sizeof text);
    return text;
}

// Everything written to file descriptor fd (1 or 2) while an instance lives, through stdio
// or not.
class FdCapture {
public:
    explicit FdCapture(int fd) : fd_(fd), file_(std::tmpfile()) {
        Flush();
        saved_ = dup(fd_);
        dup2(fileno(file_), fd_);
    }
    ~FdCapture() {
        Restore();
        std::fclose(file_);
    }
    FdCapture(const FdCapture&) = delete;
    FdCapture& operator=(const FdCapture&) = delete;

    std::string Text() {
        Restore();
        std::rewind(file_);
        std::string text;
        for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) text.push_back(char(c));
        return text;
    }

private:
    static void Flush() {
        std::fflush(stdout);
        std::fflush(stderr);
    }
    void Restore() {
        if (saved_ < 0) return;
        Flush();
        dup2(saved_, fd_);
        close(saved_);
        saved_ = -1;
    }
    int fd_;
    FILE* file_;
    int saved_ = -1;
};

}  // namespace qv::testing
