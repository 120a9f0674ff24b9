#pragma once
// What the found-file tree knows about one NTFS file (FORMAT.md, "File properties"): its name, size,
// attributes, times, whether its record is deleted, the sector of its FILE record, its data runs
// (kept packed) and the extension records its attribute list names.
//
// The properties also supply what only the file's record can give the recovery: data kept inside
// the record, the key stream ($EFS) of an encrypted file, and the expansion of compressed units.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/FileContentSource.h"
#include "core/FileProperties.h"
#include "core/PackedRunList.h"
#include "ntfs/FileRecord.h"

class CFileNode;
class IStorageDevice;

class CNTFSFileProperties : public IFileProperties, public IFileContentSource {
 public:
  // Status values.
  static constexpr uint8_t kStatusLive = 0;
  static constexpr uint8_t kStatusDeleted = 1;  // the record is not in use
  static constexpr uint8_t kStatusLostFiles = 8;
  // Longest name kept: an NTFS name is at most 255 UTF-16 units, 765 bytes of UTF-8.
  static constexpr size_t kMaxNameBytes = 1024;

  CNTFSFileProperties() = default;
  ~CNTFSFileProperties() override = default;
  CNTFSFileProperties(const CNTFSFileProperties&) = delete;
  CNTFSFileProperties& operator=(const CNTFSFileProperties&) = delete;

  // The byte count kept with the name: its length with the terminating zero, 0 without a name.
  uint16_t GetNameLength() const override;
  // Keeps a copy, cut to kMaxNameBytes at a character boundary.
  void SetName(const char* text) override;
  const char* GetName() const override { return m_name.c_str(); }
  // The size in bytes; a negative size (not known) reads as 0.
  uint64_t GetSize() const override { return m_size > 0 ? static_cast<uint64_t>(m_size) : 0; }
  uint16_t GetAttributes() const override { return m_attributes; }
  std::string GetExtraText() const override { return {}; }
  uint64_t GetCreationTime() const override { return m_creationTime; }
  uint64_t GetTime2() const override { return m_modificationTime; }  // modification
  uint64_t GetTime3() const override { return m_accessTime; }        // access
  uint16_t GetTypeWord() const override { return m_status; }
  uint8_t GetCheckState() const override { return m_checkState; }
  void SetCheckState(uint8_t state) override { m_checkState = state; }
  // Resident when the packed runs keep a resident value, else non-resident; null without runs.
  std::unique_ptr<IDataRunList> CreateDataRunList() const override;
  uint32_t GetValidMask() const override { return 255; }
  uint8_t GetFlagByte() const override { return m_flag; }
  uint8_t SetFlagByte(uint8_t value) override;
  // Saved form (FORMAT.md, "Saved form of a file's properties"). Errors of the stream are its
  // exceptions, passed on.
  bool Save(IRSData& writer) const override;
  int32_t GetPersistenceCode() const override { return kPropertiesNtfs; }
  // Reads what Save wrote; a name longer than kMaxNameBytes is bad data. Clears the check state and
  // the flag byte.
  bool Load(IRSData& reader) override;

  // IFileContentSource: the readers below on this file's node, and LZNT1 expansion.
  bool ReadResidentData(CFileNode* node, IStorageDevice* device, uint8_t* buffer, uint32_t capacity,
                        uint32_t* outSize) override;
  bool ReadEfsStream(CFileNode* node, IStorageDevice* device, uint8_t* buffer, uint32_t capacity,
                     uint32_t* outSize) override;
  bool DecompressUnit(const uint8_t* input, size_t inputSize, uint8_t* output, size_t outputSize) override;

  int64_t GetSignedSize() const { return m_size; }
  void SetSize(int64_t size) { m_size = size; }
  void SetAttributes(uint16_t attributes) { m_attributes = attributes; }
  void SetTimes(uint64_t creation, uint64_t modification, uint64_t access);
  uint8_t GetStatus() const { return m_status; }
  void SetStatus(uint8_t status) { m_status = status; }
  bool IsDeleted() const { return m_status == kStatusDeleted; }
  // Absolute device sector where the file's FILE record starts.
  int64_t GetRecordSector() const { return m_recordSector; }
  void SetRecordSector(int64_t sector) { m_recordSector = sector; }
  const PackedRunList* GetPackedRuns() const { return m_runs.get(); }
  void SetPackedRuns(std::unique_ptr<PackedRunList> runs) { m_runs = std::move(runs); }
  // The records the file's attribute list names; null when it has none.
  const std::vector<NTFSExtensionRecordRef>* GetExtensionRecords() const { return m_extensions.get(); }
  void SetExtensionRecords(std::unique_ptr<std::vector<NTFSExtensionRecordRef>> records) {
    m_extensions = std::move(records);
  }

 private:
  std::string m_name;
  bool m_hasName = false;
  int64_t m_size = 0;
  uint16_t m_attributes = 0;
  uint64_t m_creationTime = 0;
  uint64_t m_modificationTime = 0;
  uint64_t m_accessTime = 0;
  uint8_t m_status = kStatusLive;
  uint8_t m_checkState = 0;
  uint8_t m_flag = 0;
  int64_t m_recordSector = 0;
  std::unique_ptr<PackedRunList> m_runs;
  std::unique_ptr<std::vector<NTFSExtensionRecordRef>> m_extensions;
};

// New, empty properties.
CNTFSFileProperties* CreateNTFSFileProperties();

// The properties of the file one FILE record describes (FORMAT.md, "File properties from a
// record"), or null when the record names no file: no usable $FILE_NAME, an empty name, or a type
// the user does not want. `recordSector` is the absolute device sector of the record;
// `bytesPerCluster` the volume's (0 when not known). *outParent, when given, receives the record
// number of the folder the file belongs in, unless the record names none. The extension-record
// list is not attached here: the caller that built it hands it over.
std::unique_ptr<CNTFSFileProperties> CreateNTFSFilePropertiesFromRecord(int64_t recordSector,
                                                                        const CNTFSFileRecord& record,
                                                                        uint32_t bytesPerCluster,
                                                                        int64_t* outParent);

// Copies the value of the file's first unnamed $DATA, read afresh from its record, when it is kept
// in the record and fits `bufferSize`. False for a partition node, a node without NTFS properties, a
// folder, a record that cannot be read or is no FILE record, and data kept in clusters.
bool ReadNTFSResidentData(CFileNode* node, IStorageDevice* device, uint32_t* outSize, uint8_t* buffer,
                          uint32_t bufferSize);

// Copies the file's $EFS stream (the $LOGGED_UTILITY_STREAM of that name): from the record when it
// is kept there, else through its runs from the partition the node lies in (holes read as zeros,
// bytes past the initialized size as zeros). False when the file has none, the stream does not fit
// `bufferSize`, a read fails, or the stream does not begin with its own length.
bool ReadNTFSEfsStream(CFileNode* node, IStorageDevice* device, uint32_t* outSize, uint8_t* buffer,
                       uint32_t bufferSize);
