#include "wizard/SaveResultPage.h"

#include <QPainter>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "dialogs/FileSaveDlg.h"
#include "dialogs/SaveFilePathDlg.h"
#include "platform/Log.h"
#include "ui/Resources.h"
#include "wizard/SaveFilePage.h"
#include "wizard/controller/SaveResultController.h"

CSaveResultPage::CSaveResultPage(QWidget* parent) : CWizardPage(parent) {
  m_panel = new CFileSaveDlg(this);
  m_panel->show();
  m_ok = new CButtonPlus(437, 436, 435, 434, this);
  m_ok->SetControlId(kOkId);
  corvale::ui::SetControlId(m_ok, kOkId);
  connect(m_ok, &QAbstractButton::clicked, this, [this] {
    // OK closes the window the page is shown in.
    if (auto* frame = qobject_cast<QDialog*>(parentWidget())) frame->accept();
  });
}

void CSaveResultPage::SetController(ISaveResultController* controller) {
  LogError("------------------------ParmInfo:ISaveResultController* pController=%x",
           controller != nullptr ? 1 : 0);
  m_controller = controller;
}

IWizardPageController* CSaveResultPage::GetController() { return m_controller; }

int CSaveResultPage::GetHelpContextId(int) { return kHelpTopic; }

void CSaveResultPage::Layout(int cx, int cy) {
  m_panel->setGeometry(RectFromEdges(0, 50, cx, cy - 35));
  const int bottomLeft = 0;
  const int bottomRight = cx;
  m_ok->MoveTo((bottomLeft + bottomRight) / 2 + 70, cy - 30);
}

void CSaveResultPage::Draw(QPainter* dc) {
  const QPixmap banner = corvale::ui::LoadBitmapResource(kBanner);
  if (!banner.isNull()) dc->drawPixmap(RectFromEdges(0, 0, width(), 51), banner);
}

void CSaveResultPage::SetResult(std::string targetPath, int fileCount, int recoveredCount,
                                std::vector<std::string> lines, bool cancelled) {
  m_target = std::move(targetPath);
  m_fileCount = fileCount;
  m_recovered = recoveredCount;
  m_cancelled = cancelled;
  m_lines = std::move(lines);
}

void CSaveResultPage::ShowResult() {
  m_panel->SetSavedFolders(m_lines);
  m_panel->SetSavePath(m_target);
  m_panel->ShowRecoveryResult(m_fileCount, m_recovered, m_cancelled);
}

void CSaveResultPage::RunInDialog(QWidget* owner, CSaveFilePage* from) {
  if (from != nullptr) {
    std::vector<std::string> lines;
    const int count = from->GetResultStringCount();
    for (int i = 0; i < count; ++i) lines.push_back(from->GetResultString(i));
    SetResult(from->GetTargetFolder(), from->GetFileCount(), from->GetRecoveredFileCount(), std::move(lines),
              from->WasRecoveryCancelled());
  }
  ShowResult();
  CSaveFileResultDlg frame(owner);
  frame.AttachPage(this);
  RunSaveDialog(frame);
}
