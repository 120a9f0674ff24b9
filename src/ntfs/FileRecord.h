#pragma once
// A file record together with the extension records its $ATTRIBUTE_LIST names (FORMAT.md,
// "Attribute lists and extension records"): where MFT records lie on the device, the references an
// attribute list holds, the loading of extension records and the lookup across them.
//
// An extension record is only used when it is a sound FILE record, is itself an extension record,
// and names the base record as its base: the record slot of a deleted file's extension is often
// reused by another file, whose attributes must not be mixed into this one.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ntfs/FileRecordAttribute.h"
#include "ntfs/NtfsParse.h"
#include "ntfs/RunList.h"

class IStorageDevice;

// A record named by an attribute list: the sector it starts in (-1 until known) and its reference
// (record number in the low 48 bits). 16 bytes, in this order, as the file's properties save it.
struct NTFSExtensionRecordRef {
  int64_t sector = -1;
  uint64_t reference = 0;
};

// Where a volume's MFT records lie on its device.
struct NTFSMftPlacement {
  const CNTFSRunList* mftRuns = nullptr;  // the $MFT's own run list
  int64_t partitionStart = 0;             // in device sectors
  uint32_t sectorSize = 512;              // of the device
  uint32_t bytesPerCluster = 0;           // of the volume
  uint32_t recordSize = 1024;             // of the volume
};

// The bytes read for one extension record: 1024 without a device or on 512-byte sectors, else one
// device sector.
uint32_t GetMftRecordSize(IStorageDevice* device);

// The device sector where record `recordNumber` starts, through the $MFT run list: -1 when its
// virtual cluster is not mapped, the placement is incomplete, or the arithmetic overflows. Records
// smaller than a device sector share sectors: `byteInSector` then gets the record's byte offset
// inside the sector (0 otherwise).
int64_t MftRecordToSector(uint64_t recordNumber, const NTFSMftPlacement& placement,
                          uint32_t* byteInSector = nullptr);

// Largest $ATTRIBUTE_LIST read from the disk. Real lists stay far below it; a larger size is damage,
// and reading it would let one record ask for any amount of memory.
constexpr int64_t kMaxAttributeListBytes = 256 * 1024;

// The distinct record numbers (48 bits) that the record's $ATTRIBUTE_LIST names, in list order. A
// resident list is read in place; a non-resident one is read from the device through its runs (holes
// read as zeros) into a buffer of its allocated size, which must be at most kMaxAttributeListBytes
// and at least its initialized size, which must not be 0. The entries are walked up to the value
// length or initialized size; an entry must hold its reference (length at least 0x1A) and lie
// inside that bound; a type or length of 0 ends the walk. False when the record has no list, the
// list cannot be read, or it names nothing.
bool GetAttributeListReferences(const uint8_t* record, size_t length, IStorageDevice* device,
                                const NTFSMftPlacement& placement, std::vector<uint64_t>& out);

// The extension records of a record with their sectors: the references of its attribute list whose
// sector is known, without the record itself (`ownRecordNumber`, or the number in its header when
// -1; and, for records of a sector or more, any reference placed at `recordSector`). Null when the
// record has no attribute list or nothing is left.
std::unique_ptr<std::vector<NTFSExtensionRecordRef>> BuildAttributeListEntries(
    const uint8_t* record, size_t length, int64_t recordSector, int64_t ownRecordNumber,
    IStorageDevice* device, const NTFSMftPlacement& placement);

// One extension record named by an attribute list.
class CNTFSAttributeListEntry {
 public:
  CNTFSAttributeListEntry(IStorageDevice* device, int64_t sector, uint64_t reference)
      : m_device(device), m_sector(sector), m_reference(reference) {}

  // Reads the record (`recordSize` bytes, from the sector it starts in) and keeps it, fix-up
  // applied, when it is a valid FILE record and an extension record whose base is `baseRecordNumber`
  // (not compared when -1). False, and nothing kept, otherwise; a negative sector reads nothing.
  bool Load(uint32_t recordSize, int64_t baseRecordNumber);
  bool IsLoaded() const { return !m_record.empty(); }
  const uint8_t* GetRecord() const { return m_record.empty() ? nullptr : m_record.data(); }
  size_t GetRecordLength() const { return m_record.size(); }
  int64_t GetSector() const { return m_sector; }
  uint64_t GetReference() const { return m_reference; }

 private:
  IStorageDevice* m_device;
  int64_t m_sector;
  uint64_t m_reference;
  std::vector<uint8_t> m_record;
};

// An attribute found in a record or one of its extension records.
struct NTFSFoundAttribute {
  CNTFSFileRecordAttribute attribute;
  uint32_t offsetInRecord = 0;
  int64_t recordSector = -1;  // the sector of the record that holds it
  explicit operator bool() const { return static_cast<bool>(attribute); }
};

class CNTFSFileRecord {
 public:
  // Copies the buffer when it passes IsValidNTFSFileRecord and applies the fix-up to the copy; then
  // makes one entry per extension reference and loads it through `device`. `ownRecordNumber` is the
  // record's number when the caller knows it (-1: taken from the header when stored there).
  CNTFSFileRecord(const uint8_t* buffer, size_t length, int64_t recordSector, IStorageDevice* device,
                  const std::vector<NTFSExtensionRecordRef>* extensions, uint32_t recordSize = 1024,
                  int64_t ownRecordNumber = -1);

  bool IsValid() const { return !m_record.empty(); }
  // Valid, or Damaged when the fix-up of the base record did not verify or the record failed.
  const corvale::ntfs::ParseResult& GetParseResult() const { return m_result; }
  const uint8_t* GetBuffer() const { return m_record.empty() ? nullptr : m_record.data(); }
  size_t GetLength() const { return m_record.size(); }
  int64_t GetRecordSector() const { return m_recordSector; }
  const std::vector<CNTFSAttributeListEntry>& GetEntries() const { return m_entries; }

  // The n-th (from 0) attribute of `type`: first in the base record, then through the loaded
  // extension records in list order, counting matches across them.
  NTFSFoundAttribute FindAttribute(uint32_t type, int n = 0) const;

 private:
  std::vector<uint8_t> m_record;
  int64_t m_recordSector;
  IStorageDevice* m_device;
  std::vector<CNTFSAttributeListEntry> m_entries;
  corvale::ntfs::ParseResult m_result;
};
