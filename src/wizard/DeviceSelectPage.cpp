#include "wizard/DeviceSelectPage.h"

#include <QAction>
#include <QBoxLayout>
#include <QCursor>
#include <QFileDialog>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <algorithm>

#include "controls/ButtonPlus.h"
#include "controls/DeviceSelectCtrl.h"
#include "controls/TransButton.h"
#include "core/StateBundle.h"
#include "platform/RecoveryContext.h"
#include "platform/StringTable.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"
#include "wizard/WizardPageController.h"
#include "wizard/controller/ScanState.h"

namespace {

constexpr uint32_t kStringContinue = 308;
constexpr uint32_t kStringRecover = 189;
constexpr uint32_t kStringRemove = 395;
constexpr uint32_t kStringStateFilter = 400;

// The check box stands a third of the way down the bottom band, and ends 50 pixels before the
// band's right end.
constexpr int kListToCheckBox = (CWizardPage::kBottomBandTop - CWizardPage::kBottomBandBottom) / 3 + 1;
constexpr int kCheckBoxRightGap = 50;
// Room either side of the "Disk Image..." button's text.
constexpr int kTextButtonPadding = 14;

CDeviceSelectPage::OpenPathAsker& OpenPathAskerSlot() {
  static CDeviceSelectPage::OpenPathAsker asker;
  return asker;
}

std::string AskOpenPath(const std::string& filter) {
  if (OpenPathAskerSlot()) return OpenPathAskerSlot()(filter);
  // "Text (*.x)|*.x||" becomes Qt's "Text (*.x)".
  QStringList parts = QString::fromStdString(filter).split('|', Qt::SkipEmptyParts);
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) filters << parts[i];
  return QFileDialog::getOpenFileName(nullptr, QString(), QString(), filters.join(";;")).toStdString();
}

}  // namespace

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

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(BandMargins());
  column->setSpacing(0);
  m_topRow = new QHBoxLayout;
  m_topRow->setSpacing(0);
  column->addLayout(m_topRow);
  m_device->setMinimumHeight(kLeastListHeight);
  column->addWidget(m_device, 1);
  column->addSpacing(kListToCheckBox);
  auto* boxRow = new QHBoxLayout;
  boxRow->setSpacing(0);
  boxRow->addWidget(m_checkBox, 1);
  boxRow->addSpacing(kCheckBoxRightGap);
  column->addLayout(boxRow);
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
  m_strip->SetFillsWidth(true);
  connect(m_refresh, &QAbstractButton::clicked, this, [this, refreshId] { OnCommand(refreshId); });
  m_topRow->insertWidget(0, m_refresh);
  m_topRow->insertWidget(1, m_strip, 1);
}

void CDeviceSelectPage::CreateImageMenuButton(int menuId) {
  m_imageButton = new QPushButton(QStringLiteral("Disk Image..."), this);
  m_imageButton->setObjectName(QString::number(menuId));
  m_imageButton->setFocusPolicy(Qt::NoFocus);
  const int textWidth = m_imageButton->fontMetrics().horizontalAdvance(m_imageButton->text());
  m_imageButton->setMinimumWidth(
      std::max(m_imageButton->sizeHint().width(), textWidth + 2 * kTextButtonPadding));
  if (m_refresh) m_imageButton->setMinimumHeight(m_refresh->height());
  connect(m_imageButton, &QPushButton::clicked, this, [this, menuId] { OnCommand(menuId); });
  m_topRow->addWidget(m_imageButton);
}

QPoint CDeviceSelectPage::ImageMenuPoint() const {
  return m_imageButton ? m_imageButton->mapToGlobal(QPoint(0, m_imageButton->height())) : QCursor::pos();
}

void CDeviceSelectPage::Draw(QPainter* dc) {
  // A one-pixel frame round the list.
  dc->fillRect(m_device->geometry().adjusted(-1, -1, 1, 1), corvale::ui::kFrameColor);
  DrawExtra(dc);
}

void CDeviceSelectPage::DrawExtra(QPainter*) {}

void CDeviceSelectPage::showEvent(QShowEvent* event) {
  CWizardPage::showEvent(event);
  m_checkBox->setChecked(GetRecoveryContext().PageFlowSwitch != 0);
}

CDeviceSelectPage::OpenPathAsker CDeviceSelectPage::SetOpenPathAsker(OpenPathAsker asker) {
  return std::exchange(OpenPathAskerSlot(), std::move(asker));
}

QAction* CDeviceSelectPage::RunMenu(QMenu& menu, const QPoint& at) {
  return m_menuRunner ? m_menuRunner(menu, at) : menu.exec(at);
}

bool CDeviceSelectPage::IsSavedResultItemSelected() const {
  const int row = m_device->GetCurSel();
  return row >= 0 && m_device->GetItemData(row) == nullptr;
}

void CDeviceSelectPage::ShowRecoverySourceItemMenu(const QPoint& at, int recoverId) {
  const bool savedResult = IsSavedResultItemSelected();
  QMenu menu(this);
  QAction* recover = menu.addAction(savedResult ? corvale::ui::StringOr(kStringContinue, "Continue")
                                                : corvale::ui::StringOr(kStringRecover, "Recover"));
  QAction* remove = nullptr;
  if (m_deviceController && (savedResult || m_deviceController->IsImageSelected()))
    remove = menu.addAction(corvale::ui::StringOr(kStringRemove, "Remove"));
  QAction* chosen = RunMenu(menu, at);
  if (chosen == nullptr) return;
  if (chosen == recover)
    OnCommand(recoverId);
  else if (chosen == remove)
    OnCommand(kCommandRemoveImage);
}

void CDeviceSelectPage::ShowImageMenu(const QPoint& at, int loadCommand) {
  if (!m_deviceController) return;
  QMenu menu(this);
  QAction* create = menu.addAction(QStringLiteral("Disk Image"));
  QAction* open = menu.addAction(QStringLiteral("Open Disk Image"));
  QAction* remove = menu.addAction(QStringLiteral("Delete Image"));
  QAction* load = nullptr;
  if (loadCommand != 0) {
    menu.addSeparator();
    load = menu.addAction(QStringLiteral("Load Search Result..."));
  }
  if (!m_deviceController->SelectCurrentItem()) {
    create->setEnabled(false);
    remove->setEnabled(false);
  } else if (m_deviceController->IsImageSelected()) {
    create->setEnabled(false);
  } else {
    remove->setEnabled(false);
  }
  QAction* chosen = RunMenu(menu, at);
  if (chosen == nullptr || !chosen->isEnabled()) return;
  if (chosen == create)
    OnDeviceCommand(kCommandCreateImage);
  else if (chosen == open)
    OnDeviceCommand(kCommandOpenImage);
  else if (chosen == remove)
    OnDeviceCommand(kCommandRemoveImage);
  else if (chosen == load)
    OnCommand(loadCommand);
}

void CDeviceSelectPage::RemoveSelectedItem() {
  if (!m_deviceController) return;
  if (IsSavedResultItemSelected())
    m_deviceController->RemovePreviousRecoveryItem();
  else
    m_deviceController->CloseSelectedImage();
}

bool CDeviceSelectPage::LoadSavedResult() {
  if (!m_deviceController) return false;
  const std::string path = AskOpenPath(
      corvale::ui::StringOr(kStringStateFilter, "Recovery State File(*.rsf)|*.rsf||").toStdString());
  if (path.empty()) return false;
  bool loaded = false;
  try {
    CStateBundle bundle(false, ScanStateFolder(), [](int32_t id) {
      corvale::ui::ShowMessageBox(corvale::LoadText(static_cast<uint32_t>(id)), GetProductTitle());
    });
    loaded = bundle.Load(path);
  } catch (...) {
    loaded = false;
  }
  if (loaded) {
    CommitScanState(m_deviceController->GetWizardController());
    m_deviceController->StartDeviceCollection();
  }
  update();
  return loaded;
}

bool CDeviceSelectPage::OnDeviceCommand(int commandId) {
  if (!m_deviceController) return false;
  switch (commandId) {
    case kCommandCreateImage:
      m_deviceController->CreateImageOfSelected();
      return true;
    case kCommandOpenImage:
      m_deviceController->OpenImage();
      return true;
    case kCommandRemoveImage:
      RemoveSelectedItem();
      return true;
    default:
      return false;
  }
}
