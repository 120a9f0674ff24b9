#include "wizard/FileSelectPage.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QApplication>
#include <QBoxLayout>
#include <QDir>
#include <QFileDialog>
#include <QPainter>
#include <QShortcut>
#include <algorithm>
#include <cinttypes>
#include <ctime>

#include "controls/ButtonPlus.h"
#include "controls/FileListCtrl.h"
#include "controls/FileSelectCtrlContainer.h"
#include "controls/FileTreeCtrl.h"
#include "controls/Formatting.h"
#include "controls/TabCtrlPlus.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "core/StateBundle.h"
#include "core/TempPathName.h"
#include "dialogs/DocumentPreview.h"
#include "dialogs/FindFileDlg.h"
#include "dialogs/PropertiesDlg.h"
#include "dialogs/RBClickRecoverFileDlg.h"
#include "dialogs/SearchFileDlg.h"
#include "platform/FolderWalk.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "platform/RequestingUser.h"
#include "platform/StringTable.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"
#include "ui/RefusedLink.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"
#include "ui/UsageStatistics.h"
#include "wizard/controller/FileSelectController.h"
#include "wizard/controller/ScanState.h"

namespace {

using corvale::ui::MessageIcon;

// Usage events by recovery mode.
constexpr int kEventFind[3] = {8199, 8226, 8248};
constexpr int kEventSearch[3] = {8200, 8227, 8249};
constexpr int kEventPreview[3] = {8201, 8228, 8256};
constexpr int kEventExport[3] = {8208, 8229, 8257};

CFileSelectPage::SavePathAsker& SavePathAskerSlot() {
  static CFileSelectPage::SavePathAsker asker;
  return asker;
}
CFileSelectPage::PreviewShower& PreviewShowerSlot() {
  static CFileSelectPage::PreviewShower shower;
  return shower;
}
CFileSelectPage::FindOpener& FindOpenerSlot() {
  static CFileSelectPage::FindOpener opener;
  return opener;
}
CFileSelectPage::PropertiesShower& PropertiesShowerSlot() {
  static CFileSelectPage::PropertiesShower shower;
  return shower;
}
void ShowProperties(QWidget* parent, CFileNode* node) {
  if (node == nullptr) return;
  CPropertiesDlg dialog(parent);
  dialog.SetFileNode(node);
  if (PropertiesShowerSlot())
    PropertiesShowerSlot()(dialog);
  else
    dialog.exec();
}

void Tell(uint32_t stringId, MessageIcon icon = MessageIcon::Information) {
  corvale::ui::ShowMessageBox(corvale::LoadText(stringId), GetProductTitle(), icon);
}

std::string AskSavePath(const std::string& suggested, const std::string& filter) {
  if (SavePathAskerSlot()) return SavePathAskerSlot()(suggested, filter);
  // "Text (*.x)|*.x|All Files (*.*)|*.*||" becomes Qt's "Text (*.x);;All Files (*.*)".
  QStringList parts = QString::fromStdString(filter).split('|', Qt::SkipEmptyParts);
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) filters << parts[i];
  return QFileDialog::getSaveFileName(nullptr, QString(), QString::fromStdString(suggested),
                                      filters.join(";;"))
      .toStdString();
}

// The folder the last single file was saved into in this run; empty before the first.
std::string& LastSingleFileFolder() {
  static std::string folder;
  return folder;
}

// Where the single-file save starts: the folder of the last such save, else the home folder of the
// person the run works for (the program runs as root, and its own folder is no place for their
// files), else the home folder of whoever runs it.
std::string SingleFileStartFolder() {
  if (!LastSingleFileFolder().empty()) return LastSingleFileFolder();
  if (const std::optional<platform::RequestingUser> user = platform::FindRequestingUser())
    if (!user->home.empty()) return user->home;
  return QDir::homePath().toStdString();
}

int Mode() {
  const int mode = GetRecoveryContext().RecoveryMode;
  return mode >= 0 && mode <= 2 ? mode : -1;
}

// False, after saying why, when the folder of file `path` is reached through a link of another
// user: nothing is saved there.
bool FolderOfFileAccepted(const std::string& path) {
  std::string name;
  const platform::FolderWalk folder = platform::WalkToFolderOf(path, &name);
  if (!folder.RefusedALink()) return true;
  LogError("The folder of %s is refused: %s", path.c_str(), folder.Describe().c_str());
  corvale::ui::ShowMessageBox(corvale::ui::RefusedLinkText(folder.refusedLink), GetProductTitle(),
                              MessageIcon::Warning);
  return false;
}

// The free bytes of the file system that would hold `path` (its folder); 0 when unknown.
uint64_t FreeBytesFor(const std::string& path) {
  // The folder the file goes into, opened as the recovery opens it.
  std::string name;
  const platform::FolderWalk folder = platform::WalkToFolderOf(path, &name);
  struct statvfs fs {};
  if (!folder.ok() || fstatvfs(folder.fd.Get(), &fs) != 0) {
    DebugTrace("get disk free info failed.\n");
    return 0;
  }
  return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
}

}  // namespace

CFileSelectPage::CFileSelectPage(QWidget* parent) : CWizardPage(parent) {
  // Page 0 is the found files (tab "Files"), page 1 the result list, shown under tab 1 after a search.
  m_tabs = new CTabCtrlPlus(this);
  m_tabs->setObjectName(QStringLiteral("1314"));
  m_container = new CFileSelectCtrlContainer(m_tabs);
  m_tabs->AddWindow(m_container);
  // The list beside the tree carries the same View, Select, Deselect and State buttons as the
  // result list.
  List()->CreateButtons();
  m_resultList = new CFileListCtrl(m_tabs);
  m_resultList->CreateButtons();
  m_tabs->AddWindow(m_resultList);
  m_tabs->AddTab(corvale::ui::LoadStringResource(397), 0);
  m_tabs->SelectTab(0);
  Tree()->SetImages(corvale::ui::bitmap::kCheckBoxStrip, corvale::ui::bitmap::kFolderStrip);
  // The page-wide commands of the tool row, offered again under a right click on a file.
  const CFileListCtrl::PageCommands pageCommands = {
      {corvale::ui::StringOr(162, "Find file by name") + QStringLiteral("..."), kCommandSearch},
      {corvale::ui::StringOr(163, "Search files") + QStringLiteral("..."), kCommandSearchFiles},
      {QStringLiteral("Export Result..."), kCommandExport}};
  for (CFileListCtrl* list : {List(), m_resultList}) {
    list->SetPageCommands(pageCommands);
    connect(list, &CFileListCtrl::TicksChanged, this, [this] { OnCommand(kCommandTicksChanged); });
    connect(list, &CFileListCtrl::Command, this, [this](int command) {
      OnCommand(command == CFileListCtrl::kCommandOpen ? kCommandPreview : command);
    });
  }
  connect(Tree(), &CFileTreeCtrl::TicksChanged, this, [this] { OnCommand(kCommandTicksChanged); });
  connect(Tree(), &CFileTreeCtrl::Command, this, [this](int command) { OnCommand(command); });
  for (const QKeySequence& keys :
       {QKeySequence(Qt::ALT | Qt::Key_Return), QKeySequence(Qt::ALT | Qt::Key_Enter)}) {
    auto* shortcut = new QShortcut(keys, this);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, this, [this] { PropertiesOfFocus(); });
  }
  connect(m_tabs, &CTabCtrlPlus::CtrlNotify, this, [this] { OnCommand(kCommandTabChanged); });

  using namespace corvale::ui::buttons;
  m_search =
      new CButtonPlus(kSearchFile.normal, kSearchFile.hover, kSearchFile.push, kSearchFile.disable, this);
  m_search->SetControlId(kCommandSearch);
  m_preview =
      new CButtonPlus(kFilePreview.normal, kFilePreview.hover, kFilePreview.push, kFilePreview.disable, this);
  m_preview->SetControlId(kCommandPreview);
  m_searchFiles = new CButtonPlus(kSearchByCriteria.normal, kSearchByCriteria.hover, kSearchByCriteria.push,
                                  kSearchByCriteria.disable, this);
  m_searchFiles->SetControlId(kCommandSearchFiles);
  m_searchFiles->setToolTip(
      QStringLiteral("Search the found files by name, type, date, size and attributes"));
  m_export = new CButtonPlus(kExportResult.normal, kExportResult.hover, kExportResult.push,
                             kExportResult.disable, this);
  m_export->SetControlId(kCommandExport);
  m_export->setToolTip(QStringLiteral("Save this search as a result file (.rsf) to load again later"));
  m_strip = new CButtonPlus(kFilePageStrip, kFilePageStrip, kFilePageStrip, kFilePageStrip, this);
  m_strip->SetControlId(200);
  connect(m_search, &QAbstractButton::clicked, this, [this] { OnCommand(kCommandSearch); });
  connect(m_preview, &QAbstractButton::clicked, this, [this] { OnCommand(kCommandPreview); });
  connect(m_searchFiles, &QAbstractButton::clicked, this, [this] { OnCommand(kCommandSearchFiles); });
  connect(m_export, &QAbstractButton::clicked, this, [this] { OnCommand(kCommandExport); });
  m_strip->SetFillsWidth(true);

  // Search File, File Preview and the strip running to the row's end above the tabs; the tabs down
  // to the bottom band, where the page writes its totals.
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(BandMargins(true));
  column->setSpacing(0);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(0);
  buttons->addWidget(m_search);
  buttons->addWidget(m_preview);
  buttons->addWidget(m_searchFiles);
  buttons->addWidget(m_export);
  buttons->addWidget(m_strip, 1);
  column->addLayout(buttons);
  m_tabs->setMinimumHeight(kLeastListHeight);
  column->addWidget(m_tabs, 1);

  m_pageFont = QFont(QString::fromStdString(corvale::ui::GetUIFontName()));
  m_pageFont.setPixelSize(15);
  m_selection = corvale::ui::LoadStringResource(272);
}

CFileSelectPage::~CFileSelectPage() {
  // The panes read the trees until they go; empty them before the trees are freed.
  Reset();
}

void CFileSelectPage::SetController(IFileSelectController* controller) {
  LogError("------------------------ParmInfo:IFileSelectController* pController=%" PRIxPTR,
           reinterpret_cast<uintptr_t>(controller));
  m_controller = controller;
}

IWizardPageController* CFileSelectPage::GetController() { return m_controller; }
int CFileSelectPage::GetHelpContextId(int) { return kHelpTopic; }
CFileTreeCtrl* CFileSelectPage::Tree() const { return m_container->GetFileTreeCtrl(); }
CFileListCtrl* CFileSelectPage::List() const { return m_container->GetFileListCtrl(); }

void CFileSelectPage::Draw(QPainter* dc) {
  // The frame round the buttons' row and the tabs.
  const QRect framed = m_search->geometry().united(m_tabs->geometry());
  dc->fillRect(framed.adjusted(-1, -1, 1, 0), corvale::ui::kFrameColor);
  dc->setFont(m_pageFont);
  dc->setPen(Qt::black);
  // The totals at the left of the bottom band, the selection at its right; when both do not fit,
  // each is cut short where the other begins.
  const QRect bottom = BottomRect();
  const QFontMetrics metrics(m_pageFont);
  constexpr int kGap = 12;
  // A pixel or two more than the measured width, which elidedText() rounds differently.
  const int totalsWidth = metrics.horizontalAdvance(m_totals) + 2;
  const int selectionWidth = metrics.horizontalAdvance(m_selection) + 2;
  const int room = std::max(0, bottom.width() - kGap);
  int selectionRoom = selectionWidth;
  if (totalsWidth + selectionWidth > room)
    selectionRoom = std::min(selectionWidth, std::max(room / 2, room - totalsWidth));
  const int totalsRoom = std::max(0, room - selectionRoom);
  dc->drawText(bottom, Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine,
               metrics.elidedText(m_totals, Qt::ElideRight, totalsRoom));
  dc->drawText(bottom, Qt::AlignRight | Qt::AlignBottom | Qt::TextSingleLine,
               metrics.elidedText(m_selection, Qt::ElideRight, selectionRoom));
}

void CFileSelectPage::Reset() {
  List()->ClearList();
  m_resultList->ClearList();
  Tree()->FillTree(nullptr);
  FreeFileTree(m_root);
  FreeFileTree(m_resultRoot);
  m_root = nullptr;
  m_resultRoot = nullptr;
  if (m_tabs->GetTabCount() > 1) m_tabs->DeleteTab(1);
}

void CFileSelectPage::SetFileTree(CFileNode* root) {
  // The tree on show handed over again is shown again, not freed.
  if (root != nullptr && root == m_root) m_root = nullptr;
  Reset();
  if (root == nullptr) return;
  IStorageDevice* device = m_controller != nullptr ? m_controller->GetSourceDevice() : nullptr;
  List()->SetSourceDevice(device);
  m_resultList->SetSourceDevice(device);
  m_root = root;
  Tree()->FillTree(root);
  UpdateCounts();
  m_selection = corvale::ui::LoadStringResource(272);
  update();
}

void CFileSelectPage::UpdateCounts() {
  SelectionSummary summary;
  if (auto* root = dynamic_cast<CFileSystemNode*>(m_root)) root->GetSummary(summary);
  m_totals = QString::asprintf(corvale::LoadText(385).c_str(),
                               FormatByteSize(static_cast<int64_t>(summary.bytes)).c_str(),
                               static_cast<int>(summary.files));
  m_selection = QString::asprintf(corvale::LoadText(386).c_str(),
                                  FormatByteSize(static_cast<int64_t>(summary.checkedBytes)).c_str(),
                                  static_cast<int>(summary.checkedFiles));
  update();
}

bool CFileSelectPage::OnCommand(int commandId) {
  const int mode = Mode();
  switch (commandId) {
    case kCommandSearch:
      if (mode >= 0) corvale::usage::Event(kEventFind[mode]);
      {
        const bool results = m_tabs->GetCurTab() == 1;
        CFileNode* root = results ? m_resultRoot : m_root;
        CFileListCtrl* list = results ? m_resultList : List();
        if (FindOpenerSlot()) {
          FindOpenerSlot()(root, list);
        } else {
          CFindFileDlg dialog(root, list, this);
          dialog.DoModal();
        }
      }
      return true;
    case kCommandSearchFiles:
      if (mode >= 0) corvale::usage::Event(kEventSearch[mode]);
      SearchFiles();
      return true;
    case kCommandPreview:
    case kCommandListPreview:
      Preview();
      return true;
    case kCommandRecoverFile:
      RecoverSelectedFile();
      return true;
    case kCommandExport:
      Export();
      return true;
    case kCommandLocate:
      Locate();
      return true;
    case kCommandFileProperties:
      ShowProperties(this, SelectedFile());
      return true;
    case kCommandFolderProperties:
      ShowProperties(this, Tree()->GetItemData(Tree()->GetSelectedItem()));
      return true;
    case kCommandTicksChanged:
      UpdateCounts();
      return true;
    case kCommandTabChanged:
      UpdateCounts();
      if (m_tabs->GetCurTab() == 0) Tree()->RefreshAllItems();
      return true;
    default:
      return false;
  }
}

void CFileSelectPage::PropertiesOfFocus() {
  QWidget* focus = QApplication::focusWidget();
  const bool inTree = m_tabs->GetCurTab() == 0 && focus != nullptr && Tree()->isAncestorOf(focus);
  OnCommand(inTree ? kCommandFolderProperties : kCommandFileProperties);
}

CFileNode* CFileSelectPage::SelectedFile() const {
  CFileListCtrl* list = m_tabs->GetCurTab() == 1 ? m_resultList : List();
  return list->GetNodeAt(list->GetFirstSelectedItem());
}

uint32_t CFileSelectPage::PreviewRefusal(const CFileNode* node) {
  const IFileProperties* p = node != nullptr ? node->GetFileProperties() : nullptr;
  if (p == nullptr || p->GetSize() == 0) return 268;
  if (p->GetValidMask() & 0x04) {
    if (p->GetAttributes() & kAttributeFolder) return 269;
    if (p->GetAttributes() & kAttributeEncrypted) return 270;
  }
  if ((p->GetValidMask() & 0x02) && p->GetSize() > kMaxPreviewSize) return 271;
  return 0;
}

void CFileSelectPage::Preview() {
  const int mode = Mode();
  if (mode >= 0) corvale::usage::Event(kEventPreview[mode]);
  CFileNode* node = SelectedFile();
  if (node == nullptr) {
    Tell(267);
    return;
  }
  if (const uint32_t refusal = PreviewRefusal(node)) {
    Tell(refusal);
    return;
  }
  CTempPathNameSignle& temp = CTempPathNameSignle::GetInstance();
  const std::string path = temp.GetTempFileName();
  if (path.empty()) return;
  SingleFileCopyRequest request{m_controller ? m_controller->GetSourceDevice() : nullptr, node, path, this};
  CPreviewLoadingDlg dialog(request);
  if (dialog.DoModal() == QDialog::Accepted) {
    chmod(path.c_str(), 0600);
    if (PreviewShowerSlot()) {
      PreviewShowerSlot()(path, node->GetFileProperties()->GetName());
    } else if (ShowFilePreview(this, path, node->GetFileProperties()->GetName()) ==
               PreviewOutcome::kRecoverAsked) {
      temp.DeleteTempFiles();
      OnCommand(kCommandRecoverFile);
      return;
    }
  }
  temp.DeleteTempFiles();
}

void CFileSelectPage::RecoverSelectedFile() {
  CFileNode* node = SelectedFile();
  if (node == nullptr) {
    Tell(274);
    return;
  }
  const IFileProperties* p = node->GetFileProperties();
  if (p == nullptr) return;
  const std::string name = p->GetName();
  const size_t dot = name.rfind('.');
  const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  const std::string filter = (extension.empty() ? std::string("File") : extension.substr(1) + " File") +
                             " (*" + extension + ")|*" + extension + "|All Files (*.*)|*.*||";
  std::string start = SingleFileStartFolder();
  if (!start.empty() && start.back() != '/') start += '/';
  const std::string target = AskSavePath(start + name, filter);
  if (target.empty() || !FolderOfFileAccepted(target)) return;
  const size_t slash = target.find_last_of('/');
  if (slash != std::string::npos) LastSingleFileFolder() = target.substr(0, slash == 0 ? 1 : slash);
  if (CFileRecoverer::IsPathOnSourceDrive(target.c_str()) &&
      corvale::ui::AskMessageBox(corvale::LoadText(275), GetProductTitle(),
                                 corvale::ui::MessageButtons::YesNo,
                                 MessageIcon::Warning) != corvale::ui::MessageAnswer::Yes)
    return;
  if (p->GetAttributes() & kAttributeEncrypted) {
    std::string root;
    if (GetRootPathOfPath(target.c_str(), &root) && !root.empty() && !IsNTFSVolume(root.c_str())) {
      Tell(278, MessageIcon::Warning);
      return;
    }
  }
  if (FreeBytesFor(target) < p->GetSize()) {
    Tell(276, MessageIcon::Warning);
    return;
  }
  // The recovery never replaces a file: a path that exists already fails and keeps what is there.
  // A cancelled or failed one removes what it made itself, and only that.
  SingleFileCopyRequest request{m_controller ? m_controller->GetSourceDevice() : nullptr, node, target, this};
  CRBClickRecoverFileDlg dialog(request);
  dialog.DoModal();
}

std::string CFileSelectPage::ExportFileName(int64_t when, int recoveryKind) {
  const time_t t = static_cast<time_t>(when);
  struct tm local {};
  localtime_r(&t, &local);
  char name[64];
  std::snprintf(name, sizeof name, "%04d-%02d-%02d_%02d_%02d_QBX%s.rsf", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                recoveryKind == 1 ? "_CR" : "_Lum");
  return name;
}

std::string CFileSelectPage::WithBundleExtension(const std::string& path) {
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".rsf") == 0) return path;
  return path + ".rsf";
}

void CFileSelectPage::Export() {
  const int mode = Mode();
  if (mode >= 0) corvale::usage::Event(kEventExport[mode]);
  const int kind = m_controller != nullptr ? m_controller->GetRecoveryKind() : kRecoveryKindNone;
  // Only complete and partition recoveries keep scan states: any state files of the folder belong
  // to another run, and a bundle of them would not be this result.
  if (kind != kRecoveryKindComplete && kind != kRecoveryKindPartition) {
    Tell(61238);
    return;
  }
  const std::string chosen = AskSavePath(ExportFileName(std::time(nullptr), kind), corvale::LoadText(401));
  if (chosen.empty() || !FolderOfFileAccepted(WithBundleExtension(chosen))) return;
  bool saved = false;
  try {
    // The state files the scan-state module writes, where it writes them.
    CStateBundle bundle(true, ScanStateFolder());
    saved = bundle.Save(WithBundleExtension(chosen));
  } catch (...) {
    saved = false;
  }
  Tell(saved ? 61237 : 61238);
  update();
}

void CFileSelectPage::Locate() {
  CFileNode* node = m_resultList->GetNodeAt(m_resultList->GetFirstSelectedItem());
  if (node == nullptr || node->GetParent() == nullptr) return;
  QModelIndex item;
  if (!Tree()->FindNodeItem(node->GetParent(), &item)) return;
  Tree()->GetTreeCtrl()->setFocus();
  if (m_tabs->GetCurTab() != 0) {
    m_tabs->SelectTab(0);
    OnCommand(kCommandTabChanged);
  }
  List()->LocateNode(node);
}

void CFileSelectPage::SearchFiles() {
  auto* owner = dynamic_cast<CFileSystemNode*>(m_root);
  if (owner == nullptr) return;
  CFileNode* folder = Tree()->GetItemData(Tree()->GetSelectedItem());
  CSearchResult result;
  CSearchFileDlg dialog(owner, folder != nullptr ? folder : m_root, &result, nullptr);
  // Files are ticked only by a search that found some, which ends the dialog with OK.
  if (dialog.DoModal() != QDialog::Accepted) return;
  ShowSearchResults(result.GetItems(), dialog.GetNamePattern());
}

QString CFileSelectPage::SearchTabText(const QString& criteria) {
  const QString title = corvale::ui::LoadStringResource(163);
  const QString full = title + QStringLiteral("(%1)").arg(criteria);
  if (full.size() <= 30) return full;
  return title + QStringLiteral("(%1...)").arg(criteria.left(26));
}

void CFileSelectPage::ShowSearchResults(const std::vector<CFileNode*>& files, const QString& criteria) {
  if (m_tabs->GetTabCount() > 1) m_tabs->DeleteTab(1);
  m_tabs->AddTab(SearchTabText(criteria), 1);
  m_resultList->ShowFiles(m_root, files);
  m_tabs->SelectTab(1);
  Tree()->RefreshAllItems();
  UpdateCounts();
}

CFileSelectPage::SavePathAsker CFileSelectPage::SetSavePathAsker(SavePathAsker asker) {
  return std::exchange(SavePathAskerSlot(), std::move(asker));
}
CFileSelectPage::PreviewShower CFileSelectPage::SetPreviewShower(PreviewShower shower) {
  return std::exchange(PreviewShowerSlot(), std::move(shower));
}
CFileSelectPage::FindOpener CFileSelectPage::SetFindOpener(FindOpener opener) {
  return std::exchange(FindOpenerSlot(), std::move(opener));
}
CFileSelectPage::PropertiesShower CFileSelectPage::SetPropertiesShower(PropertiesShower shower) {
  return std::exchange(PropertiesShowerSlot(), std::move(shower));
}
