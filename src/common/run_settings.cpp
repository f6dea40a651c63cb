#include "common/run_settings.h"

namespace tilvex {

RunSettings run_settings;

}  // namespace tilvex
