#pragma once
// The name a partition's root node shows: the source volume's drive letter and label when known,
// the file-system name and the partition's number.

#include <cstddef>
#include <cstdint>
#include <string>

// A drive-letter byte that stands for "no letter".
inline constexpr uint8_t kNoDriveLetter = 255;
// Names are made for a 255-byte field, NUL included.
inline constexpr size_t kMaxPartitionDisplayName = 254;

// "D:(Data - NTFS 2)" with letter and label, "Data(NTFS 2)" with a label only, "D:(NTFS 2)" with a
// letter only, "NTFS 2" with neither. A letter byte of 0 is first changed to kNoDriveLetter in
// place (records made before a letter was known hold 0). The result is cut to
// kMaxPartitionDisplayName bytes, never inside a UTF-8 character.
std::string FormatPartitionDisplayName(const std::string& label, uint8_t& driveLetter,
                                       const char* fileSystemName, int32_t number);
