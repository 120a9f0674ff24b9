#include "dialogs/HasCheckboxPromptDlg.h"

#include <QStyle>

#include "ui/Resources.h"
#include "ui/UiFont.h"

CHasCheckboxPromptDlg::CHasCheckboxPromptDlg(const std::string& message, QWidget* parent)
    : CSearchSuperDlg(kTemplateId, parent) {
  setWindowTitle(corvale::ui::LoadStringResource(346));
  setFixedSize(315, 143);
  setFont(corvale::ui::MakeUiFont(14, 400));
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);

  auto* icon = new QLabel(this);
  icon->setObjectName(QString::number(kIconId));
  icon->setGeometry(11, 11, 32, 32);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
  m_message = new QLabel(QString::fromStdString(message), this);
  m_message->setObjectName(QString::number(kMessageId));
  m_message->setGeometry(57, 11, 248, 50);
  m_message->setWordWrap(true);
  m_message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_checkBox = new QCheckBox(QStringLiteral("Don't show this message again."), this);
  m_checkBox->setObjectName(QString::number(kCheckBoxId));
  m_checkBox->setGeometry(15, 68, 280, 18);
  m_ok = new QPushButton(QStringLiteral("OK"), this);
  m_ok->setGeometry(204, 107, 88, 28);
  m_ok->setDefault(true);
  connect(m_ok, &QPushButton::clicked, this, &CHasCheckboxPromptDlg::accept);
}

void CHasCheckboxPromptDlg::accept() {
  m_answer = m_checkBox->isChecked() ? 1 : 0;
  CSearchSuperDlg::accept();
}
