#include "ext2/Ext2FileProperties.h"

#include "core/StateIo.h"

using namespace corvale;

void CExt2DataRunList::AddRun(const DataRun& run) {
  auto& runs = MutableRuns();
  if (!runs.empty()) {
    DataRun& last = runs.back();
    const bool continues = last.start + last.length == run.start;
    const bool bothHoles = last.start == 0 && run.start == 0;
    if (continues || bothHoles) {
      last.length += run.length;
      return;
    }
  }
  runs.push_back(run);
}

void CExt2FileProperties::SetName(const char* text) {
  m_name = text != nullptr ? CutUtf8(text, kMaxNameLength) : std::string();
}

std::unique_ptr<IDataRunList> CExt2FileProperties::CreateDataRunList() const {
  return m_runs ? m_runs->CreateDataRunList() : nullptr;
}

uint8_t CExt2FileProperties::SetFlagByte(uint8_t value) {
  const uint8_t old = m_flag;
  m_flag = value;
  return old;
}

bool CExt2FileProperties::Save(IRSData& writer) const {
  StateRecordWriter out(writer);
  out.U16(static_cast<uint16_t>(m_name.size())).Bytes(m_name.data(), m_name.size());
  out.U64(m_size).U16(m_attributes);
  out.U64(m_changeTime).U64(m_modificationTime).U64(m_accessTime);
  out.U8(m_state);
  out.Flush();
  SaveRunListTail(writer, m_runs.get());
  return true;
}

bool CExt2FileProperties::Load(IRSData& reader) {
  const uint16_t nameLength = ReadU16(reader);
  std::string name = ReadText(reader, nameLength, kMaxNameLength);
  const uint64_t size = ReadU64(reader);
  const uint16_t attributes = ReadU16(reader);
  const uint64_t change = ReadU64(reader);
  const uint64_t modification = ReadU64(reader);
  const uint64_t access = ReadU64(reader);
  const uint8_t state = ReadU8(reader);
  std::unique_ptr<PackedRunList> runs = LoadRunListTail(reader);
  m_name = std::move(name);
  m_size = size;
  m_attributes = attributes;
  m_changeTime = change;
  m_modificationTime = modification;
  m_accessTime = access;
  m_state = state;
  m_runs = std::move(runs);
  m_checkState = 0;
  m_flag = 0;
  return true;
}

void CExt2FileProperties::AddChildName(uint32_t inode, const std::string& name) {
  if (!m_childNames) m_childNames = std::make_unique<std::map<uint32_t, std::string>>();
  (*m_childNames)[inode] = name;
}

std::string CExt2FileProperties::TakeChildName(uint32_t inode) {
  if (!m_childNames) return {};
  std::string name;
  auto it = m_childNames->find(inode);
  if (it != m_childNames->end()) {
    name = std::move(it->second);
    m_childNames->erase(it);
  }
  if (m_childNames->empty()) m_childNames.reset();
  return name;
}

CExt2FileProperties* CreateExt2FileProperties() { return new CExt2FileProperties(); }

uint64_t Ext2TimeToFileTime(uint32_t unixTime) {
  constexpr uint64_t kTicksPerSecond = 10000000ULL;
  constexpr uint64_t kUnixEpoch = 116444736000000000ULL;  // 1970-01-01 as a FILETIME
  const int32_t seconds = static_cast<int32_t>(unixTime);
  return kUnixEpoch + static_cast<uint64_t>(seconds < 0 ? 0 : seconds) * kTicksPerSecond;
}

bool RegisterExt2FileProperties() {
  return RegisterFilePropertiesFactory(kPropertiesExt2,
                                       []() -> IFileProperties* { return new CExt2FileProperties(); });
}
