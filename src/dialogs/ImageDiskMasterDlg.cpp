#include "dialogs/ImageDiskMasterDlg.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <random>

#include "controls/DialogTemplate.h"
#include "controls/SectorSelectCtrl.h"
#include "core/FileRecoverer.h"
#include "platform/FolderWalk.h"
#include "platform/Log.h"
#include "storage/CompressController.h"
#include "storage/IStorageDevice.h"
#include "storage/ImageFile.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/RefusedLink.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

namespace corvale::dialogs {

namespace {
ImageFileChooser& Chooser() {
  static ImageFileChooser chooser;
  return chooser;
}
}  // namespace

ImageFileChooser SetImageFileChooser(ImageFileChooser chooser) {
  ImageFileChooser previous = std::move(Chooser());
  Chooser() = std::move(chooser);
  return previous;
}

std::string ChooseImageFile(QWidget* parent, bool save, const std::string& defaultName,
                            const std::string& filter) {
  if (Chooser()) return Chooser()(parent, save, defaultName, filter);
  // "Title(*.ext)|*.ext||" as the system's filter text "Title (*.ext)".
  QString qtFilter = QString::fromStdString(filter.substr(0, filter.find('|')));
  const QString path =
      save ? QFileDialog::getSaveFileName(parent, QString(), QString::fromStdString(defaultName), qtFilter)
           : QFileDialog::getOpenFileName(parent, QString(), QString::fromStdString(defaultName), qtFilter);
  return path.toStdString();
}

uint32_t GetFreeSpaceMiB(const std::string& path) {
  std::string name;
  const platform::FolderWalk folder = platform::WalkToFolderOf(path, &name);
  return folder.ok() ? FreeSpaceMiB(folder.fd.Get()) : 0;
}

uint32_t FreeSpaceMiB(int folder) {
  struct statvfs info {};
  if (::fstatvfs(folder, &info) != 0) return 0;
  const uint64_t bytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
  const uint64_t mib = bytes / 1024 / 1024;
  return mib > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(mib);
}

// The pages keep their controls 14 dialog units from the sides and 7 from the top and bottom.
void SetWizardPageMargins(QLayout* layout) {
  layout->setContentsMargins(corvale::ui::DluToPixelsX(14), corvale::ui::DluToPixelsY(7),
                             corvale::ui::DluToPixelsX(14), corvale::ui::DluToPixelsY(7));
}

QHBoxLayout* MakeWizardButtonRow(QPushButton* back, QPushButton* next, QPushButton* cancel) {
  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(corvale::ui::DluToPixelsX(7), corvale::ui::DluToPixelsY(5),
                              corvale::ui::DluToPixelsX(7), corvale::ui::DluToPixelsY(5));
  buttons->addStretch(1);
  buttons->addWidget(back);
  buttons->addWidget(next);
  buttons->addSpacing(corvale::ui::DluToPixelsX(7));
  buttons->addWidget(cancel);
  return buttons;
}

}  // namespace corvale::dialogs

using corvale::dialogs::SetWizardPageMargins;

namespace {

void Warn(const std::string& text) {
  corvale::ui::ShowMessageBox(text, GetProductTitle(), corvale::ui::MessageIcon::Warning);
}

std::string ImageFilter() { return GetProductTitle() + " ImageFile(*.kbi)|*.kbi||"; }

constexpr uint32_t kStringReplaceImageFiles = 62012;
constexpr uint32_t kStringImageOnSource = 62013;

// Asks whether the files of an image named in `names` (one a line) may be replaced.
bool AskReplace(std::string names) {
  if (!names.empty() && names.back() == '\n') names.pop_back();
  QString text = corvale::ui::LoadStringResource(kStringReplaceImageFiles);
  text.replace(QStringLiteral("%s"), QString::fromStdString(names));
  return corvale::ui::AskMessageBox(text.toStdString(), GetProductTitle(), corvale::ui::MessageButtons::YesNo,
                                    corvale::ui::MessageIcon::Warning) == corvale::ui::MessageAnswer::Yes;
}

// False when the folder `folder` lies on the disk being imaged and the user would rather not write
// there (the caution the target-folder step gives; No is the default).
bool ConfirmOffSource(const std::string& folder, IStorageDevice* source) {
  if (!CFileRecoverer::IsPathOnDevice(folder.c_str(), source)) return true;
  return corvale::ui::AskMessageBox(corvale::ui::LoadStringResource(kStringImageOnSource).toStdString(),
                                    GetProductTitle(), corvale::ui::MessageButtons::YesNo,
                                    corvale::ui::MessageIcon::Warning) == corvale::ui::MessageAnswer::Yes;
}

// Writes 512 zero bytes into a scratch file of our own in `folder` and removes it again.
bool WriteProbe(int folder) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = ".corvale-image-" + std::to_string(random());
    const int fd = platform::CreateFileIn(folder, name, O_WRONLY, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return false;
    const char zeros[512] = {};
    const bool written = ::write(fd, zeros, sizeof zeros) == static_cast<ssize_t>(sizeof zeros);
    ::close(fd);
    ::unlinkat(folder, name.c_str(), 0);
    return written;
  }
  return false;
}

bool EndsWithKbi(const std::string& path) {
  return path.size() >= 4 && path.compare(path.size() - 4, 4, ".kbi") == 0;
}

QLabel* NewLabel(QWidget* parent, const QString& text = QString()) { return new QLabel(text, parent); }

// A copy of `font` at the weight the wizards draw their names and titles in.
QFont BoldCopy(QFont font) {
  font.setWeight(QFont::Bold);
  return font;
}

std::string SizeText(uint64_t sectors, int32_t sectorSize) {
  const double gib = 1073741824.0 / sectorSize;
  const double mib = 1048576.0 / sectorSize;
  char text[64];
  if (static_cast<double>(sectors) >= gib)
    std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(sectors) / gib);
  else
    std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(sectors) / mib);
  return text;
}

}  // namespace

CInterfaceDialog::CInterfaceDialog(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
}

CDIskImagePublicDlg::CDIskImagePublicDlg(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(177, 218, 244));
  setPalette(palette);
  m_title = new QLabel(this);
  m_title->setObjectName(QString::number(kTitleId));
  m_title->setFont(corvale::ui::MakeUiFont(16, 700));
  m_title->setMinimumHeight(m_title->fontMetrics().height() + 8);
  auto* layout = new QHBoxLayout(this);
  SetWizardPageMargins(layout);
  layout->addWidget(m_title, 1);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CDIskImagePublicDlg::SetBannerTitle(const std::string& text) {
  m_title->setText(QString::fromStdString(text));
}
std::string CDIskImagePublicDlg::GetBannerTitle() const { return m_title->text().toStdString(); }

// ---------------------------------------------------------------------------------------------
CImageDiskModeChooseDlg::CImageDiskModeChooseDlg(QWidget* parent) : CInterfaceDialog(parent) {
  auto* layout = new QVBoxLayout(this);
  SetWizardPageMargins(layout);
  m_welcome =
      NewLabel(this, QStringLiteral("Welcome to Disk Image Wizard of ") +
                         QString::fromStdString(corvale::ui::StringOrUtf8(346, GetProductTitle().c_str())));
  layout->addWidget(m_welcome);
  layout->addSpacing(corvale::ui::DluToPixelsY(6));
  layout->addWidget(NewLabel(this, QStringLiteral("Select Drive To Image:")));
  m_source = NewLabel(this);
  m_source->setObjectName(QStringLiteral("1005"));
  m_source->setFont(BoldCopy(font()));
  layout->addWidget(m_source);
  layout->addSpacing(corvale::ui::DluToPixelsY(6));
  m_advanced = new QCheckBox(QStringLiteral("Advanced Wizard Mode:"), this);
  m_advanced->setObjectName(QStringLiteral("1002"));
  layout->addWidget(m_advanced);
  layout->addStretch(1);
  layout->addWidget(NewLabel(this, QStringLiteral("To continue, click Next")));
}

bool CImageDiskModeChooseDlg::IsAdvancedMode() const { return m_advanced->isChecked(); }

void CImageDiskModeChooseDlg::SetSourceName(const std::string& name) {
  const QString text = QString::fromStdString(name);
  m_source->setText(text.size() < 26 ? text : text.left(25) + QStringLiteral("..."));
}

// ---------------------------------------------------------------------------------------------
CImageDiskPathChooseDlg::CImageDiskPathChooseDlg(QWidget* parent, bool withPathRow)
    : CInterfaceDialog(parent) {
  m_layout = new QVBoxLayout(this);
  SetWizardPageMargins(m_layout);
  if (withPathRow) {
    AddPathRow(1009, 1022);
    m_layout->addStretch(1);
  }
}

void CImageDiskPathChooseDlg::AddPathRow(int editId, int browseId) {
  m_layout->addWidget(NewLabel(this, QStringLiteral("Disk Image File Name:")));
  auto* row = new QHBoxLayout;
  m_path = new QLineEdit(this);
  m_path->setObjectName(QString::number(editId));
  row->addWidget(m_path, 1);
  m_browse = new QPushButton(QStringLiteral("PATH>>>"), this);
  m_browse->setObjectName(QString::number(browseId));
  row->addWidget(m_browse);
  m_layout->addLayout(row);
  connect(m_browse, &QPushButton::clicked, this, &CImageDiskPathChooseDlg::Browse);
  connect(m_path, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (text.size() >= 208) {
      Warn(corvale::ui::StringOrUtf8(61208, "The length is enough!"));
      m_path->clear();
    }
  });
}

void CImageDiskPathChooseDlg::Browse() {
  // The default name is the text's one "%s" replaced by the version.
  QString name = QString::fromStdString(corvale::ui::StringOrUtf8(384, "QBX%s_DiskImageFile.kbi"));
  name.replace(QStringLiteral("%s"), QString::fromLatin1(GetVersionString()));
  std::string path = corvale::dialogs::ChooseImageFile(this, true, name.toStdString(), ImageFilter());
  if (path.empty()) return;
  if (!EndsWithKbi(path)) path += ".kbi";
  if (path == "*.kbi") path.clear();
  if (path.size() > 200) {
    Warn(corvale::ui::StringOrUtf8(61208, "The length is enough!"));
    path.clear();
  }
  m_path->setText(QString::fromStdString(path));
}

std::string CImageDiskPathChooseDlg::GetImageFilePath() {
  std::string path = m_path->text().toStdString();
  if (path.size() <= 6 || !EndsWithKbi(path)) path += ".kbi";
  m_path->setText(QString::fromStdString(path));
  return path;
}

CImageDiskADPathChooseDlg::CImageDiskADPathChooseDlg(QWidget* parent)
    : CImageDiskPathChooseDlg(parent, false) {
  AddPathRow(1011, 1007);
  auto* grid = new QGridLayout;
  m_compress = new QCheckBox(QStringLiteral("Compress Disk Image File,compression level:"), this);
  m_compress->setObjectName(QStringLiteral("1052"));
  grid->addWidget(m_compress, 0, 0);
  m_levels = new QComboBox(this);
  m_levels->setObjectName(QStringLiteral("1013"));
  m_levels->addItems({QString::fromStdString(corvale::ui::StringOrUtf8(379, "Fastest")),
                      QString::fromStdString(corvale::ui::StringOrUtf8(380, "Normal")),
                      QString::fromStdString(corvale::ui::StringOrUtf8(381, "Maximum"))});
  m_levels->setEnabled(false);
  grid->addWidget(m_levels, 0, 1);
  m_split = new QCheckBox(QStringLiteral("Split Disk Image into slices,maximum size of a slice file:"), this);
  m_split->setObjectName(QStringLiteral("1054"));
  grid->addWidget(m_split, 1, 0);
  m_slices = new QComboBox(this);
  m_slices->setObjectName(QStringLiteral("1016"));
  m_slices->addItems(
      {QStringLiteral("4G"), QStringLiteral("2G"), QStringLiteral("1G"), QStringLiteral("640MB")});
  m_slices->setEnabled(false);
  grid->addWidget(m_slices, 1, 1);
  grid->setColumnStretch(2, 1);
  m_layout->addSpacing(corvale::ui::DluToPixelsY(4));
  m_layout->addLayout(grid);
  m_layout->addStretch(1);
  connect(m_split, &QCheckBox::toggled, m_slices, &QWidget::setEnabled);
  connect(m_compress, &QCheckBox::toggled, m_levels, &QWidget::setEnabled);
}

void CImageDiskADPathChooseDlg::GetImageSettings(int32_t& sliceSize, int32_t& compressorType,
                                                 int32_t& level) const {
  static constexpr int32_t kSlices[] = {8388600, 4194304, 2097152, 1310720};
  static constexpr int32_t kLevels[] = {1, 5, 9};
  sliceSize = 8388600;
  if (m_split->isChecked() && m_slices->currentIndex() >= 0 && m_slices->currentIndex() < 4)
    sliceSize = kSlices[m_slices->currentIndex()];
  if (m_compress->isChecked()) {
    compressorType = 2;
    level = 1;
    if (m_levels->currentIndex() >= 0 && m_levels->currentIndex() < 3)
      level = kLevels[m_levels->currentIndex()];
  } else {
    compressorType = 0;
    level = -1;
  }
}

// ---------------------------------------------------------------------------------------------
CUpDownCtrl::CUpDownCtrl(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  const auto makeArrow = [&](Qt::ArrowType arrow, int delta) {
    auto* button = new QToolButton(this);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    button->setFixedWidth(corvale::ui::DluToPixelsX(10));
    connect(button, &QToolButton::clicked, this, [this, delta] { emit deltaPos(delta); });
    layout->addWidget(button);
    return button;
  };
  // As the system's up-down control with its default range: the upper arrow moves the position
  // down, so it reports a negative change.
  m_up = makeArrow(Qt::UpArrow, -1);
  m_down = makeArrow(Qt::DownArrow, 1);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
}

void CUpDownCtrl::SetBuddy(QWidget* buddy) {
  m_buddy = buddy;
  buddy->installEventFilter(this);
}

bool CUpDownCtrl::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_buddy && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      emit deltaPos(key == Qt::Key_Up ? -1 : 1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

CImageDiskSetRegionDlg::CImageDiskSetRegionDlg(QWidget* parent) : CInterfaceDialog(parent) {
  auto* layout = new QVBoxLayout(this);
  SetWizardPageMargins(layout);
  auto* text = NewLabel(
      this, QStringLiteral(
                "Select region on the source disk which you want to store in the Disk Image and click Next"));
  text->setWordWrap(true);
  layout->addWidget(text);
  m_selector = new CSectorSelectCtrl(this);
  m_selector->setObjectName(QStringLiteral("1025"));
  m_selector->SetSelectionColor(QColor(202, 230, 247));
  m_selector->SetTrackColor(QColor(127, 197, 234));
  m_selector->setMinimumSize(corvale::ui::DluToPixelsX(120), corvale::ui::DluToPixelsY(28));
  m_selector->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  layout->addWidget(m_selector, 1);
  // Each edit with its up-down control right beside it.
  const auto addField = [&](QHBoxLayout* row, const QString& label, QLineEdit*& edit, CUpDownCtrl*& upDown,
                            int editId, int upDownId) {
    row->addWidget(NewLabel(this, label));
    edit = new QLineEdit(QStringLiteral("0"), this);
    edit->setObjectName(QString::number(editId));
    edit->setMinimumWidth(corvale::ui::DluToPixelsX(70));
    upDown = new CUpDownCtrl(this);
    upDown->setObjectName(QString::number(upDownId));
    upDown->SetBuddy(edit);
    upDown->setFixedHeight(edit->sizeHint().height());
    auto* pair = new QHBoxLayout;
    pair->setSpacing(0);
    pair->addWidget(edit, 1);
    pair->addWidget(upDown);
    row->addLayout(pair, 1);
  };
  auto* row = new QHBoxLayout;
  addField(row, QStringLiteral("Start sector:"), m_startEdit, m_startUpDown, 1092, 1093);
  row->addSpacing(corvale::ui::DluToPixelsX(14));
  addField(row, QStringLiteral("End sector:"), m_endEdit, m_endUpDown, 1094, 1037);
  layout->addLayout(row);
  connect(m_selector, &CSectorSelectCtrl::rangeChanged, this, &CImageDiskSetRegionDlg::OnSelectorChanged);
  connect(m_startEdit, &QLineEdit::textEdited, this, &CImageDiskSetRegionDlg::OnStartEdited);
  connect(m_endEdit, &QLineEdit::textEdited, this, &CImageDiskSetRegionDlg::OnEndEdited);
  connect(m_startUpDown, &CUpDownCtrl::deltaPos, this, &CImageDiskSetRegionDlg::StepStart);
  connect(m_endUpDown, &CUpDownCtrl::deltaPos, this, &CImageDiskSetRegionDlg::StepEnd);
}

void CImageDiskSetRegionDlg::SetTotalSectors(uint64_t total) {
  m_total = total;
  m_highest = total > 0 ? total - 1 : 0;
  m_start = 0;
  m_end = m_highest;
  m_selector->SetSectorCount(total);
  m_startEdit->setText(QStringLiteral("0"));
  m_endEdit->setText(QString::number(m_highest));
}

void CImageDiskSetRegionDlg::OnSelectorChanged() {
  if (m_updating) return;
  m_selector->GetSelectedRange(m_start, m_end);
  m_startEdit->setText(QString::number(m_start));
  m_endEdit->setText(QString::number(m_end));
}

void CImageDiskSetRegionDlg::ApplyToSelector() {
  m_updating = true;
  m_selector->SetSelectedRange(m_start, m_end);
  m_updating = false;
}

void CImageDiskSetRegionDlg::OnStartEdited() {
  int64_t value = m_startEdit->text().toLongLong();
  if (value < 0) value = 0;
  if (static_cast<uint64_t>(value) > m_end) value = 0;
  m_start = static_cast<uint64_t>(value);
  m_startEdit->setText(QString::number(m_start));
  ApplyToSelector();
}

void CImageDiskSetRegionDlg::OnEndEdited() {
  int64_t value = m_endEdit->text().toLongLong();
  if (value < 0) value = 0;
  if (static_cast<uint64_t>(value) < m_start) {
    m_start = 0;
    m_startEdit->setText(QStringLiteral("0"));
  }
  if (static_cast<uint64_t>(value) > m_highest) value = static_cast<int64_t>(m_highest);
  m_end = static_cast<uint64_t>(value);
  m_endEdit->setText(QString::number(m_end));
  ApplyToSelector();
}

void CImageDiskSetRegionDlg::StepStart(int delta) {
  if (delta < 0 && m_start < m_end) ++m_start;
  if (delta > 0 && m_start > 0) --m_start;
  m_startEdit->setText(QString::number(m_start));
  ApplyToSelector();
}

void CImageDiskSetRegionDlg::StepEnd(int delta) {
  if (delta < 0 && m_end < m_highest) ++m_end;
  if (delta > 0 && m_end > m_start) --m_end;
  m_endEdit->setText(QString::number(m_end));
  ApplyToSelector();
}

// ---------------------------------------------------------------------------------------------
CImageDiskDiskInfo::CImageDiskDiskInfo(QWidget* parent) : CInterfaceDialog(parent) {
  static const char* const kLabels[] = {
      "Source Disk ID:",     "Source Disk Size:", "Source Disk Region Size:",
      "Source Disk Region:", "Destination File:", "Compression Level:"};
  auto* grid = new QGridLayout(this);
  SetWizardPageMargins(grid);
  for (int i = 0; i < 6; ++i) {
    grid->addWidget(NewLabel(this, QString::fromLatin1(kLabels[i])), i, 0);
    m_values[i] = NewLabel(this);
    m_values[i]->setObjectName(QString::number(1045 + i));
    grid->addWidget(m_values[i], i, 1);
  }
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(6, 1);
}

std::string CImageDiskDiskInfo::ValueText(int id) const {
  return id >= 1045 && id <= 1050 ? m_values[id - 1045]->text().toStdString() : std::string();
}

void CImageDiskDiskInfo::ShowSummary(const ImageSummary& summary, int32_t sectorSize) {
  if (sectorSize < 1 || sectorSize > 4096 || sectorSize % 512 != 0) sectorSize = 512;
  m_values[0]->setText(QString::fromStdString(summary.sourceName));
  m_values[1]->setText(QString::fromStdString(SizeText(summary.totalSectors, sectorSize)));
  char region[128];
  std::snprintf(region, sizeof region, "%" PRIu64 "---%" PRIu64 "%s", summary.regionStart, summary.regionEnd,
                corvale::ui::StringOrUtf8(421, "   Sectors").c_str());
  m_values[3]->setText(QString::fromLatin1(region));
  m_values[2]->setText(QString::fromStdString(SizeText(summary.regionEnd - summary.regionStart, sectorSize)));
  const QString path = QString::fromStdString(summary.destinationPath);
  m_values[4]->setText(path.size() < 31 ? path : path.left(30) + QStringLiteral("......"));
  std::string level;
  switch (summary.compressionLevel) {
    case 1:
      level = corvale::ui::StringOrUtf8(379, "Fastest");
      break;
    case 5:
      level = corvale::ui::StringOrUtf8(422, "Normal");
      break;
    case 9:
      level = corvale::ui::StringOrUtf8(423, "Maximum");
      break;
    case -1:
      level = corvale::ui::StringOrUtf8(424, "None");
      break;
    default:
      break;
  }
  m_values[5]->setText(QString::fromStdString(level));
}

// ---------------------------------------------------------------------------------------------
CImageDiskRunDlg::CImageDiskRunDlg(QWidget* parent)
    : CInterfaceDialog(parent), m_writer(std::make_unique<CCompressController>()) {
  m_progress = new QProgressBar(this);
  m_progress->setObjectName(QStringLiteral("1019"));
  m_progress->setTextVisible(false);
  auto* layout = new QVBoxLayout(this);
  SetWizardPageMargins(layout);
  layout->addWidget(m_progress);
  auto* grid = new QGridLayout;
  const auto addRow = [&](int row, const char* label, const QString& value, const char* id) {
    grid->addWidget(NewLabel(this, QString::fromLatin1(label)), row, 0);
    QLabel* text = NewLabel(this, value);
    text->setObjectName(QString::fromLatin1(id));
    grid->addWidget(text, row, 1);
    return text;
  };
  m_remaining = addRow(0, "Remaining Time:", QStringLiteral("00:00:00"), "1039");
  m_freeSpace = addRow(1, "Disk free space:", QString(), "1091");
  m_currentFile = addRow(2, "Current file:", QString(), "1095");
  grid->setColumnStretch(1, 1);
  layout->addLayout(grid);
  layout->addStretch(1);
  m_timer = new QTimer(this);
  m_timer->setInterval(300);
  connect(m_timer, &QTimer::timeout, this, &CImageDiskRunDlg::OnTimer);
}

CImageDiskRunDlg::~CImageDiskRunDlg() { CancelAndWait(); }

std::string CImageDiskRunDlg::ShortPath(const std::string& path) {
  if (path.size() <= 40) return path;
  size_t cut = 40;
  // Never split a UTF-8 sequence.
  while (cut > 0 && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80) --cut;
  return path.substr(0, cut) + ".........";
}

std::string CImageDiskRunDlg::FormatRemaining(uint64_t total, uint64_t done, uint64_t elapsedMs) {
  if (done == 0 || elapsedMs < 5000) return corvale::ui::StringOrUtf8(61206, "Calculating...");
  const uint64_t left = total > done ? total - done : 0;
  // 128-bit product: a huge source and a long run must not wrap.
  const unsigned __int128 product = static_cast<unsigned __int128>(left) * elapsedMs;
  const uint64_t seconds = static_cast<uint64_t>(product / done / 1000) + 1;
  char text[64];
  std::snprintf(text, sizeof text, "%02" PRIu64 ":%02" PRIu64 ":%02" PRIu64, seconds / 3600,
                seconds / 60 % 60, seconds % 60);
  return text;
}

std::string CImageDiskRunDlg::RemainingText() const { return m_remaining->text().toStdString(); }

std::string CImageDiskRunDlg::GetErrorText() const { return m_writer->GetErrorText(); }

void CImageDiskRunDlg::SetRange(int64_t, int64_t last) { m_total = static_cast<uint64_t>(last); }

bool CImageDiskRunDlg::NeedNewPart() {
  // Runs on the worker before every chunk: the target's free space is checked here rather than
  // once a second, so a fast run cannot fill the disk between two checks. The file system is only
  // asked when the estimate from the last look comes near the limit or the look is getting old;
  // between looks, what this run wrote is taken off the known free space.
  if (!m_watch || m_cancel) return false;
  constexpr uint64_t kMiB = 1024 * 1024;
  const auto now = std::chrono::steady_clock::now();
  const uint64_t estimate =
      m_freeBytesAtLook > m_writtenSinceLook ? m_freeBytesAtLook - m_writtenSinceLook : 0;
  if (estimate >= (kLowSpaceMiB + kFreeSpaceMarginMiB) * kMiB && now - m_lastLook < kFreeSpaceLookInterval)
    return false;
  std::unique_lock<std::mutex> lock(m_mutex);
  const uint32_t free = corvale::dialogs::GetFreeSpaceMiB(m_watchedPath);
  ++m_freeSpaceLooks;
  m_freeMiB = free;
  m_freeBytesAtLook = static_cast<uint64_t>(free) * kMiB;
  m_writtenSinceLook = 0;
  m_lastLook = now;
  if (free >= kLowSpaceMiB) return false;
  m_lowSpace = true;
  m_decision = 0;
  m_decided.wait(lock, [this] { return m_decision != 0 || m_cancel; });
  m_lowSpace = false;
  // The next chunk looks at the new place afresh.
  m_lastLook = {};
  m_freeBytesAtLook = 0;
  if (m_decision == 1 && !m_cancel) return true;
  m_cancel = true;
  return false;
}

void CImageDiskRunDlg::Start(IStorageDevice* source, const ImageSummary& summary, int32_t sourceKind,
                             int32_t compressorType, int32_t level, int32_t sliceSize, bool replaceExisting,
                             std::function<void(bool)> done) {
  m_source = source;
  m_doneCallback = std::move(done);
  m_watchedPath = summary.destinationPath;
  m_currentFile->setText(QString::fromStdString(ShortPath(summary.destinationPath)));
  const uint32_t free = corvale::dialogs::GetFreeSpaceMiB(summary.destinationPath);
  m_freeSpace->setText(QString::number(free));
  if (free < kLowSpaceMiB) {
    Warn(corvale::ui::StringOrUtf8(61205, " Free space is not enough, the progress must be cancelled."));
    m_cancel = true;
    m_aborted = true;
    m_made = false;
    QTimer::singleShot(0, this, [this] {
      if (m_doneCallback) m_doneCallback(false);
    });
    return;
  }
  m_watch = (summary.regionEnd - summary.regionStart) / 2 / 1024 > 0;
  m_freeBytesAtLook = 0;
  m_writtenSinceLook = 0;
  m_lastLook = {};
  m_freeSpaceLooks = 0;
  m_writer->SetSource(source, summary.sourceName.c_str(), summary.regionStart,
                      summary.regionEnd - summary.regionStart + 1, sourceKind);
  m_writer->SetCompressParam(compressorType, level, sliceSize);
  m_writer->SetImageFilePath(summary.destinationPath);
  m_writer->SetReplaceExisting(replaceExisting);
  m_begin = std::chrono::steady_clock::now();
  m_remaining->setText(QString::fromStdString(corvale::ui::StringOrUtf8(61206, "Calculating...")));
  m_finished = false;
  m_worker = std::thread([this] {
    m_made = m_writer->Compress(this);
    m_finished = true;
    // Straight to the window thread, not at the next timer tick.
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (m_finished && m_doneCallback) Finish();
        },
        Qt::QueuedConnection);
  });
  m_timer->start();
}

void CImageDiskRunDlg::SetCancel(bool cancel) {
  m_cancel = cancel;
  if (cancel) m_gate.Cancel();
}

void CImageDiskRunDlg::SetPaused(bool paused) {
  if (paused == m_gate.IsHeld()) return;
  const auto now = std::chrono::steady_clock::now();
  if (paused) {
    m_pausedSince = now;
    m_gate.Hold();
  } else {
    m_pausedFor += now - m_pausedSince;
    m_gate.Release();
  }
}

void CImageDiskRunDlg::OnTimer() {
  const uint64_t total = m_total;
  const uint64_t done = m_done;
  m_progress->setRange(0, 1000);
  m_progress->setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 0);
  // A pause does not count as time the run took.
  const auto now = m_gate.IsHeld() ? m_pausedSince : std::chrono::steady_clock::now();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_begin - m_pausedFor);
  m_remaining->setText(
      QString::fromStdString(FormatRemaining(total, done, static_cast<uint64_t>(elapsed.count()))));
  if (m_watch) {
    char text[32];
    std::snprintf(text, sizeof text, "%u  MB", m_freeMiB.load());
    m_freeSpace->setText(QString::fromLatin1(text));
  }
  bool ask = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ask = m_lowSpace && !m_asking && m_decision == 0;
    if (ask) m_asking = true;
  }
  if (ask) AskForNewLocation();
  if (m_finished && m_doneCallback) Finish();
}

void CImageDiskRunDlg::AskForNewLocation() {
  int decision = 2;
  for (;;) {
    const auto answer = corvale::ui::AskMessageBox(
        corvale::ui::StringOrUtf8(
            61204,
            "The free space on the disk is not enough to save the Disk Image data.\nClick YES to select "
            "another location for Disk Image files or NO to abort wizard."),
        GetProductTitle(), corvale::ui::MessageButtons::YesNo, corvale::ui::MessageIcon::Warning);
    if (answer != corvale::ui::MessageAnswer::Yes) break;
    const std::string path = corvale::dialogs::ChooseImageFile(this, true, std::string(), ImageFilter());
    if (path.empty()) break;
    // The rest of the parts is made there as the first ones were: in a folder reached through no
    // link of another user, over existing files only when the user says so.
    std::string name;
    const platform::FolderWalk folder = platform::WalkToFolderOf(path, &name);
    if (!folder.ok()) {
      if (folder.RefusedALink()) Warn(corvale::ui::RefusedLinkText(folder.refusedLink));
      continue;
    }
    std::string existing;
    for (const std::string& member : corvale::image::MemberFileNames(path, true))
      if (platform::EntryExistsIn(folder.fd.Get(), member)) existing += member + "\n";
    if (!existing.empty() && !AskReplace(existing)) continue;
    if (!ConfirmOffSource(path.substr(0, path.size() - name.size()), m_source)) continue;
    if (corvale::dialogs::FreeSpaceMiB(folder.fd.Get()) < kLowSpaceMiB) continue;
    // The worker waits in NeedNewPart, so the writer may be told the new place now.
    m_writer->SetImageFilePath(path);
    m_writer->SetReplaceExisting(!existing.empty());
    m_watchedPath = path;
    m_currentFile->setText(QString::fromStdString(path));
    decision = 1;
    break;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  if (decision == 2) {
    m_aborted = true;
    m_cancel = true;
  }
  m_decision = decision;
  m_asking = false;
  m_decided.notify_all();
}

void CImageDiskRunDlg::RequestCancel() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancel = true;
    m_decided.notify_all();
  }
  // A writer held while the question was open is let go, to see the cancel at once.
  m_gate.Cancel();
}

void CImageDiskRunDlg::CancelAndWait() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancel = true;
    m_decided.notify_all();
  }
  // A paused writer is let go, to see the cancel at once.
  m_gate.Cancel();
  if (m_worker.joinable()) m_worker.join();
  m_timer->stop();
}

void CImageDiskRunDlg::Finish() {
  m_timer->stop();
  if (m_worker.joinable()) m_worker.join();
  m_progress->setValue(m_made ? 1000 : m_progress->value());
  auto done = std::move(m_doneCallback);
  m_doneCallback = nullptr;
  // Whether the writer made the whole image; the master knows whether it was still wanted.
  if (done) done(m_made);
}

// ---------------------------------------------------------------------------------------------
CImageDiskSuccessDlg::CImageDiskSuccessDlg(QWidget* parent) : CInterfaceDialog(parent) {
  auto* layout = new QVBoxLayout(this);
  SetWizardPageMargins(layout);
  layout->addWidget(NewLabel(this, QStringLiteral("Disk Image created successfully")));
  auto* row = new QHBoxLayout;
  row->addWidget(NewLabel(this, QStringLiteral("Disk Image file:")));
  m_path = NewLabel(this);
  m_path->setObjectName(QStringLiteral("1134"));
  row->addWidget(m_path, 1);
  layout->addLayout(row);
  layout->addSpacing(corvale::ui::DluToPixelsY(8));
  m_open = new QCheckBox(QStringLiteral("Open this Disk Image in device list"), this);
  m_open->setObjectName(QStringLiteral("1136"));
  m_open->setChecked(true);
  layout->addWidget(m_open);
  layout->addStretch(1);
}

void CImageDiskSuccessDlg::ShowImagePath(const std::string& path) {
  m_path->setText(QString::fromStdString(CImageDiskRunDlg::ShortPath(path)));
}

bool CImageDiskSuccessDlg::IsOpenInDeviceList() const { return m_open->isChecked(); }

// ---------------------------------------------------------------------------------------------
CImageDiskMasterDlg::CImageDiskMasterDlg(IStorageDevice* source, const std::string& displayName,
                                         int32_t sourceKind, QWidget* parent)
    : CSearchSuperDlg(kTemplateId, parent),
      m_source(source),
      m_displayName(displayName.substr(0, 259)),
      m_sourceKind(sourceKind) {
  SetHelpTopic(kHelpTopic);
  setWindowTitle(QStringLiteral("Disk Image Wizard"));
  const int64_t sectors = source ? source->GetSectorCount() : 0;
  m_totalSectors = sectors > 0 ? static_cast<uint64_t>(sectors) : 0;

  m_banner = new CDIskImagePublicDlg(this);
  m_stack = new QStackedWidget(this);
  m_mode = new CImageDiskModeChooseDlg;
  m_info = new CImageDiskDiskInfo;
  m_path = new CImageDiskPathChooseDlg;
  m_path->setObjectName(QStringLiteral("217"));
  m_advanced = new CImageDiskADPathChooseDlg;
  m_region = new CImageDiskSetRegionDlg;
  m_run = new CImageDiskRunDlg;
  m_success = new CImageDiskSuccessDlg;
  for (QWidget* page :
       std::initializer_list<QWidget*>{m_mode, m_info, m_path, m_advanced, m_region, m_run, m_success})
    m_stack->addWidget(page);

  m_region->SetTotalSectors(m_totalSectors);
  m_summary.sourceName = m_displayName;
  m_summary.totalSectors = m_totalSectors;

  m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
  m_cancel->setObjectName(QStringLiteral("1000"));
  m_back = new QPushButton(QStringLiteral("< Back"), this);
  m_back->setObjectName(QStringLiteral("1001"));
  m_next = new QPushButton(QStringLiteral("Next >"), this);
  m_next->setObjectName(QStringLiteral("1004"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(m_banner);
  layout->addWidget(m_stack, 1);
  layout->addLayout(corvale::dialogs::MakeWizardButtonRow(m_back, m_next, m_cancel));
  // 303 x 169 dialog units at least, and what the largest page needs.
  setMinimumSize(corvale::ui::DluSize(font(), 303, 169).expandedTo(layout->minimumSize()));
  connect(m_next, &QPushButton::clicked, this, &CImageDiskMasterDlg::OnNext);
  connect(m_back, &QPushButton::clicked, this, &CImageDiskMasterDlg::OnBack);
  connect(m_cancel, &QPushButton::clicked, this, &CImageDiskMasterDlg::OnCancel);

  m_step = kMode;
  ShowStep();
  m_back->setEnabled(false);
  m_mode->SetSourceName(m_displayName);
  SetBanner(61209, "Disk Image Wizard");
}

CImageDiskMasterDlg::~CImageDiskMasterDlg() { m_run->CancelAndWait(); }

std::string CImageDiskMasterDlg::GetBannerTitle() const { return m_banner->GetBannerTitle(); }

void CImageDiskMasterDlg::SetBanner(uint32_t id, const char* text) {
  m_banner->SetBannerTitle(corvale::ui::StringOrUtf8(id, text));
}

void CImageDiskMasterDlg::ShowStep() { m_stack->setCurrentIndex(m_step); }

bool CImageDiskMasterDlg::CheckDestination(const std::string& path, bool* told) {
  *told = false;
  m_replace = false;
  const std::string absolute = QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
  std::string name;
  // The folder is opened as the writer opens it: through no link of another user.
  const platform::FolderWalk folder = platform::WalkToFolderOf(absolute, &name);
  if (name.size() <= 4) return false;
  if (!folder.ok()) {
    if (folder.RefusedALink()) {
      LogError("Image destination %s refused: %s", absolute.c_str(), folder.Describe().c_str());
      Warn(corvale::ui::RefusedLinkText(folder.refusedLink));
      *told = true;
    }
    return false;
  }
  // Files of the image that are there already, links (even ones pointing nowhere) included, are
  // only replaced when the user says so.
  std::string existing;
  for (const std::string& member : corvale::image::MemberFileNames(absolute))
    if (platform::EntryExistsIn(folder.fd.Get(), member)) existing += member + "\n";
  if (!existing.empty()) {
    if (!AskReplace(existing)) return false;
    m_replace = true;
  }
  if (!ConfirmOffSource(absolute.substr(0, absolute.size() - name.size()), m_source)) {
    *told = true;
    return false;
  }
  // The folder is tested with a scratch file of our own, so nothing of the user's is touched.
  if (!WriteProbe(folder.fd.Get())) return false;
  m_freeMiB = corvale::dialogs::FreeSpaceMiB(folder.fd.Get());
  return true;
}

void CImageDiskMasterDlg::OnNext() {
  m_back->setEnabled(true);
  switch (m_step) {
    case kMode:
      m_step = m_mode->IsAdvancedMode() ? kAdvancedPath : kPath;
      SetBanner(61213, "Disk Image Destination File");
      break;
    case kPath:
    case kAdvancedPath: {
      CImageDiskPathChooseDlg* page = m_step == kPath ? m_path : m_advanced;
      m_advanced->GetImageSettings(m_sliceSize, m_compressorType, m_level);
      if (m_step == kPath) {
        m_summary.regionStart = 0;
        m_summary.regionEnd = m_totalSectors > 0 ? m_totalSectors - 1 : 0;
        m_summary.compressionLevel = m_level;
        m_compressorType = 2;
      }
      const std::string path = page->GetImageFilePath();
      bool told = false;
      if (!CheckDestination(path, &told)) {
        if (!told)
          Warn(corvale::ui::StringOrUtf8(61214,
                                         "Please check the path you are trying to save to and try again."));
        return;
      }
      m_summary.destinationPath = QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
      if (m_step == kPath) {
        SetBanner(61212, "Disk Image Summary");
        m_info->SetPrevIndex(kPath);
        m_info->ShowSummary(m_summary, m_source ? m_source->GetSectorSize() : 512);
        m_step = kSummary;
      } else {
        SetBanner(61211, "Source Disk Region");
        m_step = kRegion;
      }
      break;
    }
    case kRegion:
      m_summary.regionStart = m_region->GetStart();
      m_summary.regionEnd = m_region->GetEnd();
      m_summary.compressionLevel = m_level;
      m_info->SetPrevIndex(kRegion);
      m_info->ShowSummary(m_summary, m_source ? m_source->GetSectorSize() : 512);
      SetBanner(61212, "Disk Image Summary");
      m_step = kSummary;
      break;
    case kSummary:
      StartRun();
      return;
    case kSuccess:
      m_result = m_success->IsOpenInDeviceList();
      accept();
      return;
    default:
      return;
  }
  ShowStep();
}

void CImageDiskMasterDlg::StartRun() {
  m_step = kRun;
  m_next->setEnabled(false);
  m_back->setEnabled(false);
  SetBanner(61210, "Disk Imaging Process");
  ShowStep();
  m_run->Start(m_source, m_summary, m_sourceKind, m_compressorType, m_level, m_sliceSize, m_replace,
               [this](bool made) { RunEnded(made); });
}

void CImageDiskMasterDlg::RunEnded(bool made) {
  m_cancel->setEnabled(true);
  // A run the user stopped (Cancel, or no room for the rest) never counts as made, even when the
  // writer got to the end before it looked at the stop.
  const bool stopped = m_cancelling || m_run->IsAborted();
  if (made && !stopped) {
    m_success->ShowImagePath(m_summary.destinationPath);
    m_next->setEnabled(true);
    m_step = kSuccess;
    SetBanner(61209, "Disk Image Wizard");
    ShowStep();
    return;
  }
  m_result = false;
  CCompressController* writer = m_run->GetImageWriter();
  const bool leftFiles = made || writer->HasPartialImage();
  if (m_run->IsAborted()) {
    if (leftFiles)
      AskToKeepStoppedImage("Disk imaging stopped: the target has not enough free space.", made);
    else
      Warn("The Disk Image was not created: the target has not enough free space.");
  } else if (m_cancelling) {
    if (leftFiles) AskToKeepStoppedImage("Disk imaging was cancelled.", made);
  } else {
    std::string text = corvale::ui::StringOrUtf8(61216, "Fail!");
    if (!m_run->GetErrorText().empty()) text += "\n" + m_run->GetErrorText();
    if (leftFiles)
      AskToKeepStoppedImage(text, made);
    else
      Warn(text);
  }
  // A failed run leaves the run page shown, with only Cancel to press.
  if (stopped) CSearchSuperDlg::reject();
}

void CImageDiskMasterDlg::AskToKeepStoppedImage(const std::string& why, bool whole) {
  CCompressController* writer = m_run->GetImageWriter();
  const unsigned long long first = writer->GetFirstSector();
  const unsigned long long range = writer->GetRangeSectorCount();
  const unsigned long long imaged = whole ? range : writer->GetImagedSectorCount();
  char holds[1024];
  if (imaged >= range)
    std::snprintf(holds, sizeof holds,
                  "The Disk Image %s holds all %llu sectors to image (sectors %llu to %llu).",
                  m_summary.destinationPath.c_str(), range, first, first + range - 1);
  else
    std::snprintf(
        holds, sizeof holds,
        "The Disk Image %s is partial: it holds the first %llu of the %llu sectors to image, sectors "
        "%llu to %llu of the source; sector %llu and those after it were not imaged.",
        m_summary.destinationPath.c_str(), imaged, range, first, first + imaged - 1, first + imaged);
  const std::string question = why + "\n" + holds + "\n\nKeep this Disk Image? No removes its files.";
  const auto answer = corvale::ui::AskMessageBox(
      question, GetProductTitle(), corvale::ui::MessageButtons::YesNo, corvale::ui::MessageIcon::Warning);
  if (answer == corvale::ui::MessageAnswer::No) writer->RemoveImageFiles();
}

void CImageDiskMasterDlg::OnBack() {
  switch (m_step) {
    case kPath:
    case kAdvancedPath:
      m_step = kMode;
      m_back->setEnabled(false);
      SetBanner(61209, "Disk Image Wizard");
      break;
    case kRegion:
      m_step = kAdvancedPath;
      SetBanner(61213, "Disk Image Destination File");
      break;
    case kSummary:
      m_step = m_info->GetPrevIndex();
      SetBanner(m_step == kRegion ? 61211 : 61213,
                m_step == kRegion ? "Source Disk Region" : "Disk Image Destination File");
      break;
    default:
      return;
  }
  ShowStep();
}

void CImageDiskMasterDlg::OnCancel() {
  if (m_cancelling) return;
  // The imaging stands still while the question is open: nothing more is written until the answer.
  m_run->SetPaused(true);
  const auto answer = corvale::ui::AskMessageBox(corvale::ui::StringOrUtf8(61215, "Cancel Disk Image?"),
                                                 GetProductTitle(), corvale::ui::MessageButtons::OkCancel);
  if (answer != corvale::ui::MessageAnswer::Ok) {
    m_run->SetPaused(false);
    return;
  }
  m_result = false;
  if (m_run->IsRunning()) {
    // The writer stops before its next chunk and keeps what it wrote; when the run has ended, the
    // user is told how far it got and asked whether to keep it (RunEnded).
    m_cancelling = true;
    m_cancel->setEnabled(false);
    m_run->RequestCancel();
    return;
  }
  m_run->CancelAndWait();
  CSearchSuperDlg::reject();
}
