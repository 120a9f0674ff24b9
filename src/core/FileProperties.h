#pragma once
// What the found-file tree knows about one file: name, size, attributes, times, check state and
// where its data lies. Each engine has its own implementation; the tree and its readers see only
// this interface.

#include <cstdint>
#include <memory>
#include <string>

#include "core/DataRunList.h"

class IRSData;

// Which implementation wrote a saved properties record; the numbers are stored in state files.
enum FilePropertiesCode : int32_t {
  kPropertiesNtfs = 0,
  kPropertiesFat = 1,
  kPropertiesExt2 = 2,
  kPropertiesRaw = 3,
  kPropertiesInMemory = 4,  // CMyFileProperties: folders that exist only in the result tree
};

// Attribute bits, in the values of the Windows file attributes.
inline constexpr uint16_t kAttributeFolder = 0x10;
inline constexpr uint16_t kAttributeEncrypted = 0x40;
inline constexpr uint16_t kAttributeSparse = 0x200;
inline constexpr uint16_t kAttributeCompressed = 0x800;

// Texts of the reasons GetUnrecoverableReason gives.
// A deleted file whose size and data blocks the file system cleared when it was deleted.
inline constexpr uint32_t kStringNoDataLeft = 62040;

// Check states of a node in the tree.
inline constexpr uint8_t kNotChecked = 0;
inline constexpr uint8_t kPartlyChecked = 1;
inline constexpr uint8_t kChecked = 2;

class IFileProperties {
 public:
  virtual ~IFileProperties() = default;
  virtual uint16_t GetNameLength() const = 0;
  virtual void SetName(const char* text) = 0;
  virtual const char* GetName() const = 0;
  virtual uint64_t GetSize() const = 0;
  virtual uint16_t GetAttributes() const = 0;
  virtual std::string GetExtraText() const = 0;
  // Times as 100-nanosecond counts since 1601 (FILETIME).
  virtual uint64_t GetCreationTime() const = 0;
  virtual uint64_t GetTime2() const = 0;
  virtual uint64_t GetTime3() const = 0;
  virtual uint16_t GetTypeWord() const = 0;
  virtual uint8_t GetCheckState() const = 0;
  virtual void SetCheckState(uint8_t state) = 0;
  // A new run list expanded from the kept runs, owned by the caller; null without runs.
  virtual std::unique_ptr<IDataRunList> CreateDataRunList() const = 0;
  virtual uint32_t GetValidMask() const = 0;
  virtual uint8_t GetFlagByte() const = 0;
  // Stores the flag and returns the old one.
  virtual uint8_t SetFlagByte(uint8_t value) = 0;
  // Writes the implementation's own fields and then the run-list tail (PackedRunList.h).
  virtual bool Save(IRSData& writer) const = 0;
  virtual int32_t GetPersistenceCode() const = 0;
  // Reads what Save wrote and resets the check state and flag byte to 0.
  virtual bool Load(IRSData& reader) = 0;

  // Why nothing of this file can be recovered, as the id of a text that says so (kStringNoDataLeft),
  // or 0 when its data may still be there. The file list greys such files and the recovery writes
  // nothing for them.
  virtual uint32_t GetUnrecoverableReason() const { return 0; }

  bool IsFolder() const { return (GetAttributes() & kAttributeFolder) != 0; }
};

// The engines register how to make an empty properties object of their persistence code when the
// program starts, so that core can restore saved trees without knowing the engines.
using FilePropertiesFactory = IFileProperties* (*)();
// Registers (or with null, removes) the factory for codes 0 to 3; code 4 is core's own. False for
// any other code.
bool RegisterFilePropertiesFactory(int32_t code, FilePropertiesFactory factory);
// An empty object of that code, or null when no factory is registered for it.
IFileProperties* CreateFileProperties(int32_t code);

// The persistence code that stands for "no properties" in a saved tree.
inline constexpr int32_t kNoPropertiesCode = -1;

// Writes the 4-byte persistence code and the object's saved form (kNoPropertiesCode alone for null).
void SavePropertiesRecord(IRSData& writer, const IFileProperties* properties);
// Reads a record written by SavePropertiesRecord; null when it says "no properties". A code without
// a registered implementation is bad data (RS_ERROR_BAD_DATA): the record's bytes
// cannot be skipped without it. On any stream exception "RS Exception:%d\n" is logged, the half-built object
// freed and the exception rethrown.
std::unique_ptr<IFileProperties> LoadPropertiesRecord(IRSData& reader);
