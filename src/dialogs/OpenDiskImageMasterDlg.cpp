#include "dialogs/OpenDiskImageMasterDlg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "controls/DialogTemplate.h"
#include "platform/FolderWalk.h"
#include "platform/Log.h"
#include "platform/OutputOwner.h"
#include "storage/ImageFile.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"

using corvale::dialogs::SetWizardPageMargins;

namespace {

constexpr size_t kMaxPartList = 1 << 20;  // far more than 58 paths can take
constexpr uint32_t kMaxParts = 58;

void Warn(const std::string& text) {
  corvale::ui::ShowMessageBox(text, GetProductTitle(), corvale::ui::MessageIcon::Warning);
}

// The descriptor of the image whose part list is `partListPath` (its ".kbp" made ".kbi").
std::string DescriptorOfPartList(const std::string& partListPath) {
  return partListPath.size() > 4 ? partListPath.substr(0, partListPath.size() - 4) + ".kbi" : std::string();
}

// True when `path` names part `part` of the image `descriptor` by the image's own naming. A part
// list may name any file; only these are taken from it unasked.
bool IsOwnPartPath(const std::string& descriptor, int part, const std::string& path) {
  return part >= 0 && corvale::image::IsOwnPartPath(descriptor, static_cast<uint32_t>(part), path);
}

// Opens `path` as slice `part` of the image `descriptor` for reading and writing, as the image
// reader needs it (corvale::image::OpenPartFile).
bool OpensAsSlice(const std::string& descriptor, int part, const std::string& path) {
  const int fd =
      part < 0 ? -1 : corvale::image::OpenPartFile(descriptor, static_cast<uint32_t>(part), path, O_RDWR);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& text, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return text.size() <= limit;
}

bool ReadU32(std::ifstream& in, uint64_t offset, uint32_t& value) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  unsigned char bytes[4];
  if (!in.read(reinterpret_cast<char*>(bytes), 4)) return false;
  value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
  return true;
}

// The size part `part` of the image at `descriptor` has: its empty head and the end of its last
// chunk. 0 when the descriptor does not tell (it is missing or its counts do not add up).
uint64_t ExpectedPartSize(const std::string& descriptor, int part) {
  std::ifstream in(descriptor, std::ios::binary);
  uint32_t parts = 0;
  uint32_t total = 0;
  if (!in || part < 0 || !ReadU32(in, 268, parts) || !ReadU32(in, 272, total) || parts > kMaxParts ||
      static_cast<uint32_t>(part) >= parts)
    return 0;
  uint64_t first = 0;
  uint32_t count = 0;
  for (int p = 0; p <= part; ++p) {
    if (!ReadU32(in, 276 + 4ull * static_cast<uint32_t>(p), count)) return 0;
    if (p < part) first += count;
  }
  if (count == 0 || first + count > total) return 0;
  uint32_t end = 0;
  if (!ReadU32(in, 512 + 4 * (first + count - 1), end)) return 0;
  return 512 + static_cast<uint64_t>(end);
}

}  // namespace

bool SplitSliceList(const std::string& text, std::vector<std::string>& paths) {
  paths.clear();
  if (text.empty()) return false;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 2 || line[0] != '/') return false;
    paths.push_back(line);
  }
  return !paths.empty();
}

// ---------------------------------------------------------------------------------------------
COpenDiskImageInfoDlg::COpenDiskImageInfoDlg(QWidget* parent) : COpenDiskInterface(parent) {
  auto* layout = new QVBoxLayout(this);
  SetWizardPageMargins(layout);
  layout->addWidget(new QLabel(QStringLiteral("Welcome to Open Disk Image Wizard"), this));
  layout->addStretch(1);
  layout->addWidget(new QLabel(QStringLiteral("To continue,click next"), this));
}

COpenDiskImagePathDlg::COpenDiskImagePathDlg(QWidget* parent) : COpenDiskInterface(parent) {
  auto* layout = new QVBoxLayout(this);
  SetWizardPageMargins(layout);
  layout->addWidget(new QLabel(QStringLiteral("Disk Image file name:"), this));
  auto* row = new QHBoxLayout;
  m_path = new QLineEdit(this);
  m_path->setObjectName(QStringLiteral("1125"));
  row->addWidget(m_path, 1);
  auto* browse = new QPushButton(QStringLiteral("PATH>>>"), this);
  browse->setObjectName(QStringLiteral("1022"));
  row->addWidget(browse);
  layout->addLayout(row);
  layout->addStretch(1);
  connect(browse, &QPushButton::clicked, this, &COpenDiskImagePathDlg::Browse);
  connect(m_path, &QLineEdit::textEdited, this, [](const QString& text) {
    if (text.size() > 200) Warn(corvale::ui::StringOrUtf8(180, "The length is enough!"));
  });
}

std::string COpenDiskImagePathDlg::GetPath() const { return m_path->text().toStdString(); }

void COpenDiskImagePathDlg::Browse() {
  std::string path = corvale::dialogs::ChooseImageFile(this, false, "*.kbi",
                                                       GetProductTitle() + " ImageFile(*.kbi)|*.kbi||");
  if (path.empty()) return;
  if (path == "*.kbi") path.clear();
  m_path->setText(QString::fromStdString(path));
}

COpenDiskImageSuccessDlg::COpenDiskImageSuccessDlg(QWidget* parent) : COpenDiskInterface(parent) {
  const char* const lines[] = {"Disk image opened successfully",
                               "You can start working with opened Disk image in the list",
                               "Click Next to close wizard"};
  auto* layout = new QVBoxLayout(this);
  SetWizardPageMargins(layout);
  for (const char* line : lines) layout->addWidget(new QLabel(QString::fromLatin1(line), this));
  layout->addStretch(1);
}

// ---------------------------------------------------------------------------------------------
COpenDiskImageErrorManageDlg::COpenDiskImageErrorManageDlg(QWidget* parent) : COpenDiskInterface(parent) {
  m_list = new QTableWidget(0, 3, this);
  m_list->setObjectName(QStringLiteral("1068"));
  m_list->setHorizontalHeaderLabels({QStringLiteral("#"),
                                     QString::fromStdString(corvale::ui::StringOrUtf8(425, "slice")),
                                     QString::fromStdString(corvale::ui::StringOrUtf8(426, "Location"))});
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->verticalHeader()->hide();
  // A long path keeps one line and shows its two ends.
  m_list->setWordWrap(false);
  m_list->setTextElideMode(Qt::ElideMiddle);
  m_list->setColumnWidth(0, 20);
  m_list->setColumnWidth(1, 80);
  m_list->horizontalHeader()->setStretchLastSection(true);
  m_add = new QPushButton(QStringLiteral("Add slice"), this);
  m_add->setObjectName(QStringLiteral("1110"));
  m_remove = new QPushButton(QStringLiteral("Remove"), this);
  m_remove->setObjectName(QStringLiteral("1127"));
  m_locate = new QPushButton(QStringLiteral("Locate slice"), this);
  m_locate->setObjectName(QStringLiteral("1130"));
  auto* layout = new QHBoxLayout(this);
  SetWizardPageMargins(layout);
  layout->addWidget(m_list, 1);
  auto* buttons = new QVBoxLayout;
  for (QPushButton* button : {m_add, m_remove, m_locate}) buttons->addWidget(button);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  connect(m_add, &QPushButton::clicked, this, &COpenDiskImageErrorManageDlg::AddSlice);
  connect(m_remove, &QPushButton::clicked, this, &COpenDiskImageErrorManageDlg::RemoveSlice);
  connect(m_locate, &QPushButton::clicked, this, &COpenDiskImageErrorManageDlg::LocateSlice);
  connect(m_list, &QTableWidget::cellClicked, this, [this](int row, int) { SelectRow(row); });
  EnableRowButtons(false);
}

int COpenDiskImageErrorManageDlg::RowCount() const { return m_list->rowCount(); }

std::string COpenDiskImageErrorManageDlg::RowText(int row, int column) const {
  const QTableWidgetItem* item = m_list->item(row, column);
  return item ? item->text().toStdString() : std::string();
}

void COpenDiskImageErrorManageDlg::EnableRowButtons(bool enable) {
  m_remove->setEnabled(enable);
  m_locate->setEnabled(enable);
}

void COpenDiskImageErrorManageDlg::SelectRow(int row) {
  if (row >= 0 && row < m_list->rowCount()) {
    m_selected = row;
    m_list->selectRow(row);
    EnableRowButtons(true);
  } else {
    m_selected = -1;
    EnableRowButtons(false);
  }
}

bool COpenDiskImageErrorManageDlg::IsUsableSlice(const std::string& path, int part, bool listed) const {
  if (listed && !IsOwnPartPath(m_descriptorPath, part, path)) return false;
  if (!OpensAsSlice(m_descriptorPath, part, path)) return false;
  const uint64_t expected = ExpectedPartSize(m_descriptorPath, part);
  if (expected == 0) return true;
  struct stat info {};
  const int fd = corvale::image::OpenPartFile(m_descriptorPath, static_cast<uint32_t>(part), path, O_RDONLY);
  const bool fits = fd >= 0 && ::fstat(fd, &info) == 0 && static_cast<uint64_t>(info.st_size) == expected;
  if (fd >= 0) ::close(fd);
  return fits;
}

void COpenDiskImageErrorManageDlg::AppendRow(int number, bool valid, const std::string& path) {
  const int row = m_list->rowCount();
  m_list->insertRow(row);
  m_list->setItem(row, kNumber, new QTableWidgetItem(QString::number(number)));
  m_list->setItem(
      row, kState,
      new QTableWidgetItem(QString::fromStdString(valid ? corvale::ui::StringOrUtf8(427, "VALID")
                                                        : corvale::ui::StringOrUtf8(428, "INVALID"))));
  m_list->setItem(row, kLocation, new QTableWidgetItem(QString::fromStdString(path)));
}

void COpenDiskImageErrorManageDlg::UpdateAllValid() {
  bool all = m_list->rowCount() > 0;
  for (int row = 0; all && row < m_list->rowCount(); ++row)
    if (RowText(row, kState) == corvale::ui::StringOrUtf8(428, "INVALID")) all = false;
  m_allValid = all;
}

void COpenDiskImageErrorManageDlg::LoadSliceList(const std::string& partListPath) {
  m_partListPath = partListPath;
  m_descriptorPath = DescriptorOfPartList(partListPath);
  std::string text;
  if (!ReadWholeFile(partListPath, text, kMaxPartList)) return;
  std::vector<std::string> paths;
  SplitSliceList(text, paths);
  for (const std::string& path : paths) {
    const int row = m_list->rowCount();
    m_paths[path] = row;
    AppendRow(row, IsUsableSlice(path, row, true), path);
  }
}

void COpenDiskImageErrorManageDlg::AddSlice() {
  const std::string path =
      corvale::dialogs::ChooseImageFile(this, false, "*.kbf", "QBX DISKIMAGE FILE(*.kbf)");
  if (path.empty() || m_paths.count(path)) return;
  const int row = m_list->rowCount();
  if (!IsUsableSlice(path, row, false)) {
    Warn(corvale::ui::StringOrUtf8(166, "This is an INVALID file, please check it!"));
    return;
  }
  AppendRow(row, true, path);
  m_paths[path] = row;
  UpdateAllValid();
}

void COpenDiskImageErrorManageDlg::LocateSlice() {
  if (m_selected < 0 || m_selected >= m_list->rowCount()) return;
  const std::string path =
      corvale::dialogs::ChooseImageFile(this, false, "*.kbf", "QBX DISKIMAGE FILE(*.kbf)");
  if (path.empty() || m_paths.count(path)) return;
  // The slice must be the one this row stands for, not merely a file that opens.
  if (!IsUsableSlice(path, m_selected, false)) {
    Warn(corvale::ui::StringOrUtf8(167, "This is an INVALID file, please check it!"));
    return;
  }
  const int row = m_selected;
  m_paths.erase(RowText(row, kLocation));
  m_list->item(row, kNumber)->setText(QString::number(row));
  m_list->item(row, kState)->setText(QString::fromStdString(corvale::ui::StringOrUtf8(427, "VALID")));
  m_list->item(row, kLocation)->setText(QString::fromStdString(path));
  m_paths[path] = row;
  UpdateAllValid();
}

void COpenDiskImageErrorManageDlg::RemoveSlice() {
  if (m_selected < 0 || m_selected >= m_list->rowCount()) return;
  for (int row = m_selected + 1; row < m_list->rowCount(); ++row) m_paths[RowText(row, kLocation)] = row - 1;
  m_paths.erase(RowText(m_selected, kLocation));
  m_list->removeRow(m_selected);
  UpdateAllValid();
  m_selected = -1;
  EnableRowButtons(false);
}

bool COpenDiskImageErrorManageDlg::SaveSliceList() {
  std::string text;
  for (int row = 0; row < m_list->rowCount(); ++row) text += RowText(row, kLocation) + "\r\n";
  // The list is written anew beside the old one and renamed over it: a link standing under its name
  // is replaced, never written through. It keeps the old list's owner and mode.
  std::string name;
  const platform::FolderWalk folder = platform::WalkToFolderOf(m_partListPath, &name);
  if (!folder.ok()) {
    LogError("The slice list %s cannot be written: %s", m_partListPath.c_str(), folder.Describe().c_str());
    return false;
  }
  struct stat old {};
  struct stat folderStat {};
  uid_t uid = static_cast<uid_t>(-1);
  gid_t gid = static_cast<gid_t>(-1);
  mode_t mode = 0600;
  if (::fstatat(folder.fd.Get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode)) {
    uid = old.st_uid;
    gid = old.st_gid;
    mode = old.st_mode & 0777;
  } else if (::fstat(folder.fd.Get(), &folderStat) == 0) {
    const platform::OutputOwner owner = platform::OutputOwner::ForFolder(folderStat);
    uid = owner.uid;
    gid = owner.gid;
    mode = owner.fileMode;
  }
  if (!platform::ReplaceFileIn(folder.fd.Get(), name, text, mode, uid, gid)) {
    LogError("The slice list %s cannot be written: %s", m_partListPath.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

void COpenDiskImageErrorManageDlg::ClearSliceList() {
  m_list->setRowCount(0);
  m_allValid = false;
  m_paths.clear();
  m_selected = -1;
  EnableRowButtons(false);
}

// ---------------------------------------------------------------------------------------------
COpenDiskImageMasterDlg::COpenDiskImageMasterDlg(QWidget* parent) : CSearchSuperDlg(kTemplateId, parent) {
  SetHelpTopic(kHelpTopic);
  setWindowTitle(QStringLiteral("Open Disk Image"));
  m_banner = new CDIskImagePublicDlg(this);
  m_stack = new QStackedWidget(this);
  m_infoPage = new COpenDiskImageInfoDlg;
  m_pathPage = new COpenDiskImagePathDlg;
  m_slicePage = new COpenDiskImageErrorManageDlg;
  m_successPage = new COpenDiskImageSuccessDlg;
  for (QWidget* page : std::initializer_list<QWidget*>{m_infoPage, m_pathPage, m_slicePage, m_successPage})
    m_stack->addWidget(page);
  m_back = new QPushButton(QStringLiteral("< Back"), this);
  m_back->setObjectName(QStringLiteral("1001"));
  m_next = new QPushButton(QStringLiteral("Next >"), this);
  m_next->setObjectName(QStringLiteral("1004"));
  m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
  m_cancel->setObjectName(QStringLiteral("2"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(m_banner);
  layout->addWidget(m_stack, 1);
  layout->addLayout(corvale::dialogs::MakeWizardButtonRow(m_back, m_next, m_cancel));
  // 275 x 188 dialog units at least, and what the largest page needs.
  setMinimumSize(corvale::ui::DluSize(font(), 275, 188).expandedTo(layout->minimumSize()));
  connect(m_next, &QPushButton::clicked, this, &COpenDiskImageMasterDlg::OnNext);
  connect(m_back, &QPushButton::clicked, this, &COpenDiskImageMasterDlg::OnBack);
  connect(m_cancel, &QPushButton::clicked, this, &COpenDiskImageMasterDlg::OnCancel);
  m_timer = new QTimer(this);
  connect(m_timer, &QTimer::timeout, this, &COpenDiskImageMasterDlg::UpdateNextButton);
  m_timer->start(500);
  m_step = kWelcome;
  ShowStep();
  m_back->setEnabled(false);
  SetBanner(169, "Open Disk Image Wizard");
}

COpenDiskImageMasterDlg::~COpenDiskImageMasterDlg() { m_timer->stop(); }

void COpenDiskImageMasterDlg::ShowStep() { m_stack->setCurrentIndex(m_step); }

void COpenDiskImageMasterDlg::SetBanner(uint32_t id, const char* text) {
  m_banner->SetBannerTitle(corvale::ui::StringOrUtf8(id, text));
}

void COpenDiskImageMasterDlg::UpdateNextButton() {
  if (!m_pathTried) return;
  if (m_slicePage->IsAllValid() || m_nextAllowed)
    m_next->setEnabled(true);
  else if (m_step == kSlices)
    m_next->setEnabled(false);
}

COpenDiskImageMasterDlg::SliceCheck COpenDiskImageMasterDlg::CheckSlices(const std::string& partListPath) {
  m_listError = false;
  std::string text;
  std::vector<std::string> paths;
  if (!ReadWholeFile(partListPath, text, kMaxPartList) || !SplitSliceList(text, paths)) {
    Warn(corvale::ui::StringOrUtf8(179, "File error! please check the it!"));
    m_listError = true;
    return SliceCheck::NotAPath;
  }
  const std::string descriptor = DescriptorOfPartList(partListPath);
  for (size_t part = 0; part < paths.size(); ++part)
    if (!IsOwnPartPath(descriptor, static_cast<int>(part), paths[part]) ||
        !OpensAsSlice(descriptor, static_cast<int>(part), paths[part]))
      return SliceCheck::SliceMissing;
  return SliceCheck::AllPresent;
}

void COpenDiskImageMasterDlg::CheckDescriptor() {
  m_pathTried = true;
  const std::string path = m_pathPage->GetPath();
  const bool kbi = path.size() >= 4 && path.compare(path.size() - 4, 4, ".kbi") == 0;
  std::ifstream descriptor(path, std::ios::binary);
  if (!descriptor || !kbi) {
    m_nextAllowed = true;
    Warn(corvale::ui::StringOrUtf8(176, "Can't open or it is not an Image File, please check the file!"));
    return;
  }
  const std::string partList = path.substr(0, path.size() - 4) + ".kbp";
  if (!std::ifstream(partList, std::ios::binary)) {
    Warn(corvale::ui::StringOrUtf8(174, "Have not found kbp file, please check the path!"));
    SetBanner(175, "Open Disk Image File(.kbi)");
    return;
  }
  switch (CheckSlices(partList)) {
    case SliceCheck::AllPresent:
      m_back->setEnabled(false);
      m_nextAllowed = true;
      m_step = kSuccess;
      SetBanner(173, "Open Disk Image Wizard");
      ShowStep();
      return;
    case SliceCheck::NotAPath:
      return;
    case SliceCheck::SliceMissing:
      m_nextAllowed = false;
      m_step = kSlices;
      SetBanner(172, "Correct error in Disk Image Configuration");
      m_slicePage->ClearSliceList();
      m_slicePage->LoadSliceList(partList);
      m_slicePage->EnableRowButtons(false);
      m_next->setEnabled(false);
      ShowStep();
      return;
  }
}

void COpenDiskImageMasterDlg::OnNext() {
  m_back->setEnabled(true);
  switch (m_step) {
    case kWelcome:
      m_step = kPath;
      SetBanner(171, "Open Disk Image File(.kbi)");
      ShowStep();
      return;
    case kPath:
      CheckDescriptor();
      return;
    case kSlices:
      if (!m_slicePage->IsAllValid()) return;
      if (!m_slicePage->SaveSliceList()) {
        Warn("The slice list could not be written: " + m_pathPage->GetPath());
        return;
      }
      m_back->setEnabled(false);
      m_step = kSuccess;
      SetBanner(177, "Disk Image Wizard");
      ShowStep();
      return;
    case kSuccess:
      m_result = true;
      CSearchSuperDlg::reject();
      return;
    default:
      return;
  }
}

void COpenDiskImageMasterDlg::OnBack() {
  const int prev = m_step == kSlices ? kPath : (m_step == kPath ? kWelcome : m_step);
  m_step = prev;
  if (m_step == kWelcome) {
    SetBanner(169, "Open Disk Image Wizard");
    m_back->setEnabled(false);
  } else if (m_step == kPath) {
    SetBanner(170, "Open Disk Image File(.kbi)");
    m_next->setEnabled(true);
    m_slicePage->ClearSliceList();
  }
  ShowStep();
}

void COpenDiskImageMasterDlg::OnCancel() {
  if (corvale::ui::AskMessageBox(corvale::ui::StringOrUtf8(178, "Cancel Wizard ?"), GetProductTitle(),
                                 corvale::ui::MessageButtons::OkCancel) == corvale::ui::MessageAnswer::Ok)
    CSearchSuperDlg::reject();
}
