#include "platform/linux/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "engine/error_codes.h"
#include "platform/linux/blocks.h"
#include "platform/linux/file_attributes.h"
#include "platform/linux/program.h"

struct qvLock {
    std::string path;  // absolute, canonical
};

struct qvDirScan {
    std::string directory;
    std::vector<std::string> names;  // in byte order
    size_t next = 0;
};

namespace qv {
namespace {

// How an assign's directory comes to exist.
enum class AssignKind {
    kPlain,    // taken as it is
    kTemp,     // the run's private temporary directory, made on first use
    kPrivate,  // a directory of ours kept between runs, made 0700 on first use
};

struct Assign {
    std::string name;  // upper case, without the colon
    std::string value;
    AssignKind kind;
    std::string privateBase;  // kPrivate: the directory of ours that holds value
};

struct PathState {
    bool loaded = false;
    std::vector<Assign> assigns;
    std::string tempDir;                 // the private T: once made
    std::vector<std::string> tempNames;  // host paths MakeTempPath handed out
    uint64_t tempCounter = 0;
};

std::mutex stateMutex;
PathState state;

constexpr int kMaxAssignDepth = 8;

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualFolded(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldAscii(x) == FoldAscii(y);
           });
}

// The text of *rest before the first separator, taken off *rest with the separator; all of
// it when there is none.
std::string_view TakeField(std::string_view* rest, char separator) {
    const size_t end = rest->find(separator);
    const std::string_view field = rest->substr(0, end);
    *rest = end == std::string_view::npos ? std::string_view() : rest->substr(end + 1);
    return field;
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string JoinPath(std::string_view dir, std::string_view rest) {
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    std::string out(dir);
    if (rest.empty()) return out;
    if (!out.empty() && out.back() != '/') out += '/';
    out += rest;
    return out;
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The volume of "NAME:rest" (a colon before any "/"), or false for other names.
bool SplitVolume(std::string_view name, std::string_view* volume, std::string_view* rest) {
    if (name.empty() || name.front() == '/') return false;
    size_t colon = name.find(':');
    if (colon == std::string_view::npos ||
        name.substr(0, colon).find('/') != std::string_view::npos)
        return false;
    *volume = name.substr(0, colon);
    *rest = name.substr(colon + 1);
    return true;
}

std::string ProgramDirectory() {
    char path[kPathBufferSize];
    if (!GetProgramPath(path, sizeof path)) return "";
    std::string dir(path);
    size_t slash = dir.rfind('/');
    return slash == 0 ? "/" : dir.substr(0, slash);
}

std::string RuntimeBase() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && xdg[0] == '/') return JoinPath(xdg, "quorvella");
    return "/tmp/quorvella-" + std::to_string(getuid());
}

std::string ConfigBase() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return "";
    return JoinPath(home, ".config/quorvella");
}

void AddDefaultAssigns(std::vector<Assign>* assigns) {
    std::string runtime = RuntimeBase();
    std::string config = ConfigBase();
    *assigns = {
        {"PROGDIR", ProgramDirectory(), AssignKind::kPlain, ""},
        {"T", "", AssignKind::kTemp, ""},
        {"RAM", JoinPath(runtime, "ram"), AssignKind::kPrivate, runtime},
        {"ENV", JoinPath(runtime, "env"), AssignKind::kPrivate, runtime},
        {"ENVARC", config.empty() ? "" : JoinPath(config, "envarc"), AssignKind::kPrivate, config},
        {"LIBS", "PROGDIR:libs", AssignKind::kPlain, ""},
        {"FONTS", "/usr/share/fonts", AssignKind::kPlain, ""},
        {"LOCALE", "PROGDIR:locale", AssignKind::kPlain, ""},
        {"NIL", "/dev/null", AssignKind::kPlain, ""},
        {"SYS", "/", AssignKind::kPlain, ""},
    };
}

// QV_ASSIGN="T:=/dir;LIBS:=/dir2": overrides or adds; malformed entries are ignored.
void ApplyAssignOverrides(std::vector<Assign>* assigns) {
    const char* text = std::getenv("QV_ASSIGN");
    if (text == nullptr) return;
    std::string_view rest(text);
    while (!rest.empty()) {
        std::string_view entry = TakeField(&rest, ';');
        size_t sep = entry.find(":=");
        if (sep == 0 || sep == std::string_view::npos) continue;
        std::string name = Upper(entry.substr(0, sep));
        Assign assign{name, std::string(entry.substr(sep + 2)), AssignKind::kPlain, ""};
        auto it = std::find_if(assigns->begin(), assigns->end(),
                               [&](const Assign& a) { return a.name == name; });
        if (it != assigns->end()) {
            *it = assign;
        } else {
            assigns->push_back(assign);
        }
    }
}

void LoadAssigns() {
    if (state.loaded) return;
    AddDefaultAssigns(&state.assigns);
    ApplyAssignOverrides(&state.assigns);
    state.loaded = true;
}

// A directory that only we may use: made 0700 when missing, refused when it is a link,
// no directory, or someone else's (the /tmp fallback is shared with other users).
bool EnsureOwnDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid();
}

bool EnsurePrivate(const Assign& assign) {
    if (assign.value.empty()) return false;
    // Parents of the base (a home's ".config") are made as needed, like mkdir -p.
    for (size_t slash = assign.privateBase.find('/', 1); slash != std::string::npos;
         slash = assign.privateBase.find('/', slash + 1)) {
        mkdir(assign.privateBase.substr(0, slash).c_str(), 0700);
    }
    return EnsureOwnDirectory(assign.privateBase) && EnsureOwnDirectory(assign.value);
}

bool EnsureTempDir() {
    if (!state.tempDir.empty()) return true;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = JoinPath(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp", "qv-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) return false;  // made 0700
    state.tempDir = pattern;
    return true;
}

std::string ResolveLocked(std::string_view name, int depth);

std::string AssignTargetLocked(std::string_view volume, int depth) {
    LoadAssigns();
    std::string key = Upper(volume);
    auto it = std::find_if(state.assigns.begin(), state.assigns.end(),
                           [&](const Assign& a) { return a.name == key; });
    if (it == state.assigns.end()) return "";
    switch (it->kind) {
        case AssignKind::kTemp:
            return EnsureTempDir() ? state.tempDir : "";
        case AssignKind::kPrivate:
            return EnsurePrivate(*it) ? it->value : "";
        case AssignKind::kPlain:
            break;
    }
    return ResolveLocked(it->value, depth + 1);
}

// Assigns replaced by their directories; "" for an unknown volume.
std::string ResolveLocked(std::string_view name, int depth) {
    std::string_view volume, rest;
    if (depth > kMaxAssignDepth) return "";
    if (!SplitVolume(name, &volume, &rest)) return std::string(name);
    std::string target = AssignTargetLocked(volume, depth);
    return target.empty() ? "" : JoinPath(target, rest);
}

// The entry of dir equal to component without regard to letter case; the first in byte
// order among several, "" when none.
std::string FindFolded(const std::string& dir, std::string_view component) {
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return "";
    std::string best;
    while (dirent* entry = readdir(d)) {
        std::string_view candidate(entry->d_name);
        if (candidate == "." || candidate == ".." || !EqualFolded(candidate, component)) continue;
        if (best.empty() || candidate < best) best = candidate;
    }
    closedir(d);
    return best;
}

std::string FoldCase(const std::string& path, LeafLookup leaf) {
    if (path.empty() || Exists(path)) return path;
    std::string result = path.front() == '/' ? "/" : "";
    std::string_view rest(path);
    while (!rest.empty()) {
        std::string_view component = TakeField(&rest, '/');
        if (component.empty()) continue;
        std::string exact = JoinPath(result, component);
        bool last = rest.find_first_not_of('/') == std::string_view::npos;
        if (Exists(exact) || (last && leaf == LeafLookup::kAsWritten)) {
            result = exact;
            continue;
        }
        std::string match = FindFolded(result, component);
        if (match.empty()) return JoinPath(exact, rest);  // missing: fails where it is used
        result = JoinPath(result, match);
    }
    return result;
}

std::string CurrentDirectory() {
    std::vector<char> buffer(PATH_MAX);
    return getcwd(buffer.data(), buffer.size()) != nullptr ? std::string(buffer.data()) : "";
}

// Drops "." components and repeated slashes; ".." stays (links make it non-lexical).
std::string Normalise(const std::string& absolute) {
    std::string out;
    std::string_view rest(absolute);
    while (!rest.empty()) {
        std::string_view component = TakeField(&rest, '/');
        if (component.empty() || component == ".") continue;
        out += '/';
        out += component;
    }
    return out.empty() ? "/" : out;
}

std::string Absolute(const std::string& host) {
    return Normalise(!host.empty() && host.front() == '/' ? host
                                                          : JoinPath(CurrentDirectory(), host));
}

bool CopyOut(const std::string& text, char* out, size_t size) {
    if (text.size() >= size) return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

std::string_view LastComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool FillAttributes(const std::string& path, std::string_view name, qvFileAttributes* info) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    *info = {};
    bool dir = S_ISDIR(st.st_mode);
    info->type = dir ? QV_DOSTYPE_DIRECTORY : QV_DOSTYPE_FILE;
    info->size = dir ? 0 : static_cast<int64_t>(st.st_size);
    info->flags = ReadProtectionBits(path.c_str(), st.st_mode, name);
    ReadFileComment(path.c_str(), info->comment, sizeof info->comment);
    size_t n = std::min(name.size(), sizeof info->name - 1);
    std::memcpy(info->name, name.data(), n);
    info->date = DateStampFromTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return true;
}

// rename that refuses an existing target without a window between test and rename; on file
// systems without that flag a hard link claims the name (failing when it exists) and the old
// name goes. Directories cannot be linked: their fallback is a plain rename after the test.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (link(from.c_str(), to.c_str()) == 0) return unlink(from.c_str()) == 0;
    if (errno != EPERM) return false;
    return !Exists(to) && rename(from.c_str(), to.c_str()) == 0;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
}

}  // namespace

bool ResolvePath(std::string_view name, LeafLookup leaf, std::string* out) {
    return CatchAllocFailure(false, [&] {
        if (name.empty()) return false;
        std::string host;
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            host = ResolveLocked(name, 0);
        }
        if (host.empty()) return false;
        *out = FoldCase(host, leaf);
        return true;
    });
}

bool AbsoluteName(std::string_view name, std::string* out) {
    return CatchAllocFailure(false, [&] {
        std::string host;
        if (!ResolvePath(name, LeafLookup::kFold, &host)) return false;
        *out = Absolute(host);
        return true;
    });
}

// The real path of host, whose trailing components need not exist.
std::string RealPathOf(const std::string& host) {
    std::string head = Absolute(host), tail;
    for (;;) {
        if (char* real = realpath(head.c_str(), nullptr)) {
            std::string out(real);
            std::free(real);
            return tail.empty() ? out : JoinPath(out, tail);
        }
        size_t slash = head.rfind('/');
        if (slash == std::string::npos || head == "/") return Absolute(host);
        tail = tail.empty() ? head.substr(slash + 1) : JoinPath(head.substr(slash + 1), tail);
        head = slash == 0 ? "/" : head.substr(0, slash);
    }
}

bool PathInside(std::string_view inner, std::string_view outer) {
    return CatchAllocFailure(false, [&] {
        std::string innerHost, outerHost;
        if (!ResolvePath(inner, LeafLookup::kAsWritten, &innerHost) ||
            !ResolvePath(outer, LeafLookup::kFold, &outerHost)) {
            return false;
        }
        std::string a = RealPathOf(innerHost), b = RealPathOf(outerHost);
        return a == b || (a.starts_with(b) && (b == "/" || a[b.size()] == '/'));
    });
}

bool ObjectExists(std::string_view name) {
    std::string host;
    struct stat st;
    return ResolvePath(name, LeafLookup::kFold, &host) && stat(host.c_str(), &st) == 0;
}

std::string AssignTarget(std::string_view name) {
    if (!name.empty() && name.back() == ':') name.remove_suffix(1);
    std::lock_guard<std::mutex> lock(stateMutex);
    return AssignTargetLocked(name, 0);
}

void ShutdownPaths() {
    std::lock_guard<std::mutex> lock(stateMutex);
    if (!state.tempDir.empty()) {
        nftw(state.tempDir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    } else {
        for (const std::string& name : state.tempNames) remove(name.c_str());
    }
    state = PathState{};
}

}  // namespace qv

using qv::LeafLookup;

qvLock* LockPath(const char* path, int /*mode*/) {
    return qv::CatchAllocFailure<qvLock*>(nullptr, [&]() -> qvLock* {
        std::string host;
        if (path == nullptr || !qv::ResolvePath(path, LeafLookup::kFold, &host)) return nullptr;
        char* canonical = realpath(host.c_str(), nullptr);
        if (canonical == nullptr) return nullptr;
        std::string full(canonical);
        std::free(canonical);
        return qv::NewBlock<qvLock>(qvLock{std::move(full)});
    });
}

void ReleaseLock(qvLock* lock) {
    qv::DeleteBlock(lock);
}

int LockToPath(const qvLock* lock, char* out, size_t size) {
    return lock != nullptr && qv::CopyOut(lock->path, out, size);
}

int MakeAbsolutePath(const char* name, char* out) {
    return qv::CatchAllocFailure(int{ERR_MEM}, [&]() -> int {
        // An unknown volume stays as it is, so that opening it fails like a missing one.
        std::string host;
        std::string result = qv::ResolvePath(name, LeafLookup::kFold, &host) ? qv::Absolute(host)
                                                                             : std::string(name);
        return qv::CopyOut(result, out, kPathBufferSize) ? 0 : ERR_NAMETOOLONG;
    });
}

char* ChangeDirPath(const char* path) {
    return qv::CatchAllocFailure<char*>(nullptr, [&]() -> char* {
        std::string host;
        struct stat st;
        if (!qv::ResolvePath(path, LeafLookup::kFold, &host) || stat(host.c_str(), &st) != 0 ||
            !S_ISDIR(st.st_mode)) {
            return nullptr;
        }
        std::string previous = qv::CurrentDirectory();
        auto* block = static_cast<char*>(AllocMemBlock(previous.size() + 1, 0));
        if (block == nullptr) return nullptr;
        if (previous.empty() || chdir(host.c_str()) != 0) {
            FreeMemBlock(block);
            return nullptr;
        }
        std::memcpy(block, previous.c_str(), previous.size() + 1);
        return block;
    });
}

int GetCurrentDirName(char* out, size_t size) {
    return qv::CatchAllocFailure(0, [&]() -> int {
        std::string cwd = qv::CurrentDirectory();
        return !cwd.empty() && qv::CopyOut(cwd, out, size) ? 1 : 0;
    });
}

int MakeTempPath(char* out) {
    return qv::CatchAllocFailure(int{ERR_MEM}, [&]() -> int {
        std::lock_guard<std::mutex> lock(qv::stateMutex);
        std::string dir = qv::AssignTargetLocked("T", 0);
        if (dir.empty()) return ERR_CREATEDIR;
        std::string name;
        do {
            name = "qv" + std::to_string(getpid()) + "-" + std::to_string(++qv::state.tempCounter);
        } while (qv::Exists(qv::JoinPath(dir, name)));
        if (!qv::CopyOut("T:" + name, out, kPathBufferSize)) return ERR_NAMETOOLONG;
        qv::state.tempNames.push_back(qv::JoinPath(dir, name));
        return 0;
    });
}

int MakeDirPath(const char* path, qvLock** lock) {
    return qv::CatchAllocFailure(int{ERR_CREATEDIR}, [&]() -> int {
        std::string host;
        if (!qv::ResolvePath(path, LeafLookup::kFold, &host) || mkdir(host.c_str(), 0777) != 0) {
            return ERR_CREATEDIR;
        }
        if (lock != nullptr) *lock = LockPath(host.c_str(), QV_LOCK_SHARED);
        return 0;
    });
}

int DeleteFilePath(const char* path) {
    return qv::CatchAllocFailure(0, [&]() -> int {
        std::string host;
        struct stat st;
        if (!qv::ResolvePath(path, LeafLookup::kFold, &host) || lstat(host.c_str(), &st) != 0) {
            return 0;
        }
        return (S_ISDIR(st.st_mode) ? rmdir(host.c_str()) : unlink(host.c_str())) == 0 ? 1 : 0;
    });
}

int RenamePath(const char* oldName, const char* newName) {
    return qv::CatchAllocFailure(0, [&]() -> int {
        std::string from, to;
        struct stat src, dst;
        if (!qv::ResolvePath(oldName, LeafLookup::kFold, &from) ||
            !qv::ResolvePath(newName, LeafLookup::kAsWritten, &to) ||
            lstat(from.c_str(), &src) != 0) {
            return 0;
        }
        // The object itself under another case (a file system that folds case) may be renamed
        // over its own name; any other existing target is never replaced.
        if (lstat(to.c_str(), &dst) == 0) {
            bool same = dst.st_ino == src.st_ino && dst.st_dev == src.st_dev;
            return same && rename(from.c_str(), to.c_str()) == 0 ? 1 : 0;
        }
        return qv::RenameNoReplace(from, to) ? 1 : 0;
    });
}

int SameObject(const char* a, const char* b) {
    return qv::CatchAllocFailure(0, [&]() -> int {
        std::string hostA, hostB;
        struct stat stA, stB;
        return qv::ResolvePath(a, LeafLookup::kFold, &hostA) &&
               qv::ResolvePath(b, LeafLookup::kFold, &hostB) && stat(hostA.c_str(), &stA) == 0 &&
               stat(hostB.c_str(), &stB) == 0 && stA.st_dev == stB.st_dev &&
               stA.st_ino == stB.st_ino;
    });
}

int LinkKind(const char* path) {
    return qv::CatchAllocFailure(int{QV_LINK_NONE}, [&]() -> int {
        std::string host;
        struct stat st;
        if (!qv::ResolvePath(path, LeafLookup::kFold, &host) || lstat(host.c_str(), &st) != 0 ||
            !S_ISLNK(st.st_mode)) {
            return QV_LINK_NONE;
        }
        if (stat(host.c_str(), &st) != 0) return QV_LINK_DANGLING;
        return S_ISDIR(st.st_mode) ? QV_LINK_TO_DIRECTORY : QV_LINK_TO_FILE;
    });
}

int CopyLinkPath(const char* source, const char* destination) {
    return qv::CatchAllocFailure(0, [&]() -> int {
        std::string from, to;
        if (!qv::ResolvePath(source, LeafLookup::kFold, &from) ||
            !qv::ResolvePath(destination, LeafLookup::kAsWritten, &to)) {
            return 0;
        }
        std::vector<char> text(PATH_MAX + 1);
        ssize_t n = readlink(from.c_str(), text.data(), text.size() - 1);
        if (n < 0) return 0;
        text[static_cast<size_t>(n)] = '\0';
        return symlink(text.data(), to.c_str()) == 0 ? 1 : 0;
    });
}

int ExamineObjectInfo(const qvLock* lock, qvFileAttributes* info) {
    if (lock == nullptr) return 0;
    return qv::CatchAllocFailure(0, [&]() -> int {
        return qv::FillAttributes(lock->path, qv::LastComponent(lock->path), info) ? 1 : 0;
    });
}

int OpenDirScan(const qvLock* lock, qvDirScan** scan) {
    *scan = nullptr;
    if (lock == nullptr) return ERR_DIRLOCK;
    return qv::CatchAllocFailure(int{ERR_MEM}, [&]() -> int {
        struct stat st;
        if (stat(lock->path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERR_NOTADIR;
        qv::BlockPtr<qvDirScan> context(qv::NewBlock<qvDirScan>());
        if (!context) return ERR_MEM;
        DIR* d = opendir(lock->path.c_str());
        if (d == nullptr) return ERR_DIRLOCK;
        context->directory = lock->path;
        while (dirent* entry = readdir(d)) {
            std::string_view name(entry->d_name);
            if (name != "." && name != "..") context->names.emplace_back(name);
        }
        closedir(d);
        std::sort(context->names.begin(), context->names.end());
        *scan = context.release();
        return 0;
    });
}

int ExamineDirNext(qvDirScan* scan, qvFileAttributes* info) {
    if (scan == nullptr) return 0;
    return qv::CatchAllocFailure(0, [&]() -> int {
        while (scan->next < scan->names.size()) {
            const std::string& name = scan->names[scan->next++];
            // An entry deleted since the scan began is skipped.
            if (qv::FillAttributes(qv::JoinPath(scan->directory, name), name, info)) return 1;
        }
        return 0;
    });
}

void FreeDirContext(qvDirScan* scan) {
    qv::DeleteBlock(scan);
}
