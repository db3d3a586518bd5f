#include "engine/internal.h"

namespace qv {

const qvValue kNilObject = {VM_TNIL, {nullptr}};

}  // namespace qv
