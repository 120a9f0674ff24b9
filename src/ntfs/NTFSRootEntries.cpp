#include "ntfs/NTFSRootEntries.h"

#include <string_view>

#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/NameConversion.h"
#include "core/PartitionDisplayName.h"
#include "core/StateIo.h"
#include "ntfs/NTFSFileProperties.h"
#include "platform/RecoveryContext.h"
#include "storage/FileSystemCode.h"

namespace {

constexpr size_t kMaxRootNameBytes = 99;
constexpr size_t kMaxLabelCharacters = 64;

// Characters (not bytes) of a UTF-8 text; a byte that starts no character counts as one.
size_t CountCharacters(std::string_view text) {
  size_t count = 0;
  for (size_t pos = 0; pos < text.size(); ++count) {
    char32_t c;
    const size_t used = corvale::DecodeUtf8(text, pos, &c);
    pos += used == 0 ? 1 : used;
  }
  return count;
}

}  // namespace

CNTFSFileProperties* CreateNTFSRootProperties(int32_t index, const char* /*label*/) {
  const CRecoveryContext& context = GetRecoveryContext();
  // The formatter changes a letter of 0 to "none" in place; the context is not its to change.
  uint8_t letter = context.SourceDriveLetter;
  const std::string name = FormatPartitionDisplayName(context.SourceVolumeName, letter, "NTFS", index + 1);
  auto* properties = CreateNTFSFileProperties();
  properties->SetName(corvale::CutUtf8(name.c_str(), kMaxRootNameBytes).c_str());
  properties->SetAttributes(kAttributeFolder);
  return properties;
}

CFileSystemNode* CreateNTFSRootNode(uint64_t start, uint32_t sectorsPerCluster, int32_t index,
                                    const char* label) {
  CFileSystemNode* node = CreateFileSystemNode();
  node->SetFileProperties(CreateNTFSRootProperties(index, label));
  node->SetPosition(start, sectorsPerCluster);
  node->SetFileSystemType(kFileSystemNtfs);
  if (label != nullptr) {
    const size_t characters = CountCharacters(label);
    if (characters >= 1 && characters <= kMaxLabelCharacters) node->SetName(label);
  }
  return node;
}
