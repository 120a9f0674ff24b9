#include "core/FileDataReader.h"

#include <algorithm>
#include <cstring>

#include "core/FileContentSource.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/NameConversion.h"
#include "storage/CheckedMath.h"
#include "storage/IStorageDevice.h"

using namespace corvale;

namespace {

// Resident data never exceeds what a file record can hold.
constexpr uint32_t kMaxResidentBytes = 4096;
// The largest cluster any of the file systems makes. A larger value comes from a damaged boot sector
// or state file, and the one-cluster buffer must not be sized by it.
constexpr uint64_t kMaxClusterBytes = 2 * 1024 * 1024;

}  // namespace

bool FileDataReader::Open(IStorageDevice* device, CFileNode* node) {
  m_runs.reset();
  m_heldCluster = 0;
  m_resident.clear();
  m_residentLoaded = false;
  if (device == nullptr || node == nullptr) return false;
  const IFileProperties* properties = node->GetFileProperties();
  if (properties == nullptr) return false;
  if (!node->GetPosition(m_firstSector, m_sectorsPerCluster)) return false;
  const int32_t sectorSize = device->GetSectorSize();
  if (sectorSize <= 0 || m_sectorsPerCluster == 0) return false;
  m_clusterBytes = static_cast<uint64_t>(sectorSize) * m_sectorsPerCluster;
  if (m_clusterBytes > kMaxClusterBytes) return false;
  m_size = properties->GetSize();
  if (m_size == 0) return false;
  m_runs = properties->CreateDataRunList();
  if (!m_runs) return false;
  m_device = device;
  m_node = node;
  if (!m_runs->IsResident()) m_cluster.assign(m_clusterBytes, 0);
  return true;
}

bool FileDataReader::LoadResident() {
  if (m_residentLoaded) return !m_resident.empty();
  m_residentLoaded = true;
  auto* source = dynamic_cast<IFileContentSource*>(m_node->GetFileProperties());
  if (source == nullptr) return false;
  m_resident.assign(kMaxResidentBytes, 0);
  uint32_t got = 0;
  if (!source->ReadResidentData(m_node, m_device, m_resident.data(), kMaxResidentBytes, &got)) got = 0;
  m_resident.resize(std::min(got, kMaxResidentBytes));
  return !m_resident.empty();
}

bool FileDataReader::LoadCluster(uint64_t vcn) {
  if (m_heldCluster == vcn + 1) return true;
  uint64_t runVcn = 0;
  for (const DataRun& run : m_runs->Runs()) {
    if (vcn - runVcn < run.length) {
      if (run.IsSparse()) {
        std::fill(m_cluster.begin(), m_cluster.end(), 0);
      } else {
        const auto cluster = checkedAdd(run.start, vcn - runVcn);
        const auto offset = cluster ? checkedMul(*cluster, m_sectorsPerCluster) : std::nullopt;
        const auto sector = offset ? checkedAdd(m_firstSector, *offset) : std::nullopt;
        if (!sector || !m_device->ReadSectors(m_cluster.data(), *sector, m_sectorsPerCluster)) {
          m_heldCluster = 0;
          return false;
        }
      }
      m_heldCluster = vcn + 1;
      return true;
    }
    const auto next = checkedAdd(runVcn, run.length);
    if (!next) break;
    runVcn = *next;
  }
  return false;
}

size_t FileDataReader::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (!m_runs || buffer == nullptr || offset >= m_size) return 0;
  length = static_cast<size_t>(std::min<uint64_t>(length, m_size - offset));
  auto* out = static_cast<uint8_t*>(buffer);
  if (m_runs->IsResident()) {
    if (!LoadResident() || offset >= m_resident.size()) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length, m_resident.size() - offset));
    std::memcpy(out, m_resident.data() + offset, n);
    return n;
  }
  size_t done = 0;
  while (done < length) {
    const uint64_t position = offset + done;
    if (!LoadCluster(position / m_clusterBytes)) break;
    const uint64_t within = position % m_clusterBytes;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length - done, m_clusterBytes - within));
    std::memcpy(out + done, m_cluster.data() + within, n);
    done += n;
  }
  return done;
}

bool RestoreRecycledFileName(IStorageDevice* device, CFileNode* indexNode, CFileNode* dataNode) {
  if (dataNode == nullptr || dataNode->GetFileProperties() == nullptr) return false;
  FileDataReader reader;
  if (!reader.Open(device, indexNode)) return false;
  uint8_t bytes[1024];
  const size_t got = reader.ReadAt(0, bytes, sizeof bytes);
  // The text is UTF-16: it is searched unit by unit at even offsets, since a byte 0x5C ("\") is also
  // the high half of many CJK characters.
  const size_t units = std::min<size_t>(got, 512) / 2;
  const auto unit = [&](size_t i) { return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)); };
  size_t slash = units;
  for (size_t i = units; i-- > 0;) {
    if (unit(i) == u'\\') {
      slash = i;
      break;
    }
  }
  if (slash == units) return false;
  bool drivePath = false;
  for (size_t i = 0; i < slash; ++i) {
    if (unit(i) == u':' && unit(i + 1) == u'\\') {
      drivePath = true;
      break;
    }
  }
  if (!drivePath) return false;
  std::u16string name;
  for (size_t i = slash + 1; i < units && unit(i) != 0; ++i) name += unit(i);
  const std::string narrow = WideStringToString(name);
  if (narrow.empty()) return false;
  dataNode->GetFileProperties()->SetName(narrow.c_str());
  return true;
}
