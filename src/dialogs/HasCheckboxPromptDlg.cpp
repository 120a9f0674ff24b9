#include "dialogs/HasCheckboxPromptDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/Resources.h"
#include "ui/UiFont.h"

CHasCheckboxPromptDlg::CHasCheckboxPromptDlg(const std::string& message, QWidget* parent)
    : CSearchSuperDlg(kTemplateId, parent) {
  setWindowTitle(corvale::ui::LoadStringResource(346));
  setFont(corvale::ui::MakeUiFont(14, 400));
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);

  auto* icon = new QLabel(this);
  icon->setObjectName(QString::number(kIconId));
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
  m_message = new QLabel(QString::fromStdString(message), this);
  m_message->setObjectName(QString::number(kMessageId));
  m_message->setWordWrap(true);
  m_message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_checkBox = new QCheckBox(QStringLiteral("Don't show this message again."), this);
  m_checkBox->setObjectName(QString::number(kCheckBoxId));
  auto* buttons = new QDialogButtonBox(this);
  m_ok = buttons->addButton(QDialogButtonBox::Ok);
  m_ok->setDefault(true);
  connect(m_ok, &QPushButton::clicked, this, &CHasCheckboxPromptDlg::accept);

  // The icon beside the message, the box under them, OK at the bottom right.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(11, 11, 11, 8);
  auto* top = new QHBoxLayout;
  top->setSpacing(14);
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(m_message, 1);
  layout->addLayout(top, 1);
  layout->addWidget(m_checkBox);
  layout->addWidget(buttons);
  setMinimumSize(QSize(315, 143).expandedTo(layout->minimumSize()));
}

void CHasCheckboxPromptDlg::accept() {
  m_answer = m_checkBox->isChecked() ? 1 : 0;
  CSearchSuperDlg::accept();
}
