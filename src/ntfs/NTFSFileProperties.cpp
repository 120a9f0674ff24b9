#include "ntfs/NTFSFileProperties.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "core/FileNode.h"
#include "core/NTFSDataRunList.h"
#include "core/StateIo.h"
#include "core/WantedFileType.h"
#include "ntfs/FileRecordAttribute.h"
#include "ntfs/FileRecordHeader.h"
#include "ntfs/Lznt1.h"
#include "ntfs/RunList.h"
#include "platform/Log.h"
#include "storage/CheckedMath.h"
#include "storage/IStorageDevice.h"

using corvale::ByteReader;
using corvale::checkedAdd;
using corvale::checkedMul;
namespace attr = corvale::ntfs::attr;
namespace fn = corvale::ntfs::fn;
namespace rec = corvale::ntfs::rec;

namespace {

// Attribute bits taken over from $STANDARD_INFORMATION: read-only, hidden, system, archive.
constexpr uint16_t kStandardInformationAttributes = 0x01 | 0x02 | 0x04 | 0x20;
constexpr uint8_t kWin32NameSpace = 1;
// Parents below this number are system files, never a folder a user's file lies in.
constexpr uint64_t kFirstUserParent = 5;
// A record number of all ones stands for "no parent known".
constexpr uint64_t kNoRecord = 0x0000FFFFFFFFFFFFull;

bool IsUserFolder(uint64_t record) { return record >= kFirstUserParent && record != kNoRecord; }

// The largest record any volume here has, and the smallest.
constexpr size_t kMaxRecordBytes = rec::kMaxAllocated;
constexpr size_t kMinRecordBytes = rec::kMinRecordSize;

// The $LOGGED_UTILITY_STREAM of an encrypted file is the one of this name (other streams of the
// type, such as a transaction's, hold something else).
constexpr const char* kEfsStreamName = "$EFS";

// The runs of a file's unnamed $DATA attributes, as the walk gathers them from the record and its
// extension records: each attribute's runs with their virtual clusters moved by its lowest VCN.
struct GatheredRun {
  int64_t vcn;
  int64_t lcn;  // -1 for a hole
  int64_t length;
};

// The runs in VCN order as a run list, from VCN 0 on. Where the pieces leave a gap (an extension
// record that could not be used) or overlap, the list ends: runs after a gap cannot be placed, and
// reading them in its place would shift the rest of the file. *totalClusters gets the clusters
// covered.
void BuildRunList(std::vector<GatheredRun>& runs, CNoneResidentNTFSDataRunList& list,
                  uint64_t* totalClusters) {
  std::stable_sort(runs.begin(), runs.end(),
                   [](const GatheredRun& a, const GatheredRun& b) { return a.vcn < b.vcn; });
  uint64_t next = 0;
  for (const GatheredRun& run : runs) {
    if (run.length <= 0 || static_cast<uint64_t>(run.vcn) != next) break;
    list.AppendRun(run.lcn < 0 ? kSparseRunStart : static_cast<uint64_t>(run.lcn),
                   static_cast<uint64_t>(run.length));
    next += static_cast<uint64_t>(run.length);
  }
  *totalClusters = next;
}

// The record of a node's file, read afresh from the device with its extension records.
std::unique_ptr<CNTFSFileRecord> ReadRecordOfNode(CFileNode* node, IStorageDevice* device,
                                                  CNTFSFileProperties** outProperties) {
  if (node == nullptr || device == nullptr || node->IsFileSystemNode()) return nullptr;
  auto* properties = dynamic_cast<CNTFSFileProperties*>(node->GetFileProperties());
  if (properties == nullptr || properties->IsFolder() || properties->GetRecordSector() < 0) return nullptr;
  const int32_t sectorSize = device->GetSectorSize();
  if (sectorSize <= 0) return nullptr;
  const uint64_t sector = static_cast<uint64_t>(properties->GetRecordSector());
  // Enough sectors for the largest record; a record at the very end of the device may only have
  // room for the smallest.
  std::vector<uint8_t> buffer;
  bool read = false;
  for (size_t bytes : {kMaxRecordBytes, kMinRecordBytes}) {
    const uint64_t sectors = std::max<uint64_t>(1, (bytes + sectorSize - 1) / sectorSize);
    buffer.assign(sectors * static_cast<uint64_t>(sectorSize), 0);
    if (device->ReadSectors(buffer.data(), sector, sectors)) {
      read = true;
      break;
    }
  }
  if (!read) return nullptr;
  const uint32_t recordSize = static_cast<uint32_t>(FileRecordLength(buffer.data(), buffer.size()));
  auto record = std::make_unique<CNTFSFileRecord>(buffer.data(), buffer.size(), properties->GetRecordSector(),
                                                  device, properties->GetExtensionRecords(), recordSize);
  if (!record->IsValid()) return nullptr;
  if (outProperties != nullptr) *outProperties = properties;
  return record;
}

// The value of a resident attribute when it lies whole inside the attribute.
bool ResidentValue(const CNTFSFileRecordAttribute& attribute, ByteReader* out) {
  if (attribute.IsNonResident() || !attribute.Bytes().has(0, attr::kResidentHeaderSize)) return false;
  if (!attribute.Bytes().has(attribute.GetValueOffset(), attribute.GetValueLength())) return false;
  *out = attribute.GetValue();
  return true;
}

bool CopyResidentValue(const CNTFSFileRecordAttribute& attribute, uint8_t* buffer, uint32_t bufferSize,
                       uint32_t* outSize) {
  ByteReader value;
  if (!ResidentValue(attribute, &value) || value.size() > bufferSize) return false;
  if (value.size() > 0) std::memcpy(buffer, value.data(), value.size());
  *outSize = static_cast<uint32_t>(value.size());
  return true;
}

// Reads the `size` bytes of a non-resident attribute's data through its runs from the partition at
// `partitionStart` (clusters of `sectorsPerCluster` device sectors) into `out`. Holes and bytes from
// `initialized` on read as zeros. False when the runs are damaged, do not cover the size, point
// outside what can be addressed, or a read fails.
bool ReadNonResidentData(const CNTFSFileRecordAttribute& attribute, IStorageDevice* device,
                         uint64_t partitionStart, uint32_t sectorsPerCluster, uint64_t size,
                         uint64_t initialized, std::vector<uint8_t>& out) {
  const int32_t sectorSize = device->GetSectorSize();
  if (sectorSize <= 0 || sectorsPerCluster == 0) return false;
  const uint64_t clusterBytes = static_cast<uint64_t>(sectorSize) * sectorsPerCluster;
  CNTFSRunList runs;
  // The string is checked before it is decoded, and decoded only inside the attribute.
  if (!ParseAttributeRuns(attribute, runs)) return false;
  const auto total = checkedMul(static_cast<uint64_t>(runs.GetTotalClusters()), clusterBytes);
  if (!total || *total < size) return false;
  // Whole sectors, so that every read lands inside the buffer.
  out.assign((size + sectorSize - 1) / sectorSize * sectorSize, 0);
  for (const NTFSRun& run : runs.Runs()) {
    const auto at = checkedMul(static_cast<uint64_t>(run.vcn), clusterBytes);
    if (!at || *at >= size) break;
    if (run.lcn < 0) continue;  // a hole: zeros, which the buffer holds
    const uint64_t runBytes =
        checkedMul(static_cast<uint64_t>(run.length), clusterBytes).value_or(UINT64_MAX);
    const uint64_t bytes = std::min(runBytes, size - *at);
    const auto offset = checkedMul(static_cast<uint64_t>(run.lcn), sectorsPerCluster);
    const auto sector = offset ? checkedAdd(partitionStart, *offset) : std::nullopt;
    if (!sector) return false;
    if (!device->ReadSectors(out.data() + *at, *sector, (bytes + sectorSize - 1) / sectorSize)) return false;
  }
  if (initialized < size) std::fill(out.begin() + static_cast<std::ptrdiff_t>(initialized), out.end(), 0);
  out.resize(size);
  return true;
}

}  // namespace

uint16_t CNTFSFileProperties::GetNameLength() const {
  return m_hasName ? static_cast<uint16_t>(m_name.size() + 1) : 0;
}

void CNTFSFileProperties::SetName(const char* text) {
  m_hasName = text != nullptr;
  m_name = corvale::CutUtf8(text, kMaxNameBytes);
}

uint8_t CNTFSFileProperties::SetFlagByte(uint8_t value) {
  const uint8_t old = m_flag;
  m_flag = value;
  return old;
}

void CNTFSFileProperties::SetTimes(uint64_t creation, uint64_t modification, uint64_t access) {
  m_creationTime = creation;
  m_modificationTime = modification;
  m_accessTime = access;
}

std::unique_ptr<IDataRunList> CNTFSFileProperties::CreateDataRunList() const {
  return m_runs ? m_runs->CreateDataRunList() : nullptr;
}

bool CNTFSFileProperties::Save(IRSData& writer) const {
  const std::string& name = m_hasName ? m_name : std::string();
  corvale::StateRecordWriter out(writer);
  out.U16(static_cast<uint16_t>(name.size())).Bytes(name.data(), name.size());
  out.U64(static_cast<uint64_t>(m_size)).U16(m_attributes);
  out.U64(m_creationTime).U64(m_modificationTime).U64(m_accessTime);
  out.U8(m_status).U64(static_cast<uint64_t>(m_recordSector));
  out.Flush();
  SaveRunListTail(writer, m_runs.get());
  const size_t count = m_extensions ? m_extensions->size() : 0;
  out.U64(count);
  for (size_t i = 0; i < count; ++i) {
    out.U64(static_cast<uint64_t>((*m_extensions)[i].sector)).U64((*m_extensions)[i].reference);
  }
  out.Flush();
  return true;
}

bool CNTFSFileProperties::Load(IRSData& reader) {
  const uint16_t nameBytes = corvale::ReadU16(reader);
  std::string name = corvale::ReadText(reader, nameBytes, kMaxNameBytes);
  const int64_t size = static_cast<int64_t>(corvale::ReadU64(reader));
  const uint16_t attributes = corvale::ReadU16(reader);
  const uint64_t creation = corvale::ReadU64(reader);
  const uint64_t modification = corvale::ReadU64(reader);
  const uint64_t access = corvale::ReadU64(reader);
  const uint8_t status = corvale::ReadU8(reader);
  const int64_t recordSector = static_cast<int64_t>(corvale::ReadU64(reader));
  std::unique_ptr<PackedRunList> runs = LoadRunListTail(reader);
  // The count comes from the file: records are taken one at a time, so a forged count ends at the
  // end of the stream rather than in an allocation of that size.
  const uint64_t count = corvale::ReadU64(reader);
  std::unique_ptr<std::vector<NTFSExtensionRecordRef>> extensions;
  if (count > 0) {
    extensions = std::make_unique<std::vector<NTFSExtensionRecordRef>>();
    for (uint64_t i = 0; i < count; ++i) {
      NTFSExtensionRecordRef ref;
      ref.sector = static_cast<int64_t>(corvale::ReadU64(reader));
      ref.reference = corvale::ReadU64(reader);
      extensions->push_back(ref);
    }
  }
  m_hasName = nameBytes > 0;
  m_name = std::move(name);
  m_size = size;
  m_attributes = attributes;
  SetTimes(creation, modification, access);
  m_status = status;
  m_recordSector = recordSector;
  m_runs = std::move(runs);
  m_extensions = std::move(extensions);
  m_checkState = 0;
  m_flag = 0;
  return true;
}

bool CNTFSFileProperties::ReadResidentData(CFileNode* node, IStorageDevice* device, uint8_t* buffer,
                                           uint32_t capacity, uint32_t* outSize) {
  return node != nullptr && node->GetFileProperties() == this &&
         ReadNTFSResidentData(node, device, outSize, buffer, capacity);
}

bool CNTFSFileProperties::ReadEfsStream(CFileNode* node, IStorageDevice* device, uint8_t* buffer,
                                        uint32_t capacity, uint32_t* outSize) {
  return node != nullptr && node->GetFileProperties() == this &&
         ReadNTFSEfsStream(node, device, outSize, buffer, capacity);
}

bool CNTFSFileProperties::DecompressUnit(const uint8_t* input, size_t inputSize, uint8_t* output,
                                         size_t outputSize) {
  const corvale::ntfs::Lznt1Result result =
      corvale::ntfs::DecompressLznt1(input, inputSize, output, outputSize);
  if (result.IsComplete()) return true;
  DebugTrace("%s: damaged compressed chunk at +0x%zx of the unit (block at +0x%zx)", m_name.c_str(),
             result.chunkOffset, result.blockOffset);
  return false;
}

CNTFSFileProperties* CreateNTFSFileProperties() { return new CNTFSFileProperties(); }

std::unique_ptr<CNTFSFileProperties> CreateNTFSFilePropertiesFromRecord(int64_t recordSector,
                                                                        const CNTFSFileRecord& record,
                                                                        uint32_t bytesPerCluster,
                                                                        int64_t* outParent) {
  if (!record.IsValid()) return nullptr;

  // Name and parent. A DOS short name comes first when the file has one; the long name is then the
  // second $FILE_NAME, in the Win32 namespace.
  const CNTFSFileRecordFileNameAttribute first(record.FindAttribute(attr::kFileName, 0).attribute);
  const CNTFSFileRecordFileNameAttribute second(record.FindAttribute(attr::kFileName, 1).attribute);
  const NTFSFileName* chosen = nullptr;
  if (second.IsUsable() && second.GetFileName().nameSpace == kWin32NameSpace) {
    chosen = &second.GetFileName();
  } else if (first.IsUsable()) {
    chosen = &first.GetFileName();
  } else if (second.IsUsable()) {
    chosen = &second.GetFileName();
  }
  if (chosen == nullptr || chosen->nameLength == 0) return nullptr;
  if (outParent != nullptr) {
    if (second.IsUsable() && IsUserFolder(second.GetFileName().ParentRecordNumber())) {
      *outParent = static_cast<int64_t>(second.GetFileName().ParentRecordNumber());
    } else if (first.IsUsable() && IsUserFolder(first.GetFileName().ParentRecordNumber())) {
      *outParent = static_cast<int64_t>(first.GetFileName().ParentRecordNumber());
    } else if (chosen->ParentRecordNumber() != kNoRecord) {
      *outParent = static_cast<int64_t>(chosen->ParentRecordNumber());
    }
  }
  const std::string name = chosen->NameUtf8();
  if (name.empty()) return nullptr;
  const bool directory = (chosen->flags & fn::kFlagDirectory) != 0;
  if (!IsWantedFileType(name.c_str(), directory)) return nullptr;

  auto properties = std::make_unique<CNTFSFileProperties>();
  properties->SetName(name.c_str());
  uint16_t attributes = directory ? kAttributeFolder : 0;
  uint64_t creation = chosen->creationTime;
  uint64_t modification = chosen->creationTime;
  uint64_t access = chosen->creationTime;
  int64_t size = chosen->dataSize;

  const NTFSFoundAttribute standard = record.FindAttribute(attr::kStandardInformation, 0);
  ByteReader standardValue;
  NTFSStandardInformation info;
  if (standard && ResidentValue(standard.attribute, &standardValue) &&
      ParseStandardInformationValue(standardValue, info).IsValid()) {
    creation = info.creationTime;
    modification = info.modificationTime;
    access = info.accessTime;
    attributes |= static_cast<uint16_t>(info.flags & kStandardInformationAttributes);
  }
  properties->SetTimes(creation, modification, access);
  properties->SetRecordSector(recordSector);
  properties->SetStatus(IsInUse(record.GetBuffer(), record.GetLength())
                            ? CNTFSFileProperties::kStatusLive
                            : CNTFSFileProperties::kStatusDeleted);

  // The file's data: its unnamed $DATA attributes (named ones are other streams of the file). A
  // record torn while it was written (a stride end without the update sequence number) still names
  // its file and its size, but two bytes of each stride are not its own: no data is taken from it,
  // and its file then cannot be recovered rather than be recovered wrong.
  const bool torn = record.GetParseResult().IsDamaged();
  std::unique_ptr<IDataRunList> runList;
  std::vector<GatheredRun> gathered;
  bool resident = false;
  for (int i = 0;; ++i) {
    const NTFSFoundAttribute data = record.FindAttribute(attr::kData, i);
    if (!data) break;
    const CNTFSFileRecordAttribute& a = data.attribute;
    if (a.IsNamed()) continue;
    if (a.IsCompressed()) attributes |= kAttributeCompressed;
    if (a.IsEncrypted()) attributes |= kAttributeEncrypted;
    if (a.GetFlags() & attr::kFlagSparse) attributes |= kAttributeSparse;
    if (!a.IsNonResident()) {
      ByteReader value;
      if (!ResidentValue(a, &value)) continue;
      size = static_cast<int64_t>(value.size());
      resident = true;
      if (!torn) {
        auto list = std::make_unique<CResidentNTFSDataRunList>();
        list->SetRun(static_cast<uint64_t>(data.recordSector), 1, data.offsetInRecord + a.GetValueOffset());
        runList = std::move(list);
      }
      break;
    }
    const int64_t lowest = a.GetLowestVcn();
    if (lowest < 0) continue;
    // The data size of the piece that starts the data is the file's size. (The size a $FILE_NAME
    // keeps is not updated as the file changes; a file that shrank would come out with bytes past
    // its end.)
    if (lowest == 0) size = a.GetDataSize();
    CNTFSRunList runs;
    if (torn || !ParseAttributeRuns(a, runs)) continue;
    for (const NTFSRun& run : runs.Runs()) {
      int64_t vcn;
      if (__builtin_add_overflow(run.vcn, lowest, &vcn)) break;
      gathered.push_back({vcn, run.lcn, run.length});
    }
  }
  if (size < 0) size = 0;
  if (!resident && !torn) {
    auto list = std::make_unique<CNoneResidentNTFSDataRunList>();
    uint64_t clusters = 0;
    BuildRunList(gathered, *list, &clusters);
    if (list->GetRunCount() > 0) runList = std::move(list);
    if (bytesPerCluster != 0 && bytesPerCluster % 512 == 0) {
      const auto allocated = checkedMul(clusters, bytesPerCluster);
      const int64_t limit = allocated && *allocated <= static_cast<uint64_t>(INT64_MAX)
                                ? static_cast<int64_t>(*allocated)
                                : INT64_MAX;
      if (size > limit || size == 0) size = limit;
    }
  }
  // An encrypted file's clusters hold cipher text, whatever the compressed bit says.
  if ((attributes & kAttributeEncrypted) && (attributes & kAttributeCompressed)) {
    attributes = static_cast<uint16_t>(attributes & ~kAttributeCompressed);
  }
  properties->SetAttributes(attributes);
  properties->SetSize(size);
  if (runList) properties->SetPackedRuns(CreatePackedRunList(*runList));
  return properties;
}

bool ReadNTFSResidentData(CFileNode* node, IStorageDevice* device, uint32_t* outSize, uint8_t* buffer,
                          uint32_t bufferSize) {
  if (outSize == nullptr || (buffer == nullptr && bufferSize > 0)) return false;
  const std::unique_ptr<CNTFSFileRecord> record = ReadRecordOfNode(node, device, nullptr);
  if (!record || record->GetParseResult().IsDamaged()) return false;
  for (int i = 0;; ++i) {
    const NTFSFoundAttribute data = record->FindAttribute(attr::kData, i);
    if (!data) return false;
    if (data.attribute.IsNamed()) continue;
    return CopyResidentValue(data.attribute, buffer, bufferSize, outSize);
  }
}

bool ReadNTFSEfsStream(CFileNode* node, IStorageDevice* device, uint32_t* outSize, uint8_t* buffer,
                       uint32_t bufferSize) {
  if (outSize == nullptr || buffer == nullptr) return false;
  const std::unique_ptr<CNTFSFileRecord> record = ReadRecordOfNode(node, device, nullptr);
  if (!record || record->GetParseResult().IsDamaged()) return false;
  NTFSFoundAttribute stream;
  for (int i = 0;; ++i) {
    stream = record->FindAttribute(attr::kLoggedUtilityStream, i);
    if (!stream) return false;
    if (stream.attribute.GetNameUtf8() == kEfsStreamName) break;
  }
  const CNTFSFileRecordAttribute& a = stream.attribute;
  uint64_t size = 0;
  if (!a.IsNonResident()) {
    uint32_t copied = 0;
    if (!CopyResidentValue(a, buffer, bufferSize, &copied)) return false;
    size = copied;
  } else {
    const int64_t dataSize = a.GetDataSize();
    if (dataSize <= 0 || static_cast<uint64_t>(dataSize) > bufferSize) return false;
    size = static_cast<uint64_t>(dataSize);
    const uint64_t initialized =
        static_cast<uint64_t>(std::clamp<int64_t>(a.GetInitializedSize(), 0, dataSize));
    uint64_t partitionStart = 0;
    uint32_t sectorsPerCluster = 0;
    if (!node->GetPosition(partitionStart, sectorsPerCluster)) return false;
    std::vector<uint8_t> data;
    if (!ReadNonResidentData(a, device, partitionStart, sectorsPerCluster, size, initialized, data)) {
      return false;
    }
    std::memcpy(buffer, data.data(), data.size());
  }
  // The stream begins with its own length: a stream that says otherwise is not whole.
  if (size < 8 || ByteReader(buffer, static_cast<size_t>(size)).u64(0) != size) return false;
  *outSize = static_cast<uint32_t>(size);
  return true;
}
