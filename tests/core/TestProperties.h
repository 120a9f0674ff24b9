#pragma once
// An engine's properties as the tests need one: a name, a size and packed runs, saved with the
// common run-list tail. Registered under the FAT code while a test holds a TestPropertiesScope.

#include <memory>
#include <string>

#include "core/FileProperties.h"
#include "core/PackedRunList.h"
#include "core/StateIo.h"

class TestFileProperties : public IFileProperties {
 public:
  static constexpr int32_t kCode = kPropertiesFat;

  TestFileProperties() = default;
  TestFileProperties(const char* name, uint64_t size, uint16_t attributes,
                     std::unique_ptr<PackedRunList> runs)
      : m_name(name), m_size(size), m_attributes(attributes), m_runs(std::move(runs)) {}

  uint16_t GetNameLength() const override { return static_cast<uint16_t>(m_name.size()); }
  void SetName(const char* text) override { m_name = text; }
  const char* GetName() const override { return m_name.c_str(); }
  uint64_t GetSize() const override { return m_size; }
  uint16_t GetAttributes() const override { return m_attributes; }
  std::string GetExtraText() const override { return {}; }
  uint64_t GetCreationTime() const override { return 0; }
  uint64_t GetTime2() const override { return 0; }
  uint64_t GetTime3() const override { return 0; }
  uint16_t GetTypeWord() const override { return 0; }
  uint8_t GetCheckState() const override { return m_check; }
  void SetCheckState(uint8_t state) override { m_check = state; }
  std::unique_ptr<IDataRunList> CreateDataRunList() const override {
    return m_runs ? m_runs->CreateDataRunList() : nullptr;
  }
  uint32_t GetValidMask() const override { return 255; }
  uint8_t GetFlagByte() const override { return m_flag; }
  uint8_t SetFlagByte(uint8_t value) override {
    const uint8_t old = m_flag;
    m_flag = value;
    return old;
  }
  bool Save(IRSData& writer) const override {
    corvale::WriteU16(writer, static_cast<uint16_t>(m_name.size()));
    writer.Write(m_name.data(), m_name.size());
    corvale::WriteU64(writer, m_size);
    corvale::WriteU16(writer, m_attributes);
    SaveRunListTail(writer, m_runs.get());
    return true;
  }
  int32_t GetPersistenceCode() const override { return kCode; }
  bool Load(IRSData& reader) override {
    m_name = corvale::ReadText(reader, corvale::ReadU16(reader), 255);
    m_size = corvale::ReadU64(reader);
    m_attributes = corvale::ReadU16(reader);
    m_runs = LoadRunListTail(reader);
    m_check = 0;
    m_flag = 0;
    return true;
  }

  const PackedRunList* Runs() const { return m_runs.get(); }

 private:
  std::string m_name;
  uint64_t m_size = 0;
  uint16_t m_attributes = 0;
  uint8_t m_check = 0;
  uint8_t m_flag = 0;
  std::unique_ptr<PackedRunList> m_runs;
};

// Registers TestFileProperties for the life of the scope, as an engine would at start-up.
class TestPropertiesScope {
 public:
  TestPropertiesScope() {
    RegisterFilePropertiesFactory(TestFileProperties::kCode,
                                  []() -> IFileProperties* { return new TestFileProperties(); });
  }
  ~TestPropertiesScope() { RegisterFilePropertiesFactory(TestFileProperties::kCode, nullptr); }
};
