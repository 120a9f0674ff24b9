#include "wizard/WizardSheet.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFrame>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QStackedLayout>
#include <cinttypes>

#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "controls/HelpFile.h"
#include "controls/XPMenu.h"
#include "dialogs/AboutBoxDlg.h"
#include "platform/Language.h"
#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "platform/RecoveryContext.h"
#include "platform/Registry.h"
#include "platform/StringTable.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"
#include "ui/Shell.h"
#include "ui/UsageStatistics.h"
#include "wizard/MemoryDCPainter.h"
#include "wizard/SaveFilePage.h"
#include "wizard/SaveResultPage.h"
#include "wizard/WizardFrame.h"
#include "wizard/WizardPageController.h"
#include "wizard/WizardPages.h"

namespace {

// Texts of the sheet.
constexpr uint32_t kStringProductTitle = 193;
constexpr uint32_t kStringHelp = 212;
constexpr uint32_t kStringAbout = 213;
constexpr uint32_t kStringReturnHome = 214;
constexpr uint32_t kStringSaveLanguageFailed = 303;
constexpr uint32_t kStringRestartNow = 304;
constexpr uint32_t kStringOption = 333;
constexpr uint32_t kStringRestartManually = 375;
constexpr uint32_t kStringLanguage = 437;
// The language names of the menu by language id; Chinese is not offered (no text).
constexpr uint32_t kLanguageNameStrings[5] = {0, 0, 301, 302, 483};

constexpr const char* kRestartProgramName = "QBXRestart";

// Where the parts of the bars sit: the bottom bar's buttons 50 pixels in from either side, Back
// 5 pixels left of Next; the banner's links in a row at the right, 10 pixels down and 20 in on the
// welcome page, 40 down and 37 in on the others, the menu button 7 pixels left of them. The steps
// keep 30 pixels right of the logo and 16 left of the links.
constexpr int kBarSide = 50;
constexpr int kBarButtonsBelowMiddle = 2;
constexpr int kBackToNext = 5;
constexpr int kLinksTopWelcome = 10;
constexpr int kLinksRightWelcome = 20;
constexpr int kLinksTopOther = 40;
constexpr int kLinksRightOther = 37;
constexpr int kMenuToLinks = 7;
constexpr int kStepsAfterLogo = 30;
constexpr int kStepsBeforeLinks = 16;

QPointer<CWizardSheet>& TheSheet() {
  static auto* sheet = new QPointer<CWizardSheet>;
  return *sheet;
}

std::string Text(uint32_t id) { return corvale::LoadText(id); }

// Draws `picture` at the top-left of `area`; where the area is wider than the picture, the
// picture's last column is drawn across the rest, so bars keep their look in a wider window.
void DrawAcross(QPainter* dc, const CMaskedBitmap& picture, const QRect& area) {
  if (picture.IsNull()) return;
  const QPixmap& pixmap = picture.Pixmap();
  dc->drawPixmap(area.topLeft(), pixmap, QRect(0, 0, std::min(pixmap.width(), area.width()), area.height()));
  if (area.width() > pixmap.width()) {
    const QRect rest(area.left() + pixmap.width(), area.top(), area.width() - pixmap.width(), area.height());
    dc->drawPixmap(rest, pixmap, QRect(pixmap.width() - 1, 0, 1, std::min(pixmap.height(), area.height())));
  }
}

}  // namespace

CWizardSheet* GetWizardSheet() {
  if (!TheSheet()) new CWizardSheet(corvale::ui::bitmap::kLogo, corvale::ui::bitmap::kBottomBar);
  return TheSheet();
}

CWizardSheet::CWizardSheet(uint32_t uBmpLogo, uint32_t uBmpBottom, QWidget* parent) : QWidget(parent) {
  LogError("------------------------ParmInfo: UINT uBmpLogo=%x, UINT uBmpBottom=%x", uBmpLogo, uBmpBottom);
  if (!TheSheet()) TheSheet() = this;
  for (size_t id = 0; id < m_languageNames.size(); ++id)
    if (kLanguageNameStrings[id]) m_languageNames[id] = Text(kLanguageNameStrings[id]);

  bool complete = true;
  using namespace corvale::ui::buttons;
  m_home = MakeButton(kCommandHome, kHome.normal, kHome.hover, kHome.push, kHome.disable);
  m_back = MakeButton(kCommandBack, kBack.normal, kBack.hover, kBack.push, kBack.disable);
  m_next = MakeButton(kCommandNext, kNext.normal, kNext.hover, kNext.push, kNext.disable);
  m_fileNext = MakeButton(kCommandNext, kNextFilePage.normal, kNextFilePage.hover, kNextFilePage.push,
                          kNextFilePage.disable);
  m_homePage = MakeButton(kCommandHomePage, kHomePageLink.normal, kHomePageLink.hover, kHomePageLink.push,
                          kHomePageLink.disable);
  m_userGuide = MakeButton(kCommandUserGuide, kUserGuideLink.normal, kUserGuideLink.hover,
                           kUserGuideLink.push, kUserGuideLink.disable);
  m_about =
      MakeButton(kCommandAboutLink, kAboutLink.normal, kAboutLink.hover, kAboutLink.push, kAboutLink.disable);
  m_userGuideSmall = MakeButton(kCommandUserGuideSmall, kUserGuideSmallLink.normal, kUserGuideSmallLink.hover,
                                kUserGuideSmallLink.push, kUserGuideSmallLink.disable);
  m_aboutSmall = MakeButton(kCommandAboutSmall, kAboutSmallLink.normal, kAboutSmallLink.hover,
                            kAboutSmallLink.push, kAboutSmallLink.disable);
  m_menu = MakeButton(kCommandMenu, kSheetMenu.normal, kSheetMenu.hover, kSheetMenu.push, kSheetMenu.disable);
  for (CButtonPlus* button : {m_home, m_back, m_next, m_fileNext, m_homePage, m_userGuide, m_about,
                              m_userGuideSmall, m_aboutSmall, m_menu})
    complete = complete && !button->Bitmap(CButtonPlus::Face::Normal).IsNull();

  m_pages = CreateWizardPages(this);
  for (int i = 0; i < kWizardPageCount; ++i) {
    corvale::ui::SetControlId(m_pages[i], kFirstPageControlId + i);
    m_pages[i]->hide();
  }

  complete = m_logo.LoadBitmap(uBmpLogo) && complete;
  complete = m_banner.LoadBitmap(corvale::ui::bitmap::kWelcomeBanner) && complete;
  m_bannerId = corvale::ui::bitmap::kWelcomeBanner;
  complete = m_bottom.LoadBitmap(uBmpBottom) && complete;
  if (!complete) {
    m_initResult = kInitFailed;
    char text[128];
    std::snprintf(text, sizeof text, "Init CWizardSheet is false error=0x%x,GetLastError=%d", m_initResult,
                  0);
    corvale::ui::ShowMessageBox(text, GetProductTitle(), corvale::ui::MessageIcon::Information);
  }

  BuildLayout();
  // The first state of the buttons: the bottom bar's and the other pages' links hidden.
  m_next->hide();
  m_fileNext->hide();
  m_userGuideSmall->hide();
  m_aboutSmall->hide();
  ShowBottomBar(false);
  resize(1000, 700);
}

void CWizardSheet::BuildLayout() {
  // The banner: the logo (the welcome page's home-page link sits on it), the room for the steps,
  // and the links.
  m_bannerBar = new QFrame(this);
  m_bannerBar->setFixedHeight(m_banner.GetSize().height());
  m_bannerLayout = new QHBoxLayout(m_bannerBar);
  m_bannerLayout->setContentsMargins(corvale::ui::BannerLogoRect().left(), 0, 0, 0);
  m_bannerLayout->setSpacing(0);
  // The logo's place is kept on every page: the banner draws the logo there, and the welcome page's
  // home-page link covers it.
  const QRect logoRect = corvale::ui::BannerLogoRect();
  m_logoSlot = new QFrame(m_bannerBar);
  m_logoSlot->setFixedSize(logoRect.width(), logoRect.bottom() + 1);
  auto* logo = new QVBoxLayout(m_logoSlot);
  logo->setContentsMargins(0, logoRect.top(), 0, 0);
  logo->addWidget(m_homePage);
  m_bannerLayout->addWidget(m_logoSlot, 0, Qt::AlignTop);
  m_bannerLayout->addSpacing(kStepsAfterLogo);
  // The steps' room grows with the banner but never below what the most steps need.
  m_bannerLayout->addItem(new QSpacerItem(corvale::ui::BannerTextMinimumWidth(), 0,
                                          QSizePolicy::MinimumExpanding, QSizePolicy::Minimum));
  m_bannerLayout->addSpacing(kStepsBeforeLinks);
  // The links' place keeps the width of the wider of the two rows, so that the banner (and the
  // window) has the same least width on every page.
  m_linkSlot = new QFrame(m_bannerBar);
  m_linkColumn = new QVBoxLayout(m_linkSlot);
  m_linkColumn->setContentsMargins(0, kLinksTopWelcome, kLinksRightWelcome, 0);
  auto* links = new QHBoxLayout;
  links->setSpacing(0);
  links->addStretch(1);
  links->addWidget(m_menu, 0, Qt::AlignTop);
  links->addSpacing(kMenuToLinks);
  for (CButtonPlus* link : {m_userGuide, m_userGuideSmall, m_about, m_aboutSmall})
    links->addWidget(link, 0, Qt::AlignTop);
  m_linkColumn->addLayout(links);
  m_linkColumn->addStretch(1);
  const int menuRoom = m_menu->GetBitmapSize().width() + kMenuToLinks;
  m_linkSlot->setMinimumWidth(
      menuRoom +
      std::max(m_userGuide->GetBitmapSize().width() + m_about->GetBitmapSize().width() + kLinksRightWelcome,
               m_userGuideSmall->GetBitmapSize().width() + m_aboutSmall->GetBitmapSize().width() +
                   kLinksRightOther));
  m_bannerLayout->addWidget(m_linkSlot);

  // The bottom bar: Home at the left, Back and Next at the right, centred 2 pixels below the bar's
  // middle.
  m_bottomBar = new QFrame(this);
  m_bottomBar->setFixedHeight(m_bottom.GetSize().height());
  auto* bar = new QHBoxLayout(m_bottomBar);
  bar->setContentsMargins(kBarSide, 2 * kBarButtonsBelowMiddle, kBarSide, 0);
  bar->setSpacing(0);
  bar->addWidget(m_home, 0, Qt::AlignVCenter);
  bar->addStretch(1);
  bar->addWidget(m_back, 0, Qt::AlignVCenter);
  bar->addSpacing(kBackToNext);
  bar->addWidget(m_next, 0, Qt::AlignVCenter);
  bar->addWidget(m_fileNext, 0, Qt::AlignVCenter);

  // The pages between them, one at a time; the save step's pages are shown in windows of their own.
  m_stack = new QStackedLayout;
  for (int i = 0; i < kWizardPageCount; ++i)
    if (i != SaveFile && i != SaveResult) m_stack->addWidget(m_pages[i]);
  m_stack->setCurrentWidget(m_pages[m_current]);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(m_bannerBar);
  column->addLayout(m_stack, 1);
  column->addWidget(m_bottomBar);
}

CWizardSheet::~CWizardSheet() {
  ReleaseWizardPages(m_pages);
  if (TheSheet() == this) TheSheet() = nullptr;
}

CButtonPlus* CWizardSheet::MakeButton(int commandId, uint32_t normal, uint32_t hover, uint32_t push,
                                      uint32_t disable) {
  auto* button = new CButtonPlus(normal, hover, push, disable, this);
  button->SetControlId(commandId);
  corvale::ui::SetControlId(button, commandId);
  button->setFocusPolicy(Qt::NoFocus);
  connect(button, &QAbstractButton::clicked, this, [this, commandId] { OnCommand(commandId); });
  return button;
}

void CWizardSheet::Create(QWidget* parent) {
  setParent(parent);
  corvale::ui::SetControlId(this, kControlId);
  if (parent && !parent->layout()) setGeometry(parent->rect());
  ShowPage(RecoveryModeSelect);
  show();
}

CWizardPage* CWizardSheet::GetPage(WIZARD_PAGE page) const {
  return page >= 0 && page < kWizardPageCount ? m_pages[page] : nullptr;
}

CWizardPage* CWizardSheet::GetCurrentPage() const { return GetPage(m_current); }

IWizardPageController* CWizardSheet::CurrentController() const {
  CWizardPage* page = GetCurrentPage();
  return page ? page->GetController() : nullptr;
}

void CWizardSheet::SetSheetController(IWizardSheetController* controller) {
  LogError("------------------------ParmInfo:IWizardSheetController* pWizardCtrl=%" PRIxPTR,
           reinterpret_cast<uintptr_t>(controller));
  m_controller = controller;
}

QRect CWizardSheet::BannerRect() const { return QRect(0, 0, width(), m_banner.GetSize().height()); }

QRect CWizardSheet::BottomRect() const {
  const int height = m_bottom.GetSize().height();
  return QRect(0, this->height() - height, width(), height);
}

QRect CWizardSheet::PageRect() const {
  const int top = BannerRect().height();
  return QRect(0, top, width(), std::max(0, height() - top - BottomRect().height()));
}

uint32_t CWizardSheet::BannerBitmapFor(int page, int recoveryMode) {
  using namespace corvale::ui::bitmap;
  if (page == RecoveryModeSelect) return kWelcomeBanner;
  if (recoveryMode < 0 || recoveryMode > 2) return 0;
  static const uint32_t kFileTypes[3] = {kBannerDeletedFileTypes, kBannerCompleteFileTypes,
                                         kBannerLostFileTypes};
  static const uint32_t kDevice[3] = {kBannerDeletedDevice, kBannerCompleteDevice, kBannerLostDisk};
  static const uint32_t kScan[3] = {0, kBannerCompleteDevice, kBannerLostPartition};
  static const uint32_t kFiles[3] = {kBannerDeletedFiles, kBannerCompleteFiles, kBannerLostFiles};
  switch (page) {
    case TypeOfFileToRecovery:
      return kFileTypes[recoveryMode];
    case DeleteRecoveryPartitionDeviceSelect:
    case CompleteRecoveryPartitionDeviceSelect:
    case LostRecoveryDiskDeviceSelect:
      return kDevice[recoveryMode];
    case CompleteRecoveryScanPartitionDeviceSelect:
    case LostRecoveryScanPartitionDeviceSelect:
      return kScan[recoveryMode];
    case FileSelect:
      return kFiles[recoveryMode];
    default:
      return 0;
  }
}

void CWizardSheet::UpdateBanner() {
  const uint32_t id = BannerBitmapFor(m_current, GetRecoveryContext().RecoveryMode);
  if (id && id != m_bannerId && m_banner.LoadBitmap(id)) m_bannerId = id;
}

void CWizardSheet::ShowPage(WIZARD_PAGE ePage) {
  LogError("------------------------ParmInfo:WIZARD_PAGE ePage=%x", static_cast<unsigned>(ePage));
  // A page number from outside the wizard names no page window.
  if (ePage < 0 || ePage >= kWizardPageCount) return;
  const WIZARD_PAGE previous = m_current;
  if (m_frame) m_frame->SetWindowResizable(ePage != RecoveryModeSelect);

  // The save pages are never shown in the sheet: they only feed the dialogs that show the target
  // folder and the result, which come with those pages.
  if (ePage != SaveResult && ePage != SaveFile) {
    m_current = ePage;
    CWizardPage* page = m_pages[ePage];
    // The stack shows the page and hides the one before; the page is placed at once, before the
    // layout's next pass, so that it never shows at its old size. The focus goes to the page itself,
    // not (as the stack would move it) to the page's first control, which would pick a row of a list.
    if (QWidget* focus = QApplication::focusWidget(); focus && m_pages[previous]->isAncestorOf(focus))
      focus->clearFocus();
    m_stack->setCurrentWidget(page);
    page->setGeometry(PageRect());
    if (m_frame) m_frame->BringToForeground();
    page->setFocus();
    if (previous != ePage && m_pages[previous]->isVisibleTo(this)) m_pages[previous]->hide();
  }

  update();
  m_homePage->hide();
  if (ePage == RecoveryModeSelect) {
    ShowBottomBar(false);
    m_homePage->show();
    GetRecoveryContext().ResetOptions();
  } else if (ePage == SaveFile) {
    static_cast<CSaveFilePage*>(m_pages[SaveFile])->RunInDialog(this);
  } else if (ePage == SaveResult) {
    static_cast<CSaveResultPage*>(m_pages[SaveResult])
        ->RunInDialog(this, static_cast<CSaveFilePage*>(m_pages[SaveFile]));
  } else {
    ShowBottomBar(true);
  }
  ShowBannerLinks();
  UpdateBanner();
}

void CWizardSheet::ShowBottomBar(bool show) {
  m_home->setVisible(show);
  m_back->setVisible(show);
  m_fileNext->setVisible(show && m_current == FileSelect);
  m_next->setVisible(show && m_current != FileSelect);
}

void CWizardSheet::ShowBannerLinks() {
  const bool welcome = m_current == RecoveryModeSelect;
  m_userGuide->setVisible(welcome);
  m_about->setVisible(welcome);
  m_userGuideSmall->setVisible(!welcome);
  m_aboutSmall->setVisible(!welcome);
  // The welcome page has its links in the banner's first row, the others lower, beside the steps.
  m_linkColumn->setContentsMargins(0, welcome ? kLinksTopWelcome : kLinksTopOther,
                                   welcome ? kLinksRightWelcome : kLinksRightOther, 0);
}

std::pair<int, int> CWizardSheet::BannerTextColumns() const {
  const int left =
      m_bannerBar->mapTo(this, QPoint(m_logoSlot->geometry().right() + 1, 0)).x() + kStepsAfterLogo;
  int right = width();
  for (const CButtonPlus* link : {m_menu, m_userGuide, m_userGuideSmall, m_about, m_aboutSmall})
    if (link->isVisibleTo(this)) right = std::min(right, link->mapTo(this, QPoint(0, 0)).x());
  return {left, right - kStepsBeforeLinks};
}

void CWizardSheet::resizeEvent(QResizeEvent* event) {
  LogError("------------------------ParmInfo: UINT nType, int cx, int cy");
  QWidget::resizeEvent(event);
}

void CWizardSheet::paintEvent(QPaintEvent*) {
  QPainter target(this);
  CMemoryDCPainter memory(&target, width(), height());
  UpdateBanner();
  // The banner is drawn for the sheet's width, its steps kept clear of the links.
  const QRect banner = BannerRect();
  const auto [textLeft, textRight] = BannerTextColumns();
  memory.DC()->save();
  memory.DC()->translate(banner.topLeft());
  if (!corvale::ui::DrawBanner(*memory.DC(), m_bannerId, banner.size(), textLeft, textRight))
    DrawAcross(memory.DC(), m_banner, QRect(QPoint(0, 0), banner.size()));
  memory.DC()->restore();
  DrawAcross(memory.DC(), m_bottom, BottomRect());
}

void CWizardSheet::EnableNextButton(bool enable) {
  if (m_next) m_next->setEnabled(enable);
}

void CWizardSheet::SendCommandToCurrentPage(int id) {
  if (CWizardPage* page = GetCurrentPage()) page->OnCommand(id);
}

CButtonPlus* CWizardSheet::Button(int commandId) const {
  switch (commandId) {
    case kCommandMenu:
      return m_menu;
    case kCommandHome:
      return m_home;
    case kCommandNext:
      return m_next;
    case kCommandBack:
      return m_back;
    case kCommandHomePage:
      return m_homePage;
    case kCommandUserGuide:
      return m_userGuide;
    case kCommandAboutLink:
      return m_about;
    case kCommandUserGuideSmall:
      return m_userGuideSmall;
    case kCommandAboutSmall:
      return m_aboutSmall;
    default:
      return nullptr;
  }
}

void CWizardSheet::OnHelp() {
  const int language = GetRecoveryContext().LanguageId;
  if (language == corvale::kLanguageChinese) {
    ShowHelpContents();
    return;
  }
  if (m_controller) m_controller->Help(language);
}

void CWizardSheet::OnCommand(int id) {
  switch (id) {
    case kCommandHome:
      if (corvale::ui::AskMessageBox(Text(kStringReturnHome), GetProductTitle(),
                                     corvale::ui::MessageButtons::YesNo,
                                     corvale::ui::MessageIcon::Question) == corvale::ui::MessageAnswer::Yes &&
          m_controller)
        m_controller->Home();
      return;
    case kCommandBack:
      if (m_controller) m_controller->Back();
      return;
    case kCommandNext:
      if (m_controller) m_controller->Next();
      return;
    case kCommandHomePage:
      corvale::ui::OpenUrl(kHomePageUrl);
      return;
    case kCommandUserGuide:
    case kCommandUserGuideSmall:
      ShowHelpContents();
      return;
    case kCommandAbout:
    case kCommandAboutLink:
    case kCommandAboutSmall:
      RunAboutDialog();
      return;
    case kCommandMenu:
      ShowSheetMenu();
      return;
    case kCommandOption:
      corvale::usage::Event(kEventOption);
      if (IWizardPageController* controller = CurrentController()) controller->ShowAdvancedSettings();
      return;
    case kCommandHelp:
      OnHelp();
      return;
    default:
      if (id >= kCommandLanguageBase && id <= kCommandLanguageBase + 5)
        ChangeLanguage(id - kCommandLanguageBase);
      return;
  }
}

void CWizardSheet::RunAboutDialog() {
  if (GetRecoveryContext().LanguageId == corvale::kLanguageChinese) {
    CCNAboutDlg dialog(this);
    dialog.DoModal();
  } else {
    CAboutBoxDlg dialog(this);
    dialog.DoModal();
  }
}

std::unique_ptr<CXPMenu> CWizardSheet::BuildSheetMenu() {
  auto menu = std::make_unique<CXPMenu>(this);
  const int language = GetRecoveryContext().LanguageId;
  if (m_current != FileSelect) menu->AddItem(QString::fromStdString(Text(kStringOption)), kCommandOption);
  if (m_current == RecoveryModeSelect && language != corvale::kLanguageChinese) {
    // Only the languages the program can run in: English and those whose translation is
    // installed. The tick marks the language the window is in.
    CXPMenu* languages = menu->AddSubMenu(QString::fromStdString(Text(kStringLanguage)));
    const int shown = corvale::IsLanguageInstalled(language) ? language : corvale::kLanguageEnglish;
    for (size_t id = 0; id < m_languageNames.size(); ++id) {
      if (m_languageNames[id].empty() || !corvale::IsLanguageInstalled(static_cast<int>(id))) continue;
      languages->AddItem(QString::fromStdString(m_languageNames[id]),
                         kCommandLanguageBase + static_cast<int>(id), true, static_cast<int>(id) == shown);
    }
  }
  menu->AddItem(QString::fromStdString(Text(kStringHelp)), kCommandHelp);
  menu->AddItem(QString::fromStdString(Text(kStringAbout)), kCommandAbout);
  return menu;
}

void CWizardSheet::ShowSheetMenu() {
  std::unique_ptr<CXPMenu> menu = BuildSheetMenu();
  const QPoint at = m_menu->mapToGlobal(QPoint(0, m_menu->height()));
  QAction* chosen = m_menuRunner ? m_menuRunner(*menu, at) : menu->exec(at);
  const int command = CXPMenu::CommandOf(chosen);
  if (command) OnCommand(command);
}

void CWizardSheet::ChangeLanguage(int languageId) {
  CRecoveryContext& context = GetRecoveryContext();
  if (languageId == context.LanguageId) return;
  if (languageId < 0 || languageId >= static_cast<int>(m_languageNames.size()) ||
      m_languageNames[languageId].empty() || !corvale::IsLanguageInstalled(languageId))
    return;
  const std::string caption = Text(kStringProductTitle);
  if (corvale::ui::AskMessageBox(Text(kStringRestartNow), caption, corvale::ui::MessageButtons::OkCancel,
                                 corvale::ui::MessageIcon::Question) != corvale::ui::MessageAnswer::Ok)
    return;

  // The stored value is the language's own name, never the menu's text, which a translation may
  // spell in its own script; start-up only knows the four names.
  std::string current;
  int error = 0;
  platform::RegistryStatus opened =
      platform::RegistryGetString(corvale::kLanguageKey, corvale::kLanguageValue, &current, &error);
  if (opened != platform::RegistryStatus::Ok && opened != platform::RegistryStatus::ValueMissing) {
    LogInfo("RegOpenKeyEx failed with %d\n", error ? error : 2);
    corvale::ui::ShowMessageBox(Text(kStringSaveLanguageFailed), caption, corvale::ui::MessageIcon::Warning);
    return;
  }
  if (platform::RegistrySetString(corvale::kLanguageKey, corvale::kLanguageValue,
                                  corvale::LanguageName(languageId),
                                  &error) != platform::RegistryStatus::Ok) {
    LogInfo("RegSetValueEx failed with %d\n", error);
    corvale::ui::ShowMessageBox(Text(kStringSaveLanguageFailed), caption, corvale::ui::MessageIcon::Warning);
    return;
  }

  try {
    const std::string restart = platform::ExecutableDirectory() + kRestartProgramName;
    if (!corvale::ui::StartProgram(restart, {}))
      corvale::ui::ShowMessageBox(Text(kStringRestartManually), GetProductTitle(),
                                  corvale::ui::MessageIcon::Warning);
    if (m_frame) m_frame->CloseWithoutAsking();
  } catch (...) {
  }
}
