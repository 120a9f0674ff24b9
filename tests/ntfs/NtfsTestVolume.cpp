#include "NtfsTestVolume.h"

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "ntfs/FileRecordView.h"
#include "support/Fixtures.h"

namespace {

bool ReadFile(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool ParseManifest(const std::string& path, NtfsManifest& m) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "sector") {
      words >> m.sectorSize;
    } else if (key == "cluster") {
      words >> m.clusterSize;
    } else if (key == "label") {
      words >> m.label;
    } else if (key == "bigcount") {
      words >> m.bigCount;
    } else {
      int64_t record = -1;
      words >> record;
      std::string rest;
      std::getline(words, rest);
      if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
      if (key == "live") m.live[record].push_back(rest);
      if (key == "deleted") m.deleted[record] = rest;
      if (key == "big") m.bigNames.insert(rest);
      if (key == "bigdir") m.bigDirectory = record;
      if (key == "hardlink") m.hardLinked = record;
      if (key == "fragmented") m.fragmented.push_back(record);
      if (key == "sparse") m.sparse = record;
      if (key == "stream") m.stream = record;
    }
  }
  return m.sectorSize != 0;
}

}  // namespace

int64_t NtfsTestVolume::RecordSector(uint64_t n) const {
  uint64_t byte = n * geometry.fileRecordSize;
  int64_t lcn = mftRuns.VcnToLcn(static_cast<int64_t>(byte / geometry.bytesPerCluster));
  if (lcn < 0) return -1;
  return static_cast<int64_t>((uint64_t(lcn) * geometry.bytesPerCluster + byte % geometry.bytesPerCluster) /
                              geometry.bytesPerSector);
}

std::vector<uint8_t> NtfsTestVolume::ReadRuns(const CNTFSRunList& runs, uint64_t byteOffset,
                                              size_t length) const {
  std::vector<uint8_t> out(length, 0);
  const uint32_t bpc = geometry.bytesPerCluster;
  for (size_t done = 0; done < length;) {
    uint64_t position = byteOffset + done;
    size_t inCluster = position % bpc;
    size_t n = std::min<size_t>(bpc - inCluster, length - done);
    int64_t lcn = runs.VcnToLcn(static_cast<int64_t>(position / bpc));
    if (lcn >= 0) {
      uint64_t at = uint64_t(lcn) * bpc + inCluster;
      if (at + n <= image.size()) std::copy_n(image.begin() + at, n, out.begin() + done);
    }
    done += n;
  }
  return out;
}

bool NtfsTestVolume::Load(const std::string& folder, std::string* why) {
  if (!ReadFile(folder + "/volume.img", image) || !ParseManifest(folder + "/manifest.txt", manifest)) {
    *why = "cannot read " + folder;
    return false;
  }
  if (!bootSector.SetDBR(image.data(), image.size()) || !bootSector.GetGeometry(geometry).IsValid()) {
    *why = "boot sector of " + folder + " not accepted";
    return false;
  }
  CNTFSFileRecordView mft(image.data() + geometry.mftByteOffset, geometry.fileRecordSize);
  if (!mft.IsValid() ||
      !GetDataRunListOfRecord(mft.GetBuffer(), mft.GetLength(), mftRuns, true, &mftDataSize)) {
    *why = "$MFT record of " + folder + " not readable";
    return false;
  }
  uint64_t count = uint64_t(mftDataSize) / geometry.fileRecordSize;
  records.reserve(count);
  for (uint64_t n = 0; n < count; ++n)
    records.push_back(ReadRuns(mftRuns, n * geometry.fileRecordSize, geometry.fileRecordSize));
  return true;
}

const NtfsTestVolume* GetNtfsTestVolume(const std::string& kind, std::string* why) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<NtfsTestVolume>> loaded;
  static std::map<std::string, std::string> failures;
  std::lock_guard<std::mutex> lock(mutex);
  if (auto it = loaded.find(kind); it != loaded.end()) return it->second.get();
  if (auto it = failures.find(kind); it != failures.end()) {
    *why = it->second;
    return nullptr;
  }
  std::string folder = corvale::test::FixtureImage("ntfs_records.sh", "ntfs_records", why);
  if (folder.empty()) {
    failures[kind] = *why;
    return nullptr;
  }
  auto volume = std::make_unique<NtfsTestVolume>();
  if (!volume->Load(folder + "/" + kind, why)) {
    failures[kind] = *why;
    return nullptr;
  }
  return (loaded[kind] = std::move(volume)).get();
}
