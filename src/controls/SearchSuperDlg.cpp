#include "controls/SearchSuperDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>

#include "controls/DialogTemplate.h"
#include "controls/HelpFile.h"

CSearchSuperDlg::CSearchSuperDlg(int templateId, QWidget* parent)
    : QDialog(parent), m_templateId(templateId) {
  if (templateId == kPlainTemplate) BuildPlainTemplate();
}

CSearchSuperDlg::CSearchSuperDlg(QWidget* parent) : CSearchSuperDlg(kPlainTemplate, parent) {}

CSearchSuperDlg::~CSearchSuperDlg() = default;

void CSearchSuperDlg::SetHelpTopic(int topic) { m_helpTopic = topic; }

void CSearchSuperDlg::keyPressEvent(QKeyEvent* event) {
  // F1 comes here from whichever control has the focus, since the controls leave it alone.
  if (m_helpTopic > 0 && event->matches(QKeySequence::HelpContents)) {
    event->accept();
    ShowHelpFile(nullptr, m_helpTopic);
    return;
  }
  QDialog::keyPressEvent(event);
}

void CSearchSuperDlg::BuildPlainTemplate() {
  setWindowTitle(QStringLiteral("Dialog"));
  // OK over Cancel at the top right, 186 x 95 dialog units at least.
  auto* buttons = new QDialogButtonBox(Qt::Vertical, this);
  QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
  corvale::ui::SetControlId(ok, corvale::ui::kIdOk);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  corvale::ui::SetControlId(cancel, corvale::ui::kIdCancel);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* layout = new QHBoxLayout(this);
  layout->addStretch(1);
  layout->addWidget(buttons, 0, Qt::AlignTop);
  setMinimumSize(corvale::ui::DluSize(font(), 186, 95));
}
