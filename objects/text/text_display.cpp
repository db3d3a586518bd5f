#include "objects/text/text_display.h"

#include "gfx/graphics_state.h"

namespace qv::text {
namespace {

class NoDisplay final : public TextDisplayHost {
public:
    qvTextCursor* CurrentTextCursor() override { return nullptr; }
    int32_t OutputPictureWidth() override {
        return gfx::Graphics().Host().CurrentOutputPicture().width;
    }
};

TextDisplayHost* installed = nullptr;

}  // namespace

void SetTextDisplayHost(TextDisplayHost* host) {
    installed = host;
}

TextDisplayHost& TextDisplay() {
    static NoDisplay none;
    return installed != nullptr ? *installed : none;
}

}  // namespace qv::text

void ResetTextCursor(qvTextCursor* cursor, int32_t pictureWidth) {
    cursor->x = cursor->y = cursor->leftMargin = 0;
    cursor->rightMargin = pictureWidth - 1;
}
