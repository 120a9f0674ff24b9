#include "wizard/controller/HintSettings.h"

#include <string>

#include "platform/Log.h"
#include "platform/Registry.h"

namespace corvale::hints {

bool IsHintShown(const char* name) {
  std::string value;
  if (platform::RegistryGetString(kHintsKey, name, &value) != platform::RegistryStatus::Ok) return true;
  return value != "0";
}

void HideHint(const char* name) {
  int error = 0;
  const platform::RegistryStatus status = platform::RegistrySetString(kHintsKey, name, "0", &error);
  if (status != platform::RegistryStatus::Ok)
    LogInfo("Hint %s not stored: %s (%d)", name, platform::RegistryStatusText(status), error);
}

}  // namespace corvale::hints
