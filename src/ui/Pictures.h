#pragma once
// The pictures the program draws for itself, one painter per bitmap number, and the colours they
// share with the windows that draw around them. A picture's size is fixed here, because windows
// place their parts by the sizes of their pictures.
//
// A picture whose users leave one colour transparent is drawn on exactly that colour (the menu's
// check mark on RGB(176, 224, 254)); the others are opaque, drawn on the colour of the place where
// they are shown, so that a picture button blends into its bar.

#include <QColor>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

namespace corvale::ui {

struct PictureSpec {
  uint32_t id;
  int width;
  int height;
  std::function<void(QPainter&, const QSize&)> draw;
};

// The picture of bitmap `id`, or null.
const PictureSpec* FindPicture(uint32_t id);
// Every bitmap number the program can draw, ascending.
std::vector<uint32_t> PictureIds();

// What a step banner of the wizard shows: the names of the recovery's steps and which of them is
// the current one. Null for a bitmap that is no step banner.
struct StepBannerSteps {
  QStringList steps;
  int current = 0;
};
const StepBannerSteps* FindStepBanner(uint32_t id);
// Draws picture `id` by its painter at the size of `area` (not its own size scaled): a band or bar
// whose picture is drawn for its width. False for a number that names no picture.
bool DrawPictureIn(QPainter& p, uint32_t id, const QRect& area);

// Draws banner `id` (the welcome page's or a step banner) across `size`, whatever its width, with
// its text (the welcome line, or the steps) kept between the columns `textLeft` and `textRight`, so
// that links beside it never cover it. False for a number that names no banner.
bool DrawBanner(QPainter& p, uint32_t id, const QSize& size, int textLeft, int textRight);
// The least width the text of every banner needs: the most steps of a banner, each on two lines.
int BannerTextMinimumWidth();
// Where every banner draws the logo (and where the welcome page's logo link goes).
QRect BannerLogoRect();

// Colours shared by pictures and windows.
inline const QColor kBannerColor(22, 64, 104);
inline const QColor kBannerAccentColor(243, 156, 18);
inline const QColor kBottomBarColor(238, 242, 245);
inline const QColor kFrameColor(203, 212, 219);
inline const QColor kMenuSelectionColor(176, 224, 254);

// Bitmap numbers.
namespace bitmap {
// Wizard sheet: logo, banner of the welcome page, bottom bar.
constexpr uint32_t kLogo = 145;
constexpr uint32_t kWelcomeBanner = 134;
constexpr uint32_t kBottomBar = 133;
// Step banners by recovery mode and step.
constexpr uint32_t kBannerDeletedFileTypes = 516;
constexpr uint32_t kBannerDeletedDevice = 517;
constexpr uint32_t kBannerDeletedFiles = 515;
constexpr uint32_t kBannerCompleteFileTypes = 519;
constexpr uint32_t kBannerCompleteDevice = 520;
constexpr uint32_t kBannerCompleteFiles = 518;
constexpr uint32_t kBannerLostFileTypes = 522;
constexpr uint32_t kBannerLostDisk = 523;
constexpr uint32_t kBannerLostPartition = 524;
constexpr uint32_t kBannerLostFiles = 521;
// Menu check mark, on the colour key kMenuSelectionColor.
constexpr uint32_t kMenuCheck = 143;
// Welcome page: its picture, and the picture whose size places its description text.
constexpr uint32_t kWelcomePicture = 506;
constexpr uint32_t kWelcomeComment = 152;
// File-type tree: the check boxes (unticked, partly, ticked after an empty slot) and the category
// pictures by category index.
constexpr uint32_t kCheckBoxStrip = 135;
constexpr uint32_t kCategoryIcons[7] = {530, 527, 526, 529, 528, 525, 531};
// Device lists: the pictures of row kinds 0 to 6, the strip beside Refresh, the busy animation
// (12 frames side by side on white).
constexpr uint32_t kDeviceIcons[7] = {138, 141, 224, 148, 142, 147, 225};
constexpr uint32_t kDeviceToolbarStrip = 543;
constexpr uint32_t kBusyAnimation = 150;
constexpr int kBusyAnimationFrames = 12;
// File views: folder images of the file tree (partition, folder, deleted, lost, temporary), the
// background of the file list's button row, the deleted-file mark (on the colour key magenta), the
// generic file icon, and the legend of the states dialog.
constexpr uint32_t kFolderStrip = 139;
constexpr uint32_t kFileListButtonRow = 144;
constexpr uint32_t kDeletedMark = 226;
constexpr uint32_t kGenericFileIcon = 492;
constexpr uint32_t kStatesLegend = 129;
// The recovering window's buttons that show and hide its detail rows; the result page's banner.
constexpr uint32_t kExpandDetails = 130;
constexpr uint32_t kCollapseDetails = 131;
constexpr uint32_t kResultBanner = 448;
}  // namespace bitmap

// The four pictures of a picture button: normal, mouse over, pressed, disabled.
struct ButtonBitmaps {
  uint32_t normal;
  uint32_t hover;
  uint32_t push;
  uint32_t disable;
};

namespace buttons {
// The file list's buttons.
constexpr ButtonBitmaps kFileListView{411, 410, 409, 408};
constexpr ButtonBitmaps kFileListSelect{390, 389, 388, 387};
constexpr ButtonBitmaps kFileListDeselect{205, 204, 203, 202};
constexpr ButtonBitmaps kFileListState{394, 398, 392, 391};
// The file page's Search File and File Preview buttons, and its toolbar strip (one picture).
constexpr ButtonBitmaps kSearchFile{320, 314, 297, 296};
constexpr ButtonBitmaps kFilePreview{295, 294, 282, 281};
// The file page's buttons for the search by criteria and for exporting the scan result.
constexpr ButtonBitmaps kSearchByCriteria{641, 642, 643, 644};
constexpr ButtonBitmaps kExportResult{645, 646, 647, 648};
constexpr uint32_t kFilePageStrip = 544;
constexpr ButtonBitmaps kHome{425, 424, 423, 422};
constexpr ButtonBitmaps kBack{420, 418, 417, 416};
constexpr ButtonBitmaps kNext{353, 352, 351, 350};
constexpr ButtonBitmaps kNextFilePage{370, 369, 368, 367};
constexpr ButtonBitmaps kHomePageLink{509, 508, 510, 507};
constexpr ButtonBitmaps kUserGuideLink{407, 406, 405, 404};
constexpr ButtonBitmaps kAboutLink{513, 512, 514, 511};
constexpr ButtonBitmaps kUserGuideSmallLink{538, 537, 536, 535};
constexpr ButtonBitmaps kAboutSmallLink{542, 541, 540, 539};
constexpr ButtonBitmaps kSheetMenu{560, 561, 562, 563};
// Welcome page: Start (partition recovery) and the buttons of the other two recoveries.
constexpr ButtonBitmaps kStart{193, 192, 191, 193};
constexpr ButtonBitmaps kStartDeleted{580, 581, 582, 583};
constexpr ButtonBitmaps kStartFormat{584, 585, 586, 587};
// Device pages: Refresh.
constexpr ButtonBitmaps kRefresh{374, 373, 372, 371};
// The save step: OK and Cancel of its windows, and OK of the result page.
constexpr ButtonBitmaps kDialogOk{382, 381, 380, 379};
constexpr ButtonBitmaps kDialogCancel{176, 175, 174, 173};
constexpr ButtonBitmaps kResultOk{437, 436, 435, 434};
// The advanced settings: the page tabs (FAT, NTFS, Common, RAW), Default, and the note picture.
constexpr ButtonBitmaps kSettingsTabFat{280, 279, 278, 277};
constexpr ButtonBitmaps kSettingsTabNtfs{360, 359, 358, 357};
constexpr ButtonBitmaps kSettingsTabCommon{184, 183, 182, 181};
constexpr ButtonBitmaps kSettingsTabRaw{366, 365, 364, 363};
constexpr ButtonBitmaps kSettingsDefault{201, 200, 199, 198};
constexpr uint32_t kSettingsNote = 151;
// The about boxes' product picture.
constexpr uint32_t kAboutPicture = 137;
// The find and search dialogs: Find Next and Close, and the search's OK (its Cancel is kDialogCancel).
constexpr ButtonBitmaps kFindNext{324, 323, 322, 321};
constexpr ButtonBitmaps kFindClose{180, 179, 178, 177};
constexpr ButtonBitmaps kSearchOk{328, 327, 326, 325};
// The whole-device search's window: Cancel.
constexpr ButtonBitmaps kSearchingCancel{403, 402, 401, 400};
}  // namespace buttons

}  // namespace corvale::ui
