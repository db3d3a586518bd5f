#include "tools/qvasm/chunk_image.h"

#include <bit>
#include <cstring>

namespace qv {
namespace {

class ByteWriter {
public:
    explicit ByteWriter(bool little) : little_(little) {}

    void U8(uint8_t v) { out_.push_back(v); }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(v >> (little_ ? 8 * i : 24 - 8 * i)));
    }
    void Number(double d) {
        const auto bits = std::bit_cast<uint64_t>(d);
        for (int i = 0; i < 8; ++i)
            U8(static_cast<uint8_t>(bits >> (little_ ? 8 * i : 56 - 8 * i)));
    }
    void String(const ChunkString& s) {
        if (!s) {
            U32(0);
            return;
        }
        U32(static_cast<uint32_t>(s->size() + 1));
        out_.insert(out_.end(), s->begin(), s->end());
        U8(0);
    }
    void Count(size_t n) { U32(static_cast<uint32_t>(n)); }
    std::vector<uint8_t> Take() { return std::move(out_); }

private:
    bool little_;
    std::vector<uint8_t> out_;
};

void WriteConstant(ByteWriter& w, const ChunkConstant& k) {
    w.U8(k.tag);
    if (!k.payload) return;
    if (k.tag == chunk::kTagNumber) w.Number(k.number);
    if (k.tag == chunk::kTagString) w.String(k.text);
}

void WriteFunction(ByteWriter& w, const ChunkFunction& f) {
    w.String(f.source);
    w.U32(f.lineDefined);
    w.U8(f.nups);
    w.U8(f.numparams);
    w.U8(f.isVararg);
    w.U8(f.maxstack);
    w.Count(f.lineinfo.size());
    for (uint32_t line : f.lineinfo) w.U32(line);
    w.Count(f.locals.size());
    for (const ChunkLocal& l : f.locals) {
        w.String(l.name);
        w.U32(l.startpc);
        w.U32(l.endpc);
    }
    w.Count(f.upvalueNames.size());
    for (const ChunkString& name : f.upvalueNames) w.String(name);
    w.Count(f.constants.size());
    for (const ChunkConstant& k : f.constants) WriteConstant(w, k);
    w.Count(f.protos.size());
    for (const ChunkFunction& p : f.protos) WriteFunction(w, p);
    w.Count(f.code.size());
    for (uint32_t i : f.code) w.U32(i);
}

// Reads fields in the chunk's byte order; the first failure sticks and every later read
// returns zeros, so callers test ok() once per record.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> in) : in_(in) {}

    void SetLittle(bool little) { little_ = little; }
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    void Fail(std::string message) {
        if (ok()) error_ = std::move(message);
    }

    uint8_t U8() { return Take(1) ? in_[pos_ - 1] : 0; }
    uint32_t U32() { return static_cast<uint32_t>(Unsigned(4)); }
    double Number() { return std::bit_cast<double>(Unsigned(8)); }
    // An item count, checked against what is left so that a lie cannot make us allocate.
    size_t Count(size_t minItemSize) {
        const uint32_t n = U32();
        if (static_cast<int32_t>(n) < 0) {
            Fail("negative count");
            return 0;
        }
        if (uint64_t{n} * minItemSize > in_.size() - pos_) {
            Fail("count beyond the end of the chunk");
            return 0;
        }
        return n;
    }
    ChunkString String() {
        const uint32_t size = U32();
        if (size == 0 || !Take(size)) return std::nullopt;
        // The last byte is the terminator; the loader ignores its value, and so do we.
        return std::string(reinterpret_cast<const char*>(&in_[pos_ - size]), size - 1);
    }

private:
    bool Take(size_t n) {
        if (!ok()) return false;
        if (in_.size() - pos_ < n) {
            Fail("unexpected end of chunk");
            return false;
        }
        pos_ += n;
        return true;
    }
    uint64_t Unsigned(int n) {
        if (!Take(n)) return 0;
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) {
            const uint8_t byte = in_[pos_ - n + (little_ ? n - 1 - i : i)];
            v = (v << 8) | byte;
        }
        return v;
    }

    std::span<const uint8_t> in_;
    size_t pos_ = 0;
    bool little_ = false;
    std::string error_;
};

void ReadConstant(ByteReader& r, ChunkConstant& k) {
    k.tag = r.U8();
    if (k.tag == chunk::kTagNumber) {
        k.payload = true;
        k.number = r.Number();
    } else if (k.tag == chunk::kTagString) {
        k.payload = true;
        ChunkString s = r.String();
        if (!s) r.Fail("string constant without a string");
        k.text = s.value_or("");
    }
}

void ReadFunction(ByteReader& r, ChunkFunction& f, int depth) {
    if (depth > chunk::kMaxNesting) {
        r.Fail("functions nested too deeply");
        return;
    }
    f.source = r.String();
    f.lineDefined = r.U32();
    f.nups = r.U8();
    f.numparams = r.U8();
    f.isVararg = r.U8();
    f.maxstack = r.U8();
    f.lineinfo.resize(r.Count(4));
    for (uint32_t& line : f.lineinfo) line = r.U32();
    f.locals.resize(r.Count(12));
    for (ChunkLocal& l : f.locals) {
        l.name = r.String();
        l.startpc = r.U32();
        l.endpc = r.U32();
    }
    f.upvalueNames.resize(r.Count(4));
    for (ChunkString& name : f.upvalueNames) name = r.String();
    f.constants.resize(r.Count(1));
    for (ChunkConstant& k : f.constants) ReadConstant(r, k);
    f.protos.resize(r.Count(1));
    for (ChunkFunction& p : f.protos) ReadFunction(r, p, depth + 1);
    f.code.resize(r.Count(4));
    for (uint32_t& i : f.code) i = r.U32();
}

}  // namespace

std::vector<uint8_t> WriteChunkImage(const ChunkImage& image) {
    const ChunkHeader& h = image.header;
    ByteWriter w(h.order == chunk::kOrderLittle);
    for (uint8_t b : chunk::kSignature) w.U8(b);
    w.U8(h.order);
    for (uint8_t size : h.sizes) w.U8(size);
    w.Number(h.testNumber);
    WriteFunction(w, image.main);
    return w.Take();
}

std::optional<ChunkImage> ReadChunkImage(std::span<const uint8_t> bytes, std::string* error) {
    ByteReader r(bytes);
    ChunkImage image;
    for (uint8_t b : chunk::kSignature) {
        if (r.U8() != b) r.Fail("bad signature");
    }
    image.header.order = r.U8();
    r.SetLittle(image.header.order == chunk::kOrderLittle);
    for (uint8_t& size : image.header.sizes) size = r.U8();
    image.header.testNumber = r.Number();
    ReadFunction(r, image.main, 0);
    if (r.ok()) return image;
    *error = r.error();
    return std::nullopt;
}

}  // namespace qv
