// Text layers under the layer caches: a TEXTOUT or PRINT layer renders the record it keeps
// again, a TEXTOBJECT layer its object's layout, under the cache's work transform (outline
// fonts at the scaled size); thin borders of text layers are drawn as the glyphs' edge.
#pragma once

// Installs the content and border renderers of the three text layer types.
void InstallTextLayerRenderers();
// Installs the style row of TEXTOUT and PRINT layers (SetLayerStyle and GetLayerStyle).
void InstallTextStyleRows();
