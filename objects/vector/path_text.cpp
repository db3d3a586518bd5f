// AddTextToPath: outline text in the current text font, kept in the stream as UTF-8 with the
// font's vector-font handle and size; the back end turns it into glyph outlines.
#include <string_view>

#include "objects/vector/path_commands.h"
#include "objects/vector/vector_backend.h"
#include "objects/vector/vector_library.h"
#include "objects/vector/vector_neighbours.h"
#include "platform/linux/blocks.h"
#include "runtime/arguments.h"
#include "runtime/option_tables.h"

namespace qv {
namespace {

// ISO 8859-1 as UTF-8 into out (2 x length bytes): bytes from 128 take two bytes.
size_t Latin1ToUtf8(std::string_view text, char* out) {
    size_t n = 0;
    for (unsigned char c : text) {
        if (c < 0x80) {
            out[n++] = static_cast<char>(c);
        } else {
            out[n++] = static_cast<char>(0xC0 | (c >> 6));
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return n;
}

int32_t EncodingOption(qvVmState* L, int idx) {
    int32_t encoding = PathNeighbours().DefaultEncoding();
    if (VmGetTop(L) >= idx && VmType(L, idx) != VM_TNIL) {
        CheckArgTable(L, idx);
        GetTableFieldInt(L, idx, "encoding", &encoding, nullptr);
    }
    return encoding;
}

}  // namespace

int AddTextToPath(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    const qvObjectId id = GetObjectIdArg(L, 1);
    size_t length = 0;
    const char* bytes = GetArgString(L, 2, &length);
    std::string_view text(bytes, length);
    text = text.substr(0, text.find('\0'));
    const VectorBackend* backend = FindVectorBackend();
    if (backend == nullptr) return ERR_VECGFXPLUGIN;
    const int32_t encoding = EncodingOption(L, 3);
    if (encoding != kEncodingIso8859_1 && encoding != kEncodingUtf8) return ERR_WRONGUSAGE;
    PathTextFont font;
    if (int code = PathNeighbours().CurrentTextFont(&font)) return code;
    if (*font.vectorFontHandle == 0) {
        *font.vectorFontHandle = backend->createVectorFont(font.face);
        if (*font.vectorFontHandle == 0) return ERR_VFONT;
    }
    BlockPtr<char> converted;
    if (encoding == kEncodingIso8859_1) {
        converted.reset(static_cast<char*>(AllocMemBlock(2 * text.size() + 1, 0)));
        if (converted == nullptr) return ERR_MEM;
        text = std::string_view(converted.get(), Latin1ToUtf8(text, converted.get()));
    }
    const PathOperand operands[] = {PathOperand::Int(static_cast<int32_t>(*font.vectorFontHandle)),
                                    PathOperand::Int(font.size), PathOperand::Text(text)};
    return AddPathSegment(id, QV_PATH_TEXT, operands);
}

}  // namespace qv
