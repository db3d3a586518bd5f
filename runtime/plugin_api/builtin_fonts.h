// The three built-in TrueType faces (Bitstream Vera sans, serif and monospaced), embedded in
// the program at build time. Scripts and plugins reach them as the virtual files
// ":::default_sans", ":::default_serif" and ":::default_mono"; plugins also through the font
// data of the service table.
#pragma once

#include <span>

#include "runtime/plugin_api/qv_plugin_api.h"

namespace qv {

std::span<const unsigned char> BuiltInFontSans();
std::span<const unsigned char> BuiltInFontSerif();
std::span<const unsigned char> BuiltInFontMono();

// Each face with its own size, in the order sans, serif, mono.
const qvPluginFontData& BuiltInFontData();

// Registers the faces with the file layer under their virtual names; 0 or ERR_MEM (nothing
// stays registered then). Registering again while registered does nothing.
int RegisterBuiltInFonts();
void UnregisterBuiltInFonts();

}  // namespace qv
