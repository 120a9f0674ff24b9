#pragma once
// CRAWFileProperties: what the found-file tree keeps of a file found by its contents, and of the
// folders of the "Raw Files" tree, with its saved form (persistence code 3). A carved file has no name
// of its own: the tree builder numbers it. Its data is one run over the sectors it was found at.
//
// Saved form, little-endian:
//   name length n (1 byte, the NUL included), the name and its NUL (n bytes);
//   comment length m (1 byte; 0 when no comment was set), the comment and its NUL (m bytes, only
//   when m is not 0);
//   size (8 bytes), attributes (2 bytes), type byte (1 byte);
//   the packed runs in their saved form (PackedRunList.h). An object without runs (a folder) saves
//   a run string that holds only its terminator, so the record has one layout in every case.
// A record no writer of ours makes (n of 0, a missing or early NUL, a resident value) is bad data.

#include <cstdint>
#include <memory>
#include <string>

#include "core/DataRunList.h"
#include "core/FileProperties.h"
#include "core/PackedRunList.h"

class CRawFileInfo;

// The runs of a carved file while its packed form is made.
class CRAWDataRunList : public IDataRunList {
 public:
  int32_t GetKind() const override { return kRunListRaw; }
};

class CRAWFileProperties : public IFileProperties {
 public:
  // Names and comments are counted in one byte with their NUL.
  static constexpr size_t kMaxTextLength = 254;
  static constexpr uint16_t kAttributeFile = 0x20;
  // The type byte of the root and the folders; files have 0.
  static constexpr uint8_t kTypeFolder = 16;
  static constexpr uint32_t kValidMask = 0x1CF;
  // Run lengths count 512-byte units, whatever the device's sector size.
  static constexpr uint64_t kRunUnitBytes = 512;

  CRAWFileProperties() = default;
  CRAWFileProperties(const CRAWFileProperties&) = delete;
  CRAWFileProperties& operator=(const CRAWFileProperties&) = delete;

  // The name's length with its NUL; 0 before a name was set.
  uint16_t GetNameLength() const override { return m_nameLength; }
  // Carved files are named by the tree builder only (SetRawFileName); a rename is ignored.
  void SetName(const char*) override {}
  const char* GetName() const override { return m_name.c_str(); }
  uint64_t GetSize() const override { return m_size; }
  uint16_t GetAttributes() const override { return m_attributes; }
  std::string GetExtraText() const override { return m_comment; }
  // Carved files carry no times.
  uint64_t GetCreationTime() const override { return 0; }
  uint64_t GetTime2() const override { return 0; }
  uint64_t GetTime3() const override { return 0; }
  uint16_t GetTypeWord() const override { return m_typeByte; }
  uint8_t GetCheckState() const override { return m_checkState; }
  void SetCheckState(uint8_t state) override { m_checkState = state; }
  std::unique_ptr<IDataRunList> CreateDataRunList() const override;
  uint32_t GetValidMask() const override { return kValidMask; }
  uint8_t GetFlagByte() const override { return m_flag; }
  uint8_t SetFlagByte(uint8_t value) override;
  bool Save(IRSData& writer) const override;
  int32_t GetPersistenceCode() const override { return kPropertiesRaw; }
  // Reads what Save wrote; the object changes only when the whole record was read. The check
  // state and flag byte start at 0.
  bool Load(IRSData& reader) override;

  // Keeps at most kMaxTextLength bytes, never cutting a character in two. Null gives the name
  // "UnkownName" and a log line.
  void SetRawFileName(const char* text);
  void SetAttributes(uint16_t attributes) { m_attributes = attributes; }
  void SetTypeByte(uint8_t type) { m_typeByte = type; }
  // Keeps at most kMaxTextLength bytes; from now on the comment is saved.
  void SetComment(std::string text);
  // Size and comment of the record, and one run from its start sector over ceil(size / 512)
  // units. A record of size 0 (a folder) gets no run.
  void InitFromRawFileInfo(const CRawFileInfo* file);
  // As InitFromRawFileInfo, with the start given in the unit the tree is read in.
  void InitFromRawFileInfo(const CRawFileInfo* file, uint64_t startSector);

  const PackedRunList* GetPackedRunList() const { return m_runs.get(); }

 private:
  uint8_t m_nameLength = 0;
  std::string m_name;
  uint64_t m_size = 0;
  uint16_t m_attributes = 0;
  uint8_t m_checkState = 0;
  uint8_t m_flag = 0;
  uint8_t m_typeByte = 0;
  std::string m_comment;
  bool m_commentSet = false;
  std::unique_ptr<PackedRunList> m_runs;
};

// A new object with every field zero or empty.
CRAWFileProperties* CreateRAWFileProperties();

// Makes the RAW properties restorable from state files (persistence code 3).
bool RegisterRAWFileProperties();
