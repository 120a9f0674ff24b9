#pragma once
// The whole-device search of format recovery, also run by partition recovery's full scan: every
// file-system search controller the recovery options ask for looks at the whole device block by
// block, all of them adding the files they find by signature to one list, under the intelligent-
// search window; then the found partitions are weighed, sorted and a layout is chosen. When no
// partition is found, the files found by signature alone can be shown as a "Raw Files" tree.
//
// Both run on the window thread, which stays in the progress window's event loop while the engine
// works on the window's worker.

#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

#include "core/IFileSystemSearchController.h"
#include "core/StateSections.h"

class CFileSystemNode;
class CIntelligentSearchingDlg;
class CBuildDirectoryDlg;
class CRawFileInfoList;
class IStorageDevice;
class QWidget;

// Disables the program's visible windows but `except` for its life, and enables again those it
// disabled: the build windows are modeless, so the rest of the program waits this way.
class ProgramWindowsDisabled {
 public:
  explicit ProgramWindowsDisabled(const QWidget* except);
  ~ProgramWindowsDisabled();
  ProgramWindowsDisabled(const ProgramWindowsDisabled&) = delete;
  ProgramWindowsDisabled& operator=(const ProgramWindowsDisabled&) = delete;

 private:
  std::vector<QPointer<QWidget>> m_windows;
};

// What one whole-device search produced. The controllers, the found partitions and the list of
// files found by signature belong together: the controllers build the found partitions' trees from
// that list, so they are handed on (or freed) as a whole.
struct WholeDeviceSearchOutcome {
  SearchControllerList controllers;
  SearchedPartitionInfoList found;
  std::unique_ptr<CRawFileInfoList> rawFiles;
  // The user stopped the search; what was found up to then is kept all the same.
  bool cancelled = false;
  // The search ran; false when its worker could not be started (then nothing was searched).
  bool searched = false;

  WholeDeviceSearchOutcome();
  ~WholeDeviceSearchOutcome();
  WholeDeviceSearchOutcome(WholeDeviceSearchOutcome&&) noexcept;
  WholeDeviceSearchOutcome& operator=(WholeDeviceSearchOutcome&&) noexcept;

  // Frees the found partitions, then the controllers, then the file list.
  void Clear();
  // The controllers as the search services take them (not owned).
  std::vector<IFileSystemSearchController*> ControllerPointers() const;
};

// A new search controller of saved kind `kind` (FileSystemSearchControllerKind), or null for a
// kind no controller has. Restoring a saved scan makes its controllers with this.
std::unique_ptr<IFileSystemSearchController> MakeSearchControllerOfKind(int32_t kind);

// The controllers the recovery context's options ask for, in search order: FAT, NTFS and EXT2
// unless only RAW files are wanted, then RAW when RAW files are recovered. May be empty.
SearchControllerList MakeWholeDeviceSearchControllers();

// Searches `device` (not owned; null gives an empty outcome) with the controllers of
// MakeWholeDeviceSearchControllers, all sharing one new list of files found by signature, under a
// modal intelligent-search window owned by `parent`, and collects the found partitions (weighed,
// sorted, a layout chosen for the device's size). Returns when the search has ended, completed or
// cancelled.
WholeDeviceSearchOutcome RunWholeDeviceSearch(IStorageDevice* device, QWidget* parent);

// The tree shown when a search found no partition: a new root ("Root") holding the "Raw Files"
// folder built from the outcome's files found by signature on `device`, under the directory-build
// window (shown over `owner`, which may be null) with the program's windows disabled. The outcome's
// controllers and file list are freed either way. Returns the root (the caller owns it; free it with
// FreeFileTree) when it holds at least one file. Otherwise null: after a cancel without a word, else after
// "No files found!".
CFileSystemNode* BuildRawFilesTree(WholeDeviceSearchOutcome& outcome, IStorageDevice* device, QWidget* owner);

// Called on the window thread with the search window just before its search starts, and with the
// build window of the trees made from a search's results (the "Raw Files" tree, the found
// partitions' trees) once it is shown, before the build starts. Tests act on the windows here.
// Each returns the previous hook.
using WholeDeviceSearchHook = std::function<void(CIntelligentSearchingDlg& dialog)>;
WholeDeviceSearchHook SetWholeDeviceSearchHook(WholeDeviceSearchHook hook);
using SearchBuildHook = std::function<void(CBuildDirectoryDlg& dialog)>;
SearchBuildHook SetSearchBuildHook(SearchBuildHook hook);
// Runs the build hook, when one is set, on `dialog`.
void NotifySearchBuildShown(CBuildDirectoryDlg& dialog);
