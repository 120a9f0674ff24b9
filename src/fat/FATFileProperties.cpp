#include "fat/FATFileProperties.h"

#include "core/StateIo.h"

using namespace corvale;

void CFATFileProperties::SetName(const char* text) {
  m_name = text != nullptr ? CutUtf8(text, kMaxNameLength) : std::string();
}

std::unique_ptr<IDataRunList> CFATFileProperties::CreateDataRunList() const {
  return m_runs ? m_runs->CreateDataRunList() : nullptr;
}

uint8_t CFATFileProperties::SetFlagByte(uint8_t value) {
  const uint8_t old = m_flag;
  m_flag = value;
  return old;
}

bool CFATFileProperties::Save(IRSData& writer) const {
  StateRecordWriter out(writer);
  out.U16(static_cast<uint16_t>(m_name.size())).U16(static_cast<uint16_t>(m_secondText.size()));
  out.Bytes(m_name.data(), m_name.size()).Bytes(m_secondText.data(), m_secondText.size());
  out.U64(m_size).U16(m_attributes);
  out.U64(m_creationTime).U64(m_writeTime).U64(m_accessTime);
  out.U8(m_state).U32(m_firstCluster).U32(m_parentCluster);
  out.Flush();
  SaveRunListTail(writer, m_runs.get());
  return true;
}

bool CFATFileProperties::Load(IRSData& reader) {
  const uint16_t nameLength = ReadU16(reader);
  const uint16_t textLength = ReadU16(reader);
  std::string name = ReadText(reader, nameLength, kMaxNameLength);
  std::string text = ReadText(reader, textLength, kMaxNameLength);
  const uint64_t size = ReadU64(reader);
  const uint16_t attributes = ReadU16(reader);
  const uint64_t creation = ReadU64(reader);
  const uint64_t write = ReadU64(reader);
  const uint64_t access = ReadU64(reader);
  const uint8_t state = ReadU8(reader);
  const uint32_t firstCluster = ReadU32(reader);
  const uint32_t parentCluster = ReadU32(reader);
  std::unique_ptr<PackedRunList> runs = LoadRunListTail(reader);
  m_name = std::move(name);
  m_secondText = std::move(text);
  m_size = size;
  m_attributes = attributes;
  m_creationTime = creation;
  m_writeTime = write;
  m_accessTime = access;
  m_state = state;
  m_firstCluster = firstCluster;
  m_parentCluster = parentCluster;
  m_runs = std::move(runs);
  m_checkState = 0;
  m_flag = 0;
  return true;
}

void RegisterFATFileProperties() {
  RegisterFilePropertiesFactory(kPropertiesFat,
                                []() -> IFileProperties* { return new CFATFileProperties(); });
}
