#pragma once
// "Find file by name": each Find Next selects the next file whose name matches, first in the file
// list shown, then folder by folder through the folder tree the list belongs to (in tree order,
// starting again at the top after the last folder), until the search comes back to where it began;
// then it says that there are no more. Folders are never reported.

#include <string>

#include "controls/SearchSuperDlg.h"
#include "find/NamePattern.h"

class CButtonPlus;
class CFileListCtrl;
class CFileNode;
class QCheckBox;
class QLineEdit;

class CFindFileDlg : public CSearchSuperDlg {
  Q_OBJECT

 public:
  // The help topic of the file page and its search dialogs, opened by F1.
  static constexpr int kHelpTopic = 23;
  static constexpr int kTemplate = 250;
  static constexpr int kIdName = 1059;
  static constexpr int kIdMatchCase = 1060;
  static constexpr int kIdWholeWord = 1062;
  static constexpr int kIdFindNext = 1064;
  static constexpr int kMaxNameLength = 256;

  enum class Result { kFound, kWrapped, kNotFound, kRefused };

  // `root` is the tree shown (kept for the caller); the search works on `list` and its folder tree.
  CFindFileDlg(CFileNode* root, CFileListCtrl* list, QWidget* parent);

  // One click on Find Next: selects the next match and shows "No more files found." when the
  // search went round, "No files found" when nothing matches (or the name is refused).
  Result FindNext();

  QLineEdit* NameEdit() const { return m_nameEdit; }
  QCheckBox* MatchCaseBox() const { return m_matchCase; }
  QCheckBox* WholeWordBox() const { return m_wholeWord; }
  CFileNode* StartNode() const { return m_start; }

  // Whether the typed name is one the dialog searches for (empty counts as "*").
  static bool IsAcceptableName(const std::string& name);

 private:
  enum class ListResult { kFound, kWrapped, kNotFound };
  ListResult SearchList(const CFileNamePattern& pattern, int fromRow);
  Result Search(const CFileNamePattern& pattern);
  bool HoldsMatchingFile(const CFileNode* folder, const CFileNamePattern& pattern) const;
  CFileNode* CurrentNode() const;

  CFileNode* m_root;
  CFileListCtrl* m_list;
  QLineEdit* m_nameEdit;
  QCheckBox* m_matchCase;
  QCheckBox* m_wholeWord;
  CButtonPlus* m_findNext;
  CButtonPlus* m_close;
  std::string m_lastName;
  bool m_lastMatchCase = false;
  bool m_lastWholeWord = false;
  CFileNode* m_start = nullptr;
  bool m_searchedOnce = false;
};
