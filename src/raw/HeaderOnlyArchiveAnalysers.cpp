#include "raw/ArchiveAnalysers.h"
#include "raw/RawFileInfo.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawWalk.h"
#include "storage/ByteReader.h"

namespace {
constexpr uint8_t kChmClassA[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                    0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
constexpr uint8_t kChmClassB[16] = {0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                    0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
constexpr uint64_t kChmHeader = 96;
}  // namespace

FileCABAnalyser::FileCABAnalyser() { m_typeId = kRawTypeCAB; }

RawLeadBytes FileCABAnalyser::GetLeadBytes() const { return LeadBytesOf({'M'}); }

bool FileCABAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (!corvale::SameText(s, "MSCF", 4)) return false;
  file->SetFileType(kRawTypeCAB);
  const corvale::ByteReader h(s, kRawHeaderBytes);
  if (h.u32(4) != 0 || h.u32(12) != 0 || h.u32(20) != 0 || h.u8(24) != 3 || h.u8(25) != 1) return false;
  const uint32_t size = h.u32(8);
  if (size == 0) return false;
  file->SetFileSize(size);
  return true;
}

FileCHMAnalyser::FileCHMAnalyser() { m_typeId = kRawTypeCHM; }

RawLeadBytes FileCHMAnalyser::GetLeadBytes() const { return LeadBytesOf({'I'}); }

bool FileCHMAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  const corvale::ByteReader h(s, kRawHeaderBytes);
  if (!corvale::SameText(s, "ITSF", 4) || h.u32(8) != kChmHeader) return false;
  if (std::memcmp(s + 24, kChmClassA, 16) != 0 || std::memcmp(s + 40, kChmClassB, 16) != 0) return false;
  if (h.u32(kChmHeader) != 0x1FE || h.u32(kChmHeader + 4) != 0 || h.u32(kChmHeader + 16) != 0 ||
      h.u32(kChmHeader + 20) != 0)
    return false;
  // A header that claims no length would leave the file to a length pass this format has not.
  const uint64_t size = h.u64(kChmHeader + 8);
  if (size == 0) return false;
  file->SetFileType(kRawTypeCHM);
  file->SetFileSize(size);
  return true;
}

FileGZAnalyser::FileGZAnalyser() { m_typeId = kRawTypeGZ; }

RawLeadBytes FileGZAnalyser::GetLeadBytes() const { return LeadBytesOf({0x1F}); }

bool FileGZAnalyser::IsFileHeader(const uint8_t* s, CRawFileInfo* file) {
  if (s[0] != 0x1F || s[1] != 0x8B || s[2] != 0x08) return false;
  file->SetFileType(kRawTypeGZ);
  return true;
}

bool FileGZAnalyser::ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) {
  // The maximum RAW file size as a whole 64-bit value (the walks' 32-bit limit would leave no size
  // at all for a maximum of 4 GiB or more), and never past the device's end.
  CRawSectorReader reader(device, file->GetStartSector());
  const uint64_t size = corvale::CapRawFileSize(UINT64_MAX, reader.BytesToDeviceEnd());
  if (size == 0) return false;
  file->SetFileSize(size);
  return true;
}
