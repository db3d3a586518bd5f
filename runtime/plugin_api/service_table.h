// The service table handed to every plugin's "InitPlugin": version 5, revision 0, ten
// sub-tables in fixed slot order (see qv_plugin_api.h).
#pragma once

#include "runtime/plugin_api/qv_plugin_api.h"

namespace qv {

const qvPluginAPI* PluginAPI();

}  // namespace qv
