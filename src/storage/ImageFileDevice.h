#pragma once
// An uncompressed disk image read in 512-byte sectors. Opened read-only and read positionally, so
// two threads may read one image at once.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/RawIo.h"
#include "storage/IStorageDevice.h"

class CImageFileDevice : public IStorageDevice {
 public:
  static constexpr int32_t kSectorSize = 512;

  // Keeps the full path (an empty or null path is not kept) and, when one was given, opens it.
  explicit CImageFileDevice(const char* path);
  explicit CImageFileDevice(const std::string& path) : CImageFileDevice(path.c_str()) {}
  ~CImageFileDevice() override;
  CImageFileDevice(const CImageFileDevice&) = delete;
  CImageFileDevice& operator=(const CImageFileDevice&) = delete;

  // True only when exactly count × 512 bytes were read.
  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override;
  // The image size / 512; 0 when not open.
  int64_t GetSectorCount() override;
  int32_t GetSectorSize() override { return kSectorSize; }
  bool Open() override;
  bool Close() override;

  bool IsOpened() const { return m_raw != nullptr; }
  const std::string& GetPath() const { return m_path; }

 private:
  std::unique_ptr<platform::IRawDevice> m_raw;
  std::string m_path;
};
