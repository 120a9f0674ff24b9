#include "storage/DeviceOpen.h"

#include <cstring>

#include "platform/Log.h"

namespace corvale {

std::unique_ptr<platform::IRawDevice> OpenSourceReadOnly(const std::string& path) {
  int error = 0;
  std::unique_ptr<platform::IRawDevice> raw = platform::CurrentRawIo().OpenReadOnly(path, &error);
  if (raw) return raw;
  if (platform::IsPermissionError(error)) {
    LogError(
        "Cannot open %s for reading: permission denied (%s). Reading a disk needs root or membership of "
        "the group that owns the device (usually \"disk\").",
        path.c_str(), std::strerror(error));
  } else {
    DebugTrace("Cannot open %s for reading: %s", path.c_str(), std::strerror(error));
  }
  return nullptr;
}

}  // namespace corvale
