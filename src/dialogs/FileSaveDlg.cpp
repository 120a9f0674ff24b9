#include "dialogs/FileSaveDlg.h"

#include <QGridLayout>

#include "controls/DialogTemplate.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

using corvale::ui::DluSize;
using corvale::ui::LoadStringResource;

CFileSaveDlg::CFileSaveDlg(QWidget* parent) : CSearchSuperDlg(kTemplateId, parent) {
  setWindowFlags(Qt::Widget);
  resize(DluSize(font(), 240, 89));
  const QFont font = corvale::ui::MakeUiPointFont(90, 400);
  const auto make = [&](int id, const char* text) {
    auto* label = new QLabel(QString::fromUtf8(text), this);
    corvale::ui::SetControlId(label, id);
    label->setFont(font);
    label->setWordWrap(true);
    return label;
  };
  // The outcome, the totals, and "Files are saved in:" with the link beside it, one under the other
  // from the panel's top-left corner, 9 dialog units in.
  const QSize inset = DluSize(this->font(), 9, 4);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(inset.width(), inset.height(), inset.width(), inset.height());
  grid->setVerticalSpacing(DluSize(this->font(), 0, 7).height());
  m_outcome = make(kIdOutcome, "");
  m_totals = make(kIdTotals, "");
  QLabel* savedIn = make(kIdSavedIn, "Files are saved in:");
  savedIn->setWordWrap(false);
  m_link = new CHyperLink(true, this);
  corvale::ui::SetControlId(m_link, kIdLink);
  m_link->setFont(font);
  m_link->setText(QStringLiteral("path"));
  grid->addWidget(m_outcome, 0, 0, 1, 2);
  grid->addWidget(m_totals, 1, 0, 1, 2);
  grid->addWidget(savedIn, 2, 0);
  grid->addWidget(m_link, 2, 1, Qt::AlignLeft | Qt::AlignVCenter);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(3, 1);
  m_link->setTextFormat(Qt::PlainText);
}

void CFileSaveDlg::ShowRecoveryResult(int selected, int written, bool cancelled) {
  // A run stopped by the user says so: "some files are recovered" would read as if the rest had
  // failed. The totals line tells how many files were written all the same.
  const uint32_t outcome = cancelled && written < selected ? kCancelledTextId
                           : written == 0                  ? 220
                           : written == selected           ? 285
                                                           : 221;
  m_outcome->setText(LoadStringResource(outcome));
  m_totals->setText(LoadStringResource(223) + QString::number(written) + LoadStringResource(224));
}

std::string CFileSaveDlg::LinkText(const std::string& folder) {
  if (folder.size() <= kLinkBytes) return folder;
  size_t cut = kLinkBytes;
  // Back to the first byte of the character the cut would split.
  while (cut > 0 && (static_cast<unsigned char>(folder[cut]) & 0xC0) == 0x80) --cut;
  return folder.substr(0, cut) + "...";
}

void CFileSaveDlg::SetSavePath(const std::string& folder) {
  m_savePath = folder;
  m_link->setText(QString::fromStdString(LinkText(folder)));
  m_link->SetItemPaths(m_folders);
  m_link->SetLinkURL(QString::fromStdString(folder));
  m_link->show();
}

QString CFileSaveDlg::Text(int id) const {
  if (id == kIdLink) return QString::fromStdString(LinkText(m_savePath));
  auto* label = corvale::ui::FindControl<QLabel>(this, id);
  return label != nullptr ? label->text() : QString();
}

void CFileSaveDlg::OpenLink() {
  if (!m_savePath.empty()) m_link->Click();
}
