// The key table of the event side: 52 rows {name, code}. Rows 0 to 8 are the legacy label
// names with their constant values, rows 9 to 43 the special keys, rows 44 to 51 the
// qualifier keys. Key codes below 300 index a display's key states; a printable key that is
// not in the table has its Latin-1 character as code. Qualifier codes carry the top bit and
// are tested against the qualifier word. The input pump, the event dispatcher and the event
// commands all read this one table.
#pragma once

#include <cstdint>
#include <iterator>
#include <string_view>

namespace qv {

struct KeyTableRow {
    const char* name;
    uint32_t code;
};

inline constexpr KeyTableRow kKeyTable[] = {
    {"MOVEWINDOW", 6},
    {"SIZEWINDOW", 7},
    {"INACTIVEWINDOW", 8},
    {"ACTIVEWINDOW", 9},
    {"CLOSEWINDOW", 10},
    {"ONBUTTONCLICKALL", 11},
    {"ONBUTTONRIGHTCLICKALL", 12},
    {"ONBUTTONOVERALL", 13},
    {"ONKEYDOWNALL", 14},
    {"TAB", 272},
    {"RETURN", 274},
    {"ENTER", 273},
    {"SPACE", 276},
    {"ESC", 275},
    {"UP", 256},
    {"DOWN", 257},
    {"RIGHT", 258},
    {"LEFT", 259},
    {"HELP", 260},
    {"BACKSPACE", 271},
    {"DEL", 277},
    {"F1", 261},
    {"F2", 262},
    {"F3", 263},
    {"F4", 264},
    {"F5", 265},
    {"F6", 266},
    {"F7", 267},
    {"F8", 268},
    {"F9", 269},
    {"F10", 270},
    {"F11", 278},
    {"F12", 279},
    {"F13", 287},
    {"F14", 288},
    {"F15", 289},
    {"F16", 290},
    {"INSERT", 280},
    {"HOME", 281},
    {"END", 282},
    {"PAGEUP", 283},
    {"PAGEDOWN", 284},
    {"PRINT", 285},
    {"PAUSE", 286},
    {"LSHIFT", 0x80010000},
    {"RSHIFT", 0x80020000},
    {"LALT", 0x80040000},
    {"RALT", 0x80080000},
    {"LCOMMAND", 0x80100000},
    {"RCOMMAND", 0x80200000},
    {"LCONTROL", 0x80400000},
    {"RCONTROL", 0x80800000},
};
static_assert(std::size(kKeyTable) == 52);

// Row ranges.
inline constexpr int kFirstKeyRow = 9;         // "TAB"
inline constexpr int kLastSpecialKeyRow = 43;  // "PAUSE"
inline constexpr int kFirstQualifierRow = 44;  // "LSHIFT"

// Codes below this index a display's key states.
inline constexpr uint32_t kKeyStateCount = 300;
inline constexpr uint32_t kQualifierBit = 0x80000000;

constexpr bool IsQualifierCode(uint32_t code) {
    return (code & kQualifierBit) != 0;
}

// The code of a row name (exact spelling); 0 when no row has it.
constexpr uint32_t KeyCode(std::string_view name) {
    for (const KeyTableRow& row : kKeyTable) {
        if (name == row.name) return row.code;
    }
    return 0;
}

// The name of a special or qualifier key code (rows 9 to 51); none for other codes.
constexpr const char* KeyName(uint32_t code) {
    for (int row = kFirstKeyRow; row < int(std::size(kKeyTable)); ++row) {
        if (kKeyTable[row].code == code) return kKeyTable[row].name;
    }
    return nullptr;
}

static_assert(KeyCode("ESC") == 275 && KeyCode("F16") == 290 && KeyCode("nope") == 0);
static_assert(KeyName(0x80800000) != nullptr && KeyName(10) == nullptr);

}  // namespace qv
