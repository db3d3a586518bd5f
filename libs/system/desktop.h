// The desktop half of the system library: requesters, the clipboard, icons, URLs, the
// system's language and country, and script catalogs. Its state (the open catalog, the last
// file and path of the requesters, the desktop icon's name) lives until FreeDesktopState.
#pragma once

#include <string>

#include "engine/vm.h"

namespace qv {

int SystemRequest(qvVmState* L);
int StringRequest(qvVmState* L);
int FileRequest(qvVmState* L);
int PathRequest(qvVmState* L);
int FontRequest(qvVmState* L);
int ListRequest(qvVmState* L);
int ColorRequest(qvVmState* L);

int SetClipboard(qvVmState* L);
int GetClipboard(qvVmState* L);
int PeekClipboard(qvVmState* L);
int ClearClipboard(qvVmState* L);

int SetWBIcon(qvVmState* L);
int GetIconProperties(qvVmState* L);
int SetIconProperties(qvVmState* L);
int OpenURL(qvVmState* L);

int GetSystemLanguage(qvVmState* L);
int GetSystemCountry(qvVmState* L);
int OpenCatalog(qvVmState* L);
int CloseCatalog(qvVmState* L);
int GetCatalogString(qvVmState* L);

// The icon file that SetWBIcon chose ("" for none), for iconified displays.
const std::string& DesktopIconName();
// Closes the catalog and forgets the requesters' last file and path and the icon's name.
void FreeDesktopState();

}  // namespace qv
