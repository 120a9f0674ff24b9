#include "controls/SearchSuperDlg.h"

#include <QPushButton>
#include <QShortcut>

#include "controls/DialogTemplate.h"
#include "controls/HelpFile.h"

using corvale::ui::DluRect;

CSearchSuperDlg::CSearchSuperDlg(int templateId, QWidget* parent)
    : QDialog(parent), m_templateId(templateId) {
  if (templateId == kPlainTemplate) BuildPlainTemplate();
}

CSearchSuperDlg::CSearchSuperDlg(QWidget* parent) : CSearchSuperDlg(kPlainTemplate, parent) {}

CSearchSuperDlg::~CSearchSuperDlg() = default;

void CSearchSuperDlg::SetHelpTopic(int topic) {
  m_helpTopic = topic;
  if (m_help != nullptr || topic <= 0) return;
  // One shortcut for the whole window, so F1 reaches the topic whichever control has the focus.
  m_help = new QShortcut(QKeySequence::HelpContents, this);
  m_help->setContext(Qt::WindowShortcut);
  connect(m_help, &QShortcut::activated, this, [this] {
    if (m_helpTopic > 0) ShowHelpFile(nullptr, m_helpTopic);
  });
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
