// The style rows of the layers that show objects: brushes, brush parts, picture parts, anims
// and text objects (their keys of SetLayerStyle and GetLayerStyle, and their retype items).
#pragma once

namespace qv::scene {

// Installs the five rows; the layers library calls it when it registers.
void InstallObjectStyleRows();

}  // namespace qv::scene
