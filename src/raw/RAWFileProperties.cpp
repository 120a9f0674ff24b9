#include "raw/RAWFileProperties.h"

#include <cstring>
#include <utility>
#include <vector>

#include "core/StateIo.h"
#include "platform/Log.h"
#include "raw/RawFileInfo.h"

using namespace corvale;

namespace {

// A one-byte length with its NUL, read back: the text without the NUL. A length of 0, a text that
// does not end in its NUL or holds one earlier is bad data: the length and the text would disagree.
std::string ReadCountedText(IRSData& reader, uint8_t length) {
  if (length == 0) ThrowStateError(RS_ERROR_BAD_DATA);
  std::vector<uint8_t> bytes;
  ReadAnnounced(reader, length, bytes);
  if (bytes.size() != length) ThrowStateError(RS_ERROR_SHORT_READ);
  if (bytes.back() != 0 || std::memchr(bytes.data(), 0, bytes.size() - 1) != nullptr) {
    ThrowStateError(RS_ERROR_BAD_DATA);
  }
  return std::string(bytes.begin(), bytes.end() - 1);
}

// The run string of an object without runs: only the terminator.
const PackedRunList& NoRuns() {
  static const PackedRunList empty(std::vector<uint8_t>{0}, 0);
  return empty;
}

}  // namespace

std::unique_ptr<IDataRunList> CRAWFileProperties::CreateDataRunList() const {
  return m_runs ? m_runs->CreateDataRunList() : nullptr;
}

uint8_t CRAWFileProperties::SetFlagByte(uint8_t value) {
  const uint8_t old = m_flag;
  m_flag = value;
  return old;
}

void CRAWFileProperties::SetRawFileName(const char* text) {
  if (text == nullptr) {
    LogError("CRAWFileProperties::SetRawFileName null pointer\n");
    text = "UnkownName";
  }
  m_name = CutUtf8(text, kMaxTextLength);
  m_nameLength = static_cast<uint8_t>(m_name.size() + 1);
}

void CRAWFileProperties::SetComment(std::string text) {
  m_comment = text.size() > kMaxTextLength ? CutUtf8(text.c_str(), kMaxTextLength) : std::move(text);
  m_commentSet = true;
}

void CRAWFileProperties::InitFromRawFileInfo(const CRawFileInfo* file) {
  InitFromRawFileInfo(file, file != nullptr ? file->GetStartSector() : kSparseRunStart);
}

void CRAWFileProperties::InitFromRawFileInfo(const CRawFileInfo* file, uint64_t startSector) {
  if (file == nullptr) return;
  m_size = file->GetFileSize();
  const std::string comment = file->GetSecondInfoText();
  m_comment = CutUtf8(comment.c_str(), kMaxTextLength);
  m_runs.reset();
  // A folder has no data; a run of length 0 would mean nothing to a reader.
  if (m_size == 0) return;
  CRAWDataRunList runs;
  runs.AppendRun(startSector, m_size / kRunUnitBytes + (m_size % kRunUnitBytes != 0 ? 1 : 0));
  m_runs = CreatePackedRunList(runs);
}

bool CRAWFileProperties::Save(IRSData& writer) const {
  StateRecordWriter out(writer);
  // An object never named still saves a valid (empty) name: a reader refuses a length of 0.
  out.U8(static_cast<uint8_t>(m_name.size() + 1)).Bytes(m_name.c_str(), m_name.size() + 1);
  if (m_commentSet || !m_comment.empty()) {
    out.U8(static_cast<uint8_t>(m_comment.size() + 1)).Bytes(m_comment.c_str(), m_comment.size() + 1);
  } else {
    out.U8(0);
  }
  out.U64(m_size).U16(m_attributes).U8(m_typeByte);
  out.Flush();
  (m_runs ? *m_runs : NoRuns()).Save(writer);
  return true;
}

bool CRAWFileProperties::Load(IRSData& reader) {
  std::string name = ReadCountedText(reader, ReadU8(reader));
  const uint8_t commentLength = ReadU8(reader);
  std::string comment = commentLength != 0 ? ReadCountedText(reader, commentLength) : std::string();
  const uint64_t size = ReadU64(reader);
  const uint16_t attributes = ReadU16(reader);
  const uint8_t typeByte = ReadU8(reader);
  std::unique_ptr<PackedRunList> runs = LoadPackedRunList(reader);
  // Carved data never lies inside a file record: a resident value is not ours.
  if (runs->GetResidentValue() != 0) ThrowStateError(RS_ERROR_BAD_DATA);
  if (runs->GetLength() == 1) runs.reset();

  m_name = std::move(name);
  m_nameLength = static_cast<uint8_t>(m_name.size() + 1);
  m_comment = std::move(comment);
  m_commentSet = commentLength != 0;
  m_size = size;
  m_attributes = attributes;
  m_typeByte = typeByte;
  m_runs = std::move(runs);
  m_checkState = 0;
  m_flag = 0;
  return true;
}

CRAWFileProperties* CreateRAWFileProperties() { return new CRAWFileProperties(); }

bool RegisterRAWFileProperties() {
  return RegisterFilePropertiesFactory(kPropertiesRaw,
                                       []() -> IFileProperties* { return CreateRAWFileProperties(); });
}
