#include "objects/text/text_attributes.h"

#include "gfx/library/get_attribute.h"
#include "gfx/library/object_types.h"
#include "objects/text/font_cache.h"
#include "objects/text/text_objects.h"

using namespace qv::gfx;

const char* FontNameOf(const qvFont* font) {
    return font->requestedName[0] != '\0' ? font->requestedName : font->name;
}

namespace qv::text {
namespace {

int FontObjectAttribute(const AttributeRequest& r) {
    qvFontObject* object = nullptr;
    if (const int code = FindFont(r.id, &object)) return code;
    return PushFontAttribute(r.L, object->font, r.attribute);
}

int TextObjectAttribute(const AttributeRequest& r) {
    qvTextObject* object = nullptr;
    if (const int code = FindTextObject(r.L, r.id, &object, 0)) return code;
    switch (r.attribute) {
        case ATTRWIDTH:
            VmPushNumber(r.L, object->width);
            return 1;
        case ATTRHEIGHT:
            VmPushNumber(r.L, object->height);
            return 1;
        default:
            return PushLayoutAttribute(r.L, *object->layout, r.attribute);
    }
}

}  // namespace

bool IsFontAttribute(int32_t attribute) {
    return attribute >= ATTRFONTASCENDER && attribute <= ATTRFONTAA;
}

int PushFontAttribute(qvVmState* L, const qvFont* font, int32_t attribute) {
    if (font == nullptr) font = DefaultFont();
    if (attribute == ATTRFONTNAME) {
        // The record's own name (a TrueType face's family and style): the name it was asked
        // for may be a file's path or a linked font's virtual path, which tells where the
        // applet lies.
        VmPushString(L, font != nullptr ? font->name : "");
        return 1;
    }
    double value = 0;
    if (font != nullptr) {
        switch (attribute) {
            case ATTRFONTASCENDER:
                value = font->baseline;
                break;
            case ATTRFONTDESCENDER:
                value = font->height - font->baseline;
                break;
            case ATTRFONTSIZE:
                value = font->size;
                break;
            case ATTRFONTSCALABLE:
                value = font->scalable != 0 ? 1 : 0;
                break;
            default:  // ATTRFONTAA
                value = font->antiAlias != 0 ? 1 : 0;
                break;
        }
    }
    VmPushNumber(L, value);
    return 1;
}

int PushLayoutAttribute(qvVmState* L, const qvTextParams& layout, int32_t attribute) {
    if (attribute != ATTRTEXT) return PushFontAttribute(L, layout.style.font, attribute);
    VmPushString(L, layout.text != nullptr ? layout.text : "");
    return 1;
}

const qvTextParams* TextLayerLayout(qvVmState* L, const qvLayer* layer) {
    if (layer->type == kTypeTextOut || layer->type == kTypePrint) {
        return dynamic_cast<const qvTextRender*>(layer->sourceItem);
    }
    qvTextObject* object = nullptr;
    if (layer->type != kTypeTextObject ||
        FindTextObject(L, layer->objectId, &object, QV_TEXTOBJECT_ORPHANS) != 0) {
        return nullptr;
    }
    return object->layout;
}

void RegisterTextAttributes() {
    RegisterAttributeProvider(kTypeFont, FontObjectAttribute);
    RegisterAttributeProvider(kTypeTextObject, TextObjectAttribute);
}

}  // namespace qv::text
