// The style engine's row of VECTORPATH layers: the path, its stroke and its dash pattern as
// SetLayerStyle reads them and GetLayerStyle reports them.
#pragma once

namespace qv {

void InstallPathStyleRow();

}  // namespace qv
