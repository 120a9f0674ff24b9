#pragma once
// The plain state stream: a state file of a 132-byte header and GUID-tagged sections whose data is
// written and read as it is. See STATE-FORMAT.md beside this file for the layout.
//
// A stream is a reader (mode 0) or a writer (mode 1) for its whole life. Every failing operation
// throws CRSException; Close never throws, so it can end a save that failed half way.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/IRSData.h"
#include "core/RSException.h"
#include "platform/HandleFile.h"

enum RSMode : int { RS_MODE_READ = 0, RS_MODE_WRITE = 1 };

namespace corvale {

constexpr size_t kRSHeaderSize = 132;
constexpr size_t kRSSectionHeaderSize = 36;
constexpr uint32_t kRSVersion = 5800;
constexpr size_t kRSMaxResultText = 100;
constexpr size_t kRSBufferSize = 0x80000;

// Offsets in the file header.
constexpr size_t kRSVersionOffset = 16;
constexpr size_t kRSCrcOffset = 20;
constexpr size_t kRSStatusOffset = 24;
constexpr size_t kRSTextLengthOffset = 28;
constexpr size_t kRSTextOffset = 32;

// {1CB3F4EA-4305-4AB6-B4B8-244A33D913BB}: opens the file header and every section header.
extern const RSGuid kRSMarker;

// CRC-16 with polynomial 0x8005, most significant bit first, initial value 0, no reflection and no
// final XOR ("123456789" gives 0xFEE8).
uint16_t Crc16(const uint8_t* data, size_t length);

// The header's CRC: computed over all 132 bytes with the CRC field taken as 0.
uint16_t HeaderCrc(const uint8_t header[kRSHeaderSize]);

// Reads exactly n bytes of the open section, or throws CRSException 5. For fixed-size fields,
// whose absence means the section was cut short (Read itself delivers fewer bytes at the end).
void ReadExact(IRSData& stream, void* buffer, size_t n);

}  // namespace corvale

class CRSData : public IRSData {
 public:
  explicit CRSData(int mode);
  ~CRSData() override;
  CRSData(const CRSData&) = delete;
  CRSData& operator=(const CRSData&) = delete;

  bool IsValidFile() override;
  bool Open(const std::string& path, int create) override;
  void Close() override;
  void WriteHeader(const uint8_t header[132]) override;
  bool ReadHeader(uint8_t header[132]) override;
  int32_t GetStatus() override;
  void SetStatus(int32_t status) override;
  void SetResultText(const char* text) override;
  void GetResultText(char* buffer, size_t size) override;
  bool BeginSection(const RSGuid& guid) override;
  void EndSection() override;
  uint32_t GetSectionLength() override;
  size_t Read(void* buffer, size_t n) override;
  void Write(const void* buffer, size_t n) override;
  void Flush() override;

  int GetMode() const { return m_mode; }

 protected:
  void RequireMode(int mode) const;
  void RequireSection() const;
  bool SectionOpen() const { return m_sectionPos >= 0; }
  // Appends stored bytes of the open section to the file (writer).
  void WriteStored(const void* data, size_t n);
  // Reads exactly n stored bytes of the open section from the file (reader); throws 5 when short.
  void ReadStored(void* data, size_t n);
  // Grows the stored length of the open section by n, refusing to pass what its header can hold.
  void AddSectionLength(uint64_t n);
  // Stored bytes of the open section not yet read from the file (reader).
  uint64_t StoredLeft() const { return m_sectionLength - m_consumed; }
  void CloseNoThrow();

  int m_mode;
  CHandleFile m_file;
  std::vector<uint8_t> m_buffer;  // kRSBufferSize bytes: gathered writes (plain and compressed), or
                                  // section bytes read ahead (compressed)
  size_t m_fill = 0;
  uint8_t m_sectionHeader[corvale::kRSSectionHeaderSize] = {};
  int64_t m_sectionPos = -1;     // file offset of the open section's header, -1 when none
  uint64_t m_sectionLength = 0;  // writer: stored bytes so far; reader: stored bytes in the section
  uint64_t m_consumed = 0;       // reader: stored bytes read from the file so far
  uint64_t m_dataPos = 0;        // file offset of the next stored byte of the open section

 private:
  bool ReadHeaderBytes(uint8_t header[corvale::kRSHeaderSize]);
  // Writes the header at offset 0 with version and CRC set.
  void WriteHeaderBytes(uint8_t header[corvale::kRSHeaderSize]);
  // The current header when it reads back valid, else a fresh one (marker, version, status 0).
  void CurrentOrFreshHeader(uint8_t header[corvale::kRSHeaderSize]);
  uint64_t FileSize() const;
  bool ReadAt(uint64_t offset, void* data, size_t n);
  bool WriteAt(uint64_t offset, const void* data, size_t n);
};
