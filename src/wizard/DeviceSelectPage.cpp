#include "wizard/DeviceSelectPage.h"

#include <QPainter>

#include "controls/ButtonPlus.h"
#include "controls/DeviceSelectCtrl.h"
#include "controls/TransButton.h"
#include "platform/RecoveryContext.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

CDeviceSelectPage::CDeviceSelectPage(QWidget* parent) : CWizardPage(parent) {
  m_checkBox = new CTransButton(CTransButton::Kind::CheckBox, this);
  m_checkBox->setObjectName(QString::number(kCheckBoxId));
  m_checkBox->SetBkColor(Qt::white);
  m_checkBox->SetFont(90, corvale::ui::GetUIFontName(), false);
  m_checkBox->ShowFocusRect(false);
  QString text = corvale::ui::LoadStringResource(438);
  m_checkBox->setText(text.replace(QStringLiteral("&&"), QStringLiteral("&")));
  connect(m_checkBox, &CTransButton::Clicked, this, [](int checkState, CTransButton*) {
    GetRecoveryContext().PageFlowSwitch = checkState == 1 ? 1 : 0;
  });

  m_device = new CDeviceSelectCtrl(this);
  m_device->setObjectName(QString::number(kDeviceControlId));
  DEVICE_BITMAP bitmaps;
  for (int i = 0; i < 7; ++i) bitmaps.ids[i] = corvale::ui::bitmap::kDeviceIcons[i];
  m_device->SetDeviceBitmap(bitmaps);
}

void CDeviceSelectPage::CreateRefreshBar(int refreshId) {
  const auto& refresh = corvale::ui::buttons::kRefresh;
  m_refresh = new CButtonPlus(refresh.normal, refresh.hover, refresh.push, refresh.disable, this);
  m_refresh->SetControlId(refreshId);
  m_refresh->setObjectName(QString::number(refreshId));
  const uint32_t strip = corvale::ui::bitmap::kDeviceToolbarStrip;
  m_strip = new CButtonPlus(strip, strip, strip, strip, this);
  m_strip->SetControlId(kStripId);
  m_strip->setObjectName(QString::number(kStripId));
  m_strip->setFocusPolicy(Qt::NoFocus);
  connect(m_refresh, &QAbstractButton::clicked, this, [this, refreshId] { OnCommand(refreshId); });
}

void CDeviceSelectPage::Layout(int, int) {
  const QRect subtitle = SubtitleRect();
  const QRect bottom = BottomRect();
  int listBottom = bottom.bottom() + 1;
  if (m_checkBox) {
    m_checkBox->setGeometry(RectFromEdges(bottom.left(), bottom.top() + bottom.height() / 3,
                                          bottom.right() + 1 - 50, bottom.bottom() + 1));
    listBottom = bottom.top() - 1;
  }
  int listTop = subtitle.top();
  if (m_refresh) {
    m_refresh->MoveTo(subtitle.left(), subtitle.top());
    if (m_strip) m_strip->MoveTo(subtitle.left() + m_refresh->width(), subtitle.top());
    listTop = subtitle.bottom() + 1;
  }
  m_device->setGeometry(RectFromEdges(subtitle.left(), listTop, subtitle.right() + 1, listBottom));
}

void CDeviceSelectPage::Draw(QPainter* dc) {
  const QRect subtitle = SubtitleRect();
  const QRect bottom = BottomRect();
  const int frameBottom = m_checkBox ? bottom.top() : bottom.bottom() + 1;
  dc->fillRect(RectFromEdges(subtitle.left(), m_refresh ? subtitle.bottom() + 1 : subtitle.top(),
                             subtitle.right() + 1, frameBottom)
                   .adjusted(-1, -1, 1, 1),
               corvale::ui::kFrameColor);
  DrawExtra(dc);
}

void CDeviceSelectPage::DrawExtra(QPainter*) {}

void CDeviceSelectPage::showEvent(QShowEvent* event) {
  CWizardPage::showEvent(event);
  m_checkBox->setChecked(GetRecoveryContext().PageFlowSwitch != 0);
}
