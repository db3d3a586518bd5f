#include "platform/linux/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

#include "platform/linux/clipboard.h"
#include "platform/linux/memory.h"
#include "tests/platform/file_test_support.h"

namespace qv {
namespace {

using testing::Bytes;
using testing::ReadBytes;
using testing::ScratchDir;
using testing::ToBytes;

using File = FilePtr;

File Open(const std::string& name, int mode) {
    return File(FileOpen(name.c_str(), mode));
}

Bytes ReadAll(qvFile* f) {
    Bytes out;
    for (int c; (c = FileReadChar(f)) >= 0;) out.push_back(static_cast<uint8_t>(c));
    return out;
}

Bytes Sequence(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
    return b;
}

TEST(FileOpen, ModesCreateTruncateOrKeep) {
    ScratchDir dir;
    std::string path = dir / "f";
    EXPECT_EQ(Open(path, QV_FILE_READ), nullptr);  // missing
    struct Case {
        int mode;
        Bytes before;
        Bytes after;  // content once "xy" is written at the start
    } cases[] = {
        {QV_FILE_WRITE, ToBytes("abcdef"), ToBytes("xy")},
        {QV_FILE_READWRITE, ToBytes("abcdef"), ToBytes("xycdef")},
        {QV_FILE_READWRITE, {}, ToBytes("xy")},
    };
    for (const Case& c : cases) {
        remove(path.c_str());
        if (!c.before.empty()) testing::WriteBytes(path, c.before);
        File f = Open(path, c.mode);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(FileWrite(f.get(), "xy", 2), 2);
        EXPECT_EQ(FileClose(f.release()), 0);
        EXPECT_EQ(ReadBytes(path), c.after) << c.mode;
    }
    EXPECT_EQ(Open(dir.path(), QV_FILE_READ), nullptr);  // a directory is no file
    EXPECT_EQ(Open(path, 3), nullptr);
    File readOnly = Open(path, QV_FILE_READ);
    EXPECT_EQ(FileWrite(readOnly.get(), "z", 1), -1);
    EXPECT_EQ(FileWriteRaw(readOnly.get(), "z", 1), -1);
}

TEST(FileSeek, ReturnsThePreviousPositionAndRefusesNegativeTargets) {
    ScratchDir dir;
    File f = Open(dir.Write("f", Sequence(100)), QV_FILE_READ);
    ASSERT_NE(f, nullptr);
    struct Step {
        int64_t offset;
        int mode;
        int64_t result;
        int64_t positionAfter;
    } steps[] = {
        {10, QV_SEEK_BEGINNING, 0, 10},
        {5, QV_SEEK_CURRENT, 10, 15},
        {0, QV_SEEK_END, 15, 100},
        {0, QV_SEEK_BEGINNING, 100, 0},
        {-1, QV_SEEK_BEGINNING, -1, 0},
        {-1, QV_SEEK_CURRENT, -1, 0},
        {-101, QV_SEEK_END, -1, 0},
        {-100, QV_SEEK_END, 0, 0},
        {50, QV_SEEK_END, 0, 150},
        {INT64_MAX, QV_SEEK_CURRENT, -1, 150},
        {0, 7, -1, 150},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(FileSeek(f.get(), s.offset, s.mode), s.result) << s.offset << "/" << s.mode;
        EXPECT_EQ(FileSeek(f.get(), 0, QV_SEEK_CURRENT), s.positionAfter);
    }
    EXPECT_TRUE(FileAtEnd(f.get()));
    EXPECT_EQ(FileReadChar(f.get()), -1);
}

// Every call of the layer on one handle against a plain byte-vector model: one position for
// the buffered and the direct calls, writes visible to reads at once.
void RunAgainstModel(qvFile* f, Bytes model, uint32_t seed) {
    std::mt19937 rng(seed);
    int64_t pos = 0;
    for (int step = 0; step < 3000; ++step) {
        int op = static_cast<int>(rng() % 8);
        int64_t n = static_cast<int64_t>(rng() % (rng() % 4 == 0 ? 20000 : 40));
        Bytes data(n);
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        auto write = [&](int64_t written) {
            ASSERT_EQ(written, n);
            if (model.size() < static_cast<size_t>(pos + n)) model.resize(pos + n);
            std::copy(data.begin(), data.end(), model.begin() + pos);
            pos += n;
        };
        int64_t expected = std::clamp<int64_t>(static_cast<int64_t>(model.size()) - pos, 0, n);
        Bytes got(n);
        switch (op) {
            case 0:
                ASSERT_EQ(FileRead(f, got.data(), n), expected);
                break;
            case 1:
                ASSERT_EQ(FileReadBuffered(f, got.data(), n), expected);
                break;
            case 2: {
                int c = FileReadChar(f);
                expected = pos < static_cast<int64_t>(model.size()) ? 1 : 0;
                ASSERT_EQ(c, expected ? model[pos] : -1);
                pos += expected;
                continue;
            }
            case 3:
                write(FileWrite(f, data.data(), n));
                continue;
            case 4:
                write(FileWriteRaw(f, data.data(), n));
                continue;
            case 5:
                if (n > 0) data.resize(n = 1);
                write(n == 1 ? (FileWriteChar(f, data[0]) == data[0] ? 1 : -1) : 0);
                continue;
            case 6: {
                int64_t target = static_cast<int64_t>(rng() % (model.size() + 10));
                ASSERT_EQ(FileSeek(f, target, QV_SEEK_BEGINNING), pos);
                pos = target;
                continue;
            }
            default:
                ASSERT_EQ(FileAtEnd(f) != 0, pos >= static_cast<int64_t>(model.size()));
                continue;
        }
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + expected, model.begin() + pos));
        pos += expected;
    }
    ASSERT_EQ(FileSeek(f, 0, QV_SEEK_END), pos);
    ASSERT_EQ(FileSeek(f, 0, QV_SEEK_BEGINNING), static_cast<int64_t>(model.size()));
    EXPECT_EQ(ReadAll(f), model);
}

TEST(FileHandle, BufferedAndDirectCallsShareOnePosition) {
    ScratchDir dir;
    for (uint32_t seed : {1u, 2u, 3u}) {
        Bytes initial = Sequence(5000);
        std::string path = dir.Write("model", initial);
        File f = Open(path, QV_FILE_READWRITE);
        ASSERT_NE(f, nullptr);
        RunAgainstModel(f.get(), initial, seed);
        Bytes final = ReadAll(f.get());  // at its end already
        EXPECT_TRUE(final.empty());
        FileSeek(f.get(), 0, QV_SEEK_BEGINNING);
        Bytes content = ReadAll(f.get());
        EXPECT_EQ(FileClose(f.release()), 0);
        EXPECT_EQ(ReadBytes(path), content);
    }
    File memory = Open(":::memory", QV_FILE_READWRITE);
    ASSERT_NE(memory, nullptr);
    RunAgainstModel(memory.get(), {}, 4);
}

TEST(FileHandle, FailedWritesAreReported) {
    File full = Open("/dev/full", QV_FILE_WRITE);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(FileWrite(full.get(), "abc", 3), 3);  // buffered: the failure comes later
    EXPECT_EQ(FileFlush(full.get()), -1);
    EXPECT_EQ(FileWriteRaw(full.get(), "abc", 3), -1);
    EXPECT_EQ(FileClose(full.release()), -1);

    File again = Open("/dev/full", QV_FILE_WRITE);
    Bytes big(20000, 1);
    EXPECT_EQ(FileWrite(again.get(), big.data(), 20000), -1);
    EXPECT_EQ(FileClose(again.release()), -1);
}

TEST(FileHandle, AllocationFailureGivesNone) {
    ScratchDir dir;
    std::string path = dir.Write("f", {1});
    for (uint64_t n : {1, 2}) {
        AllocationFault fault(n, false);
        EXPECT_EQ(FileOpen(path.c_str(), QV_FILE_READ), nullptr) << n;
    }
}

class ChunkWindow : public ::testing::Test {
protected:
    void SetUp() override { container_ = dir_.Write("container.bin", Sequence(256)); }
    std::string Name(uint64_t offset, uint64_t size) const {
        return ":::chunk" + std::to_string(offset) + ":" + std::to_string(size) + "*pic.png/" +
               container_;
    }
    ScratchDir dir_;
    std::string container_;
};

TEST_F(ChunkWindow, ReadsClampToTheWindow) {
    File f = Open(Name(10, 20), QV_FILE_READ);
    ASSERT_NE(f, nullptr);
    const Bytes all = Sequence(256);
    const Bytes expected(all.begin() + 10, all.begin() + 30);
    Bytes got(100);
    EXPECT_EQ(FileReadBuffered(f.get(), got.data(), 100), 20);
    got.resize(20);
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(FileAtEnd(f.get()));
    EXPECT_EQ(FileReadChar(f.get()), -1);
    EXPECT_EQ(FileRead(f.get(), got.data(), 5), 0);

    struct Step {
        int64_t offset;
        int mode;
        int64_t result;
        int nextByte;
    } steps[] = {
        {0, QV_SEEK_BEGINNING, 20, expected[0]},  // the start is added
        {-5, QV_SEEK_END, 1, expected[15]},       // from the window's end
        {0, QV_SEEK_END, 16, -1},
        {0, QV_SEEK_BEGINNING, 20, expected[0]},  // seek(0,2), seek(0,1) gives the size
        {-2, QV_SEEK_BEGINNING, -1, expected[1]},
        {-3, QV_SEEK_CURRENT, -1, expected[2]},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(FileSeek(f.get(), s.offset, s.mode), s.result) << s.offset << "/" << s.mode;
        EXPECT_EQ(FileReadChar(f.get()), s.nextByte);
    }
    EXPECT_EQ(FileWrite(f.get(), "x", 1), -1);
    EXPECT_EQ(FileWriteRaw(f.get(), "x", 1), -1);
}

TEST_F(ChunkWindow, NamesAndWindowsAtTheEdges) {
    struct Case {
        std::string name;
        int mode;
        int64_t size;  // -1: refused
    } cases[] = {
        {Name(0, 256), QV_FILE_READ, 256},
        {Name(250, 100), QV_FILE_READ, 6},  // cut at the container's end
        {Name(300, 10), QV_FILE_READ, 0},
        {Name(0, 0), QV_FILE_READ, 0},
        {Name(10, 20), QV_FILE_WRITE, -1},
        {Name(10, 20), QV_FILE_READWRITE, -1},
        {":::chunk10:20*pic.png/" + dir_ / "missing", QV_FILE_READ, -1},
        {":::chunk10:20*pic.png/", QV_FILE_READ, -1},
        {":::chunk10:20pic.png/" + container_, QV_FILE_READ, -1},
        {":::chunk10*pic.png/" + container_, QV_FILE_READ, -1},
        {":::chunk-1:20*pic.png/" + container_, QV_FILE_READ, -1},
        {":::chunk99999999999999999999:1*x/" + container_, QV_FILE_READ, -1},
        {":::chunk9223372036854775807:1*x/" + container_, QV_FILE_READ, -1},
        {":::chunkX", QV_FILE_READ, -1},
        {":::unknown", QV_FILE_READ, -1},
    };
    for (const Case& c : cases) {
        File f = Open(c.name, c.mode);
        ASSERT_EQ(f != nullptr, c.size >= 0) << c.name;
        if (!f) continue;
        FileSeek(f.get(), 0, QV_SEEK_END);
        EXPECT_EQ(FileSeek(f.get(), 0, QV_SEEK_BEGINNING), c.size) << c.name;
        EXPECT_EQ(static_cast<int64_t>(ReadAll(f.get()).size()), c.size) << c.name;
    }
}

std::string MemoryName(const void* address, size_t size);

std::string MemoryName(uintptr_t address, size_t size) {
    char hex[32];
    snprintf(hex, sizeof hex, "%lx", static_cast<unsigned long>(address));
    return ":::chunkS7:" + std::to_string(size) + "*text.txt/" + hex;
}

std::string MemoryName(const void* address, size_t size) {
    return MemoryName(reinterpret_cast<uintptr_t>(address), size);
}

TEST(MemoryWindow, OpensOnlyInsideRegisteredMemory) {
    static const Bytes kBytes = Sequence(64);
    Bytes secret = ToBytes("not for scripts");
    const uint8_t* base = kBytes.data();
    ScopedMemoryWindow window(base, kBytes.size());
    struct Case {
        std::string name;
        Bytes expected;
        bool opens;
    } cases[] = {
        {MemoryName(base, 64), kBytes, true},
        {MemoryName(base + 60, 4), Bytes(kBytes.end() - 4, kBytes.end()), true},
        {MemoryName(base + 64, 0), {}, true},
        {MemoryName(base + 60, 5), {}, false},
        {MemoryName(reinterpret_cast<uintptr_t>(base) - 1, 2), {}, false},
        {MemoryName(secret.data(), secret.size()), {}, false},
        {MemoryName(base, 64) + "z", {}, false},
        {":::chunkS7:64*text.txt/", {}, false},
    };
    for (const Case& c : cases) {
        File f = Open(c.name, QV_FILE_READ);
        ASSERT_EQ(f != nullptr, c.opens) << c.name;
        if (f) {
            EXPECT_EQ(ReadAll(f.get()), c.expected) << c.name;
        }
    }
    EXPECT_EQ(Open(MemoryName(base, 64), QV_FILE_WRITE), nullptr);
}

TEST(MemoryWindow, UnregisteredWindowReadsAsAtItsEnd) {
    Bytes bytes = Sequence(32);
    auto window = std::make_unique<ScopedMemoryWindow>(bytes.data(), bytes.size());
    File f = Open(MemoryName(bytes.data(), bytes.size()), QV_FILE_READ);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(FileReadChar(f.get()), bytes[0]);
    EXPECT_FALSE(FileAtEnd(f.get()));
    window.reset();
    EXPECT_TRUE(FileAtEnd(f.get()));
    EXPECT_EQ(FileReadChar(f.get()), -1);
    uint8_t buffer[8];
    EXPECT_EQ(FileRead(f.get(), buffer, 8), 0);
    EXPECT_EQ(Open(MemoryName(bytes.data(), bytes.size()), QV_FILE_READ), nullptr);
}

TEST(MemoryWindow, NamedWindowsServeTheBuiltInFonts) {
    Bytes font = ToBytes("font bytes");
    {
        ScopedMemoryWindow window(font.data(), font.size(), ":::default_sans");
        File f = Open(":::default_sans", QV_FILE_READ);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(ReadAll(f.get()), font);
        EXPECT_EQ(Open(":::default_serif", QV_FILE_READ), nullptr);
    }
    EXPECT_EQ(Open(":::default_sans", QV_FILE_READ), nullptr);
}

TEST(MemoryFiles, MemoryIsPerHandle) {
    File a = Open(":::memory", QV_FILE_READWRITE);
    File b = Open(":::memory", QV_FILE_READWRITE);
    ASSERT_TRUE(a && b);
    FileWrite(a.get(), "abc", 3);
    FileSeek(a.get(), 0, QV_SEEK_BEGINNING);
    EXPECT_EQ(ReadAll(a.get()), ToBytes("abc"));
    EXPECT_TRUE(ReadAll(b.get()).empty());
}

// The clipboard file is the clipboard store: a writer's bytes replace it when the writer
// closes, and the clipboard commands see them.
TEST(MemoryFiles, TheClipboardFileIsTheClipboardStore) {
    const std::string store = ::testing::TempDir() + "clipboard-file-store";
    std::remove(store.c_str());
    setenv("QV_CLIPBOARD", store.c_str(), 1);
    File writer = Open(":::clipboard", QV_FILE_WRITE);
    ASSERT_NE(writer, nullptr);
    const std::string ftxt = MakeFtxt("clip!");
    FileWrite(writer.get(), ftxt.data(), int64_t(ftxt.size()));
    File early = Open(":::clipboard", QV_FILE_READ);
    EXPECT_TRUE(ReadAll(early.get()).empty()) << "nothing lands before the writer closes";
    EXPECT_EQ(FileClose(writer.release()), 0);

    File reader = Open(":::clipboard", QV_FILE_READ);
    EXPECT_EQ(ReadAll(reader.get()), ToBytes(ftxt));
    EXPECT_EQ(FileSeek(reader.get(), 0, QV_SEEK_END), -1);
    EXPECT_EQ(FileWrite(reader.get(), "x", 1), -1);
    std::string text;
    EXPECT_EQ(ReadClipboardData(&text), QV_CLIPBOARD_TEXT);
    EXPECT_EQ(text, "clip!");

    EXPECT_EQ(FileClose(Open(":::clipboard", QV_FILE_WRITE).release()), 0);
    File empty = Open(":::clipboard", QV_FILE_READ);
    EXPECT_TRUE(ReadAll(empty.get()).empty());

    setenv("QV_CLIPBOARD", "/nonexistent-dir/clip", 1);
    EXPECT_EQ(FileClose(Open(":::clipboard", QV_FILE_WRITE).release()), -1)
        << "a store that cannot be written fails the close";
    unsetenv("QV_CLIPBOARD");
    std::remove(store.c_str());
}

}  // namespace
}  // namespace qv
