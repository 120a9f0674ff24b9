#include "wizard/controller/WholeDeviceSearch.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <string>

#include "core/DIRBuildCallback.h"
#include "core/FileNode.h"
#include "core/IntelligentSearchController.h"
#include "core/SearchedPartitionInfo.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "dialogs/IntelligentSearchingDlg.h"
#include "ext2/EXT2SearchController.h"
#include "fat/FATSearchController.h"
#include "ntfs/NTFSSearchController.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFilesFolderBuilder.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "ui/RunReport.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"

namespace {

WholeDeviceSearchHook& SearchHook() {
  static WholeDeviceSearchHook hook;
  return hook;
}

SearchBuildHook& BuildHook() {
  static SearchBuildHook hook;
  return hook;
}

}  // namespace

ProgramWindowsDisabled::ProgramWindowsDisabled(const QWidget* except) {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window != except && window->isVisible() && window->isEnabled()) {
      window->setEnabled(false);
      m_windows.emplace_back(window);
    }
}

ProgramWindowsDisabled::~ProgramWindowsDisabled() {
  for (const QPointer<QWidget>& window : m_windows)
    if (window) window->setEnabled(true);
}

WholeDeviceSearchOutcome::WholeDeviceSearchOutcome() = default;
WholeDeviceSearchOutcome::~WholeDeviceSearchOutcome() { Clear(); }

void WholeDeviceSearchOutcome::Clear() {
  // The found partitions go before the controllers that found them, the controllers before the
  // list they add to.
  found.clear();
  controllers.clear();
  rawFiles.reset();
}
WholeDeviceSearchOutcome::WholeDeviceSearchOutcome(WholeDeviceSearchOutcome&&) noexcept = default;
WholeDeviceSearchOutcome& WholeDeviceSearchOutcome::operator=(WholeDeviceSearchOutcome&&) noexcept = default;

std::vector<IFileSystemSearchController*> WholeDeviceSearchOutcome::ControllerPointers() const {
  std::vector<IFileSystemSearchController*> list;
  for (const auto& controller : controllers) list.push_back(controller.get());
  return list;
}

WholeDeviceSearchHook SetWholeDeviceSearchHook(WholeDeviceSearchHook hook) {
  WholeDeviceSearchHook previous = std::move(SearchHook());
  SearchHook() = std::move(hook);
  return previous;
}

SearchBuildHook SetSearchBuildHook(SearchBuildHook hook) {
  SearchBuildHook previous = std::move(BuildHook());
  BuildHook() = std::move(hook);
  return previous;
}

void NotifySearchBuildShown(CBuildDirectoryDlg& dialog) {
  if (BuildHook()) BuildHook()(dialog);
}

std::unique_ptr<IFileSystemSearchController> MakeSearchControllerOfKind(int32_t kind) {
  switch (kind) {
    case SEARCH_CONTROLLER_NTFS:
      return std::make_unique<CNTFSSearchController>();
    case SEARCH_CONTROLLER_FAT:
      return std::make_unique<CFATSearchController>();
    case SEARCH_CONTROLLER_RAW:
      return std::make_unique<CRAWSearchController>();
    case SEARCH_CONTROLLER_EXT2:
      return std::make_unique<CEXT2SearchController>();
    default:
      return nullptr;
  }
}

SearchControllerList MakeWholeDeviceSearchControllers() {
  const CRecoveryContext& context = GetRecoveryContext();
  SearchControllerList controllers;
  if (!context.RawFilesOnly) {
    controllers.push_back(MakeSearchControllerOfKind(SEARCH_CONTROLLER_FAT));
    controllers.push_back(MakeSearchControllerOfKind(SEARCH_CONTROLLER_NTFS));
    controllers.push_back(MakeSearchControllerOfKind(SEARCH_CONTROLLER_EXT2));
  }
  if (context.RecoverRawFiles) controllers.push_back(MakeSearchControllerOfKind(SEARCH_CONTROLLER_RAW));
  return controllers;
}

WholeDeviceSearchOutcome RunWholeDeviceSearch(IStorageDevice* device, QWidget* parent) {
  WholeDeviceSearchOutcome outcome;
  outcome.rawFiles = std::make_unique<CRawFileInfoList>();
  if (!device) return outcome;
  outcome.controllers = MakeWholeDeviceSearchControllers();
  const std::vector<IFileSystemSearchController*> controllers = outcome.ControllerPointers();
  SetResultSinkForAllControllers(controllers, outcome.rawFiles.get());

  {
    CIntelligentSearchController driver;
    driver.SetStorageDevice(device);
    for (IFileSystemSearchController* controller : controllers)
      driver.AddFileSystemSearchController(controller);
    CIntelligentSearchingDlg dialog(parent);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (SearchHook()) SearchHook()(dialog);
    // A worker that cannot be started leaves the window closed again at once: nothing was searched.
    outcome.searched = dialog.RunSearch(driver) == 1;
    outcome.cancelled = dialog.IsCancelled();
  }
  if (!outcome.searched) LogError("the whole-device search could not be started");
  outcome.found = CollectSearchedPartitions(controllers, device->GetSectorCount());
  return outcome;
}

CFileSystemNode* BuildRawFilesTree(WholeDeviceSearchOutcome& outcome, IStorageDevice* device,
                                   QWidget* owner) {
  const std::string caption = GetProductTitle();
  CFileSystemNode* root = CreateRootNode();
  if (!root) {
    outcome.Clear();
    return nullptr;
  }

  CFileSystemNode* folder = nullptr;
  bool cancelled = false;
  if (device && outcome.rawFiles) {
    // No parent: the build window must stay usable while the program's windows are disabled. It is
    // shown over its owner instead.
    CBuildDirectoryDlg dialog(nullptr);
    if (owner) dialog.move(owner->frameGeometry().center() - dialog.rect().center());
    CDIRBuildCallback callback(&dialog);
    {
      ProgramWindowsDisabled disabled(&dialog);
      dialog.show();
      dialog.Refresh();
      NotifySearchBuildShown(dialog);
      // The folder is built on the window's worker while this thread stays in its event loop.
      CRawFilesFolderBuilder builder;
      dialog.RunJob([&] {
        folder = builder.BuildRawFilesFolder(device, outcome.rawFiles->GetIterator(), nullptr, &callback, 0);
      });
      // A cancel confirmed after the builder's last call still counts.
      cancelled = dialog.IsCancelled();
      dialog.hide();
    }
  }
  // The controllers and the list are not needed once the folder holds what it found.
  outcome.Clear();

  if (folder) root->AddChild(folder);
  root->RecountSummary();
  SelectionSummary summary;
  root->GetSummary(summary);
  if (cancelled) {
    LogRecoveryStatus(kStatusUserAbort);
    FreeFileTree(root);
    return nullptr;
  }
  if (summary.files < 1) {
    LogRecoveryStatus(kStatusNoRawFiles);
    FreeFileTree(root);
    corvale::ui::ShowMessageBox(corvale::ui::StringOrUtf8(61248, "No files found!"), caption);
    return nullptr;
  }
  return root;
}
