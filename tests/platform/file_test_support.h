// Scratch directories, files and environment settings for tests of the file layer and of
// everything that reads files through it.
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/program.h"

namespace qv::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool PathExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// A fresh directory under /tmp, removed with its content at the end of the scope.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = "/tmp/qvtest-XXXXXX";
        path_ = mkdtemp(pattern.data()) != nullptr ? pattern : "";
    }
    ~ScratchDir() {
        nftw(
            path_.c_str(),
            [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }
    std::string Write(const std::string& rel, const Bytes& bytes) const {
        WriteBytes(*this / rel, bytes);
        return *this / rel;
    }
    std::string MakeDir(const std::string& rel) const {
        mkdir((*this / rel).c_str(), 0755);
        return *this / rel;
    }

private:
    std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = getenv(name)) old_ = old;
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// QV_ASSIGN for one scope; the layer forgets its assigns (and its run's T:) on both ends.
class ScopedAssigns {
public:
    explicit ScopedAssigns(std::optional<std::string> assigns) : env_("QV_ASSIGN", assigns) {
        PlatformShutdown();
    }
    ~ScopedAssigns() { PlatformShutdown(); }

private:
    ScopedEnv env_;
};

}  // namespace qv::testing
