#include "dialogs/DirectoryTreeBuilder.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <vector>

#include "core/FileNode.h"
#include "core/FileSystemEngine.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "storage/FileSystemCode.h"

namespace {

CDirectoryTreeBuilder::ShownHook& Hook() {
  static CDirectoryTreeBuilder::ShownHook hook;
  return hook;
}

// Disables the program's other windows for the life of the object, and enables again those it
// disabled.
class DisabledWindows {
 public:
  explicit DisabledWindows(const QWidget* except) {
    for (QWidget* window : QApplication::topLevelWidgets())
      if (window != except && window->isVisible() && window->isEnabled()) {
        window->setEnabled(false);
        m_windows.emplace_back(window);
      }
  }
  ~DisabledWindows() {
    for (const QPointer<QWidget>& window : m_windows)
      if (window) window->setEnabled(true);
  }

 private:
  std::vector<QPointer<QWidget>> m_windows;
};

}  // namespace

CDirectoryTreeBuilder::ShownHook CDirectoryTreeBuilder::SetShownHook(ShownHook hook) {
  ShownHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

CFileSystemNode* CDirectoryTreeBuilder::BuildDirectoryTree(int32_t fileSystemCode,
                                                           IStorageDevice* partition) {
  switch (fileSystemCode) {
    case kFileSystemNtfs:
      return BuildNTFSDirectoryTree(partition);
    case kFileSystemFat12:
    case kFileSystemFat16:
    case kFileSystemFat32:
      return BuildFATDirectoryTree(partition);
    case kFileSystemExt2:
    case kFileSystemExt3:
      return BuildExt2DirectoryTree(partition);
    default:
      m_cancelled = false;
      m_notice = 0;
      return nullptr;
  }
}

CFileSystemNode* CDirectoryTreeBuilder::BuildNTFSDirectoryTree(IStorageDevice* partition) {
  return Build(kEngineNtfs, partition);
}

CFileSystemNode* CDirectoryTreeBuilder::BuildFATDirectoryTree(IStorageDevice* partition) {
  return Build(kEngineFat, partition);
}

CFileSystemNode* CDirectoryTreeBuilder::BuildExt2DirectoryTree(IStorageDevice* partition) {
  return Build(kEngineExt2, partition);
}

CFileSystemNode* CDirectoryTreeBuilder::Build(int32_t engineKind, IStorageDevice* partition) {
  m_cancelled = false;
  m_notice = 0;
  const std::optional<FileSystemEngine> engine = FileSystemEngineOfKind(engineKind);
  if (!partition || !engine || !engine->buildTree) return nullptr;

  CBuildDirectoryDlg dialog(nullptr);
  CDIRBuildCallback callback(&dialog);
  CFileSystemNode* root = nullptr;
  {
    DisabledWindows disabled(&dialog);
    dialog.show();
    dialog.Refresh();
    if (Hook()) Hook()(dialog);
    dialog.RunJob([&] { root = engine->buildTree(*partition, 0, &callback); });
    // A cancel confirmed after the engine's last call still counts.
    m_cancelled = dialog.IsCancelled();
    dialog.hide();
  }
  if (m_cancelled && root) {
    FreeFileTree(root);
    root = nullptr;
  }
  if (!m_cancelled && engine->volumeNotice) m_notice = engine->volumeNotice(*partition, 0);
  return root;
}
