// The clipboard: a store of IFF bytes in a file, so that players of one user share it as they
// would a system clipboard. The store is QV_CLIPBOARD, else "clipboard" in the per-user
// directory PrivateRuntimeDir("clip"). Writers replace it in one step (a new file renamed over
// it) while they hold an exclusive flock on "<store>.lock"; readers hold a shared one.
//
// Text is an IFF FORM FTXT whose CHRS chunks hold the bytes (ISO 8859-1, NULs included).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Clipboard kinds.
enum : int {
    QV_CLIPBOARD_EMPTY = 0,
    QV_CLIPBOARD_TEXT = 1,
    QV_CLIPBOARD_IMAGE = 2,
    QV_CLIPBOARD_UNKNOWN = 4
};

// Replaces the clipboard with text. 0, ERR_CLIPOPEN (no store) or ERR_CLIPWRITE.
int WriteClipboardData(std::string_view text);
// The kind of the clipboard's content, and for text the text. A store that does not exist or
// cannot be read counts as empty.
int ReadClipboardData(std::string* text);
// Replaces the clipboard with a text of one space.
int ClearClipboardData();
// The kind of the clipboard's content.
int PeekClipboardType();

namespace qv {

// The path of the store; "" when there is none.
std::string ClipboardPath();

// The FTXT form of text.
std::string MakeFtxt(std::string_view text);
// The kind of IFF bytes: FTXT text, ILBM picture, any other FORM unknown, else empty.
int ClipboardKindOf(std::span<const uint8_t> bytes);
// The bytes of every CHRS chunk of an FTXT form, in order. Lengths are trusted only as far as
// the bytes go: a chunk that runs beyond its form ends the text. False for other data.
bool ReadFtxt(std::span<const uint8_t> bytes, std::string* text);

// The store's bytes (empty when missing or unreadable) and the write, both under the lock.
std::string ReadClipboardStore();
int WriteClipboardStore(std::string_view bytes);

}  // namespace qv
