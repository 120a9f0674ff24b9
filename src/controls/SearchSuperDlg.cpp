#include "controls/SearchSuperDlg.h"

#include <QKeyEvent>
#include <QPushButton>

#include "controls/DialogTemplate.h"
#include "controls/HelpFile.h"

using corvale::ui::DluRect;

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
  const QRect frame = DluRect(0, 0, 186, 95);
  setFixedSize(frame.size());
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  corvale::ui::SetControlId(ok, corvale::ui::kIdOk);
  ok->setGeometry(DluRect(129, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  corvale::ui::SetControlId(cancel, corvale::ui::kIdCancel);
  cancel->setGeometry(DluRect(129, 24, 50, 14));
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}
