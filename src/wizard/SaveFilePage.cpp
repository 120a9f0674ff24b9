#include "wizard/SaveFilePage.h"

#include <sys/statvfs.h>

#include <QBoxLayout>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <cerrno>

#include "controls/DialogTemplate.h"
#include "controls/EditPlus.h"
#include "controls/Formatting.h"
#include "controls/PieCtrl.h"
#include "controls/ShellTreeCtrl.h"
#include "dialogs/SaveFilePathDlg.h"
#include "platform/FolderWalk.h"
#include "platform/Log.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"
#include "wizard/controller/SaveFileController.h"

using corvale::ui::LoadStringResource;

namespace {

SaveDialogRunner& Runner() {
  static SaveDialogRunner runner;
  return runner;
}

constexpr uint32_t kStringPath = 205;
constexpr uint32_t kStringSelectLocation = 206;
constexpr uint32_t kStringSelection = 387;
constexpr uint32_t kStringLegend[3] = {62002, 62003, 62004};
constexpr const char* kLegendFallback[3] = {"Free: %s", "Needed: %s", "Used: %s"};

// The page's margins, and the width the "Path" label keeps left of the edit box.
constexpr int kMarginLeft = 10;
constexpr int kMarginTop = 10;
constexpr int kMarginRight = 5;
constexpr int kMarginBottom = 5;
constexpr int kPathLabelWidth = 50;
constexpr int kSwatchSize = 12;
constexpr QSize kPieMaximum(480, 340);

QLabel* MakeLabel(const QString& text, const QFont& font, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setFont(font);
  return label;
}

}  // namespace

SaveDialogRunner SetSaveDialogRunner(SaveDialogRunner runner) {
  SaveDialogRunner previous = std::move(Runner());
  Runner() = std::move(runner);
  return previous;
}

int RunSaveDialog(QDialog& dialog) { return Runner() ? Runner()(dialog) : dialog.exec(); }

TargetDiskSpace QueryTargetDiskSpace(const std::string& path) {
  TargetDiskSpace space;
  if (path.empty()) return space;
  // A folder that does not exist yet will be made on the disk of its nearest existing folder, which
  // is opened as the recovery opens it (through no link of another user).
  const platform::FolderWalk walk = platform::WalkToFolder(path, platform::MissingFolders::kStop);
  struct statvfs st {};
  if (!walk.ok() || ::fstatvfs(walk.fd.Get(), &st) != 0) return space;
  const uint64_t unit = st.f_frsize != 0 ? st.f_frsize : st.f_bsize;
  space.freeToCaller = uint64_t(st.f_bavail) * unit;
  space.total = uint64_t(st.f_blocks) * unit;
  space.free = uint64_t(st.f_bfree) * unit;
  return space;
}

CSaveFilePage::CSaveFilePage(QWidget* parent)
    : CWizardPage(parent), m_font(corvale::ui::MakeUiPointFont(90, 400)) {
  m_edit = new CEditPlus(this);
  corvale::ui::SetControlId(m_edit, kEditId);
  m_edit->setFont(m_font);
  m_tree = new CShellTreeCtrl(this);
  m_tree->setStyleSheet(QStringLiteral("QTreeView { background: white; }"));
  m_tree->SetSelChangedCallback(
      [](QWidget* client, const QString& path) { static_cast<CSaveFilePage*>(client)->OnFolderChosen(path); },
      this);
  m_pie = new CPieCtrl(this);
  m_pie->SetSpaceInfo(0, 0, 0);
  m_pie->SetBackColor(kBackground);

  m_typing.setSingleShot(true);
  m_typing.setInterval(kTypingPauseMs);
  connect(&m_typing, &QTimer::timeout, this, &CSaveFilePage::OnFolderTyped);
  connect(m_edit, &QLineEdit::textChanged, this, [this] { m_typing.start(); });

  // The selection line and the prompt; "Path" and the edit box; below them the folder tree at the
  // left and the pie with its legend at the right, each half of the width.
  m_selectionLabel = MakeLabel(SelectionLine(), m_font, this);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(kMarginLeft, kMarginTop, kMarginRight, kMarginBottom);
  column->addWidget(m_selectionLabel);
  column->addWidget(MakeLabel(LoadStringResource(kStringSelectLocation), m_font, this));
  auto* pathRow = new QHBoxLayout;
  QLabel* path = MakeLabel(LoadStringResource(kStringPath), m_font, this);
  path->setMinimumWidth(kPathLabelWidth);
  pathRow->addWidget(path);
  pathRow->addWidget(m_edit, 1);
  column->addLayout(pathRow);
  auto* lower = new QHBoxLayout;
  lower->addWidget(m_tree, 1);
  // The pie grows with the window up to a size that still reads as one picture with its legend.
  m_pie->setMaximumSize(kPieMaximum);
  m_pie->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  auto* pieColumn = new QVBoxLayout;
  pieColumn->addStretch(1);
  auto* pieRow = new QHBoxLayout;
  pieRow->addStretch(1);
  pieRow->addWidget(m_pie, kPieMaximum.width());
  pieRow->addStretch(1);
  pieColumn->addLayout(pieRow, 4);
  auto* legend = new QGridLayout;
  legend->setColumnStretch(1, 1);
  for (int i = 0; i < 3; ++i) {
    QPixmap swatch(kSwatchSize, kSwatchSize);
    swatch.fill(CPieCtrl::Colors()[i].face);
    auto* sample = new QLabel(this);
    sample->setPixmap(swatch);
    legend->addWidget(sample, i, 0);
    m_legend[i] = MakeLabel(QString(), m_font, this);
    legend->addWidget(m_legend[i], i, 1);
  }
  auto* legendRow = new QHBoxLayout;
  legendRow->addStretch(1);
  legendRow->addLayout(legend);
  legendRow->addStretch(1);
  pieColumn->addLayout(legendRow);
  pieColumn->addStretch(1);
  lower->addLayout(pieColumn, 1);
  column->addLayout(lower, 1);
  RefreshFreeSpace();
}

void CSaveFilePage::SetController(ISaveFileController* controller) {
  LogError("------------------------ParmInfo:ISaveFileController* pController=%x",
           controller != nullptr ? 1 : 0);
  m_controller = controller;
}

IWizardPageController* CSaveFilePage::GetController() { return m_controller; }

int CSaveFilePage::GetHelpContextId(int) { return kHelpTopic; }

QString CSaveFilePage::SelectionLine() const {
  QString line = LoadStringResource(387);
  line.replace(QStringLiteral("%s"),
               QString::fromStdString(FormatByteSize(static_cast<int64_t>(m_required))));
  line.replace(QStringLiteral("%d"), QString::number(m_fileCount));
  return line;
}

QString CSaveFilePage::LegendText(LegendLine line) const {
  QString text = LoadStringResource(kStringLegend[line]);
  if (text.isEmpty()) text = QString::fromUtf8(kLegendFallback[line]);
  // The target's disk is known once a folder gives it a file system with a size.
  const bool known = m_space.total != 0;
  QString figure = QStringLiteral("-");
  if (line == kLegendNeeded)
    figure = QString::fromStdString(
        FormatByteSize(static_cast<int64_t>(std::min<uint64_t>(m_required, INT64_MAX))));
  else if (known) {
    const uint64_t bytes = line == kLegendFree
                               ? m_space.freeToCaller
                               : (m_space.total > m_space.free ? m_space.total - m_space.free : 0);
    figure =
        QString::fromStdString(FormatByteSize(static_cast<int64_t>(std::min<uint64_t>(bytes, INT64_MAX))));
  }
  return text.replace(QStringLiteral("%s"), figure);
}

void CSaveFilePage::Draw(QPainter* dc) { dc->fillRect(rect(), kBackground); }

void CSaveFilePage::SetRecoveryTotals(uint64_t requiredSize, int fileCount) {
  m_required = requiredSize;
  m_fileCount = fileCount;
  m_selectionLabel->setText(SelectionLine());
  m_legend[kLegendNeeded]->setText(LegendText(kLegendNeeded));
  update();
}

std::string CSaveFilePage::GetTargetFolder() {
  std::string text = m_edit->text().toStdString();
  while (!text.empty() &&
         (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
    text.pop_back();
  m_target = text;
  return m_target;
}

void CSaveFilePage::ResetTargetFolder() {
  m_target.clear();
  m_edit->clear();
  m_typing.stop();
  RefreshFreeSpace();
  m_tree->Refill(true);
  m_tree->ExpandMyComputer();
  update();
}

void CSaveFilePage::RefreshFreeSpace() {
  m_space = m_target.empty() ? TargetDiskSpace{} : QueryTargetDiskSpace(m_target);
  const auto clamp = [](uint64_t v) { return static_cast<int64_t>(std::min<uint64_t>(v, INT64_MAX)); };
  // Without a known target disk there is nothing to divide: the pie stays empty rather than
  // showing the whole disk as needed.
  if (m_space.total == 0)
    m_pie->SetSpaceInfo(0, 0, 0);
  else
    m_pie->SetSpaceInfo(clamp(m_space.freeToCaller), clamp(m_required),
                        clamp(m_space.total > m_space.free ? m_space.total - m_space.free : 0));
  m_pie->update();
  for (int line = kLegendFree; line <= kLegendUsed; ++line)
    m_legend[line]->setText(LegendText(static_cast<LegendLine>(line)));
}

bool CSaveFilePage::HasEnoughSpace() {
  GetTargetFolder();
  RefreshFreeSpace();
  if (m_space.freeToCaller >= m_required) return true;
  corvale::ui::ShowMessageBox(LoadStringResource(208).toStdString(), GetProductTitle(),
                              corvale::ui::MessageIcon::Warning);
  return false;
}

void CSaveFilePage::OnFolderChosen(const QString& path) {
  m_target = path.toStdString();
  m_edit->setText(path);
  m_typing.stop();
  RefreshFreeSpace();
  update();
}

void CSaveFilePage::OnFolderTyped() {
  GetTargetFolder();
  RefreshFreeSpace();
}

int CSaveFilePage::GetFileCount() { return m_controller ? m_controller->GetFileCount() : 0; }
bool CSaveFilePage::WasRecoveryCancelled() {
  return m_controller ? m_controller->WasRecoveryCancelled() : false;
}

int CSaveFilePage::GetRecoveredFileCount() {
  return m_controller ? m_controller->GetRecoveredFileCount() : 0;
}
std::string CSaveFilePage::GetResultString(int i) {
  return m_controller ? m_controller->GetResultString(i) : "";
}
int CSaveFilePage::GetResultStringCount() { return m_controller ? m_controller->GetResultStringCount() : 0; }

void CSaveFilePage::RunInDialog(QWidget* owner) {
  CSaveFilePathDlg frame(owner);
  frame.AttachPage(this);
  frame.SetHelpTopic(kHelpTopic);
  frame.SetOnShow([this] { ResetTargetFolder(); });
  auto* controller = dynamic_cast<CSaveFileController*>(m_controller);
  frame.SetAcceptCheck([controller] { return controller == nullptr || controller->CheckTargetFolder(); });
  const int result = RunSaveDialog(frame);
  if (result == QDialog::Accepted && m_controller != nullptr) m_controller->Next();
}
