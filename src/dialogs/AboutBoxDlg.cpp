#include "dialogs/AboutBoxDlg.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QVBoxLayout>

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

QLabel* AddLabel(QWidget* parent, int id, const QString& text) {
  auto* label = new QLabel(text, parent);
  if (id != 0) corvale::ui::SetControlId(label, id);
  label->setWordWrap(true);
  return label;
}

QLabel* AddPicture(QWidget* parent, int id) {
  auto* picture = new QLabel(parent);
  corvale::ui::SetControlId(picture, id);
  picture->setPixmap(corvale::ui::LoadBitmapResource(buttons::kAboutPicture));
  picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return picture;
}

// The title control: bold, 40 pixels further right than the texts under it.
QLabel* AddTitle(QWidget* parent, int id, const QString& text) {
  QLabel* title = AddLabel(parent, id, text);
  title->setIndent(40);
  QFont bold = parent->font();
  bold.setWeight(QFont::Bold);
  title->setFont(bold);
  return title;
}

CButtonPlus* AddOk(QDialog* dialog) {
  const auto& set = buttons::kResultOk;
  auto* ok = new CButtonPlus(set.normal, set.hover, set.push, set.disable, dialog);
  ok->SetControlId(1);
  corvale::ui::SetControlId(ok, 1);
  QObject::connect(ok, &CButtonPlus::clicked, dialog, &QDialog::accept);
  return ok;
}

// The picture at the left, `texts` in a column beside it, OK at the bottom right; at least
// `widthDlu` x `heightDlu` dialog units.
void LayOut(QDialog* dialog, QLabel* picture, std::initializer_list<QWidget*> texts, QWidget* ok,
            int widthDlu, int heightDlu) {
  using corvale::ui::DluToPixelsX;
  using corvale::ui::DluToPixelsY;
  auto* layout = new QVBoxLayout(dialog);
  layout->setContentsMargins(DluToPixelsX(13), DluToPixelsY(9), DluToPixelsX(7), DluToPixelsY(4));
  auto* body = new QHBoxLayout;
  body->setSpacing(DluToPixelsX(9));
  auto* left = new QVBoxLayout;
  left->addSpacing(DluToPixelsY(12));
  left->addWidget(picture);
  left->addStretch(1);
  body->addLayout(left);
  auto* column = new QVBoxLayout;
  // The link is as wide as its text: only the text opens it.
  for (QWidget* text : texts)
    column->addWidget(text, 0, qobject_cast<CHyperLink*>(text) ? Qt::AlignLeft : Qt::Alignment());
  column->addStretch(1);
  body->addLayout(column, 1);
  layout->addLayout(body, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  layout->addLayout(buttons);
  dialog->setMinimumSize(corvale::ui::DluSize(dialog->font(), widthDlu, heightDlu));
}

}  // namespace

CAboutBoxDlg::CAboutBoxDlg(QWidget* parent) : CSearchSuperDlg(kTemplateId, parent) {
  MakeWhite(this);
  const QString title = corvale::ui::LoadStringResource(kStringProductTitle);
  setWindowTitle(title);
  QLabel* picture = AddPicture(this, kPictureId);
  QLabel* heading =
      AddTitle(this, kTitleId, title + QLatin1Char(' ') + QString::fromLatin1(GetVersionString()));
  QLabel* visit = AddLabel(this, 0, QStringLiteral("For the latest product information, please visit:"));
  m_link = new CHyperLink(this);
  corvale::ui::SetControlId(m_link, kLinkId);
  m_link->setText(QString::fromLatin1(kMakerHomePage));
  m_link->SetLinkURL(QString::fromLatin1(kMakerHomePage));
  QLabel* about =
      AddLabel(this, 0, QStringLiteral("Corvale is free software for recovering lost and deleted files."));
  m_ok = AddOk(this);
  LayOut(this, picture, {heading, visit, m_link, about}, m_ok, 301, 127);
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
  QLabel* picture = AddPicture(this, kPictureId);
  QLabel* heading = AddTitle(this, kTitleId, title);
  m_link = new CHyperLink(this);
  corvale::ui::SetControlId(m_link, kLinkId);
  const QString address = corvale::ui::LoadStringResource(kStringWebAddress);
  m_link->setText(address);
  m_link->SetLinkURL(address);
  QLabel* email = AddLabel(this, kEmailId, corvale::ui::LoadStringResource(kStringContactEmail));
  QLabel* telephone = AddLabel(this, kTelephoneId, corvale::ui::LoadStringResource(kStringTelephone));
  m_ok = AddOk(this);
  LayOut(this, picture, {heading, m_link, email, telephone}, m_ok, 301, 150);
}
