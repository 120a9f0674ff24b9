#include "core/MyFileProperties.h"

#include "core/PackedRunList.h"
#include "core/StateIo.h"

using namespace corvale;

namespace {
// Long enough for any text the program attaches to a made-up folder; a longer one in a state file
// is not ours.
constexpr uint32_t kMaxTextLength = 64 * 1024;
}  // namespace

CMyFileProperties::CMyFileProperties(const MyFileInfo& info) : m_info(info) {
  m_info.name = CutUtf8(info.name.c_str(), kMaxNameLength);
}

void CMyFileProperties::SetName(const char* text) { m_info.name = CutUtf8(text, kMaxNameLength); }

uint8_t CMyFileProperties::SetFlagByte(uint8_t value) {
  const uint8_t old = m_info.flag;
  m_info.flag = value;
  return old;
}

bool CMyFileProperties::Save(IRSData& writer) const {
  const std::string text = CutUtf8(m_info.text.c_str(), kMaxTextLength);
  StateRecordWriter out(writer);
  out.U32(static_cast<uint32_t>(m_info.name.size())).Bytes(m_info.name.data(), m_info.name.size());
  out.U64(m_info.size).U16(m_info.attributes);
  out.U64(m_info.creationTime).U64(m_info.time2).U64(m_info.time3);
  out.U16(m_info.typeWord).U32(m_info.validMask);
  out.U32(static_cast<uint32_t>(text.size())).Bytes(text.data(), text.size());
  out.U32(0);  // run-list tail: no runs
  out.Flush();
  return true;
}

bool CMyFileProperties::Load(IRSData& reader) {
  MyFileInfo info;
  info.name = ReadText(reader, ReadU32(reader), kMaxNameLength);
  info.size = ReadU64(reader);
  info.attributes = ReadU16(reader);
  info.creationTime = ReadU64(reader);
  info.time2 = ReadU64(reader);
  info.time3 = ReadU64(reader);
  info.typeWord = ReadU16(reader);
  info.validMask = ReadU32(reader);
  info.text = ReadText(reader, ReadU32(reader), kMaxTextLength);
  // These folders hold no runs; a tail that claims some is still read so the stream stays in step.
  LoadRunListTail(reader);
  m_info = std::move(info);
  return true;
}
