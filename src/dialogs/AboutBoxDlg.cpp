#include "dialogs/AboutBoxDlg.h"

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "ui/AppInfo.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"
#include "ui/UiFont.h"

namespace {

namespace buttons = corvale::ui::buttons;

constexpr uint32_t kStringProductTitle = 346;
constexpr uint32_t kStringRegionalTitle = 349;
constexpr uint32_t kStringContactEmail = 61267;
constexpr uint32_t kStringTelephone = 61268;
constexpr uint32_t kStringWebAddress = 61275;
constexpr const char* kMakerHomePage = "https://corvale.example/";

void MakeWhite(QWidget* dialog) {
  dialog->setFont(corvale::ui::MakeUiFont(14, 400));
  dialog->setAutoFillBackground(true);
  QPalette palette = dialog->palette();
  palette.setColor(QPalette::Window, Qt::white);
  dialog->setPalette(palette);
}

QLabel* AddLabel(QWidget* parent, int id, const QString& text, const QRect& rect) {
  auto* label = new QLabel(text, parent);
  if (id != 0) corvale::ui::SetControlId(label, id);
  label->setGeometry(rect);
  label->setWordWrap(true);
  return label;
}

QLabel* AddPicture(QWidget* parent, int id, const QRect& rect) {
  QLabel* picture = AddLabel(parent, id, QString(), rect);
  picture->setPixmap(corvale::ui::LoadBitmapResource(buttons::kAboutPicture));
  return picture;
}

// The title control: bold, 40 pixels right of its place in the template.
QLabel* AddTitle(QWidget* parent, int id, const QString& text, QRect rect) {
  QLabel* title = AddLabel(parent, id, text, rect.translated(40, 0));
  QFont bold = parent->font();
  bold.setWeight(QFont::Bold);
  title->setFont(bold);
  return title;
}

CButtonPlus* AddOk(QDialog* dialog, int x, int y) {
  const auto& set = buttons::kResultOk;
  auto* ok = new CButtonPlus(set.normal, set.hover, set.push, set.disable, dialog);
  ok->SetControlId(1);
  corvale::ui::SetControlId(ok, 1);
  ok->MoveTo(x, y);
  QObject::connect(ok, &CButtonPlus::clicked, dialog, &QDialog::accept);
  return ok;
}

}  // namespace

CAboutBoxDlg::CAboutBoxDlg(QWidget* parent) : CSearchSuperDlg(kTemplateId, parent) {
  MakeWhite(this);
  const QString title = corvale::ui::LoadStringResource(kStringProductTitle);
  setWindowTitle(title);
  setFixedSize(corvale::ui::DluRect(0, 0, 301, 127).size());
  AddPicture(this, kPictureId, corvale::ui::DluRect(13, 21, 53, 44));
  AddTitle(this, kTitleId, title + QLatin1Char(' ') + QString::fromLatin1(GetVersionString()),
           corvale::ui::DluRect(75, 9, 174, 18));
  AddLabel(this, 0, QStringLiteral("For the latest product information, please visit:"),
           corvale::ui::DluRect(87, 29, 181, 11));
  m_link = new CHyperLink(this);
  corvale::ui::SetControlId(m_link, kLinkId);
  m_link->setGeometry(corvale::ui::DluRect(116, 45, 140, 12));
  m_link->setText(QString::fromLatin1(kMakerHomePage));
  m_link->SetLinkURL(QString::fromLatin1(kMakerHomePage));
  AddLabel(this, 0, QStringLiteral("Corvale is free software for recovering lost and deleted files."),
           corvale::ui::DluRect(86, 72, 185, 19));
  const QRect okRect = corvale::ui::DluRect(233, 105, 63, 20);
  m_ok = AddOk(this, okRect.x(), okRect.y());
}

QString CAboutBoxDlg::TitleText() const {
  auto* title = corvale::ui::FindControl<QLabel>(this, kTitleId);
  return title ? title->text() : QString();
}

CCNAboutDlg::CCNAboutDlg(QWidget* parent) : CSearchSuperDlg(kTemplateId, parent) {
  MakeWhite(this);
  const QString title = corvale::ui::LoadStringResource(kStringRegionalTitle) + QLatin1Char(' ') +
                        QString::fromLatin1(GetVersionString());
  setWindowTitle(title);
  setFixedSize(corvale::ui::DluRect(0, 0, 301, 150).size());
  AddPicture(this, kPictureId, corvale::ui::DluRect(13, 21, 53, 44));
  AddTitle(this, kTitleId, title, corvale::ui::DluRect(75, 9, 174, 18));
  m_link = new CHyperLink(this);
  corvale::ui::SetControlId(m_link, kLinkId);
  m_link->setGeometry(corvale::ui::DluRect(87, 32, 181, 12));
  const QString address = corvale::ui::LoadStringResource(kStringWebAddress);
  m_link->setText(address);
  m_link->SetLinkURL(address);
  AddLabel(this, kEmailId, corvale::ui::LoadStringResource(kStringContactEmail),
           corvale::ui::DluRect(87, 55, 181, 12));
  AddLabel(this, kTelephoneId, corvale::ui::LoadStringResource(kStringTelephone),
           corvale::ui::DluRect(87, 70, 181, 12));
  const QRect okRect = corvale::ui::DluRect(233, 125, 63, 20);
  m_ok = AddOk(this, okRect.x(), okRect.y());
}
