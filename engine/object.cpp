#include "engine/internal.h"

namespace qv {

const qvValue kNilObject = {VM_TNIL, 0, {nullptr}};

}  // namespace qv
