#include "core/RawFilesFolder.h"

#include <mutex>

namespace {

std::mutex g_lock;
RawFilesFolderHooks g_hooks;

RawFilesFolderHooks Current() {
  std::lock_guard<std::mutex> guard(g_lock);
  return g_hooks;
}

}  // namespace

void RegisterRawFilesFolderHooks(const RawFilesFolderHooks& hooks) {
  std::lock_guard<std::mutex> guard(g_lock);
  g_hooks = hooks;
}

CFileSystemNode* BuildRawFilesFolderOver(IStorageDevice* device, CRawFileInfoList* files,
                                         IIsClusterUsed* usedClusters, IDIRBuildCallback* callback) {
  const RawFilesFolderHooks hooks = Current();
  if (hooks.buildFolder == nullptr || files == nullptr || device == nullptr) return nullptr;
  return hooks.buildFolder(device, files, usedClusters, callback);
}

const ISignatureResults* GetSignatureResults(const CRawFileInfoList* files) {
  const RawFilesFolderHooks hooks = Current();
  if (hooks.signatureResults == nullptr || files == nullptr) return nullptr;
  return hooks.signatureResults(files);
}
