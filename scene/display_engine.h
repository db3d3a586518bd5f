// The display engine: the option table of CreateDisplay and SetDisplayAttributes, making a
// display, opening its window, resizing it, applying changed attributes, and fitting its
// background picture to it (work bitmaps, the picture at the display's size, redrawing).
//
// Positions are the window's outer position; the position constants resolve against the
// screen's usable area (the whole screen for a "private1" display) with the frame counted in.
// A display without a scaling mode shows its picture pixel for pixel: its size is the
// picture's.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "platform/linux/bitmap.h"
#include "runtime/objects.h"
#include "scene/display.h"

namespace qv::scene {

// What ParseDisplayOptions found besides the settings.
struct ParsedOptions {
    bool scaleGiven = false;
    qvBGPic* picture = nullptr;  // the "bgpic" given, or none
};

// Reads the region table under key of option table t into regions: rows from index 0 to the
// first nil; absent or nil leaves the regions as they were. A value or a row that is no table
// raises ERR_TABEXPECTED; a row without a coordinate or size is ERR_MISSINGPARAMTR; a type
// other than BOX, a negative position or a size below 1 is ERR_WRONGUSAGE; a 65th row is
// ERR_INTERNAL. Nothing is stored unless every row is good.
int ParseRegionList(qvVmState* L, int t, const char* key, qvDisplayRegions* regions);

// Applies option table t to the settings in the table's key order (creating: a "bgpic" ends
// the reading of the size and fill, and "hidden", "layers" and "private1" to "private3" are
// read too). A "bgpic" that a display other than excluded shows is ERR_MULTIBGPIC; when
// creating, excluded is the display being replaced, and the picture it owns is not found
// (it is freed with that display). 0 or an error code; the settings may be half changed
// after an error.
int ParseDisplayOptions(qvVmState* L, int t, qvDisplaySettings* settings, bool creating,
                        const qvDisplay* excluded, ParsedOptions* parsed);

// CreateDisplay: the display with the id (a handle asks for an automatic id) and the options
// at table t (0: none); a display with the number is replaced (not the current one:
// ERR_FREEADISPLAY; not one that asynchronous drawing uses: ERR_ADFFREEDISP). 0 with the
// listed display in *out, or an error with nothing made and nothing replaced.
int CreateDisplayEx(qvVmState* L, qvObjectId id, int t, qvDisplay** out);

// Opens a closed display's window (activated when asked). 0 or an error code; a failure
// before the window opened leaves the display closed.
int OpenDisplayEx(qvVmState* L, qvDisplay* display, int activate);
// The display becomes the current one: a redirection of drawing on the old current display
// ends (unless it draws into its double buffer), and the current output picture becomes the
// display's picture (or its double buffer).
int MakeCurrentDisplay(qvVmState* L, qvDisplay* display);

// Resizes the display (layers that show its picture keep the old pixels first).
// scriptResize 1, a script asked for width x height at (x, y): the picture's size changes;
// without a scaling mode the window follows (the position is resolved and the size must fit
// the screen: ERR_DISPLAYSIZE "%dx%d"), with one the window keeps its size and shows the
// picture at the new scale. scriptResize 0, the window is width x height (the user resized
// it, or the display is being fitted): without a scaling mode the picture takes that size;
// with one the picture is shown at the window's size, letterboxed with "keepproportions".
// Unless noRedraw the window follows and shows the picture. 0 or an error code; an error
// before anything changed leaves the display as it was.
int ResizeDisplay(qvVmState* L, qvDisplay* display, int32_t x, int32_t y, int32_t width,
                  int32_t height, int scriptResize, int smooth, int noRedraw);
// Start-up sizing: the work bitmaps of the display's picture and, with a scaling mode, the
// scaled window ("fitscale": the whole screen area less the frame).
int PrepareInitialDisplaySize(qvVmState* L, qvDisplay* display);
// SetDisplayAttributes and DisplayBGPic: option table t applied to the display, switching its
// picture, resizing, moving, retitling or reopening its window as needed, then redrawing
// unless noRefresh. 0 or an error code; nothing changes when the options are refused.
int ApplyDisplayAttributes(qvVmState* L, int t, qvDisplay* display, int noRefresh);
// Fills the letterbox strips of the window with black.
void ClearDisplayBorders(qvDisplay* display);

// The screen area of a display: the whole screen for "private1", else the usable area.
ScreenArea DisplayScreenArea(const qvDisplay* display);
// Resolves a position constant of the settings against the area with the outer size; a
// resolved constant gets the area's offset.
int32_t ResolveDisplayX(int32_t x, int32_t outerWidth, const ScreenArea& area);
int32_t ResolveDisplayY(int32_t y, int32_t outerHeight, const ScreenArea& area);

// --- Scaling ---

// A scaling mode is on and the scale size is set: the window shows the picture at the scale
// size.
bool ScalingActive(const qvDisplaySettings& s);

// Where a picture of pictureWidth x pictureHeight is shown in a window of width x height:
// the scale size and the letterbox strips (left, top, right, bottom).
struct ScaledArea {
    int32_t width, height;
    int32_t letterbox[4];
};
// keepProportions: the largest size of the picture's proportions that fits (each side at
// least 1), centred between strips; otherwise the whole window.
ScaledArea FitScaledArea(int32_t pictureWidth, int32_t pictureHeight, int32_t width, int32_t height,
                         bool keepProportions);

// A position in the window's inner area in the display's coordinates: (window position -
// (left strip, top strip)) / scale factor. Events and MouseX/MouseY truncate it (toward
// zero), the buttons' hit test floors it, so a position on the left or top strip lies left
// of or above column or row 0. Nothing is clamped.
struct LogicalPoint {
    double x, y;
};
LogicalPoint WindowToLogical(const qvDisplay* display, int32_t x, int32_t y);

// Layer scaling: the picture's shown set made from its base set at the display's scale size
// (the scaled set itself when that is the picture's size), the scale factors set, with
// reallocate the work bitmaps made at that size, then the picture's layers rebuilt for the
// display. 0 or an error code; an error before the layers leaves the picture as it was.
int RebuildDisplayBuffers(qvVmState* L, qvDisplay* display, qvBGPic* picture, int reallocate);
// The picture fitted to the display's scaling: with layer scaling the factors (and the shown
// set when it lacks the scale size, RebuildDisplayBuffers without reallocating); with
// autoscale the factors and, when they are not both 1 and the picture has a mask or an alpha
// channel, those scaled to the scale size into *mask and *alpha (new; none otherwise) for the
// window's shape; otherwise factors of 1.0. 0 or an error code.
int AutoScaleBGPic(qvVmState* L, qvDisplay* display, qvBGPic* picture, qvPlaneBitMap** mask,
                   qvPlaneBitMap** alpha);
// The window's scaled shape freed.
void FreeScaledShape(qvDisplay* display);
// The picture's shown set becomes its scaled set at its logical size again (a layer-scaled
// display no longer shows it); shown parts of its own are freed.
void UnscaleShownSet(qvBGPic* picture);
// A picture that a layer-scaled display stops showing: its shown set unscaled and its layers
// shown by their picture items again, as any display without layer scaling shows them.
void ShowAtLogicalSize(qvVmState* L, qvBGPic* picture);

// --- Shared by the engine's files ---

// ERR_DISPLAYSIZE with the text "WIDTHxHEIGHT".
int DisplaySizeError(int32_t width, int32_t height);
// The default drag and size regions when none were given; given ones scaled to the window
// while the display scales; every region cut to the window.
void MakeDisplayRegions(qvDisplaySettings* s);
// Closes the window and opens it with the display's settings; a failure leaves it closed.
int ReopenDisplayWindow(qvVmState* L, qvDisplay* display);
// The text cursor of a display whose picture changed size; the saved one while drawing is
// redirected.
void ResetDisplayCursor(qvDisplay* display, int32_t width);

// --- Fitting a picture to a display ---

// The two work bitmaps of a display, made before anything changes.
struct WorkBitmaps {
    OwnedBitMap display;
    OwnedBitMap composition;
};
// New work bitmaps of the size, or none when the display's own have it already (they are
// used again). 0, or ERR_MEM with none made.
int NewWorkBitmaps(const qvDisplay* display, int32_t width, int32_t height, WorkBitmaps* out);
// The new bitmaps (if any) become the display's, the old ones freed.
void PutWorkBitmaps(qvDisplay* display, WorkBitmaps* bitmaps);
// The picture as shown into the display bitmap (with autoscale the composition bitmap too).
void CopyShownPicture(qvDisplay* display, const qvBGPic* picture);
// PutWorkBitmaps, then CopyShownPicture.
void InstallWorkBitmaps(qvDisplay* display, const qvBGPic* picture, WorkBitmaps* bitmaps);
// CopyShownPicture of the display's picture, then RefreshDisplay: in one pass over the
// picture where the window shows the display bitmap as it is.
void ShowPictureAndRefresh(qvVmState* L, qvDisplay* display);

// With reallocate, the display bitmap and the composition bitmap are made at the picture's
// shown size (kept when they have it); the picture's shown bitmap is copied into the display
// bitmap (with autoscale the composition bitmap too). 0 or ERR_MEM with the old bitmaps kept.
int AllocDisplayBuffers(qvDisplay* display, const qvBGPic* picture, int reallocate);
// The picture rescaled from its base set to width x height (KEEPASPRAT keeps its aspect):
// 0 or an error code with the picture unchanged.
int ResizeBGPicForDisplay(qvVmState* L, qvBGPic* picture, int32_t width, int32_t height,
                          int smooth);
// The bitmap that shows the display's picture: the display bitmap, or the composition bitmap
// with the picture composed into it when layers or sprites are on it.
qvDisplayBitMap* GetDisplayBGPicBitmap(qvVmState* L, qvDisplay* display, qvBGPic* picture);
// The picture as shown in the rectangle: the current display's composition bitmap (*owned
// false) when the picture is its own, else a new bitmap of the logical size (*owned true).
// 0 or ERR_MEM.
int RenderBGPicBitmap(qvVmState* L, qvBGPic* picture, int32_t x, int32_t y, int32_t width,
                      int32_t height, qvDisplayBitMap** bitmap, bool* owned);
// DisplayBGPic: shows the picture on the current display at (x, y) (kPositionNotGiven: kept
// at the same size, else centred; KEEPPOSITION: kept). With grab (a transition): the old
// picture as composed, at the size the new one is shown at unless the window autoscales, is
// put back into the window, and new copies of the new and the old image go to *newImage and
// *oldImage, the caller's to free. 0 or an error code.
int DisplayBGPicEx(qvVmState* L, qvObjectId id, int32_t x, int32_t y, int grab,
                   qvDisplayBitMap** newImage, qvDisplayBitMap** oldImage);

}  // namespace qv::scene

// The "bgpic" library's DisplayBGPic(id [, {x, y}]).
int DisplayBGPic(qvVmState* L);
