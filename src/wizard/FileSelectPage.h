#pragma once
// The file page (page 9): the found files of a recovery as a folder tree beside a file list, with
// three-state ticks and the totals of what was found and what is ticked. From here the user
// previews a file, saves one file at once, or exports the scan result as a bundle (".rsf"); Next
// (the sheet's Recover button) goes through the controller to the save step.
//
// Where the user reaches each command: the tool row above the tabs holds Search File (find by
// name), File Preview, Advanced Search (the search by criteria) and Export Result; a right click on
// a file offers Preview, Recovery, Properties (and, in the result tab, Locate in the main list) and
// the tool row's page-wide commands; a right click on a folder or a volume in the tree offers its
// Properties; Alt+Enter shows the properties of what has the focus.
//
// The page owns the found tree it is given (SetFileTree) and frees it when another comes, when the
// controller cleans up, and when the page goes away.

#include <QFont>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "wizard/WizardPage.h"

class CButtonPlus;
class CFileListCtrl;
class CFileNode;
class CFileSelectCtrlContainer;
class CFileTreeCtrl;
class CTabCtrlPlus;
class IFileSelectController;

class QDialog;

class CFileSelectPage : public CWizardPage {
  Q_OBJECT

 public:
  static constexpr int kHelpTopic = 23;
  static constexpr int kCommandSearch = 1171;
  static constexpr int kCommandSearchFiles = 1172;
  static constexpr int kCommandPreview = 1173;
  static constexpr int kCommandExport = 1195;
  static constexpr int kCommandTicksChanged = 2024;
  static constexpr int kCommandTabChanged = 2025;
  static constexpr int kCommandListPreview = 5002;
  static constexpr int kCommandRecoverFile = 5003;
  static constexpr int kCommandLocate = 5004;
  // The properties of the selected file of the current list, and of the tree's current folder.
  static constexpr int kCommandFileProperties = 5001;
  static constexpr int kCommandFolderProperties = 32776;
  // Largest file that is previewed.
  static constexpr uint64_t kMaxPreviewSize = 104857600;

  // Asks the user for a path to save to: the suggested name and a filter of the form
  // "Description (*.ext)|*.ext|...". Empty for Cancel.
  using SavePathAsker = std::function<std::string(const std::string& suggested, const std::string& filter)>;
  // Shows a recovered temporary copy of a file (`path`) named `name`.
  using PreviewShower = std::function<void(const std::string& path, const std::string& name)>;
  // Opens the find dialog over a tree and the list that shows its results.
  using FindOpener = std::function<void(CFileNode* root, CFileListCtrl* list)>;

  explicit CFileSelectPage(QWidget* parent = nullptr);
  ~CFileSelectPage() override;

  void SetController(IFileSelectController* controller);
  IWizardPageController* GetController() override;
  int GetHelpContextId(int language) override;
  void Draw(QPainter* dc) override;
  bool OnCommand(int commandId) override;

  // Shows the files a search found in tab 1, titled by the search's criteria text, and switches to
  // it (an earlier result tab goes).
  void ShowSearchResults(const std::vector<CFileNode*>& files, const QString& criteria);
  // "Search files(criteria)", the criteria cut to 26 characters and "..." when longer than 30.
  static QString SearchTabText(const QString& criteria);

  // Frees the found tree and the search-result copy and empties the panes.
  void Reset();
  // Shows the found tree below `root` (the page owns it from now on); null shows nothing.
  void SetFileTree(CFileNode* root);
  CFileNode* GetFileTree() const { return m_root; }

  // The totals line ("Total ... in ... files") and the selection line.
  const QString& TotalsText() const { return m_totals; }
  const QString& SelectionText() const { return m_selection; }
  // Reads the totals and the ticked counts from the tree and repaints.
  void UpdateCounts();

  CFileSelectCtrlContainer* Container() const { return m_container; }
  CFileTreeCtrl* Tree() const;
  CFileListCtrl* List() const;
  CFileListCtrl* ResultList() const { return m_resultList; }
  CTabCtrlPlus* Tabs() const { return m_tabs; }
  CButtonPlus* SearchButton() const { return m_search; }
  CButtonPlus* PreviewButton() const { return m_preview; }
  CButtonPlus* SearchFilesButton() const { return m_searchFiles; }
  CButtonPlus* ExportButton() const { return m_export; }

  // The file that a command acts on: the selected row of the list of the current tab.
  CFileNode* SelectedFile() const;
  // Why a node cannot be previewed (a string id), or 0 when it can.
  static uint32_t PreviewRefusal(const CFileNode* node);
  // The default name of an exported bundle at the local time `when` (seconds since 1970).
  static std::string ExportFileName(int64_t when, int recoveryKind);
  // The path an export writes: ".rsf" appended unless the path already ends in it.
  static std::string WithBundleExtension(const std::string& path);

  // Replace how the page asks for paths, shows previews and opens the find dialog (tests, and the
  // dialogs built elsewhere); null restores the default. Each returns the previous one.
  static SavePathAsker SetSavePathAsker(SavePathAsker asker);
  static PreviewShower SetPreviewShower(PreviewShower shower);
  static FindOpener SetFindOpener(FindOpener opener);
  // Runs a property dialog; null runs it modally. Returns the one set before.
  using PropertiesShower = std::function<void(QDialog& dialog)>;
  static PropertiesShower SetPropertiesShower(PropertiesShower shower);

 private:
  void Preview();
  void RecoverSelectedFile();
  void Export();
  void Locate();
  void SearchFiles();
  // Alt+Enter: the properties of the current folder when the folder tree has the focus, else of
  // the selected file.
  void PropertiesOfFocus();

  IFileSelectController* m_controller = nullptr;
  CTabCtrlPlus* m_tabs;
  CFileSelectCtrlContainer* m_container;
  CFileListCtrl* m_resultList;
  CButtonPlus* m_search;
  CButtonPlus* m_preview;
  CButtonPlus* m_searchFiles;
  CButtonPlus* m_export;
  CButtonPlus* m_strip;
  CFileNode* m_root = nullptr;
  CFileNode* m_resultRoot = nullptr;
  QString m_totals;
  QString m_selection;
  QFont m_pageFont;
};
