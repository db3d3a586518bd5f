// Base64 ("A".."Z", "a".."z", "0".."9", "+", "/", "=" padding) of the text form of
// serialised functions.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qv {

// The encoding in lines of 72 characters joined by line feeds, with none after the last.
std::string EncodeBase64Lines(std::span<const uint8_t> bytes);

// Decodes text: characters up to 32 (blanks, line feeds, control characters) are ignored; a
// group with padding ends the data. False for any other character outside the alphabet and
// for characters left over in an incomplete group.
bool DecodeBase64(std::span<const uint8_t> text, std::vector<uint8_t>* out);

}  // namespace qv
