#include "ntfs/AttributeDefinitions.h"

#include "storage/ByteReader.h"

const NTFSAttributeDefinition kNTFSAttributeDefinitions[15] = {
    {"$STANDARD_INFORMATION", 0x10, 0x40, 48, 72},
    {"$ATTRIBUTE_LIST", 0x20, 0x80, 0, -1},
    {"$FILE_NAME", 0x30, 0x42, 68, 578},
    {"$OBJECT_ID", 0x40, 0x40, 0, 256},
    {"$SECURITY_DESCRIPTOR", 0x50, 0x80, 0, -1},
    {"$VOLUME_NAME", 0x60, 0x40, 2, 256},
    {"$VOLUME_INFORMATION", 0x70, 0x40, 12, 12},
    {"$DATA", 0x80, 0, 0, -1},
    {"$INDEX_ROOT", 0x90, 0x40, 0, -1},
    {"$INDEX_ALLOCATION", 0xA0, 0x80, 0, -1},
    {"$BITMAP", 0xB0, 0x80, 0, -1},
    {"$REPARSE_POINT", 0xC0, 0x80, 0, 16384},
    {"$EA_INFORMATION", 0xD0, 0x40, 8, 8},
    {"$EA", 0xE0, 0, 0, 65536},
    {"$LOGGED_UTILITY_STREAM", 0x100, 0x80, 0, 65536},
};

std::vector<uint8_t> BuildAttributeDefinitionTable() {
  namespace ad = corvale::ntfs::attrdef;
  std::vector<uint8_t> table(ad::kTableSize, 0);
  size_t i = 0;
  for (const NTFSAttributeDefinition& d : kNTFSAttributeDefinitions) {
    uint8_t* entry = table.data() + i++ * ad::kEntrySize;
    for (size_t c = 0; d.name[c] != 0 && c < 64; ++c)
      entry[ad::kName + 2 * c] = static_cast<uint8_t>(d.name[c]);
    corvale::putLE(entry + ad::kType, d.type, 4);
    corvale::putLE(entry + ad::kFlags, d.flags, 4);
    corvale::putLE(entry + ad::kMinimumSize, static_cast<uint64_t>(d.minimumSize), 8);
    corvale::putLE(entry + ad::kMaximumSize, static_cast<uint64_t>(d.maximumSize), 8);
  }
  return table;
}
