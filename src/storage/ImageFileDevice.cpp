#include "storage/ImageFileDevice.h"

#include <algorithm>
#include <cstring>

#include "storage/CheckedMath.h"
#include "storage/DeviceOpen.h"

CImageFileDevice::CImageFileDevice(const char* path) {
  if (path && *path) {
    m_path = path;
    Open();
  }
}

CImageFileDevice::~CImageFileDevice() = default;

bool CImageFileDevice::Open() {
  if (m_path.empty()) return false;
  m_raw.reset();
  m_raw = corvale::OpenSourceReadOnly(m_path);
  return m_raw != nullptr;
}

bool CImageFileDevice::Close() {
  m_raw.reset();
  return true;
}

int64_t CImageFileDevice::GetSectorCount() {
  uint64_t bytes = 0;
  if (!m_raw || !m_raw->QueryLengthBytes(&bytes)) return 0;
  return static_cast<int64_t>(std::min<uint64_t>(bytes / kSectorSize, INT64_MAX));
}

bool CImageFileDevice::ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) {
  if (!m_raw) return false;
  const auto bytes = corvale::checkedMul(count, kSectorSize);
  const auto offset = corvale::checkedMul(firstSector, kSectorSize);
  if (!bytes || !offset || *bytes > SIZE_MAX) return false;
  const int64_t got = m_raw->ReadAt(buffer, static_cast<size_t>(*bytes), *offset);
  if (got < 0) return false;
  // A read that the image ends inside leaves no older data in the caller's buffer.
  if (static_cast<uint64_t>(got) < *bytes)
    std::memset(static_cast<uint8_t*>(buffer) + got, 0,
                static_cast<size_t>(*bytes - static_cast<uint64_t>(got)));
  return static_cast<uint64_t>(got) / kSectorSize == count;
}
