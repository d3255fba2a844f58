// The process-wide settings record.
#include "settings/SettingsBlock.h"

namespace norvex {

SettingsBlock Settings;

}  // namespace norvex
