#include "core/SourceRecords.h"

#include <cstring>

#include "core/StateIo.h"

namespace {

void Put32(uint8_t* out, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint8_t* out, size_t offset, uint64_t v) {
  for (int i = 0; i < 8; ++i) out[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* in, size_t offset) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t{in[offset + i]} << (8 * i);
  return v;
}
uint64_t Get64(const uint8_t* in, size_t offset) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= uint64_t{in[offset + i]} << (8 * i);
  return v;
}
int32_t GetI32(const uint8_t* in, size_t offset) { return static_cast<int32_t>(Get32(in, offset)); }

// A text into a field of `size` bytes, cut so that its terminator fits.
void PutText(uint8_t* out, size_t offset, size_t size, const std::string& text) {
  const std::string cut = corvale::CutUtf8(text.c_str(), size - 1);
  std::memcpy(out + offset, cut.data(), cut.size());
}
// A text field up to its terminator, or all of it when a stored field has none.
std::string GetText(const uint8_t* in, size_t offset, size_t size) {
  const char* p = reinterpret_cast<const char*>(in + offset);
  return std::string(p, strnlen(p, size));
}

namespace disk {
constexpr size_t kKind = 0, kDevice = 4, kNumber = 8, kUsb = 12, kDeviceAgain = 16, kText = 20;
constexpr size_t kImageRunning = 12, kImageName = 16, kImageSectors = 276, kImagePath = 284;
constexpr size_t kImageSource = 544;
}  // namespace disk

namespace volume {
constexpr size_t kKind = 0, kDevice = 4, kVolumeKind = 8, kFileSystem = 12, kLetter = 16, kLabel = 17;
constexpr size_t kFloppy = 117, kUsb = 121, kExtents = 125, kExtentSize = 20, kParentText = 765;
constexpr size_t kImageRunning = 8, kImageName = 12, kImageSectors = 272, kImagePath = 280;
constexpr size_t kImageFileSystem = 540;
}  // namespace volume

static_assert(volume::kExtents + VolumeRecord::kMaxExtents * volume::kExtentSize == volume::kParentText);
static_assert(volume::kParentText + VolumeRecord::kParentTextSize == VolumeRecord::kSize);
static_assert(volume::kImageFileSystem + 4 <= VolumeRecord::kSize);
static_assert(disk::kImagePath + DiskRecord::kTextSize == disk::kImageSource);
static_assert(disk::kImageSource + 4 == DiskRecord::kSize);

}  // namespace

void DiskRecord::Write(uint8_t* out) const {
  std::memset(out, 0, kSize);
  using namespace disk;
  Put32(out, kKind, static_cast<uint32_t>(Kind));
  Put32(out, kDevice, Device != nullptr ? 1 : 0);
  Put32(out, kNumber, static_cast<uint32_t>(DiskNumber));
  if (Kind == kSourceKindImage) {
    Put32(out, kImageRunning, static_cast<uint32_t>(RunningNumber));
    PutText(out, kImageName, kTextSize, DisplayText);
    Put64(out, kImageSectors, static_cast<uint64_t>(SectorCount));
    PutText(out, kImagePath, kTextSize, ImagePath);
  } else {
    Put32(out, kUsb, static_cast<uint32_t>(IsUsb));
    Put32(out, kDeviceAgain, Device != nullptr ? 1 : 0);
    PutText(out, kText, kTextSize, DisplayText);
  }
  Put32(out, kImageSource, static_cast<uint32_t>(IsImageSource));
}

DiskRecord DiskRecord::Read(const uint8_t* in, StoredSlots* slots) {
  using namespace disk;
  DiskRecord r;
  r.Kind = GetI32(in, kKind);
  r.DiskNumber = GetI32(in, kNumber);
  if (r.Kind == kSourceKindImage) {
    r.RunningNumber = GetI32(in, kImageRunning);
    r.DisplayText = GetText(in, kImageName, kTextSize);
    r.SectorCount = static_cast<int64_t>(Get64(in, kImageSectors));
    r.ImagePath = GetText(in, kImagePath, kTextSize);
  } else {
    r.IsUsb = GetI32(in, kUsb);
    r.DisplayText = GetText(in, kText, kTextSize);
  }
  r.IsImageSource = GetI32(in, kImageSource);
  if (slots != nullptr) *slots = StoredSlots{Get32(in, kDevice) != 0, 0};
  return r;
}

size_t VolumeRecord::ExtentCount() const {
  size_t n = 0;
  while (n < kMaxExtents && Extents[n].Disk != nullptr) ++n;
  return n;
}

void VolumeRecord::Write(uint8_t* out) const {
  std::memset(out, 0, kSize);
  using namespace volume;
  Put32(out, kKind, static_cast<uint32_t>(Kind));
  Put32(out, kDevice, Device != nullptr ? 1 : 0);
  if (Kind == kSourceKindImage) {
    Put32(out, kImageRunning, static_cast<uint32_t>(RunningNumber));
    PutText(out, kImageName, kImageTextSize, DisplayName);
    Put64(out, kImageSectors, static_cast<uint64_t>(SectorCount));
    PutText(out, kImagePath, kImageTextSize, ImagePath);
    Put32(out, kImageFileSystem, static_cast<uint32_t>(FileSystemTypeCode));
    return;
  }
  Put32(out, kVolumeKind, static_cast<uint32_t>(VolumeKind));
  Put32(out, kFileSystem, static_cast<uint32_t>(FileSystemTypeCode));
  out[kLetter] = static_cast<uint8_t>(DriveLetter);
  PutText(out, kLabel, kLabelSize, VolumeName);
  Put32(out, kFloppy, static_cast<uint32_t>(IsFloppy));
  Put32(out, kUsb, static_cast<uint32_t>(IsUsb));
  // Only the extents in use are stored: a later slot behind an empty one is not part of the volume.
  const size_t used = ExtentCount();
  for (size_t i = 0; i < used; ++i) {
    const size_t at = kExtents + i * kExtentSize;
    Put64(out, at, static_cast<uint64_t>(Extents[i].FirstSector));
    Put64(out, at + 8, static_cast<uint64_t>(Extents[i].SectorCount));
    Put32(out, at + 16, 1);
  }
  PutText(out, kParentText, kParentTextSize, ParentDiskText);
}

VolumeRecord VolumeRecord::Read(const uint8_t* in, StoredSlots* slots) {
  using namespace volume;
  VolumeRecord r;
  StoredSlots stored{Get32(in, kDevice) != 0, 0};
  r.Kind = GetI32(in, kKind);
  if (r.Kind == kSourceKindImage) {
    r.RunningNumber = GetI32(in, kImageRunning);
    r.DisplayName = GetText(in, kImageName, kImageTextSize);
    r.SectorCount = static_cast<int64_t>(Get64(in, kImageSectors));
    r.ImagePath = GetText(in, kImagePath, kImageTextSize);
    r.FileSystemTypeCode = GetI32(in, kImageFileSystem);
  } else {
    r.VolumeKind = GetI32(in, kVolumeKind);
    r.FileSystemTypeCode = GetI32(in, kFileSystem);
    r.DriveLetter = static_cast<char>(in[kLetter]);
    r.VolumeName = GetText(in, kLabel, kLabelSize);
    r.IsFloppy = GetI32(in, kFloppy);
    r.IsUsb = GetI32(in, kUsb);
    for (size_t i = 0; i < kMaxExtents; ++i) {
      const size_t at = kExtents + i * kExtentSize;
      if (Get32(in, at + 16) == 0) break;
      r.Extents[i].FirstSector = static_cast<int64_t>(Get64(in, at));
      r.Extents[i].SectorCount = static_cast<int64_t>(Get64(in, at + 8));
      ++stored.ExtentsWithDisk;
    }
    r.ParentDiskText = GetText(in, kParentText, kParentTextSize);
  }
  if (slots != nullptr) *slots = stored;
  return r;
}
