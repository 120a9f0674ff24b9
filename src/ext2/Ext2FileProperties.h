#pragma once
// What the found-file tree keeps of one Ext2/Ext3 inode: name, size, attributes, times, whether it
// was deleted, and its blocks; with its saved form (persistence code 2). A directory's properties
// also hold, for as long as the build needs them, the names its entries give to inodes that have
// no node yet.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/DataRunList.h"
#include "core/FileProperties.h"
#include "core/PackedRunList.h"

// A file's blocks in logical order, as runs of {first block, block count}. Block 0 stands for a hole
// of a sparse file.
class CExt2DataRunList : public IDataRunList {
 public:
  int32_t GetKind() const override { return kRunListExt2; }
  // Appends the run, or lengthens the last run when the new one continues it (or both are holes).
  void AddRun(const DataRun& run);
};

class CExt2FileProperties : public IFileProperties {
 public:
  // Names from directory entries are at most 255 bytes; the root's display name at most 254.
  static constexpr size_t kMaxNameLength = 1024;
  static constexpr uint8_t kStateDeleted = 1;

  CExt2FileProperties() = default;

  uint16_t GetNameLength() const override { return static_cast<uint16_t>(m_name.size()); }
  // Keeps a copy of at most kMaxNameLength bytes, never cutting a character in two.
  void SetName(const char* text) override;
  const char* GetName() const override { return m_name.c_str(); }
  uint64_t GetSize() const override { return m_size; }
  uint16_t GetAttributes() const override { return m_attributes; }
  std::string GetExtraText() const override { return {}; }
  // The inode's change, modification and access times.
  uint64_t GetCreationTime() const override { return m_changeTime; }
  uint64_t GetTime2() const override { return m_modificationTime; }
  uint64_t GetTime3() const override { return m_accessTime; }
  // The state byte: 1 for a deleted inode.
  uint16_t GetTypeWord() const override { return m_state; }
  // A deleted file with neither size nor blocks: deleting clears both, so nothing of what it held is
  // left (kStringNoDataLeft). A genuinely empty file deleted looks the same and loses nothing by it.
  uint32_t GetUnrecoverableReason() const override {
    return IsDeleted() && !IsFolder() && m_size == 0 && !m_runs ? kStringNoDataLeft : 0;
  }
  uint8_t GetCheckState() const override { return m_checkState; }
  void SetCheckState(uint8_t state) override { m_checkState = state; }
  std::unique_ptr<IDataRunList> CreateDataRunList() const override;
  uint32_t GetValidMask() const override { return 255; }
  uint8_t GetFlagByte() const override { return m_flag; }
  uint8_t SetFlagByte(uint8_t value) override;
  // Saved form: 2-byte name length, the name, 8-byte size, 2-byte attributes, the change,
  // modification and access times (8 bytes each), 1-byte state, then the run-list tail.
  bool Save(IRSData& writer) const override;
  int32_t GetPersistenceCode() const override { return kPropertiesExt2; }
  // Reads the saved form; a name longer than kMaxNameLength is bad data. The check state and flag
  // byte start at 0; the inode number and the child names are not part of the saved form.
  bool Load(IRSData& reader) override;

  void SetSize(uint64_t size) { m_size = size; }
  void SetAttributes(uint16_t attributes) { m_attributes = attributes; }
  void SetTimes(uint64_t change, uint64_t modification, uint64_t access) {
    m_changeTime = change;
    m_modificationTime = modification;
    m_accessTime = access;
  }
  void SetState(uint8_t state) { m_state = state; }
  bool IsDeleted() const { return m_state == kStateDeleted; }
  uint32_t GetInodeNumber() const { return m_inodeNumber; }
  void SetInodeNumber(uint32_t inode) { m_inodeNumber = inode; }
  const PackedRunList* GetPackedRunList() const { return m_runs.get(); }
  void SetPackedRunList(std::unique_ptr<PackedRunList> runs) { m_runs = std::move(runs); }

  // The name a directory entry gives inode `inode`, kept until that inode's node is made.
  void AddChildName(uint32_t inode, const std::string& name);
  // Returns and forgets the name kept for `inode`; empty when there is none.
  std::string TakeChildName(uint32_t inode);
  size_t GetChildNameCount() const { return m_childNames ? m_childNames->size() : 0; }

 private:
  std::string m_name;
  uint64_t m_size = 0;
  uint16_t m_attributes = 0;
  uint64_t m_changeTime = 0;
  uint64_t m_modificationTime = 0;
  uint64_t m_accessTime = 0;
  uint8_t m_state = 0;
  uint8_t m_checkState = 0;
  uint8_t m_flag = 0;
  std::unique_ptr<PackedRunList> m_runs;
  std::unique_ptr<std::map<uint32_t, std::string>> m_childNames;  // made on first use
  uint32_t m_inodeNumber = 0;
};

CExt2FileProperties* CreateExt2FileProperties();

// An inode time (signed seconds since 1970, a time before 1970 counting as 1970) as a FILETIME, the
// 100-nanosecond count since 1601 that the tree and the recovery output use.
uint64_t Ext2TimeToFileTime(uint32_t unixTime);

// Makes the Ext2 properties restorable from state files (persistence code 2).
bool RegisterExt2FileProperties();
