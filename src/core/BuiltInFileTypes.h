#pragma once
// The file types the program knows without any signature script: ids 1 to 73, each with its
// extension (upper case, no dot, at most 5 characters). Id 0 is "Raw", a file of no recognised
// type. The ids are stored in state files and chosen by the user, so they never change.

#include <cstdint>

inline constexpr int32_t kRawFileTypeId = 0;
inline constexpr int32_t kFirstBuiltInFileType = 1;
inline constexpr int32_t kLastBuiltInFileType = 73;
inline constexpr int32_t kMaxFileTypeExtension = 5;

// The extension of a built-in type id (0 to 73); an empty text for any other id.
const char* GetBuiltInFileTypeExtension(int32_t id);
