// GetAttribute: the one query over every object type. A constexpr table decides which
// attributes a type answers; the type's provider, registered by the library that owns the
// type, looks the object up and answers.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

namespace qv::gfx {

// The attribute numbers (the ATTR... constants).
enum Attribute : int32_t {
    ATTRWIDTH = 0,
    ATTRHEIGHT = 1,
    ATTRXPOS = 7,
    ATTRYPOS = 8,
    ATTRTYPE = 9,
    ATTRNUMFRAMES = 11,
    ATTRCURFRAME = 12,
    ATTRMODE = 42,
    ATTRSIZE = 57,
    ATTRFUNCTION = 58,
    ATTRUSERDATA = 59,
    ATTRCOUNT = 60,
    ATTRMASKMODE = 63,
    ATTRALPHAINTENSITY = 64,
    ATTRHARDWARE = 73,
};

// The names of attributes 0 to ATTRHARDWARE, in order.
inline constexpr const char* kAttributeNames[ATTRHARDWARE + 1] = {
    "ATTRWIDTH",        "ATTRHEIGHT",         "ATTRMAXWIDTH",
    "ATTRMAXHEIGHT",    "ATTRBGPIC",          "ATTRTRANSPARENTCOLOR",
    "ATTRLAYERS",       "ATTRXPOS",           "ATTRYPOS",
    "ATTRTYPE",         "ATTRVISIBLE",        "ATTRNUMFRAMES",
    "ATTRCURFRAME",     "ATTRLAYERID",        "ATTRDURATION",
    "ATTRPITCH",        "ATTRHASMASK",        "ATTRHASALPHA",
    "ATTRPOSITION",     "ATTRFORMAT",         "ATTRBITRATE",
    "ATTRCURSORX",      "ATTRCURSORY",        "ATTRONSCREEN",
    "ATTRBORDERLEFT",   "ATTRBORDERTOP",      "ATTRBORDERRIGHT",
    "ATTRBORDERBOTTOM", "ATTRHOSTWIDTH",      "ATTRHOSTHEIGHT",
    "ATTRFONTASCENDER", "ATTRFONTDESCENDER",  "ATTRFONTNAME",
    "ATTRFONTSIZE",     "ATTRFONTSCALABLE",   "ATTRFONTAA",
    "ATTRTEXT",         "ATTRFRAMEDELAY",     "ATTRPOINTER",
    "ATTRCLIPREGION",   "ATTRSTATE",          "ATTRACTIVE",
    "ATTRMODE",         "ATTRSCALEMODE",      "ATTRSCALEWIDTH",
    "ATTRSCALEHEIGHT",  "ATTRBORDERLESS",     "ATTRFIXED",
    "ATTRSIZEABLE",     "ATTRNOHIDE",         "ATTRNOMODESWITCH",
    "ATTRTITLE",        "ATTRMARGINLEFT",     "ATTRMARGINRIGHT",
    "ATTROUTPUTDEVICE", "ATTRDOUBLEBUFFER",   "ATTRHOSTDEPTH",
    "ATTRSIZE",         "ATTRFUNCTION",       "ATTRUSERDATA",
    "ATTRCOUNT",        "ATTRNOCLOSE",        "ATTRGROUP",
    "ATTRMASKMODE",     "ATTRALPHAINTENSITY", "ATTRRAWXPOS",
    "ATTRRAWYPOS",      "ATTRRAWWIDTH",       "ATTRRAWHEIGHT",
    "ATTRLAYERSON",     "ATTRORIENTATION",    "ATTRKEYBOARD",
    "ATTRCANSEEK",      "ATTRHARDWARE"};

struct AttributeRequest {
    qvVmState* L;
    int32_t type;
    qvObjectId id;  // every type but LAYER
    int32_t layer;  // LAYER: the index FindLayerArg gave
    int32_t attribute;
    bool hasParameter;
    int32_t parameter;
};

// Looks the object up and pushes the attribute's value: 1, or an error code (a missing object
// gives ObjectNotFound with the type's own code).
using AttributeProvider = int (*)(const AttributeRequest& request);

// Installs the provider of an object type (nullptr removes it).
void RegisterAttributeProvider(int32_t type, AttributeProvider provider);
// The type's provider, or nullptr.
AttributeProvider InstalledAttributeProvider(int32_t type);
// Whether the type answers the attribute; false for types GetAttribute does not know.
bool AttributeListed(int32_t type, int32_t attribute);
// Whether GetAttribute knows the type.
bool AttributeTypeKnown(int32_t type);
// Pushes ATTRMASKMODE or ATTRALPHAINTENSITY from the graphics state (the display
// provider's answer to them); 1.
int PushDrawingAttribute(qvVmState* L, int32_t attribute);
// Registers the providers of clip regions, pointers and asynchronous drawing objects, and
// those of the libraries built before the registry (memory blocks, file objects).
void RegisterGraphicsAttributeProviders();
void RegisterLibraryAttributeProviders();

}  // namespace qv::gfx

int GetAttribute(qvVmState* L);
