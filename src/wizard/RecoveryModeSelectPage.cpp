#include "wizard/RecoveryModeSelectPage.h"

#include <QBoxLayout>
#include <QFrame>
#include <QGridLayout>
#include <QPainter>
#include <algorithm>
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

// The welcome picture's own size; the three cards of the recoveries stand in its lower half, 280
// pixels wide with 30 between them, so that a row of three equal columns 35 pixels in from its
// sides puts each button under its card.
constexpr QSize kPictureSize(1000, 515);
constexpr int kCardColumnsSide = 35;
// The picture is never drawn smaller than this part of its size, where its texts are still read.
constexpr double kLeastPictureScale = 0.6;
// Room above the buttons, and below them before the bottom bar.
constexpr int kButtonsAbove = 6;
constexpr int kButtonsBelow = 14;

// The welcome picture, drawn as large as it fits in the widget up to its own size and centred
// across; the light ground at its top runs on to both sides.
class WelcomePicture : public QWidget {
 public:
  WelcomePicture(const CMaskedBitmap& picture, QWidget* parent) : QWidget(parent), m_picture(picture) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setMaximumHeight(kPictureSize.height());
  }
  QSize sizeHint() const override { return kPictureSize; }
  QSize minimumSizeHint() const override {
    return QSize(int(kPictureSize.width() * kLeastPictureScale),
                 int(kPictureSize.height() * kLeastPictureScale));
  }
  // How much smaller than its own size the picture is drawn, and where.
  double Scale() const {
    return std::min({1.0, double(width()) / kPictureSize.width(), double(height()) / kPictureSize.height()});
  }
  QRect PictureRect() const {
    const QSize shown = (QSizeF(kPictureSize) * Scale()).toSize();
    return QRect(QPoint((width() - shown.width()) / 2, 0), shown);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (m_picture.IsNull()) return;
    const QRect at = PictureRect();
    // The picture's first column carries the colour of its ground at each height.
    painter.drawPixmap(QRect(0, 0, at.left(), at.height()), m_picture.Pixmap(),
                       QRect(0, 0, 1, kPictureSize.height()));
    painter.drawPixmap(QRect(at.right() + 1, 0, width() - at.right() - 1, at.height()), m_picture.Pixmap(),
                       QRect(0, 0, 1, kPictureSize.height()));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(at, m_picture.Pixmap());
  }

 private:
  const CMaskedBitmap& m_picture;
};

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

  // The picture, and below it the three buttons, each centred in a third of the picture's width:
  // deleted-file recovery, Start (partition recovery) in the middle, format recovery.
  m_picture = new WelcomePicture(m_background, this);
  m_buttonRow = new QFrame(this);
  m_buttonRow->setMaximumWidth(kPictureSize.width());
  m_buttonRow->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  auto* row = new QGridLayout(m_buttonRow);
  row->setContentsMargins(kCardColumnsSide, kButtonsAbove, kCardColumnsSide, kButtonsBelow);
  row->setHorizontalSpacing(12);
  int column = 0;
  for (CButtonPlus* button : {m_deleted, m_start, m_format}) {
    row->addWidget(button, 0, column, Qt::AlignCenter);
    row->setColumnStretch(column++, 1);
  }
  auto* page = new QVBoxLayout(this);
  page->setContentsMargins(0, 0, 0, 0);
  page->setSpacing(0);
  page->addWidget(m_picture);
  // The row is centred: it grows up to its greatest width, the sides take what is left.
  auto* centred = new QHBoxLayout;
  centred->addStretch(1);
  centred->addWidget(m_buttonRow, kPictureSize.width());
  centred->addStretch(1);
  page->addLayout(centred);
  page->addStretch(1);

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
  // The row of buttons is as wide as the picture is drawn, so each button stays under its card.
  const auto* picture = static_cast<const WelcomePicture*>(m_picture);
  m_buttonRow->setMaximumWidth(
      std::max(m_buttonRow->minimumSizeHint().width(), picture->PictureRect().width()));
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
  // The picture draws itself (Picture()); the page adds the description of a recovery, if any.
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
