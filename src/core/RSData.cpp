#include "core/RSData.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/Log.h"
#include "storage/ByteReader.h"

namespace corvale {

const RSGuid kRSMarker = {
    {0xEA, 0xF4, 0xB3, 0x1C, 0x05, 0x43, 0xB6, 0x4A, 0xB4, 0xB8, 0x24, 0x4A, 0x33, 0xD9, 0x13, 0xBB}};

namespace {

constexpr uint16_t kCrcPolynomial = 0x8005;
constexpr uint64_t kMaxSectionLength = 0xFFFFFFFFu;

constexpr std::array<uint16_t, 256> BuildCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = 0;
    uint16_t input = static_cast<uint16_t>(i << 8);
    for (int step = 0; step < 8; ++step) {
      const bool differ = ((crc ^ input) & 0x8000) != 0;
      crc = static_cast<uint16_t>(crc << 1);
      if (differ) crc ^= kCrcPolynomial;
      input = static_cast<uint16_t>(input << 1);
    }
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = BuildCrcTable();

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF]);
  }
  return crc;
}

uint16_t HeaderCrc(const uint8_t header[kRSHeaderSize]) {
  uint8_t copy[kRSHeaderSize];
  std::memcpy(copy, header, kRSHeaderSize);
  putLE(copy + kRSCrcOffset, 0, 4);
  return Crc16(copy, kRSHeaderSize);
}

void ReadExact(IRSData& stream, void* buffer, size_t n) {
  if (stream.Read(buffer, n) != n) throw CRSException(RS_ERROR_SHORT_READ);
}

}  // namespace corvale

using namespace corvale;

CRSData::CRSData(int mode) : m_mode(mode) {}

CRSData::~CRSData() { CloseNoThrow(); }

void CRSData::RequireMode(int mode) const {
  if (m_mode != mode) throw CRSException(RS_ERROR_WRONG_MODE);
}

void CRSData::RequireSection() const {
  if (!SectionOpen()) throw CRSException(RS_ERROR_NO_SECTION);
}

uint64_t CRSData::FileSize() const {
  uint64_t size = 0;
  return m_file.GetSize(&size) ? size : 0;
}

bool CRSData::ReadAt(uint64_t offset, void* data, size_t n) {
  return m_file.Seek(offset) && m_file.Read(data, n) == n;
}

bool CRSData::WriteAt(uint64_t offset, const void* data, size_t n) {
  return m_file.Seek(offset) && m_file.Write(data, n);
}

bool CRSData::Open(const std::string& path, int create) {
  CloseNoThrow();
  if (path.empty()) return false;
  // Reader: an existing file, read only. Writer: made anew, or opened and created when missing.
  const int mode = m_mode == RS_MODE_WRITE ? (create ? 3 : 4) : 0;
  if (!m_file.Open(path, mode)) return false;
  if (m_buffer.size() != kRSBufferSize) m_buffer.assign(kRSBufferSize, 0);
  return true;
}

void CRSData::CloseNoThrow() {
  if (m_mode == RS_MODE_WRITE && SectionOpen()) {
    // A section still open is finished so its data is not lost; a failure there has no caller to
    // report to any more (the save that left it open has already failed or been abandoned).
    try {
      EndSection();
    } catch (const CRSException& e) {
      ReleaseTrace("State stream: the section left open at close could not be finished (code %d)",
                   e.GetCode());
    }
  }
  m_sectionPos = -1;
  m_fill = 0;
  m_file.Close();
}

void CRSData::Close() { CloseNoThrow(); }

bool CRSData::ReadHeaderBytes(uint8_t header[kRSHeaderSize]) {
  std::memset(header, 0, kRSHeaderSize);
  return m_file.IsOpen() && ReadAt(0, header, kRSHeaderSize);
}

void CRSData::WriteHeaderBytes(uint8_t header[kRSHeaderSize]) {
  putLE(header + kRSVersionOffset, kRSVersion, 4);
  putLE(header + kRSCrcOffset, HeaderCrc(header), 4);
  if (!WriteAt(0, header, kRSHeaderSize)) throw CRSException(RS_ERROR_WRITE_FAILED);
}

bool CRSData::IsValidFile() {
  uint8_t header[kRSHeaderSize];
  if (!ReadHeader(header)) return false;
  ByteReader r(header, kRSHeaderSize);
  const uint32_t status = r.u32(kRSStatusOffset);
  return std::memcmp(header, kRSMarker.bytes.data(), 16) == 0 && status > 0 && status <= 4;
}

void CRSData::WriteHeader(const uint8_t header[132]) {
  RequireMode(RS_MODE_WRITE);
  uint8_t copy[kRSHeaderSize];
  std::memcpy(copy, header, kRSHeaderSize);
  WriteHeaderBytes(copy);
}

bool CRSData::ReadHeader(uint8_t header[132]) {
  if (!ReadHeaderBytes(header)) return false;
  ByteReader r(header, kRSHeaderSize);
  return r.u32(kRSCrcOffset) == HeaderCrc(header) && r.u32(kRSVersionOffset) == kRSVersion;
}

void CRSData::CurrentOrFreshHeader(uint8_t header[kRSHeaderSize]) {
  if (ReadHeader(header)) return;
  std::memset(header, 0, kRSHeaderSize);
  std::memcpy(header, kRSMarker.bytes.data(), 16);
}

int32_t CRSData::GetStatus() {
  RequireMode(RS_MODE_READ);
  uint8_t header[kRSHeaderSize];
  if (!ReadHeader(header)) return 0;
  const uint32_t status = ByteReader(header, kRSHeaderSize).u32(kRSStatusOffset);
  if (status >= 5) throw CRSException(RS_ERROR_BAD_DATA);
  return static_cast<int32_t>(status);
}

void CRSData::SetStatus(int32_t status) {
  RequireMode(RS_MODE_WRITE);
  uint8_t header[kRSHeaderSize];
  CurrentOrFreshHeader(header);
  putLE(header + kRSStatusOffset, static_cast<uint32_t>(status), 4);
  WriteHeaderBytes(header);
}

void CRSData::SetResultText(const char* text) {
  RequireMode(RS_MODE_WRITE);
  uint8_t header[kRSHeaderSize];
  CurrentOrFreshHeader(header);
  const size_t length = text ? strnlen(text, kRSMaxResultText) : 0;
  std::memset(header + kRSTextOffset, 0, kRSMaxResultText);
  if (length) std::memcpy(header + kRSTextOffset, text, length);
  putLE(header + kRSTextLengthOffset, length, 4);
  WriteHeaderBytes(header);
}

void CRSData::GetResultText(char* buffer, size_t size) {
  RequireMode(RS_MODE_READ);
  if (!buffer || size == 0) return;
  buffer[0] = 0;
  uint8_t header[kRSHeaderSize];
  if (!ReadHeader(header)) return;
  const uint32_t length = ByteReader(header, kRSHeaderSize).u32(kRSTextLengthOffset);
  if (length > kRSMaxResultText) throw CRSException(RS_ERROR_BAD_DATA);
  const size_t n = std::min<size_t>(length, size - 1);
  std::memcpy(buffer, header + kRSTextOffset, n);
  buffer[n] = 0;
}

bool CRSData::BeginSection(const RSGuid& guid) {
  EndSection();
  if (m_mode == RS_MODE_WRITE) {
    if (!m_file.IsOpen()) throw CRSException(RS_ERROR_WRITE_FAILED);
    // Sections start behind the file header even when it has not been written yet.
    const uint64_t position = std::max<uint64_t>(FileSize(), kRSHeaderSize);
    uint8_t header[kRSSectionHeaderSize] = {};
    std::memcpy(header, kRSMarker.bytes.data(), 16);
    std::memcpy(header + 16, guid.bytes.data(), 16);
    if (!WriteAt(position, header, sizeof header)) throw CRSException(RS_ERROR_WRITE_FAILED);
    std::memcpy(m_sectionHeader, header, sizeof header);
    m_sectionPos = static_cast<int64_t>(position);
    m_dataPos = position + kRSSectionHeaderSize;
    m_sectionLength = 0;
    m_consumed = 0;
    m_fill = 0;
    return true;
  }

  // Reader: walk the section headers from the end of the file header. Each step moves forward by
  // at least a header, and every length is checked against the file, so the walk ends.
  const uint64_t size = FileSize();
  if (!m_file.IsOpen() || size < kRSHeaderSize) throw CRSException(RS_ERROR_SHORT_READ);
  uint64_t position = kRSHeaderSize;
  for (;;) {
    if (position == size) throw CRSException(RS_ERROR_NO_SUCH_SECTION);
    if (!rangeFits(position, kRSSectionHeaderSize, size)) throw CRSException(RS_ERROR_SHORT_READ);
    uint8_t header[kRSSectionHeaderSize];
    if (!ReadAt(position, header, sizeof header)) throw CRSException(RS_ERROR_SHORT_READ);
    // Without the marker this is not a section header, and its length cannot be trusted to lead on.
    if (std::memcmp(header, kRSMarker.bytes.data(), 16) != 0) throw CRSException(RS_ERROR_BAD_DATA);
    const uint64_t length = ByteReader(header, sizeof header).u32(32);
    const uint64_t data = position + kRSSectionHeaderSize;
    if (!rangeFits(data, length, size)) throw CRSException(RS_ERROR_SHORT_READ);
    if (std::memcmp(header + 16, guid.bytes.data(), 16) == 0) {
      std::memcpy(m_sectionHeader, header, sizeof header);
      m_sectionPos = static_cast<int64_t>(position);
      m_dataPos = data;
      m_sectionLength = length;
      m_consumed = 0;
      m_fill = 0;
      return true;
    }
    position = data + length;
  }
}

void CRSData::EndSection() {
  if (!SectionOpen()) return;
  if (m_mode == RS_MODE_WRITE) {
    try {
      Flush();
      putLE(m_sectionHeader + 32, m_sectionLength, 4);
      if (!WriteAt(static_cast<uint64_t>(m_sectionPos), m_sectionHeader, kRSSectionHeaderSize)) {
        throw CRSException(RS_ERROR_WRITE_FAILED);
      }
    } catch (...) {
      m_sectionPos = -1;
      m_fill = 0;
      throw;
    }
  }
  m_sectionPos = -1;
  m_fill = 0;
}

uint32_t CRSData::GetSectionLength() {
  RequireSection();
  return static_cast<uint32_t>(m_sectionLength);
}

void CRSData::WriteStored(const void* data, size_t n) {
  if (n == 0) return;
  if (!WriteAt(m_dataPos, data, n)) throw CRSException(RS_ERROR_WRITE_FAILED);
  m_dataPos += n;
}

void CRSData::ReadStored(void* data, size_t n) {
  if (n == 0) return;
  if (n > StoredLeft() || !ReadAt(m_dataPos, data, n)) {
    throw CRSException(RS_ERROR_SHORT_READ);
  }
  m_dataPos += n;
  m_consumed += n;
}

void CRSData::AddSectionLength(uint64_t n) {
  // The section header holds a 32-bit length; a longer section could never be read back.
  if (n > kMaxSectionLength - m_sectionLength) throw CRSException(RS_ERROR_WRITE_FAILED);
  m_sectionLength += n;
}

size_t CRSData::Read(void* buffer, size_t n) {
  RequireMode(RS_MODE_READ);
  RequireSection();
  const size_t count = static_cast<size_t>(std::min<uint64_t>(n, StoredLeft()));
  ReadStored(buffer, count);
  return count;
}

void CRSData::Write(const void* buffer, size_t n) {
  RequireMode(RS_MODE_WRITE);
  RequireSection();
  AddSectionLength(n);
  if (n <= m_buffer.size() - m_fill) {
    if (n) std::memcpy(m_buffer.data() + m_fill, buffer, n);
    m_fill += n;
    return;
  }
  Flush();
  WriteStored(buffer, n);
}

void CRSData::Flush() {
  RequireMode(RS_MODE_WRITE);
  if (m_fill == 0) return;
  const size_t n = m_fill;
  m_fill = 0;
  WriteStored(m_buffer.data(), n);
}
