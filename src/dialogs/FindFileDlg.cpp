#include "dialogs/FindFileDlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "controls/FileListCtrl.h"
#include "controls/FileTreeCtrl.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "platform/StringTable.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"

namespace {

using corvale::ui::DluToPixelsX;
using corvale::ui::DluToPixelsY;

constexpr uint32_t kStringCaption = 162;
constexpr uint32_t kStringNoMore = 61217;
constexpr uint32_t kStringNoneFound = 61218;

bool IsFileNode(const CFileNode* node) {
  const IFileProperties* p = node != nullptr ? node->GetFileProperties() : nullptr;
  return p != nullptr && !((p->GetValidMask() & 0x04) && p->IsFolder());
}

bool IsFolderNode(const CFileNode* node) { return node != nullptr && !IsFileNode(node); }

// The next folder after `folder` in tree order below `root`: its first subfolder, else its next
// sibling folder, else the next sibling folder of the nearest ancestor that has one; null past the
// last.
CFileNode* NextFolder(CFileNode* folder, CFileNode* root) {
  for (CFileNode* child = folder->GetFirstChild(); child != nullptr; child = child->GetNextSibling())
    if (IsFolderNode(child)) return child;
  for (CFileNode* n = folder; n != nullptr && n != root; n = n->GetParent())
    for (CFileNode* sibling = n->GetNextSibling(); sibling != nullptr; sibling = sibling->GetNextSibling())
      if (IsFolderNode(sibling)) return sibling;
  return nullptr;
}

}  // namespace

CFindFileDlg::CFindFileDlg(CFileNode* root, CFileListCtrl* list, QWidget* parent)
    : CSearchSuperDlg(kTemplate, parent), m_root(root), m_list(list) {
  SetHelpTopic(kHelpTopic);
  setWindowTitle(QString::fromStdString(corvale::LoadText(kStringCaption)));
  auto* label = new QLabel(QStringLiteral("Find Name:"), this);
  m_nameEdit = new QLineEdit(this);
  m_nameEdit->setMaxLength(kMaxNameLength);
  corvale::ui::SetControlId(m_nameEdit, kIdName);
  m_matchCase = new QCheckBox(QStringLiteral("Match Case"), this);
  corvale::ui::SetControlId(m_matchCase, kIdMatchCase);
  m_wholeWord = new QCheckBox(QStringLiteral("Whole Word"), this);
  corvale::ui::SetControlId(m_wholeWord, kIdWholeWord);
  using namespace corvale::ui::buttons;
  m_findNext = new CButtonPlus(kFindNext.normal, kFindNext.hover, kFindNext.push, kFindNext.disable, this);
  m_findNext->SetControlId(kIdFindNext);
  m_close = new CButtonPlus(kFindClose.normal, kFindClose.hover, kFindClose.push, kFindClose.disable, this);
  m_close->SetControlId(corvale::ui::kIdCancel);
  // The name and the two options at the left, the two buttons in a column at the right.
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(DluToPixelsX(7), DluToPixelsY(6), DluToPixelsX(7), DluToPixelsY(6));
  auto* fields = new QGridLayout;
  fields->addWidget(label, 0, 0);
  fields->addWidget(m_nameEdit, 0, 1);
  fields->addWidget(m_matchCase, 1, 0, 1, 2);
  fields->addWidget(m_wholeWord, 2, 0, 1, 2);
  fields->setRowStretch(3, 1);
  fields->setColumnStretch(1, 1);
  layout->addLayout(fields, 1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(m_findNext);
  buttons->addWidget(m_close);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  // 252 x 62 dialog units at least.
  setMinimumSize(corvale::ui::DluSize(font(), 252, 62).expandedTo(layout->minimumSize()));
  connect(m_findNext, &QAbstractButton::clicked, this, [this] { FindNext(); });
  connect(m_close, &QAbstractButton::clicked, this, &QDialog::reject);
}

bool CFindFileDlg::IsAcceptableName(const std::string& name) {
  for (const char c : name)
    if (c == '\\' || c == '/' || c == ':' || c == '"' || c == '<' || c == '>' || c == '|') return false;
  return true;
}

CFileNode* CFindFileDlg::CurrentNode() const {
  return m_list != nullptr ? m_list->GetNodeAt(m_list->GetFirstSelectedItem()) : nullptr;
}

CFindFileDlg::Result CFindFileDlg::FindNext() {
  const std::string name = m_nameEdit->text().toStdString();
  const bool matchCase = m_matchCase->isChecked();
  const bool wholeWord = m_wholeWord->isChecked();
  const std::string title = GetProductTitle();
  if (!IsAcceptableName(name)) {
    corvale::ui::ShowMessageBox(corvale::LoadText(kStringNoneFound), title);
    return Result::kRefused;
  }
  const CFileNamePattern pattern(NamePatternRequest{name.empty() ? std::string("*") : name, matchCase,
                                                    wholeWord, NamePatternMode::kFind});
  const Result result = Search(pattern);
  if (result == Result::kWrapped) corvale::ui::ShowMessageBox(corvale::LoadText(kStringNoMore), title);
  if (result == Result::kNotFound) corvale::ui::ShowMessageBox(corvale::LoadText(kStringNoneFound), title);
  if (m_start == nullptr) m_start = CurrentNode();
  if (name != m_lastName || matchCase != m_lastMatchCase || wholeWord != m_lastWholeWord) {
    m_lastName = name;
    m_lastMatchCase = matchCase;
    m_lastWholeWord = wholeWord;
    m_start = CurrentNode();
  }
  m_searchedOnce = true;
  return result;
}

CFindFileDlg::ListResult CFindFileDlg::SearchList(const CFileNamePattern& pattern, int fromRow) {
  const int rows = m_list->RowCount();
  if (rows <= 0) return ListResult::kNotFound;
  for (int row = fromRow < 0 ? 0 : fromRow; row < rows; ++row) {
    CFileNode* node = m_list->GetNodeAt(row);
    if (IsFileNode(node) && MatchFileNamePattern(pattern, node->GetFileProperties())) {
      m_list->LocateNode(node);
      return node == m_start && m_searchedOnce ? ListResult::kWrapped : ListResult::kFound;
    }
    if (node == m_start && m_start != nullptr) return ListResult::kWrapped;
  }
  return ListResult::kNotFound;
}

bool CFindFileDlg::HoldsMatchingFile(const CFileNode* folder, const CFileNamePattern& pattern) const {
  for (const CFileNode* child = folder->GetFirstChild(); child != nullptr; child = child->GetNextSibling())
    if (IsFileNode(child) && MatchFileNamePattern(pattern, child->GetFileProperties())) return true;
  return false;
}

CFindFileDlg::Result CFindFileDlg::Search(const CFileNamePattern& pattern) {
  if (m_list == nullptr) return Result::kNotFound;
  const ListResult inList = SearchList(pattern, m_list->GetFirstSelectedItem() + 1);
  if (inList == ListResult::kFound) return Result::kFound;
  if (inList == ListResult::kWrapped) return Result::kWrapped;
  if (m_start == nullptr) m_start = CurrentNode();

  CFileTreeCtrl* tree = m_list->GetFileTreeCtrl();
  CFileNode* treeRoot = tree != nullptr ? tree->Root() : nullptr;
  CFileNode* begin = tree != nullptr ? tree->GetItemData(tree->GetSelectedItem()) : nullptr;
  if (treeRoot != nullptr && begin != nullptr) {
    CFileNode* folder = begin;
    for (;;) {
      CFileNode* next = NextFolder(folder, treeRoot);
      // Past the last folder the walk goes on from the top of the tree.
      folder = next != nullptr ? next : NextFolder(treeRoot, treeRoot);
      if (folder == nullptr || folder == begin) break;
      if (!HoldsMatchingFile(folder, pattern)) continue;
      QModelIndex item;
      if (!tree->FindNodeItem(folder, &item)) continue;
      m_list->ShowFolder(treeRoot, folder, item);
      const ListResult found = SearchList(pattern, 0);
      if (found == ListResult::kFound) return Result::kFound;
      if (found == ListResult::kWrapped) break;
    }
  }
  if (m_list->RowCount() > 0 && SearchList(pattern, 0) == ListResult::kFound) return Result::kFound;
  return m_searchedOnce ? Result::kWrapped : Result::kNotFound;
}
