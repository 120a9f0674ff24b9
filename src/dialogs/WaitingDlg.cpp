#include "dialogs/WaitingDlg.h"

#include <QApplication>
#include <QVBoxLayout>

#include "controls/DialogTemplate.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

CWaitingDlg::CWaitingDlg(QWidget* parent) : CSearchSuperDlg(kTemplateId, parent) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  setFont(corvale::ui::MakeUiFont(14, 400));
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  setStyleSheet("CWaitingDlg { border: 1px solid rgb(203, 212, 219); }");
  QString text = corvale::ui::LoadStringResource(374);
  if (text.isEmpty()) text = QStringLiteral("Please wait, scanning system...");
  m_text = new QLabel(text, this);
  m_text->setObjectName(QString::number(kTextId));
  m_text->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 12, 20, 12);
  layout->addWidget(m_text);
  setMinimumSize(corvale::ui::DluSize(font(), 206, 43));
}

CWaitingDlg::~CWaitingDlg() { QApplication::restoreOverrideCursor(); }

void CWaitingDlg::ShowNow() {
  adjustSize();
  if (QWidget* owner = parentWidget())
    move(owner->mapToGlobal(QPoint((owner->width() - width()) / 2, (owner->height() - height()) / 2)));
  show();
  repaint();
}
