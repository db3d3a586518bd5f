// The "brush" library's command handlers, by family, and what they share: the one lookup of
// every command that changes a brush and the hand-over of new planes.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "gfx/scale.h"
#include "objects/brush.h"

namespace qv::brushes {

// The lookup of a command that changes the brush of argument idx: ERR_MODIFYABR for the
// current output brush, the lookup errors, ERR_BRUSHTYPE for a vector brush and ERR_HWBRUSH
// for a hardware brush unless flags accept them (QV_BRUSH_HARDWARE; 0 or QV_BRUSH_NOVECTOR),
// ERR_LOCKEDOBJ, then the layers showing it get their copy.
int BrushToChange(qvVmState* L, int idx, qvBrush** out, int flags = QV_BRUSH_NOVECTOR);
// New planes of width x height replace all of the brush's (a plane the new set lacks goes).
void ReplacePlanes(qvBrush* brush, gfx::NewPicture* planes, int32_t width, int32_t height);
// A level argument: a number, or a percentage string of 255; truncated.
int32_t LevelArg(qvVmState* L, int idx);
// A position argument resolved against a size (position constants allowed).
int32_t PositionArg(qvVmState* L, int idx, int32_t objectSize, int32_t targetSize, bool vertical);

// Creating, loading, copying, freeing and saving.
int CreateBrush(qvVmState* L);
int LoadBrush(qvVmState* L);
int CopyBrush(qvVmState* L);
int FreeBrush(qvVmState* L);
int GrabDesktop(qvVmState* L);
int RGBArrayToBrush(qvVmState* L);
int BrushToRGBArray(qvVmState* L);
int ConvertToBrush(qvVmState* L);
int GetBrushLink(qvVmState* L);
int CreateGradientBrush(qvVmState* L);
int CreateTexturedBrush(qvVmState* L);
int SaveBrush(qvVmState* L);

// Showing.
int DisplayBrush(qvVmState* L);
int DisplayBrushPart(qvVmState* L);

// Output redirection and double buffering.
int SelectBrush(qvVmState* L);
int SelectMask(qvVmState* L);
int SelectAlphaChannel(qvVmState* L);
int BeginDoubleBuffer(qvVmState* L);
int EndDoubleBuffer(qvVmState* L);
int Flip(qvVmState* L);

// Geometry.
int ScaleBrush(qvVmState* L);
int RotateBrush(qvVmState* L);
int TransformBrush(qvVmState* L);
int FlipBrush(qvVmState* L);
int CropBrush(qvVmState* L);
int TrimBrush(qvVmState* L);
int PerspectiveDistortBrush(qvVmState* L);
int ArcDistortBrush(qvVmState* L);
int PolarDistortBrush(qvVmState* L);
int BarrelDistortBrush(qvVmState* L);

// Masks, alpha channels and pixels.
int SetBrushTransparency(qvVmState* L);
int ChangeBrushTransparency(qvVmState* L);
int DeleteMask(qvVmState* L);
int DeleteAlphaChannel(qvVmState* L);
int InvertMask(qvVmState* L);
int InvertAlphaChannel(qvVmState* L);
int SetMaskMode(qvVmState* L);
int SetAlphaIntensity(qvVmState* L);
int RasterizeBrush(qvVmState* L);
int CreateBorderBrush(qvVmState* L);
int CreateShadowBrush(qvVmState* L);
int ReadBrushPixel(qvVmState* L);
int WriteBrushPixel(qvVmState* L);
int FloodFill(qvVmState* L);
int ReplaceColors(qvVmState* L);

// Colour effects.
int TintBrush(qvVmState* L);
int MixBrush(qvVmState* L);
int BrushToGray(qvVmState* L);
int InvertBrush(qvVmState* L);
int BrushToMonochrome(qvVmState* L);
int SepiaToneBrush(qvVmState* L);
int SolarizeBrush(qvVmState* L);
int ModulateBrush(qvVmState* L);
int ContrastBrush(qvVmState* L);
int GammaBrush(qvVmState* L);
int PixelateBrush(qvVmState* L);
int SwirlBrush(qvVmState* L);
int OilPaintBrush(qvVmState* L);
int CharcoalBrush(qvVmState* L);
int WaterRippleBrush(qvVmState* L);
int BlurBrush(qvVmState* L);
int EmbossBrush(qvVmState* L);
int EdgeBrush(qvVmState* L);
int SharpenBrush(qvVmState* L);

}  // namespace qv::brushes
