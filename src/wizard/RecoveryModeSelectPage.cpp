#include "wizard/RecoveryModeSelectPage.h"

#include <QPainter>
#include <cinttypes>

#include "controls/DialogTemplate.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "platform/StringTable.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"
#include "ui/UiFont.h"
#include "ui/UsageStatistics.h"
#include "wizard/controller/RecoveryModeSelectController.h"

namespace {

constexpr uint32_t kStringTitle = 300;
// Prompts and the descriptions drawn for them.
struct PromptText {
  uint32_t prompt;
  uint32_t description;
};
constexpr PromptText kPrompts[] = {{300, 194}, {199, 195}, {200, 196}, {201, 197}, {61235, 61236}};

constexpr int kButtonTop = 528;
constexpr int kStartLeft = 420;
constexpr int kDeletedLeft = 80;
constexpr int kFormatLeft = 700;

}  // namespace

CRecoveryModeSelectPage::CRecoveryModeSelectPage(uint32_t commentBitmap, QWidget* parent)
    : CWizardPage(parent) {
  using namespace corvale::ui;
  m_start = MakeModeButton(kCommandStart, buttons::kStart.normal, buttons::kStart.hover, buttons::kStart.push,
                           buttons::kStart.disable);
  m_deleted = MakeModeButton(kCommandDeleted, buttons::kStartDeleted.normal, buttons::kStartDeleted.hover,
                             buttons::kStartDeleted.push, buttons::kStartDeleted.disable);
  m_format = MakeModeButton(kCommandFormat, buttons::kStartFormat.normal, buttons::kStartFormat.hover,
                            buttons::kStartFormat.push, buttons::kStartFormat.disable);

  if (!m_background.LoadBitmap(bitmap::kWelcomePicture))
    m_initResult = kInitNoPicture;
  else if (!m_comment.LoadBitmap(commentBitmap))
    m_initResult = kInitNoComment;
  m_defaultPrompt = corvale::LoadText(kStringTitle);
  m_prompt = m_defaultPrompt;
  if (!m_initResult && m_defaultPrompt.empty()) m_initResult = kInitNoText;
  if (m_initResult) {
    char text[128];
    std::snprintf(text, sizeof text, "Init CRecoveryModeSelectPage is false error=0x%x,GetLastError=%d",
                  m_initResult, 0);
    ShowMessageBox(text, GetProductTitle(), MessageIcon::Information);
  }
}

CButtonPlus* CRecoveryModeSelectPage::MakeModeButton(int commandId, uint32_t normal, uint32_t hover,
                                                     uint32_t push, uint32_t disable) {
  auto* button = new CButtonPlus(normal, hover, push, disable, this);
  button->SetControlId(commandId);
  corvale::ui::SetControlId(button, commandId);
  button->SetHoverCursor(QCursor(Qt::PointingHandCursor));
  connect(button, &QAbstractButton::clicked, this, [this, commandId] { OnCommand(commandId); });
  return button;
}

CButtonPlus* CRecoveryModeSelectPage::ModeButton(int commandId) const {
  switch (commandId) {
    case kCommandDeleted:
      return m_deleted;
    case kCommandFormat:
      return m_format;
    case kCommandStart:
      return m_start;
    default:
      return nullptr;
  }
}

void CRecoveryModeSelectPage::SetController(IRecoveryModeSelectController* controller) {
  LogError("------------------------ParmInfo:IRecoveryModeSelectController* pController=%" PRIxPTR,
           reinterpret_cast<uintptr_t>(controller));
  m_controller = controller;
}

IWizardPageController* CRecoveryModeSelectPage::GetController() { return m_controller; }

int CRecoveryModeSelectPage::GetHelpContextId(int) { return kHelpTopic; }

void CRecoveryModeSelectPage::Layout(int, int) {
  const QRect subtitle = SubtitleRect();
  const QRect bottom = BottomRect();
  const int middle = (bottom.bottom() + 1 - subtitle.top()) / 2 - 20;
  m_descriptionBand = RectFromEdges(bottom.left(), middle, bottom.right() + 1, bottom.bottom() + 1);
  m_start->MoveTo(kStartLeft, kButtonTop);
  m_deleted->MoveTo(kDeletedLeft, kButtonTop);
  m_format->MoveTo(kFormatLeft, kButtonTop);
}

QRect CRecoveryModeSelectPage::DescriptionRect() const {
  const QRect& band = m_descriptionBand;
  const int wc = m_comment.GetSize().width();
  const int hc = m_comment.GetSize().height();
  const int y0 = (band.height() - hc) / 2 + band.top();
  return RectFromEdges(band.left() + 5 * (wc / 25), y0 + 2 * (hc / 5) + 70, band.right() + 1 - 2 * (wc / 25),
                       band.bottom() + 1);
}

std::string CRecoveryModeSelectPage::DescriptionFor(const std::string& prompt) const {
  for (const PromptText& entry : kPrompts)
    if (prompt == corvale::LoadText(entry.prompt)) return corvale::LoadText(entry.description);
  return {};
}

void CRecoveryModeSelectPage::Draw(QPainter* dc) {
  if (!m_background.IsNull()) dc->drawPixmap(QRect(0, 0, 1000, 515), m_background.Pixmap());
  const std::string description = DescriptionFor(m_prompt);
  if (description.empty()) return;
  dc->setFont(corvale::ui::MakeUiPointFont(100, 400));
  dc->setPen(Qt::black);
  dc->drawText(DescriptionRect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
               QString::fromStdString(description));
}

void CRecoveryModeSelectPage::SetPrompt(int, const std::string& prompt) {
  m_prompt = prompt;
  update();
}

void CRecoveryModeSelectPage::RestorePrompt(int) {
  m_prompt = m_defaultPrompt;
  update();
}

bool CRecoveryModeSelectPage::OnCommand(int commandId) {
  int mode = 0;
  switch (commandId) {
    case kCommandDeleted:
      mode = 0;
      break;
    case kCommandFormat:
      mode = 1;
      break;
    case kCommandStart:
      mode = 2;
      break;
    default:
      return false;
  }
  // The settings hold the mode before the controller hears of it: the steps it starts read it there.
  GetRecoveryContext().RecoveryMode = mode;
  if (commandId == kCommandFormat) corvale::usage::Event(kEventFormat);
  if (commandId == kCommandStart) corvale::usage::Event(kEventStart);
  if (m_controller) {
    m_controller->SetRecoveryMode(mode);
    m_controller->Next();
  }
  return true;
}
