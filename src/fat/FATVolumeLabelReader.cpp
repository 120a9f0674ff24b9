#include "fat/FATVolumeLabelReader.h"

#include <algorithm>
#include <vector>

#include "fat/FATDBR.h"
#include "fat/FATDirEntry.h"
#include "fat/FATTable.h"
#include "fat/FatChain.h"
#include "storage/ByteReader.h"
#include "storage/CheckedMath.h"
#include "storage/IStorageDevice.h"

using namespace corvale;
using namespace corvale::fat;

namespace {
// No directory holds more than 65536 entries.
constexpr uint64_t kMaxDirectoryBytes = 65536 * dirent::kSize;
}  // namespace

CFATVolumeLabelReader::CFATVolumeLabelReader(IStorageDevice* device) : m_device(device) {
  if (device != nullptr && device->GetSectorSize() > 0)
    m_sectorSize = static_cast<uint32_t>(device->GetSectorSize());
}

bool CFATVolumeLabelReader::ScanForLabel(const uint8_t* bytes, size_t length, std::string* label) {
  for (size_t offset = 0; offset + dirent::kSize <= length; offset += dirent::kSize) {
    const CFATDirEntry entry(bytes, length, offset);
    if (!entry.IsValid(false)) return false;
    if (entry.IsDeleted() || !entry.IsVolumeLabel() || entry.FirstByte() == 0) continue;
    if (label != nullptr) *label = entry.GetShortName(false);
    return true;
  }
  return false;
}

bool CFATVolumeLabelReader::ReadVolumeLabel(uint64_t partitionStart, const CFATDBR& dbr, std::string* label) {
  if (m_device == nullptr || !dbr.IsValid()) return false;
  const FatVolumeGeometry& g = dbr.GetGeometry();
  if (g.bytesPerSector != m_sectorSize) return false;
  const uint32_t spc = g.sectorsPerCluster;
  std::vector<uint8_t> chunk(static_cast<size_t>(spc) * m_sectorSize);

  if (dbr.GetFATType() != kFatType32) {
    // The fixed root directory, read a cluster's worth of sectors at a time.
    const auto rootStart = checkedAdd(partitionStart, g.rootDirStart);
    if (!rootStart) return false;
    for (uint32_t done = 0; done < g.rootDirSectors; done += spc) {
      const uint32_t sectors = std::min(spc, g.rootDirSectors - done);
      if (!m_device->ReadSectors(chunk.data(), *rootStart + done, sectors)) return false;
      if (ScanForLabel(chunk.data(), static_cast<size_t>(sectors) * m_sectorSize, label)) return true;
    }
    return false;
  }

  // The FAT32 root directory through its chain, one cluster at a time, reading the piece of the FAT
  // that holds each next entry.
  const uint32_t entriesPerPiece = spc * m_sectorSize / 4;
  std::vector<uint8_t> piece(chunk.size());
  uint64_t heldPiece = ~uint64_t{0};
  ClusterRangeSet taken;
  uint64_t read = 0;
  for (uint32_t cluster = g.rootCluster; IsValidFATCluster(cluster) && g.IsDataCluster(cluster) &&
                                         !taken.Contains(cluster) && read < kMaxDirectoryBytes;
       read += chunk.size()) {
    taken.Insert(cluster);
    const auto sector = g.ClusterToSector(partitionStart, cluster);
    if (!sector || !m_device->ReadSectors(chunk.data(), *sector, spc)) return false;
    if (ScanForLabel(chunk.data(), chunk.size(), label)) return true;
    const uint64_t pieceIndex = cluster / entriesPerPiece;
    const uint64_t pieceSector = pieceIndex * spc;
    if (pieceSector + spc > g.sectorsPerFat) return false;
    if (pieceIndex != heldPiece) {
      const auto at = checkedAdd(partitionStart, g.fatStart + pieceSector);
      if (!at || !m_device->ReadSectors(piece.data(), *at, spc)) return false;
      heldPiece = pieceIndex;
    }
    cluster = ByteReader(piece.data(), piece.size()).u32((cluster % entriesPerPiece) * 4) & 0x0FFFFFFF;
  }
  return false;
}
