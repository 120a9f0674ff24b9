#pragma once
// The wizard sheet: the one window that fills the main window. At the top a banner with the
// recovery's steps and small links, in the middle the page now shown, at the bottom a bar with the
// Home, Back and Next buttons. The sheet owns the eleven page windows and shows one at a time when a
// controller asks (ShowPage); its buttons go through the sheet controller to the controller of the
// current page. Its menu offers the advanced settings (Option), the language, help and the about
// box; a change of language is stored and the program restarted through the restart helper.
//
// The sheet is laid out by layouts: the banner and the bottom bar keep the heights of their
// pictures and span the width, the page takes the rest. The banner's steps are drawn in the room
// its layout leaves between the logo and the links, so the links never cover them, and the sheet's
// least size is the largest least size of its pages.

#include <QPoint>
#include <QRect>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "controls/MaskedBitmap.h"
#include "wizard/WizardPage.h"

class CButtonPlus;
class CXPMenu;
class QBoxLayout;
class QFrame;
class QStackedLayout;
class IWizardFrame;
class IWizardSheetController;
class QAction;
class QMenu;

class CWizardSheet : public QWidget {
  Q_OBJECT

 public:
  // Command numbers of the sheet's buttons and menu.
  static constexpr int kCommandMenu = 1001;
  static constexpr int kCommandHome = 1003;
  static constexpr int kCommandNext = 1004;
  static constexpr int kCommandBack = 1005;
  static constexpr int kCommandHelp = 1006;
  static constexpr int kCommandAbout = 1007;
  static constexpr int kCommandHomePage = 1010;
  static constexpr int kCommandUserGuide = 1012;
  static constexpr int kCommandOption = 1013;
  static constexpr int kCommandAboutLink = 1015;
  static constexpr int kCommandUserGuideSmall = 1017;
  static constexpr int kCommandAboutSmall = 1018;
  // A language item is this plus the language id.
  static constexpr int kCommandLanguageBase = 1020;
  // The sheet's number as a child of the main window's view.
  static constexpr int kControlId = 1314;
  // The result of a construction that could not make all of its parts.
  static constexpr int kInitFailed = 0x1001;
  // The usage event of the Option command.
  static constexpr int kEventOption = 8262;

  // The maker's web page. The user guide is the installed help's contents (controls/HelpFile.h).
  static constexpr const char* kHomePageUrl = "https://corvale.example/";

  // A sheet with logo bitmap `uBmpLogo` and bottom bitmap `uBmpBottom`, its pages tied to their
  // controllers. It becomes the process's sheet (GetWizardSheet) unless there already is one.
  CWizardSheet(uint32_t uBmpLogo, uint32_t uBmpBottom, QWidget* parent = nullptr);
  ~CWizardSheet() override;

  // Makes the sheet a child of `parent` and shows the first page.
  void Create(QWidget* parent);

  // Shows page `ePage`: the only way a controller shows its page.
  void ShowPage(WIZARD_PAGE ePage);
  CWizardPage* GetCurrentPage() const;
  WIZARD_PAGE GetCurrentPageIndex() const { return m_current; }
  CWizardPage* GetPage(WIZARD_PAGE page) const;

  void SetSheetController(IWizardSheetController* controller);
  IWizardSheetController* GetSheetController() const { return m_controller; }
  // The main window that holds the sheet; not owned.
  void SetMainFrame(IWizardFrame* frame) { m_frame = frame; }

  // Enables or disables the ordinary Next button (not the one of the file page).
  void EnableNextButton(bool enable);
  // Sends command `id` to the current page.
  void SendCommandToCurrentPage(int id);
  // Help for the current page.
  void OnHelp();
  // Runs command `id` as the sheet's buttons and menu do.
  void OnCommand(int id);

  // The menu the menu button opens now, for the current page and language; not shown.
  std::unique_ptr<CXPMenu> BuildSheetMenu();
  // How the menu is shown and an item chosen; null runs the menu modally at `at`. Tests choose.
  using MenuRunner = std::function<QAction*(QMenu& menu, const QPoint& at)>;
  void SetMenuRunner(MenuRunner runner) { m_menuRunner = std::move(runner); }

  // The button of command `commandId` (for kCommandNext the ordinary Next button), or null.
  CButtonPlus* Button(int commandId) const;
  // The Next button shown on the file page.
  CButtonPlus* FileNextButton() const { return m_fileNext; }

  // The banner picture for a page and recovery mode; 0 where the picture loaded last stays.
  static uint32_t BannerBitmapFor(int page, int recoveryMode);
  uint32_t BannerBitmapId() const { return m_bannerId; }

  QRect BannerRect() const;
  QRect BottomRect() const;
  QRect PageRect() const;
  // The columns between which the banner draws its steps (or the welcome page's line): right of the
  // logo, left of the first link shown.
  std::pair<int, int> BannerTextColumns() const;
  int InitResult() const { return m_initResult; }
  // The language names of the menu, by language id (empty for a language not offered).
  const std::array<std::string, 5>& LanguageNames() const { return m_languageNames; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  CButtonPlus* MakeButton(int commandId, uint32_t normal, uint32_t hover, uint32_t push, uint32_t disable);
  void BuildLayout();
  void ShowBottomBar(bool show);
  void ShowBannerLinks();
  void UpdateBanner();
  void ShowSheetMenu();
  void ChangeLanguage(int languageId);
  void RunAboutDialog();
  IWizardPageController* CurrentController() const;

  std::array<CWizardPage*, kWizardPageCount> m_pages{};
  WIZARD_PAGE m_current = RecoveryModeSelect;
  IWizardSheetController* m_controller = nullptr;
  IWizardFrame* m_frame = nullptr;
  CMaskedBitmap m_logo;
  CMaskedBitmap m_banner;
  CMaskedBitmap m_bottom;
  uint32_t m_bannerId = 0;
  CButtonPlus* m_home = nullptr;
  CButtonPlus* m_back = nullptr;
  CButtonPlus* m_next = nullptr;
  CButtonPlus* m_fileNext = nullptr;
  CButtonPlus* m_homePage = nullptr;
  CButtonPlus* m_userGuide = nullptr;
  CButtonPlus* m_about = nullptr;
  CButtonPlus* m_userGuideSmall = nullptr;
  CButtonPlus* m_aboutSmall = nullptr;
  CButtonPlus* m_menu = nullptr;
  // The banner's row of links (its top and right margins differ on the welcome page), and the
  // pages shown in the sheet (all but the two shown in the save step's windows).
  QFrame* m_bannerBar = nullptr;
  QFrame* m_logoSlot = nullptr;
  QBoxLayout* m_bannerLayout = nullptr;
  QFrame* m_linkSlot = nullptr;
  QBoxLayout* m_linkColumn = nullptr;
  QFrame* m_bottomBar = nullptr;
  QStackedLayout* m_stack = nullptr;
  std::array<std::string, 5> m_languageNames;
  MenuRunner m_menuRunner;
  int m_initResult = 0;
};

// The process's sheet, made on first use with logo bitmap 145 and bottom bitmap 133. It lives as
// long as the window that holds it (the main window's view); a sheet made here and never given to a
// window belongs to the caller.
CWizardSheet* GetWizardSheet();
