#include "wizard/SaveResultPage.h"

#include <QBoxLayout>
#include <QPainter>
#include <algorithm>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "dialogs/FileSaveDlg.h"
#include "dialogs/SaveFilePathDlg.h"
#include "platform/Log.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"
#include "wizard/SaveFilePage.h"
#include "wizard/controller/SaveResultController.h"

namespace {

// The banner's height across the top, and the band at the bottom that holds OK, which ends 30
// pixels in from the right.
constexpr int kBannerHeight = 51;
constexpr int kOkBandHeight = 35;
constexpr int kOkTop = 5;
constexpr int kOkRight = 30;

}  // namespace

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

  // Under the banner the panel takes the room; OK stands in the band below it.
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, kBannerHeight, 0, 0);
  column->setSpacing(0);
  column->addWidget(m_panel, 1);
  auto* band = new QHBoxLayout;
  const int below = std::max(0, kOkBandHeight - kOkTop - m_ok->GetBitmapSize().height());
  band->setContentsMargins(0, kOkTop, kOkRight, below);
  band->addStretch(1);
  band->addWidget(m_ok);
  column->addLayout(band);
}

void CSaveResultPage::SetController(ISaveResultController* controller) {
  LogError("------------------------ParmInfo:ISaveResultController* pController=%x",
           controller != nullptr ? 1 : 0);
  m_controller = controller;
}

IWizardPageController* CSaveResultPage::GetController() { return m_controller; }

int CSaveResultPage::GetHelpContextId(int) { return kHelpTopic; }

void CSaveResultPage::Draw(QPainter* dc) {
  // The banner is drawn for the band's width, so its title keeps its shape in a wider window.
  const QRect band = RectFromEdges(0, 0, width(), kBannerHeight);
  if (!corvale::ui::DrawPictureIn(*dc, kBanner, band)) {
    const QPixmap banner = corvale::ui::LoadBitmapResource(kBanner);
    if (!banner.isNull()) dc->drawPixmap(band, banner);
  }
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
  frame.SetHelpTopic(kHelpTopic);
  RunSaveDialog(frame);
}
