#include "raw/RawEngine.h"

#include "core/FileNode.h"
#include "core/RawFilesFolder.h"
#include "raw/RAWFileProperties.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFilesFolderBuilder.h"

namespace {

// The file-system builds run in their own worker already: the folder is built in their thread.
CFileSystemNode* BuildFolder(IStorageDevice* device, CRawFileInfoList* files, IIsClusterUsed* usedClusters,
                             IDIRBuildCallback* callback) {
  CRawFilesFolderBuilder builder;
  CFileSystemNode* root =
      builder.BuildRawFilesFolder(device, files->GetIterator(), usedClusters, callback, 0);
  // A partition with no carved file of its own gets no empty folder.
  if (root != nullptr && root->GetFirstChild() == nullptr) {
    FreeFileTree(root);
    return nullptr;
  }
  return root;
}

// The list answers by start sector itself, so the answer lives as long as the list.
const ISignatureResults* SignatureResults(const CRawFileInfoList* files) { return files; }

}  // namespace

bool RegisterRAWEngine() {
  const bool properties = RegisterRAWFileProperties();
  RawFilesFolderHooks hooks;
  hooks.buildFolder = &BuildFolder;
  hooks.signatureResults = &SignatureResults;
  RegisterRawFilesFolderHooks(hooks);
  return properties;
}

namespace {

// Runs while the program starts, in every program that links the engine.
[[maybe_unused]] const bool kRegistered = RegisterRAWEngine();

}  // namespace
