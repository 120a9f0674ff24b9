#pragma once
// What the device pages share about the disk images they list: running the create-image and
// open-image windows, opening an image's device for the list, the size of an image row's sectors,
// and taking images off the list by their running number.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CDeviceSelectCtrl;
class CImageFileDeviceWithDecompress;
class IStorageDevice;
class QWidget;

// An image the open-image window opened: its descriptor and what its header says of the source.
struct OpenedDiskImage {
  std::string path;
  std::string sourceName;
  int32_t sourceDiskNumber = 255;
  int64_t sectorCount = 0;  // 0 when the image's header could not be read
};

// Runs the create-image window for `source` (`sourceKind`: the disk number of a whole disk, 255 for
// a volume). The made image's descriptor when the user asked to list it; empty otherwise.
std::string RunCreateImageWizard(IStorageDevice* source, const std::string& displayName, int32_t sourceKind,
                                 QWidget* parent);

// Runs the open-image window; false when no image was opened. The image's source name and disk
// number are read from its header, through a device that is closed again before returning.
bool RunOpenImageWizard(QWidget* parent, OpenedDiskImage& opened);

// The image at `path` as a device for a list; null when its descriptor or chunk table does not
// check out, with the reason in `problem`.
std::unique_ptr<CImageFileDeviceWithDecompress> OpenListedImage(const std::string& path,
                                                                std::string& problem);

// True when `a` and `b` name the same file (the same path once `.`, `..` and links are resolved).
bool IsSameImagePath(const std::string& a, const std::string& b);

// The bytes per sector an image row shows: `value` when it lies in 1..4096 and is a multiple of
// 512, otherwise the row's default of 512.
uint32_t ImageRowSectorSize(int32_t value);

// Adds an image row: picture 4, `name`, `sectors` (none when not positive), the bytes per sector
// `ImageRowSectorSize` makes of `bytesPerSector`, `information` under the name, `record` as data.
void AddImageRow(CDeviceSelectCtrl* list, const std::string& name, int64_t sectors, int32_t bytesPerSector,
                 const std::string& information, void* record);

// Removes from `images` every entry whose running number (`numberOf(entry)`) is `number`, letting
// `forget(entry)` drop what points at it first. Returns how many went.
template <typename Images, typename NumberOf, typename Forget>
size_t EraseImagesNumbered(Images& images, int32_t number, NumberOf numberOf, Forget forget) {
  size_t erased = 0;
  for (auto it = images.begin(); it != images.end();) {
    if (*it && numberOf(**it) == number) {
      forget(**it);
      it = images.erase(it);
      ++erased;
    } else {
      ++it;
    }
  }
  return erased;
}
