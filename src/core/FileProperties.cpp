#include "core/FileProperties.h"

#include <array>
#include <atomic>

#include "core/MyFileProperties.h"
#include "core/StateIo.h"
#include "platform/Log.h"

using namespace corvale;

namespace {

IFileProperties* CreateMyFileProperties() { return new CMyFileProperties(); }

// Indexed by persistence code. Engines register while the program starts and restores may run on
// any worker later, hence atomics rather than a lock.
std::array<std::atomic<FilePropertiesFactory>, 5>& Factories() {
  static std::array<std::atomic<FilePropertiesFactory>, 5> factories{nullptr, nullptr, nullptr, nullptr,
                                                                     &CreateMyFileProperties};
  return factories;
}

}  // namespace

bool RegisterFilePropertiesFactory(int32_t code, FilePropertiesFactory factory) {
  if (code < kPropertiesNtfs || code > kPropertiesRaw) return false;
  Factories()[code].store(factory);
  return true;
}

IFileProperties* CreateFileProperties(int32_t code) {
  if (code < 0 || code >= static_cast<int32_t>(Factories().size())) return nullptr;
  const FilePropertiesFactory factory = Factories()[code].load();
  return factory != nullptr ? factory() : nullptr;
}

void SavePropertiesRecord(IRSData& writer, const IFileProperties* properties) {
  try {
    if (properties == nullptr) {
      WriteI32(writer, kNoPropertiesCode);
      return;
    }
    WriteI32(writer, properties->GetPersistenceCode());
    properties->Save(writer);
  } catch (IRSException& e) {
    LogError("RS Exception:%d\n", e.GetCode());
    throw;
  }
}

std::unique_ptr<IFileProperties> LoadPropertiesRecord(IRSData& reader) {
  std::unique_ptr<IFileProperties> properties;
  try {
    const int32_t code = ReadI32(reader);
    if (code == kNoPropertiesCode) return nullptr;
    properties.reset(CreateFileProperties(code));
    if (!properties) ThrowStateError(RS_ERROR_BAD_DATA);
    properties->Load(reader);
  } catch (IRSException& e) {
    LogError("RS Exception:%d\n", e.GetCode());
    throw;
  }
  return properties;
}
