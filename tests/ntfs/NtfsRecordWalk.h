#pragma once
// A plain walk over every FILE record of an NTFS volume's MFT into a found-file tree: a node with
// CNTFSFileProperties per record that names a file, linked under its parent record, the partition
// node on top. It stands in for the directory build in the tests of the file properties and of
// recovery, and corvale-bench recover-files runs the same walk. It keeps none of the build's
// refinements (no cancel, no progress, no recycle-bin names, no LostFiles folders: a file whose
// parent is not reached hangs under the root).
//
// Header-only so that the benchmark program can use it too.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/FileNode.h"
#include "ntfs/FileRecord.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/NTFSDBR.h"
#include "ntfs/NTFSFileProperties.h"
#include "ntfs/NTFSRootEntries.h"
#include "ntfs/RunList.h"
#include "ntfs/VolumeLabelReader.h"
#include "storage/IStorageDevice.h"

namespace ntfswalk {

struct WalkResult {
  CFileSystemNode* root = nullptr;      // the caller frees it with FreeFileTree
  std::map<int64_t, CFileNode*> nodes;  // by record number
  NTFSVolumeGeometry geometry;
  std::string label;
  uint64_t records = 0;  // records of the MFT
  uint64_t files = 0;
  uint64_t folders = 0;
  uint64_t deleted = 0;
  uint64_t orphans = 0;  // files whose parent was not reached, hung under the root
  uint64_t fileBytes = 0;
};

namespace detail {

// `length` bytes at byte `offset` of the device.
inline bool ReadBytes(IStorageDevice* device, uint64_t offset, size_t length, uint8_t* out,
                      std::vector<uint8_t>& scratch) {
  const uint64_t sectorSize = uint64_t(device->GetSectorSize());
  const uint64_t first = offset / sectorSize;
  const uint64_t last = (offset + length + sectorSize - 1) / sectorSize;
  if (offset % sectorSize == 0 && length % sectorSize == 0)
    return device->ReadSectors(out, first, last - first);
  scratch.resize(size_t((last - first) * sectorSize));
  if (!device->ReadSectors(scratch.data(), first, last - first)) return false;
  std::copy_n(scratch.data() + offset % sectorSize, length, out);
  return true;
}

// Bytes [offset, offset + length) of the data the runs describe; holes read as zeros.
inline bool ReadRunBytes(IStorageDevice* device, uint64_t partitionByte, const CNTFSRunList& runs,
                         uint32_t bytesPerCluster, uint64_t offset, size_t length, uint8_t* out,
                         std::vector<uint8_t>& scratch) {
  size_t done = 0;
  while (done < length) {
    const uint64_t position = offset + done;
    const int64_t vcn = int64_t(position / bytesPerCluster);
    const NTFSRun* run = nullptr;
    for (const NTFSRun& r : runs.Runs()) {
      if (vcn >= r.vcn && vcn - r.vcn < r.length) {
        run = &r;
        break;
      }
    }
    if (run == nullptr) return false;
    const uint64_t runEnd = uint64_t(run->vcn + run->length) * bytesPerCluster;
    const size_t n = size_t(std::min<uint64_t>(length - done, runEnd - position));
    if (run->lcn < 0) {
      std::fill_n(out + done, n, 0);
    } else {
      const uint64_t at = partitionByte + uint64_t(run->lcn) * bytesPerCluster +
                          (position - uint64_t(run->vcn) * bytesPerCluster);
      if (!ReadBytes(device, at, n, out + done, scratch)) return false;
    }
    done += n;
  }
  return true;
}

struct Entry {
  int64_t record;
  int64_t parent;
  bool directoryRecord;
  std::unique_ptr<CNTFSFileProperties> properties;
};

}  // namespace detail

// Walks the volume at `partitionStart` (device sectors). False, with *why, when its boot sector or
// its $MFT cannot be used, or its FILE records are smaller than the device's sectors (a record's
// sector would then not tell where it starts).
inline bool WalkMftRecords(IStorageDevice* device, uint64_t partitionStart, WalkResult& out,
                           std::string* why) {
  using detail::ReadBytes;
  const uint32_t sectorSize = uint32_t(device->GetSectorSize());
  std::vector<uint8_t> scratch;
  std::vector<uint8_t> sector(sectorSize);
  CNTFSDBR boot;
  if (!device->ReadSectors(sector.data(), partitionStart, 1) || !boot.SetDBR(sector.data(), sector.size()) ||
      !boot.GetGeometry(out.geometry).IsValid()) {
    *why = "no usable NTFS boot sector";
    return false;
  }
  const NTFSVolumeGeometry& g = out.geometry;
  if (g.fileRecordSize < sectorSize || g.bytesPerCluster % sectorSize != 0) {
    *why = "records or clusters smaller than a device sector";
    return false;
  }
  const uint64_t partitionByte = partitionStart * sectorSize;
  const uint32_t recordSize = g.fileRecordSize;
  const uint32_t sectorsPerCluster = g.bytesPerCluster / sectorSize;

  // The $MFT's runs, its extension records' included, in VCN order.
  std::vector<uint8_t> mftRecord(recordSize);
  if (!ReadBytes(device, partitionByte + g.mftByteOffset, recordSize, mftRecord.data(), scratch)) {
    *why = "cannot read the $MFT record";
    return false;
  }
  CNTFSRunList gathered;
  int64_t dataSize = -1;
  {
    CNTFSFileRecordView view(mftRecord.data(), mftRecord.size());
    if (!view.IsValid() ||
        !GetDataRunListOfRecord(view.GetBuffer(), view.GetLength(), gathered, false, &dataSize)) {
      *why = "the $MFT record gives no runs";
      return false;
    }
    NTFSMftPlacement placement{&gathered, int64_t(partitionStart), sectorSize, g.bytesPerCluster, recordSize};
    const int64_t mftSector = int64_t((partitionByte + g.mftByteOffset) / sectorSize);
    auto extensions =
        BuildAttributeListEntries(view.GetBuffer(), view.GetLength(), mftSector, 0, device, placement);
    if (extensions) {
      CNTFSFileRecord mft(mftRecord.data(), mftRecord.size(), mftSector, device, extensions.get(), recordSize,
                          0);
      for (const CNTFSAttributeListEntry& e : mft.GetEntries())
        if (e.IsLoaded())
          GetDataRunListOfRecord(e.GetRecord(), e.GetRecordLength(), gathered, false, nullptr);
    }
  }
  std::vector<NTFSRun> sorted = gathered.Runs();
  std::sort(sorted.begin(), sorted.end(), [](const NTFSRun& a, const NTFSRun& b) { return a.vcn < b.vcn; });
  CNTFSRunList mftRuns;
  for (const NTFSRun& run : sorted) mftRuns.Append(run);
  if (dataSize <= 0) {
    *why = "the $MFT has no data size";
    return false;
  }
  NTFSMftPlacement placement{&mftRuns, int64_t(partitionStart), sectorSize, g.bytesPerCluster, recordSize};

  char label[kNTFSVolumeNameBytes] = {};
  size_t labelBytes = 0;
  if (CNTFSVolumeLabelReader(device).ReadVolumeLabel(int64_t(partitionStart), boot, label, &labelBytes))
    out.label.assign(label, labelBytes);

  // Every record, read through the $MFT's runs a piece at a time.
  out.records = uint64_t(dataSize) / recordSize;
  std::vector<detail::Entry> entries;
  const uint64_t perPiece = std::max<uint64_t>(1, (1u << 20) / recordSize);
  std::vector<uint8_t> piece(perPiece * recordSize);
  for (uint64_t first = 0; first < out.records; first += perPiece) {
    const uint64_t count = std::min(perPiece, out.records - first);
    if (!detail::ReadRunBytes(device, partitionByte, mftRuns, g.bytesPerCluster, first * recordSize,
                              count * recordSize, piece.data(), scratch)) {
      *why = "cannot read the MFT";
      return false;
    }
    for (uint64_t i = 0; i < count; ++i) {
      const int64_t number = int64_t(first + i);
      const uint8_t* bytes = piece.data() + i * recordSize;
      if (!IsValidNTFSFileRecord(bytes, recordSize) || IsExtensionRecord(bytes, recordSize)) continue;
      if (IsMetadataFileRecord(CNTFSFileRecordView(bytes, recordSize))) continue;
      const int64_t recordSector = MftRecordToSector(uint64_t(number), placement);
      if (recordSector < 0) continue;
      auto extensions = BuildAttributeListEntries(bytes, recordSize, recordSector, number, device, placement);
      CNTFSFileRecord record(bytes, recordSize, recordSector, device, extensions.get(), recordSize, number);
      int64_t parent = -1;
      std::unique_ptr<CNTFSFileProperties> properties =
          CreateNTFSFilePropertiesFromRecord(recordSector, record, g.bytesPerCluster, &parent);
      if (!properties) continue;
      properties->SetExtensionRecords(std::move(extensions));
      entries.push_back({number, parent, IsDirectoryRecord(bytes, recordSize), std::move(properties)});
    }
  }

  // Linking, breadth-first from the root folder (record 5).
  out.root = CreateNTFSRootNode(partitionStart, sectorsPerCluster, 0, out.label.c_str());
  std::multimap<int64_t, size_t> byParent;
  for (size_t i = 0; i < entries.size(); ++i) byParent.emplace(entries[i].parent, i);
  std::vector<bool> linked(entries.size(), false);
  std::deque<std::pair<CFileNode*, int64_t>> folders{{out.root, 5}};
  auto attach = [&](CFileNode* parent, size_t i) {
    detail::Entry& e = entries[i];
    CFileNode* node = CreateFileNode();
    const CNTFSFileProperties* p = e.properties.get();
    node->SetFileProperties(e.properties.release());
    parent->AddChild(node);
    linked[i] = true;
    out.nodes[e.record] = node;
    if (p->IsDeleted()) ++out.deleted;
    if (p->IsFolder()) {
      ++out.folders;
    } else {
      ++out.files;
      out.fileBytes += p->GetSize();
    }
    if (e.directoryRecord) folders.emplace_back(node, e.record);
  };
  size_t nextOrphan = 0;
  for (;;) {
    while (!folders.empty()) {
      auto [folder, number] = folders.front();
      folders.pop_front();
      auto range = byParent.equal_range(number);
      for (auto it = range.first; it != range.second; ++it)
        if (!linked[it->second] && entries[it->second].record != number) attach(folder, it->second);
    }
    // A file or folder whose parent was not reached goes under the root, and its own files below it.
    while (nextOrphan < entries.size() && linked[nextOrphan]) ++nextOrphan;
    if (nextOrphan == entries.size()) break;
    ++out.orphans;
    attach(out.root, nextOrphan);
  }
  return true;
}

}  // namespace ntfswalk
