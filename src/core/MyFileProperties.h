#pragma once
// Properties of nodes that exist only in the result tree (folders the program makes up, such as the
// tree's root): plain values, no data runs.

#include <cstdint>
#include <string>

#include "core/FileProperties.h"

struct MyFileInfo {
  std::string name;  // at most 259 bytes
  uint64_t size = 0;
  uint16_t attributes = 0;
  std::string text;
  uint64_t creationTime = 0;
  uint64_t time2 = 0;
  uint64_t time3 = 0;
  uint16_t typeWord = 0;
  uint8_t checkState = 0;
  uint8_t flag = 0;
  uint32_t validMask = 0;
};

class CMyFileProperties : public IFileProperties {
 public:
  static constexpr size_t kMaxNameLength = 259;

  CMyFileProperties() = default;
  explicit CMyFileProperties(const MyFileInfo& info);

  uint16_t GetNameLength() const override { return static_cast<uint16_t>(m_info.name.size()); }
  void SetName(const char* text) override;
  const char* GetName() const override { return m_info.name.c_str(); }
  uint64_t GetSize() const override { return m_info.size; }
  uint16_t GetAttributes() const override { return m_info.attributes; }
  std::string GetExtraText() const override { return m_info.text; }
  uint64_t GetCreationTime() const override { return m_info.creationTime; }
  uint64_t GetTime2() const override { return m_info.time2; }
  uint64_t GetTime3() const override { return m_info.time3; }
  uint16_t GetTypeWord() const override { return m_info.typeWord; }
  uint8_t GetCheckState() const override { return m_info.checkState; }
  void SetCheckState(uint8_t state) override { m_info.checkState = state; }
  std::unique_ptr<IDataRunList> CreateDataRunList() const override { return nullptr; }
  uint32_t GetValidMask() const override { return m_info.validMask; }
  uint8_t GetFlagByte() const override { return m_info.flag; }
  uint8_t SetFlagByte(uint8_t value) override;
  // Saved form: 4-byte name length and name, 8-byte size, 2-byte attributes, three 8-byte times,
  // 2-byte type word, 4-byte valid mask, 4-byte text length and text, then the run-list tail
  // (always without runs). A made-up folder below the root must come back from a state file
  // with its name, or the files under it would lose their place.
  bool Save(IRSData& writer) const override;
  int32_t GetPersistenceCode() const override { return kPropertiesInMemory; }
  bool Load(IRSData& reader) override;

  void CopyTo(MyFileInfo& other) const { other = m_info; }

 private:
  MyFileInfo m_info;
};
