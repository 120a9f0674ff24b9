#pragma once
// The one form of the numbers the windows show: sizes, times and file-system names, so that a size
// or a time reads the same in every window; and two questions about paths and volumes. None of them
// keeps state or reports an error.

#include <cstdint>
#include <string>

// "%.2f TB", "%.2f GB", "%.2f MB" or "%.2f KB" in steps of 1024; there is no byte unit, so every
// value under 1 MB and every negative value is given in KB (1023 bytes: "1.00 KB", -1: "-0.00 KB").
std::string FormatByteSize(int64_t bytes);

// The size of `sectors` sectors of `bytesPerSector` bytes; a sector size of 0 or one that is not a
// multiple of 512 counts as 512.
std::string FormatSectorSize(int64_t sectors, uint32_t bytesPerSector);

// A time stamp in 100-nanosecond units since 1 January 1601, as it was recorded (no conversion to
// local time), as "%d-%d-%d %d:%d:%d" without padding: 2009-3-7 9:5:0. Time stamps come from the
// scanned disks and can be anything: one beyond the range of such stamps (above 2^63 - 1) gives an
// empty text.
std::string FileTimeToText(uint64_t fileTime);

// "FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3", "RAW", "Unknown" for the file-system type codes
// 0 to 7; an empty text for any other code.
const char* GetFileSystemName(uint32_t fileSystemType);

// True when the file system holding `rootPath` is NTFS: mounted by the kernel's NTFS drivers, or
// through FUSE (ntfs-3g) from a device whose boot sector names NTFS. A null path, or one that is not
// on any mounted file system, gives false.
bool IsNTFSVolume(const char* rootPath);

// The root of the volume that holds `path`, ending in a separator:
// - "D:\" for "D:" and "D:\data\x";
// - "\\server\share\" for "\\server\share\dir", "\\server\" when only a server is named;
// - for an absolute path beginning with '/', the mount point of the file system holding it (or its
//   nearest existing folder), such as "/" or "/media/usb/";
// - empty for any other path.
// A null path, or one shorter than 2 or longer than 260 characters, is refused: false, and *root is
// left as it was. Otherwise true.
bool GetRootPathOfPath(const char* path, std::string* root);

// Orders two names as a person reads them: letters without regard to ASCII case, and runs of digits
// by their value, so that "d2" comes before "d10". Negative, 0 or positive like strcmp; names that
// differ only in case or in leading zeros still get a fixed order. A null name counts as empty.
int CompareNamesNaturally(const char* a, const char* b);
