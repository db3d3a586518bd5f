// The GetAttribute providers of the scene's objects, each registered by the library that
// owns the records: background pictures ("bgpic"), displays ("display") and layers
// ("layers").
#pragma once

namespace qv::scene {

void RegisterBGPicAttributes();
void RegisterDisplayAttributes();
void RegisterLayerAttributes();

}  // namespace qv::scene
