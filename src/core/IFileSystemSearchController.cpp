#include "core/IFileSystemSearchController.h"

const char* SearchControllerKindName(int32_t kind) {
  switch (kind) {
    case SEARCH_CONTROLLER_NTFS:
      return "NTFS";
    case SEARCH_CONTROLLER_FAT:
      return "FAT";
    case SEARCH_CONTROLLER_RAW:
      return "RAW";
    case SEARCH_CONTROLLER_EXT2:
      return "EXT2";
  }
  return "UNKNOWN";
}
