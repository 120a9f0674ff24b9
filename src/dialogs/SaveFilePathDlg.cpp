#include "dialogs/SaveFilePathDlg.h"

#include <QKeyEvent>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "ui/Resources.h"

CPageFrameDlg::CPageFrameDlg(int templateId, QWidget* parent) : CSearchSuperDlg(templateId, parent) {
  setWindowTitle(corvale::ui::LoadStringResource(346));
}

CPageFrameDlg::~CPageFrameDlg() { GiveBack(); }

void CPageFrameDlg::AttachPage(QWidget* page) {
  if (page == nullptr || page == m_page) return;
  GiveBack();
  m_formerParent = page->parentWidget();
  m_page = page;
  page->hide();
  page->setGeometry(QRect());
}

void CPageFrameDlg::showEvent(QShowEvent* event) {
  if (m_page && m_page->parentWidget() != this) {
    m_page->setParent(this);
    m_page->setGeometry(PageRect(width(), height()));
  }
  if (m_page) m_page->show();
  CSearchSuperDlg::showEvent(event);
}

void CPageFrameDlg::resizeEvent(QResizeEvent* event) {
  CSearchSuperDlg::resizeEvent(event);
  if (m_page) m_page->setGeometry(PageRect(width(), height()));
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
  if (m_page->parentWidget() == this) m_page->setParent(m_formerParent);
  m_page->hide();
  m_page = nullptr;
  m_formerParent = nullptr;
}

CSaveFilePathDlg::CSaveFilePathDlg(QWidget* parent) : CPageFrameDlg(kTemplateId, parent) {
  resize(corvale::ui::DluRect(0, 0, 350, 235).size());
  m_ok = new CButtonPlus(382, 381, 380, 379, this);
  m_ok->SetControlId(corvale::ui::kIdOk);
  corvale::ui::SetControlId(m_ok, corvale::ui::kIdOk);
  m_cancel = new CButtonPlus(176, 175, 174, 173, this);
  m_cancel->SetControlId(corvale::ui::kIdCancel);
  corvale::ui::SetControlId(m_cancel, corvale::ui::kIdCancel);
  connect(m_ok, &QAbstractButton::clicked, this, &CSaveFilePathDlg::OnOK);
  connect(m_cancel, &QAbstractButton::clicked, this, &QDialog::reject);
}

CSaveFilePathDlg::~CSaveFilePathDlg() = default;

void CSaveFilePathDlg::OnOK() {
  if (!Page()) return;
  if (!m_check || m_check()) accept();
}

QRect CSaveFilePathDlg::PageRect(int w, int h) const {
  return QRect(0, 0, w, std::max(0, h - m_ok->GetBitmapSize().height() - 15));
}

void CSaveFilePathDlg::showEvent(QShowEvent* event) {
  CPageFrameDlg::showEvent(event);
  if (m_onShow) m_onShow();
}

void CSaveFilePathDlg::resizeEvent(QResizeEvent* event) {
  CPageFrameDlg::resizeEvent(event);
  const int w = width();
  const int h = height();
  const int d = w / 2;
  const QSize cancel = m_cancel->GetBitmapSize();
  m_cancel->MoveTo(d + (d - cancel.width()) / 2 - 15, h - cancel.height() - 5);
  m_ok->MoveTo(d + (d - cancel.width()) / 2 + 80, h - cancel.height() - 5);
}

CSaveFileResultDlg::CSaveFileResultDlg(QWidget* parent) : CPageFrameDlg(kTemplateId, parent) {
  resize(corvale::ui::DluRect(0, 0, 239, 174).size());
}
