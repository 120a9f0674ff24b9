#include "wizard/SaveFilePage.h"

#include <sys/statvfs.h>

#include <QPainter>
#include <cerrno>
#include <filesystem>

#include "controls/DialogTemplate.h"
#include "controls/EditPlus.h"
#include "controls/Formatting.h"
#include "controls/PieCtrl.h"
#include "controls/ShellTreeCtrl.h"
#include "dialogs/SaveFilePathDlg.h"
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
  std::error_code ec;
  std::filesystem::path at = std::filesystem::absolute(path, ec);
  if (ec) return space;
  struct statvfs st {};
  // A folder that does not exist yet will be made on the disk of its nearest existing folder.
  while (::statvfs(at.c_str(), &st) != 0) {
    if ((errno != ENOENT && errno != ENOTDIR) || !at.has_relative_path()) return space;
    at = at.parent_path();
  }
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
}

void CSaveFilePage::SetController(ISaveFileController* controller) {
  LogError("------------------------ParmInfo:ISaveFileController* pController=%x",
           controller != nullptr ? 1 : 0);
  m_controller = controller;
}

IWizardPageController* CSaveFilePage::GetController() { return m_controller; }

int CSaveFilePage::GetHelpContextId(int) { return kHelpTopic; }

void CSaveFilePage::Layout(int cx, int cy) {
  m_edit->setGeometry(RectFromEdges(60, 60, cx - 5, 80));
  // The tree keeps to the left half, beside the pie.
  m_tree->setGeometry(RectFromEdges(10, 90, std::min(498, cx / 2 - 5), cy - 5));
  m_pie->setGeometry(RectFromEdges(cx / 2, 90, cx - 5, cy - 5));
}

QString CSaveFilePage::SelectionLine() const {
  QString line = LoadStringResource(387);
  line.replace(QStringLiteral("%s"),
               QString::fromStdString(FormatByteSize(static_cast<int64_t>(m_required))));
  line.replace(QStringLiteral("%d"), QString::number(m_fileCount));
  return line;
}

void CSaveFilePage::Draw(QPainter* dc) {
  dc->fillRect(rect(), kBackground);
  dc->setFont(m_font);
  dc->setPen(Qt::black);
  dc->drawText(RectFromEdges(10, 60, 120, 100), Qt::AlignLeft | Qt::AlignTop, LoadStringResource(205));
  dc->drawText(RectFromEdges(10, 35, 600, 80), Qt::AlignLeft | Qt::AlignTop, LoadStringResource(206));
  dc->drawText(RectFromEdges(10, 10, 500, 50), Qt::AlignLeft | Qt::AlignTop, SelectionLine());
}

void CSaveFilePage::SetRecoveryTotals(uint64_t requiredSize, int fileCount) {
  m_required = requiredSize;
  m_fileCount = fileCount;
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
  RefreshFreeSpace();
  m_tree->Refill(true);
  m_tree->ExpandMyComputer();
  update();
}

void CSaveFilePage::RefreshFreeSpace() {
  m_space = m_target.empty() ? TargetDiskSpace{} : QueryTargetDiskSpace(m_target);
  const auto clamp = [](uint64_t v) { return static_cast<int64_t>(std::min<uint64_t>(v, INT64_MAX)); };
  m_pie->SetSpaceInfo(clamp(m_space.freeToCaller), clamp(m_required),
                      clamp(m_space.total > m_space.free ? m_space.total - m_space.free : 0));
  m_pie->update();
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
  RefreshFreeSpace();
  update();
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
  frame.SetOnShow([this] { ResetTargetFolder(); });
  auto* controller = dynamic_cast<CSaveFileController*>(m_controller);
  frame.SetAcceptCheck([controller] { return controller == nullptr || controller->CheckTargetFolder(); });
  const int result = RunSaveDialog(frame);
  if (result == QDialog::Accepted && m_controller != nullptr) m_controller->Next();
}
