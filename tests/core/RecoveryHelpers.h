#pragma once
// Trees to recover in tests: files with runs over a device of known bytes, the way an engine hands
// them over (runs packed and expanded again), plus a file whose engine supplies data the recovery
// cannot read itself, and a callback that records what it is told.

#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TreeHelpers.h"
#include "core/FileContentSource.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/IFileRecoverCallback.h"
#include "core/NTFSDataRunList.h"
#include "core/PackedRunList.h"

namespace recoverytest {

// Byte `i` of the test devices: varies from byte to byte and from sector to sector, so a piece read
// from the wrong place shows.
inline uint8_t PatternByte(uint64_t i) { return static_cast<uint8_t>((i * 2654435761u) >> 13 ^ (i >> 9)); }

inline std::vector<uint8_t> PatternBytes(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = PatternByte(i);
  return bytes;
}

struct Times {
  uint64_t creation = 0;
  uint64_t modification = 0;
  uint64_t access = 0;
};

class RecoveryProperties : public IFileProperties {
 public:
  RecoveryProperties(std::string name, uint64_t size, uint16_t attributes, std::vector<DataRun> runs,
                     int32_t code = kPropertiesNtfs)
      : m_name(std::move(name)), m_size(size), m_attributes(attributes), m_code(code) {
    if (!runs.empty()) {
      CNoneResidentNTFSDataRunList list;
      for (const DataRun& r : runs) list.AppendRun(r.start, r.length);
      m_packed = CreatePackedRunList(list);
    }
  }

  void SetTimes(const Times& t) { m_times = t; }
  // What GetUnrecoverableReason answers (0: the file may be recovered).
  uint32_t unrecoverable = 0;
  void MakeResident(uint64_t recordSector, uint32_t offset) {
    CResidentNTFSDataRunList list;
    list.SetRun(recordSector, 1, offset);
    m_packed = CreatePackedRunList(list);
  }

  uint16_t GetNameLength() const override { return static_cast<uint16_t>(m_name.size()); }
  void SetName(const char* text) override { m_name = text; }
  const char* GetName() const override { return m_name.c_str(); }
  uint64_t GetSize() const override { return m_size; }
  uint16_t GetAttributes() const override { return m_attributes; }
  std::string GetExtraText() const override { return {}; }
  uint64_t GetCreationTime() const override { return m_times.creation; }
  uint64_t GetTime2() const override { return m_times.modification; }
  uint64_t GetTime3() const override { return m_times.access; }
  uint16_t GetTypeWord() const override { return 0; }
  uint8_t GetCheckState() const override { return m_check; }
  void SetCheckState(uint8_t state) override { m_check = state; }
  std::unique_ptr<IDataRunList> CreateDataRunList() const override {
    return m_packed ? m_packed->CreateDataRunList() : nullptr;
  }
  uint32_t GetValidMask() const override { return 255; }
  uint8_t GetFlagByte() const override { return 0; }
  uint8_t SetFlagByte(uint8_t) override { return 0; }
  bool Save(IRSData&) const override { return false; }
  int32_t GetPersistenceCode() const override { return m_code; }
  bool Load(IRSData&) override { return false; }
  uint32_t GetUnrecoverableReason() const override { return unrecoverable; }

 private:
  std::string m_name;
  uint64_t m_size;
  uint16_t m_attributes;
  int32_t m_code;
  Times m_times;
  uint8_t m_check = 0;
  std::unique_ptr<PackedRunList> m_packed;
};

// A file whose engine supplies resident data, an encryption key stream and unit expansion.
class SourceProperties : public RecoveryProperties, public IFileContentSource {
 public:
  using RecoveryProperties::RecoveryProperties;

  std::vector<uint8_t> resident;
  std::vector<uint8_t> efs;
  bool hasEfs = false;
  // Expands a unit; by default every output byte is the stored byte count's low byte, which a test
  // can tell apart from the stored bytes themselves.
  std::function<bool(const uint8_t*, size_t, uint8_t*, size_t)> decompress;
  std::vector<size_t> unitInputSizes;

  bool ReadResidentData(CFileNode*, IStorageDevice*, uint8_t* buffer, uint32_t capacity,
                        uint32_t* outSize) override {
    if (resident.size() > capacity) return false;
    std::memcpy(buffer, resident.data(), resident.size());
    *outSize = static_cast<uint32_t>(resident.size());
    return true;
  }
  bool ReadEfsStream(CFileNode*, IStorageDevice*, uint8_t* buffer, uint32_t capacity,
                     uint32_t* outSize) override {
    if (!hasEfs || efs.size() > capacity) return false;
    std::memcpy(buffer, efs.data(), efs.size());
    *outSize = static_cast<uint32_t>(efs.size());
    return true;
  }
  bool DecompressUnit(const uint8_t* input, size_t inputSize, uint8_t* output, size_t outputSize) override {
    unitInputSizes.push_back(inputSize);
    if (decompress) return decompress(input, inputSize, output, outputSize);
    std::memset(output, static_cast<int>(inputSize & 0xFF), outputSize);
    return true;
  }
};

inline CFileNode* AddNode(CFileNode* parent, IFileProperties* properties) {
  CFileNode* n = CreateFileNode();
  n->SetFileProperties(properties);
  return parent->AddChild(n);
}

inline CFileNode* AddFile(CFileNode* parent, const std::string& name, uint64_t size,
                          std::vector<DataRun> runs, uint16_t attributes = 0x20,
                          int32_t code = kPropertiesNtfs) {
  return AddNode(parent, new RecoveryProperties(name, size, attributes, std::move(runs), code));
}

inline CFileNode* AddFolder(CFileNode* parent, const std::string& name) {
  return AddNode(parent, new RecoveryProperties(name, 0, kAttributeFolder, {}));
}

// Ticks the node and everything below it.
inline void CheckAll(CFileNode* node) {
  WalkSubtree(node, [](CFileNode* n) { n->GetFileProperties()->SetCheckState(kChecked); });
}

struct TreeOwner {
  CFileNode* root = nullptr;
  ~TreeOwner() { FreeFileTree(root); }
};

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Every regular file below `folder`, as paths relative to it, sorted.
inline std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    if (e.is_regular_file()) out.push_back(std::filesystem::relative(e.path(), folder).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Records every call; answers -1 once `cancelAfterBytes` bytes have been reported (never when 0).
class RecordingCallback : public IFileRecoverCallback {
 public:
  void Begin(int32_t, uint64_t) override {}
  int32_t AddFiles(int32_t n) override {
    files += n;
    return Answer();
  }
  int32_t AddBytes(uint64_t n) override {
    bytes += n;
    ++byteCalls;
    return Answer();
  }
  int32_t SubtractBytes(uint32_t n) override {
    subtracted += n;
    return Answer();
  }
  int32_t SetCurrentFile(const char* name) override {
    std::lock_guard<std::mutex> lock(mutex);
    names.push_back(name);
    return Answer();
  }
  int32_t Poll() override { return Answer(); }

  uint64_t cancelAfterBytes = 0;
  std::atomic<int32_t> files{0};
  std::atomic<uint64_t> bytes{0};
  std::atomic<uint64_t> byteCalls{0};
  std::atomic<uint64_t> subtracted{0};
  std::mutex mutex;
  std::vector<std::string> names;

 private:
  int32_t Answer() const { return cancelAfterBytes != 0 && bytes >= cancelAfterBytes ? -1 : 0; }
};

}  // namespace recoverytest
