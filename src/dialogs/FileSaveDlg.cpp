#include "dialogs/FileSaveDlg.h"

#include "controls/DialogTemplate.h"
#include "ui/Resources.h"
#include "ui/Shell.h"
#include "ui/UiFont.h"

using corvale::ui::DluRect;
using corvale::ui::LoadStringResource;

CFileSaveDlg::CFileSaveDlg(QWidget* parent) : CSearchSuperDlg(kTemplateId, parent) {
  setWindowFlags(Qt::Widget);
  resize(DluRect(0, 0, 240, 89).size());
  const QFont font = corvale::ui::MakeUiPointFont(90, 400);
  const auto make = [&](int id, const char* text, const QRect& where) {
    auto* label = new QLabel(QString::fromUtf8(text), this);
    corvale::ui::SetControlId(label, id);
    label->setGeometry(where);
    label->setFont(font);
    label->setWordWrap(true);
    return label;
  };
  m_outcome = make(kIdOutcome, "", DluRect(9, 4, 217, 12));
  m_totals = make(kIdTotals, "", DluRect(9, 23, 217, 19));
  make(kIdSavedIn, "Files are saved in:", DluRect(9, 49, 67, 18));
  m_link = make(kIdLink, "path", DluRect(77, 49, 149, 18));
  m_link->setWordWrap(false);
  m_link->setCursor(Qt::PointingHandCursor);
  m_link->setTextFormat(Qt::RichText);
  connect(m_link, &QLabel::linkActivated, this, [this](const QString&) { OpenLink(); });
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
  const QString text = QString::fromStdString(LinkText(folder)).toHtmlEscaped();
  m_link->setText(QStringLiteral("<a href=\"folder\">%1</a>").arg(text));
  m_link->setToolTip(QString::fromStdString(folder));
  m_link->show();
}

QString CFileSaveDlg::Text(int id) const {
  if (id == kIdLink) return QString::fromStdString(LinkText(m_savePath));
  auto* label = corvale::ui::FindControl<QLabel>(this, id);
  return label != nullptr ? label->text() : QString();
}

void CFileSaveDlg::OpenLink() {
  if (!m_savePath.empty()) corvale::ui::OpenUrl(m_savePath);
}
