#pragma once
// The open-image wizard: welcome, the descriptor path, the slice list when slices cannot be
// found, and success. It reads no image data; it tests the descriptor, its part list (".kbp") and
// every slice the list names, and lets the user point the list at slices that have moved before
// the image is opened.
//
// A part list may name any file, and the program reads as root: a slice named in the list is taken
// only when it is the image's own part file (the name the writer gives it, in the image's folder)
// and begins with a part file's empty head; anything else is INVALID until the user locates it. The
// corrected list replaces the old one by a rename, never by writing through a link.

#include <QLabel>
#include <QPushButton>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "controls/SearchSuperDlg.h"
#include "dialogs/ImageDiskMasterDlg.h"

class QLineEdit;
class QStackedWidget;
class QTableWidget;
class QTimer;

// The base of the open wizard's pages.
class COpenDiskInterface : public CInterfaceDialog {
  Q_OBJECT
 public:
  explicit COpenDiskInterface(QWidget* parent = nullptr) : CInterfaceDialog(parent) {}
};

class COpenDiskImageInfoDlg : public COpenDiskInterface {
  Q_OBJECT
 public:
  explicit COpenDiskImageInfoDlg(QWidget* parent = nullptr);
  int GetNextIndex() override { return 1; }
  int GetPrevIndex() override { return -1; }
};

class COpenDiskImagePathDlg : public COpenDiskInterface {
  Q_OBJECT
 public:
  explicit COpenDiskImagePathDlg(QWidget* parent = nullptr);
  int GetNextIndex() override { return -1; }
  int GetPrevIndex() override { return 0; }
  std::string GetPath() const;
  QLineEdit* PathEdit() const { return m_path; }
  void Browse();

 private:
  QLineEdit* m_path = nullptr;
};

// The slice list: one row per slice with its state, in the order of the part list.
class COpenDiskImageErrorManageDlg : public COpenDiskInterface {
  Q_OBJECT
 public:
  enum Column { kNumber = 0, kState = 1, kLocation = 2 };
  explicit COpenDiskImageErrorManageDlg(QWidget* parent = nullptr);
  int GetNextIndex() override { return -1; }
  int GetPrevIndex() override { return 1; }

  void LoadSliceList(const std::string& partListPath);
  bool SaveSliceList();
  void ClearSliceList();
  bool IsAllValid() const { return m_allValid; }
  void EnableRowButtons(bool enable);
  void SelectRow(int row);
  void AddSlice();
  void LocateSlice();
  void RemoveSlice();

  QTableWidget* List() const { return m_list; }
  int RowCount() const;
  std::string RowText(int row, int column) const;
  QPushButton* AddButton() const { return m_add; }
  QPushButton* RemoveButton() const { return m_remove; }
  QPushButton* LocateButton() const { return m_locate; }

 private:
  // True when `path` opens for reading and writing as a part file (its empty head, reached through
  // no link of another user) and, when the descriptor tells, has the size slice `part` of this
  // image must have. A path `listed` in the part list must also be the image's own name for that
  // part in the image's folder; one the user chose (Add, Locate) may lie anywhere.
  bool IsUsableSlice(const std::string& path, int part, bool listed) const;
  void AppendRow(int number, bool valid, const std::string& path);
  void UpdateAllValid();

  QTableWidget* m_list = nullptr;
  QPushButton* m_add = nullptr;
  QPushButton* m_remove = nullptr;
  QPushButton* m_locate = nullptr;
  std::string m_partListPath;
  std::string m_descriptorPath;
  int m_selected = -1;
  bool m_allValid = false;
  std::map<std::string, int> m_paths;
};

class COpenDiskImageSuccessDlg : public COpenDiskInterface {
  Q_OBJECT
 public:
  explicit COpenDiskImageSuccessDlg(QWidget* parent = nullptr);
};

class COpenDiskImageMasterDlg : public CSearchSuperDlg {
  Q_OBJECT
 public:
  // The help topic of the disk-image wizards, opened by F1.
  static constexpr int kHelpTopic = 20;
  static constexpr int kTemplateId = 309;
  enum Step { kWelcome = 0, kPath = 1, kSlices = 2, kSuccess = 3 };
  // What the slice check found.
  enum class SliceCheck { AllPresent, NotAPath, SliceMissing };

  explicit COpenDiskImageMasterDlg(QWidget* parent = nullptr);
  ~COpenDiskImageMasterDlg() override;

  bool IsImageOpened() const { return m_result; }
  std::string GetImagePath() const { return m_pathPage->GetPath(); }

  int GetStep() const { return m_step; }
  void OnNext();
  void OnBack();
  void OnCancel();
  // What the 500 ms timer does: Next follows the slice list's state.
  void UpdateNextButton();
  std::string GetBannerTitle() const { return m_banner->GetBannerTitle(); }
  // Tests every slice the part list names; shows the message for a line that is not a path.
  SliceCheck CheckSlices(const std::string& partListPath);

  QPushButton* NextButton() const { return m_next; }
  QPushButton* BackButton() const { return m_back; }
  COpenDiskImagePathDlg* PathPage() const { return m_pathPage; }
  COpenDiskImageErrorManageDlg* SlicePage() const { return m_slicePage; }

 protected:
  void reject() override { OnCancel(); }

 private:
  void ShowStep();
  void SetBanner(uint32_t id, const char* text);
  void CheckDescriptor();

  CDIskImagePublicDlg* m_banner = nullptr;
  QStackedWidget* m_stack = nullptr;
  COpenDiskImageInfoDlg* m_infoPage = nullptr;
  COpenDiskImagePathDlg* m_pathPage = nullptr;
  COpenDiskImageErrorManageDlg* m_slicePage = nullptr;
  COpenDiskImageSuccessDlg* m_successPage = nullptr;
  QPushButton* m_back = nullptr;
  QPushButton* m_next = nullptr;
  QPushButton* m_cancel = nullptr;
  QTimer* m_timer = nullptr;
  int m_step = 0;
  bool m_result = false;
  bool m_listError = false;
  bool m_pathTried = false;
  bool m_nextAllowed = false;
};

// The part-list lines of `text`: each must end in CR LF and hold an absolute path. Returns false
// for an empty list, an empty line or one that is not an absolute path.
bool SplitSliceList(const std::string& text, std::vector<std::string>& paths);
