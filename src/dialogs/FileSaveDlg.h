#pragma once
// The panel of the result page: one line with the outcome of the recovery, one with the number of
// files recovered, and a link to the folder they were saved in.

#include <QLabel>
#include <string>
#include <vector>

#include "controls/HyperLink.h"
#include "controls/SearchSuperDlg.h"

class CFileSaveDlg : public CSearchSuperDlg {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 355;
  static constexpr int kIdOutcome = 1149;
  static constexpr int kIdTotals = 1141;
  static constexpr int kIdSavedIn = 1159;
  static constexpr int kIdLink = 1140;
  // A link text longer than this many bytes is cut and ends in "...".
  static constexpr size_t kLinkBytes = 25;

  explicit CFileSaveDlg(QWidget* parent = nullptr);

  // The text of the outcome line of a run the user stopped before all its files were written.
  static constexpr uint32_t kCancelledTextId = 62010;

  // The outcome of `selected` files given to the recovery, `written` of them written whole;
  // `cancelled` when the user stopped it before the end.
  void ShowRecoveryResult(int selected, int written, bool cancelled = false);
  // The folder the files went into; the link opens it.
  void SetSavePath(const std::string& folder);
  // The folders written into (one per recovered top-level item), kept with the link.
  void SetSavedFolders(std::vector<std::string> folders) {
    m_folders = std::move(folders);
    m_link->SetItemPaths(m_folders);
  }

  QString Text(int id) const;
  const std::string& SavePath() const { return m_savePath; }
  // Opens the folder of the link with the folders written selected, as a click on it does.
  void OpenLink();

  // The link text of `folder`: whole when shorter than 26 bytes, else its first 25 bytes (never
  // splitting a character) and "...".
  static std::string LinkText(const std::string& folder);

 private:
  QLabel* m_outcome = nullptr;
  QLabel* m_totals = nullptr;
  CHyperLink* m_link = nullptr;
  std::string m_savePath;
  std::vector<std::string> m_folders;
};
