#pragma once
// CFATFileProperties: what the found-file tree keeps of a file or folder found in a FAT directory,
// with its saved form (persistence code 1).

#include <cstdint>
#include <memory>
#include <string>

#include "core/FileProperties.h"
#include "core/PackedRunList.h"

class CFATFileProperties : public IFileProperties {
 public:
  // A long name of 255 UTF-16 characters takes at most 765 bytes of UTF-8.
  static constexpr size_t kMaxNameLength = 1024;
  static constexpr uint32_t kNoCluster = 0xFFFFFFFF;
  // State bits: deleted, and made up by a directory build (its folders "Lost Folders" and "DIR%d"
  // have state 9).
  static constexpr uint8_t kStateDeleted = 0x01;
  static constexpr uint8_t kStateMadeUp = 0x08;
  static constexpr uint8_t kStateMadeUpFolder = kStateMadeUp | kStateDeleted;

  CFATFileProperties() = default;

  uint16_t GetNameLength() const override { return static_cast<uint16_t>(m_name.size()); }
  // Keeps a copy of at most kMaxNameLength bytes, never cutting a character in two.
  void SetName(const char* text) override;
  const char* GetName() const override { return m_name.c_str(); }
  uint64_t GetSize() const override { return m_size; }
  uint16_t GetAttributes() const override { return m_attributes; }
  std::string GetExtraText() const override { return {}; }
  // Creation, last write and last access (date only).
  uint64_t GetCreationTime() const override { return m_creationTime; }
  uint64_t GetTime2() const override { return m_writeTime; }
  uint64_t GetTime3() const override { return m_accessTime; }
  // The state byte.
  uint16_t GetTypeWord() const override { return m_state; }
  uint8_t GetCheckState() const override { return m_checkState; }
  void SetCheckState(uint8_t state) override { m_checkState = state; }
  std::unique_ptr<IDataRunList> CreateDataRunList() const override;
  uint32_t GetValidMask() const override { return 255; }
  uint8_t GetFlagByte() const override { return m_flag; }
  uint8_t SetFlagByte(uint8_t value) override;
  // Saved form: 2-byte name length, 2-byte second-text length, the name, the second text, 8-byte
  // size, 2-byte attributes, the three 8-byte times, 1-byte state, 4-byte first cluster, 4-byte
  // parent cluster, then the run-list tail.
  bool Save(IRSData& writer) const override;
  int32_t GetPersistenceCode() const override { return kPropertiesFat; }
  // Reads the saved form; a name or text longer than kMaxNameLength is bad data. The check state and
  // flag byte start at 0.
  bool Load(IRSData& reader) override;

  void SetSize(uint64_t size) { m_size = size; }
  void SetAttributes(uint16_t attributes) { m_attributes = attributes; }
  void SetTimes(uint64_t creation, uint64_t write, uint64_t access) {
    m_creationTime = creation;
    m_writeTime = write;
    m_accessTime = access;
  }
  uint8_t GetState() const { return m_state; }
  void SetState(uint8_t state) { m_state = state; }
  bool IsDeleted() const { return (m_state & kStateDeleted) != 0; }
  void SetDeleted() { m_state |= kStateDeleted; }
  uint32_t GetFirstCluster() const { return m_firstCluster; }
  void SetFirstCluster(uint32_t cluster) { m_firstCluster = cluster; }
  uint32_t GetParentCluster() const { return m_parentCluster; }
  void SetParentCluster(uint32_t cluster) { m_parentCluster = cluster; }
  // A text kept only when a state file holds one.
  const std::string& GetSecondText() const { return m_secondText; }
  const PackedRunList* GetPackedRunList() const { return m_runs.get(); }
  void SetPackedRunList(std::unique_ptr<PackedRunList> runs) { m_runs = std::move(runs); }

 private:
  std::string m_name;
  std::string m_secondText;
  uint64_t m_size = 0;
  uint16_t m_attributes = 0;
  uint64_t m_creationTime = 0;
  uint64_t m_writeTime = 0;
  uint64_t m_accessTime = 0;
  uint8_t m_state = 0;
  uint8_t m_checkState = 0;
  uint8_t m_flag = 0;
  uint32_t m_firstCluster = 0;
  uint32_t m_parentCluster = kNoCluster;
  std::unique_ptr<PackedRunList> m_runs;
};

// Makes the FAT properties restorable from state files (persistence code 1). The program calls it
// once at start-up, before any saved tree is read.
void RegisterFATFileProperties();
