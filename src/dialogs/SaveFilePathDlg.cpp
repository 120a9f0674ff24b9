#include "dialogs/SaveFilePathDlg.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"

namespace {

// The button box's room round the buttons: they stand 5 pixels above the frame's bottom, the OK
// button 15 pixels in from the right.
constexpr int kButtonsSide = 15;
constexpr int kButtonsAbove = 10;
constexpr int kButtonsBelow = 5;

}  // namespace

CPageFrameDlg::CPageFrameDlg(int templateId, QWidget* parent) : CSearchSuperDlg(templateId, parent) {
  setWindowTitle(corvale::ui::LoadStringResource(346));
  m_column = new QVBoxLayout(this);
  m_column->setContentsMargins(0, 0, 0, 0);
  m_column->setSpacing(0);
}

CPageFrameDlg::~CPageFrameDlg() { GiveBack(); }

void CPageFrameDlg::SetTemplateSize(int cx, int cy) {
  const QSize size = corvale::ui::DluSize(font(), cx, cy);
  setMinimumSize(size);
  resize(size);
}

void CPageFrameDlg::AttachPage(QWidget* page) {
  if (page == nullptr || page == m_page) return;
  GiveBack();
  m_formerParent = page->parentWidget();
  m_page = page;
  page->hide();
}

void CPageFrameDlg::showEvent(QShowEvent* event) {
  if (m_page && m_page->parentWidget() != this) {
    m_page->setParent(this);
    m_column->insertWidget(0, m_page, 1);
  }
  if (m_page) m_page->show();
  CSearchSuperDlg::showEvent(event);
}

void CPageFrameDlg::done(int result) {
  CSearchSuperDlg::done(result);
  GiveBack();
}

bool CPageFrameDlg::event(QEvent* event) {
  // Enter, Escape and Tab are the page's keys: the frame never closes or moves the focus on them.
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      event->accept();
      return true;
    }
  }
  return CSearchSuperDlg::event(event);
}

void CPageFrameDlg::GiveBack() {
  if (!m_page) return;
  m_page->hide();
  if (m_page->parentWidget() == this) {
    m_column->removeWidget(m_page);
    m_page->setParent(m_formerParent);
  }
  m_page->hide();
  m_page = nullptr;
  m_formerParent = nullptr;
}

CSaveFilePathDlg::CSaveFilePathDlg(QWidget* parent) : CPageFrameDlg(kTemplateId, parent) {
  using namespace corvale::ui::buttons;
  m_ok = new CButtonPlus(kDialogOk.normal, kDialogOk.hover, kDialogOk.push, kDialogOk.disable, this);
  m_ok->SetControlId(corvale::ui::kIdOk);
  corvale::ui::SetControlId(m_ok, corvale::ui::kIdOk);
  m_cancel = new CButtonPlus(kDialogCancel.normal, kDialogCancel.hover, kDialogCancel.push,
                             kDialogCancel.disable, this);
  m_cancel->SetControlId(corvale::ui::kIdCancel);
  corvale::ui::SetControlId(m_cancel, corvale::ui::kIdCancel);
  // Cancel stands left of OK whatever the desktop's habit; OK only closes the frame once the folder
  // is accepted, so the box's own accepted signal is not used.
  m_buttons = new QDialogButtonBox(this);
  m_buttons->setStyleSheet(QStringLiteral("QDialogButtonBox { button-layout: %1; }")
                               .arg(static_cast<int>(QDialogButtonBox::GnomeLayout)));
  m_buttons->addButton(m_cancel, QDialogButtonBox::RejectRole);
  m_buttons->addButton(m_ok, QDialogButtonBox::AcceptRole);
  m_buttons->setContentsMargins(kButtonsSide, kButtonsAbove, kButtonsSide, kButtonsBelow);
  Column()->addWidget(m_buttons);
  connect(m_ok, &QAbstractButton::clicked, this, &CSaveFilePathDlg::OnOK);
  connect(m_cancel, &QAbstractButton::clicked, this, &QDialog::reject);
  SetTemplateSize(350, 235);
}

CSaveFilePathDlg::~CSaveFilePathDlg() = default;

void CSaveFilePathDlg::OnOK() {
  if (!Page()) return;
  if (!m_check || m_check()) accept();
}

void CSaveFilePathDlg::showEvent(QShowEvent* event) {
  CPageFrameDlg::showEvent(event);
  if (m_onShow) m_onShow();
}

CSaveFileResultDlg::CSaveFileResultDlg(QWidget* parent) : CPageFrameDlg(kTemplateId, parent) {
  SetTemplateSize(239, 174);
}
