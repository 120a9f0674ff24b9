#pragma once
// Page 6, the target-folder page, shown inside the modal target-folder window rather than in the
// sheet: the user types the folder that receives the recovered files or picks it in the folder
// tree, and a pie shows the target disk's free space against what the recovery needs. The save
// controller (controller/SaveFileController.h) validates the folder and runs the recovery.
//
// The pie follows the folder as it is typed (a moment after the typing stops) or chosen in the
// tree, and a legend beside it names its parts with their sizes: the free space of the folder's
// file system, the space the recovery needs, and the space already used there. While no folder is
// given the pie is empty, since the target's disk is not known.

#include <QFont>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "wizard/WizardPage.h"

class CEditPlus;
class QDialog;
class QLabel;
class CPieCtrl;
class CShellTreeCtrl;
class ISaveFileController;

// The space of the file system that holds `path` (or, for a folder that does not exist yet, its
// nearest existing folder), in bytes. All 0 when it cannot be read.
struct TargetDiskSpace {
  uint64_t freeToCaller = 0;  // what an unprivileged user may still use
  uint64_t total = 0;
  uint64_t free = 0;
};
TargetDiskSpace QueryTargetDiskSpace(const std::string& path);

// How the modal windows of the save step (target folder and result) are run: exec() unless
// another runner is installed (tests drive the windows through one). Returns the previous runner.
using SaveDialogRunner = std::function<int(QDialog& dialog)>;
SaveDialogRunner SetSaveDialogRunner(SaveDialogRunner runner);
int RunSaveDialog(QDialog& dialog);

class CSaveFilePage : public CWizardPage {
  Q_OBJECT

 public:
  static constexpr int kEditId = 1019;
  static constexpr int kHelpTopic = 25;
  static inline const QColor kBackground{240, 240, 240};
  // How long after the last key the typed folder is looked at.
  static constexpr int kTypingPauseMs = 300;
  // The legend's lines, in the pie's order.
  enum LegendLine { kLegendFree, kLegendNeeded, kLegendUsed };

  explicit CSaveFilePage(QWidget* parent = nullptr);

  void SetController(ISaveFileController* controller);
  IWizardPageController* GetController() override;
  int GetHelpContextId(int language) override;
  void Draw(QPainter* dc) override;

  // The size and number of the files to recover, for the selection line and the pie.
  void SetRecoveryTotals(uint64_t requiredSize, int fileCount);
  // The folder in the edit box, trailing white space removed.
  std::string GetTargetFolder();
  // Empties the folder, the free-space figures and the folder tree.
  void ResetTargetFolder();
  // True when the target's free space holds the required size; otherwise says so and is false.
  bool HasEnoughSpace();
  // Reads the target's free space again and gives it to the pie.
  void RefreshFreeSpace();
  // A folder chosen in the tree: it becomes the target.
  void OnFolderChosen(const QString& path);
  // The folder typed into the edit box: its free space, once the typing has paused.
  void OnFolderTyped();

  // The results of the last run, through the controller.
  int GetFileCount();
  int GetRecoveredFileCount();
  std::string GetResultString(int i);
  int GetResultStringCount();
  bool WasRecoveryCancelled();

  // The selection line: "You select <size> in <n> file(s).".
  QString SelectionLine() const;
  // A line of the pie's legend as shown: "Free: 1.00 GB"; the free and used sizes are "-" while
  // the target's disk is not known.
  QString LegendText(LegendLine line) const;
  const TargetDiskSpace& Space() const { return m_space; }
  CEditPlus* Edit() const { return m_edit; }
  CShellTreeCtrl* Tree() const { return m_tree; }
  CPieCtrl* Pie() const { return m_pie; }

  // Shows the page in the modal target-folder window over `owner`; when the folder is accepted
  // there, the controller's Next runs the recovery.
  void RunInDialog(QWidget* owner);

 private:
  ISaveFileController* m_controller = nullptr;
  CEditPlus* m_edit = nullptr;
  CShellTreeCtrl* m_tree = nullptr;
  CPieCtrl* m_pie = nullptr;
  QLabel* m_selectionLabel = nullptr;
  std::array<QLabel*, 3> m_legend{};
  // Restarted by every change of the typed folder; the folder is looked at when it runs out.
  QTimer m_typing;
  std::string m_target;
  TargetDiskSpace m_space;
  uint64_t m_required = 0;
  int m_fileCount = 0;
  QFont m_font;
};
