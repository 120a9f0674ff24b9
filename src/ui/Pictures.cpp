#include "ui/Pictures.h"

#include <QString>
#include <QStringList>
#include <algorithm>
#include <map>
#include <utility>

#include "ui/pictures/DevicePainters.h"
#include "ui/pictures/FileViewPictures.h"
#include "ui/pictures/Painters.h"

namespace corvale::ui {
namespace {

using pictures::BarButtonIcon;
using pictures::ButtonState;

constexpr ButtonState kStates[] = {ButtonState::Normal, ButtonState::Hover, ButtonState::Pushed,
                                   ButtonState::Disabled};

uint32_t BitmapOf(const ButtonBitmaps& set, ButtonState state) {
  switch (state) {
    case ButtonState::Normal:
      return set.normal;
    case ButtonState::Hover:
      return set.hover;
    case ButtonState::Pushed:
      return set.push;
    case ButtonState::Disabled:
      return set.disable;
  }
  return set.normal;
}

using Table = std::map<uint32_t, PictureSpec>;

void Add(Table& table, uint32_t id, int width, int height,
         std::function<void(QPainter&, const QSize&)> draw) {
  table.emplace(id, PictureSpec{id, width, height, std::move(draw)});
}

void AddBarButton(Table& table, const ButtonBitmaps& set, int width, const char* label, BarButtonIcon icon,
                  bool primary) {
  for (ButtonState state : kStates)
    Add(table, BitmapOf(set, state), width, 32, [=](QPainter& p, const QSize& size) {
      pictures::DrawBarButton(p, size, QString::fromUtf8(label), icon, primary, state);
    });
}

void AddBannerLink(Table& table, const ButtonBitmaps& set, int width, int height, const char* label,
                   bool dropDown) {
  for (ButtonState state : kStates)
    Add(table, BitmapOf(set, state), width, height, [=](QPainter& p, const QSize& size) {
      pictures::DrawBannerLink(p, size, QString::fromUtf8(label), dropDown, state);
    });
}

// The steps a step banner shows and the one it marks as current, by bitmap number.
using StepBanners = std::map<uint32_t, StepBannerSteps>;

StepBanners& Banners() {
  static auto* banners = new StepBanners;
  return *banners;
}

void AddStepBanner(Table& table, uint32_t id, QStringList steps, int current) {
  Banners()[id] = StepBannerSteps{steps, current};
  Add(table, id, 1000, 64, [steps, current](QPainter& p, const QSize& size) {
    pictures::DrawStepBanner(p, size, steps, current);
  });
}

void AddDevicePictures(Table& table) {
  for (int i = 0; i < 7; ++i)
    Add(table, bitmap::kDeviceIcons[i], 32, 32, [i](QPainter& p, const QSize& size) {
      pictures::DrawDeviceIcon(p, size, static_cast<pictures::DeviceIcon>(i));
    });
  Add(table, bitmap::kDeviceToolbarStrip, 814, 33, pictures::DrawDeviceToolbarStrip);
  Add(table, bitmap::kBusyAnimation, 48 * bitmap::kBusyAnimationFrames, 48,
      [](QPainter& p, const QSize& size) { pictures::DrawBusyStrip(p, size, bitmap::kBusyAnimationFrames); });
  for (ButtonState state : kStates)
    Add(table, BitmapOf(buttons::kRefresh, state), 86, 33, [state](QPainter& p, const QSize& size) {
      pictures::DrawBarButton(p, size, QStringLiteral("Refresh"), BarButtonIcon::None, false, state);
    });
}

Table BuildTable() {
  Table table;
  // The wizard sheet: banner and bottom bar (the window is 1000 pixels wide; the pages between them
  // get the rest of its 700 pixels), the logo, and the buttons of both bars.
  Add(table, bitmap::kWelcomeBanner, 1000, 64,
      [](QPainter& p, const QSize& size) { pictures::DrawWelcomeBanner(p, size); });
  Add(table, bitmap::kBottomBar, 1000, 58, pictures::DrawBottomBar);
  Add(table, bitmap::kLogo, 200, 38,
      [](QPainter& p, const QSize& size) { pictures::DrawLogo(p, size, ButtonState::Normal); });
  for (ButtonState state : kStates)
    Add(table, BitmapOf(buttons::kHomePageLink, state), 200, 38,
        [state](QPainter& p, const QSize& size) { pictures::DrawLogo(p, size, state); });

  const QStringList deleted{"File types", "Select partition", "Select files"};
  AddStepBanner(table, bitmap::kBannerDeletedFileTypes, deleted, 0);
  AddStepBanner(table, bitmap::kBannerDeletedDevice, deleted, 1);
  AddStepBanner(table, bitmap::kBannerDeletedFiles, deleted, 2);
  // Format recovery shows one banner on its device page and on the list of the partitions the search
  // found there: that step is both.
  const QStringList complete{"File types", "Device and partitions", "Select files"};
  AddStepBanner(table, bitmap::kBannerCompleteFileTypes, complete, 0);
  AddStepBanner(table, bitmap::kBannerCompleteDevice, complete, 1);
  AddStepBanner(table, bitmap::kBannerCompleteFiles, complete, 2);
  const QStringList lost{"File types", "Select disk", "Select partition", "Select files"};
  AddStepBanner(table, bitmap::kBannerLostFileTypes, lost, 0);
  AddStepBanner(table, bitmap::kBannerLostDisk, lost, 1);
  AddStepBanner(table, bitmap::kBannerLostPartition, lost, 2);
  AddStepBanner(table, bitmap::kBannerLostFiles, lost, 3);

  AddBarButton(table, buttons::kHome, 90, "Home", BarButtonIcon::Home, false);
  AddBarButton(table, buttons::kBack, 90, "Back", BarButtonIcon::Back, false);
  AddBarButton(table, buttons::kNext, 90, "Next", BarButtonIcon::Next, true);
  AddBarButton(table, buttons::kNextFilePage, 110, "Recover", BarButtonIcon::Next, true);
  AddBannerLink(table, buttons::kUserGuideLink, 80, 20, "User Guide", false);
  AddBannerLink(table, buttons::kAboutLink, 60, 20, "About", false);
  AddBannerLink(table, buttons::kUserGuideSmallLink, 80, 18, "User Guide", false);
  AddBannerLink(table, buttons::kAboutSmallLink, 50, 18, "About", false);
  AddBannerLink(table, buttons::kSheetMenu, 60, 20, "Menu", true);

  Add(table, bitmap::kMenuCheck, 13, 13, pictures::DrawMenuCheck);

  // The welcome page: its picture above the buttons that start each recovery.
  Add(table, bitmap::kWelcomePicture, 1000, 515, pictures::DrawWelcomePicture);
  Add(table, bitmap::kWelcomeComment, 400, 100,
      [](QPainter& p, const QSize& size) { p.fillRect(QRect(QPoint(0, 0), size), Qt::white); });
  auto addWelcomeButton = [&table](const ButtonBitmaps& set, int width, const char* label, bool primary) {
    for (ButtonState state : kStates)
      Add(table, BitmapOf(set, state), width, 47, [=](QPainter& p, const QSize& size) {
        pictures::DrawWelcomeButton(p, size, QString::fromUtf8(label), primary, state);
      });
  };
  addWelcomeButton(buttons::kStart, 164, "Start", true);
  addWelcomeButton(buttons::kStartDeleted, 220, "Deleted File Recovery", false);
  addWelcomeButton(buttons::kStartFormat, 220, "Format Recovery", false);

  // The save step.
  AddBarButton(table, buttons::kDialogOk, 90, "OK", BarButtonIcon::None, true);
  AddBarButton(table, buttons::kDialogCancel, 90, "Cancel", BarButtonIcon::None, false);
  // The find and search dialogs.
  AddBarButton(table, buttons::kFindNext, 90, "Find Next", BarButtonIcon::None, true);
  AddBarButton(table, buttons::kFindClose, 90, "Close", BarButtonIcon::None, false);
  AddBarButton(table, buttons::kSearchOk, 90, "OK", BarButtonIcon::None, true);
  AddBarButton(table, buttons::kSearchingCancel, 90, "Cancel", BarButtonIcon::None, false);
  for (ButtonState state : kStates)
    Add(table, BitmapOf(buttons::kResultOk, state), 80, 28, [state](QPainter& p, const QSize& size) {
      pictures::DrawBarButton(p, size, QStringLiteral("OK"), BarButtonIcon::None, true, state);
    });
  for (const auto& [id, sign] : {std::pair<uint32_t, bool>{bitmap::kExpandDetails, true},
                                 std::pair<uint32_t, bool>{bitmap::kCollapseDetails, false}}) {
    Add(table, id, 13, 13, [plus = sign](QPainter& p, const QSize& size) {
      p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
      p.setPen(kFrameColor.darker(150));
      p.drawRect(0, 0, size.width() - 1, size.height() - 1);
      p.setPen(QPen(kBannerColor, 1));
      p.drawLine(3, size.height() / 2, size.width() - 4, size.height() / 2);
      if (plus) p.drawLine(size.width() / 2, 3, size.width() / 2, size.height() - 4);
    });
  }
  Add(table, bitmap::kResultBanner, 359, 51, [](QPainter& p, const QSize& size) {
    p.fillRect(QRect(QPoint(0, 0), size), kBannerColor);
    p.fillRect(QRect(0, size.height() - 3, size.width(), 3), kBannerAccentColor);
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(18);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(16, 0, size.width() - 16, size.height() - 3), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("Recovery result"));
  });

  // The advanced settings: page tabs, Default, the note beside each explanation; the about picture.
  for (const auto& [set, label] : {std::pair<ButtonBitmaps, const char*>{buttons::kSettingsTabFat, "FAT"},
                                   {buttons::kSettingsTabNtfs, "NTFS"},
                                   {buttons::kSettingsTabCommon, "Common"},
                                   {buttons::kSettingsTabRaw, "RAW"}})
    for (ButtonState state : kStates)
      Add(table, BitmapOf(set, state), 90, 21, [state, text = label](QPainter& p, const QSize& size) {
        // The page shown has its tab disabled: drawn as the selected tab.
        const ButtonState look = state == ButtonState::Disabled ? ButtonState::Pushed : state;
        pictures::DrawBarButton(p, size, QString::fromUtf8(text), BarButtonIcon::None,
                                state == ButtonState::Disabled, look);
      });
  AddBarButton(table, buttons::kSettingsDefault, 90, "Default", BarButtonIcon::None, false);
  Add(table, buttons::kSettingsNote, 16, 16, [](QPainter& p, const QSize& size) {
    p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(kBannerColor);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(0.5, 0.5, size.width() - 1.0, size.height() - 1.0));
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(12);
    p.setFont(font);
    p.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, QStringLiteral("i"));
  });
  Add(table, buttons::kAboutPicture, 80, 72, [](QPainter& p, const QSize& size) {
    p.fillRect(QRect(QPoint(0, 0), size), kBannerColor);
    p.fillRect(QRect(0, size.height() - 4, size.width(), 4), kBannerAccentColor);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 3));
    p.setBrush(Qt::NoBrush);
    const QRectF disk(16, 12, size.width() - 32, size.height() - 28);
    p.drawEllipse(disk);
    p.drawEllipse(disk.center(), 4, 4);
  });

  // The file-type tree.
  Add(table, bitmap::kCheckBoxStrip, 64, 16, pictures::DrawCheckBoxStrip);
  for (int i = 0; i < 7; ++i)
    Add(table, bitmap::kCategoryIcons[i], 32, 32,
        [i](QPainter& p, const QSize& size) { pictures::DrawCategoryIcon(p, size, i); });
  AddDevicePictures(table);
  pictures::AddFileViewPictures([&table](uint32_t id, int width, int height, auto draw) {
    Add(table, id, width, height, std::move(draw));
  });
  return table;
}

const Table& Pictures() {
  static const Table* table = new Table(BuildTable());
  return *table;
}

}  // namespace

const PictureSpec* FindPicture(uint32_t id) {
  auto found = Pictures().find(id);
  return found == Pictures().end() ? nullptr : &found->second;
}

const StepBannerSteps* FindStepBanner(uint32_t id) {
  Pictures();  // the table fills the banners' steps as it is built
  auto found = Banners().find(id);
  return found == Banners().end() ? nullptr : &found->second;
}

bool DrawPictureIn(QPainter& p, uint32_t id, const QRect& area) {
  const PictureSpec* picture = FindPicture(id);
  if (picture == nullptr || area.isEmpty()) return false;
  p.save();
  p.translate(area.topLeft());
  p.setClipRect(QRect(QPoint(0, 0), area.size()));
  picture->draw(p, area.size());
  p.restore();
  return true;
}

bool DrawBanner(QPainter& p, uint32_t id, const QSize& size, int textLeft, int textRight) {
  Pictures();  // the step banners are known once the table is built
  if (id == bitmap::kWelcomeBanner) {
    pictures::DrawWelcomeBanner(p, size, textLeft, textRight);
    return true;
  }
  auto found = Banners().find(id);
  if (found == Banners().end()) return false;
  pictures::DrawStepBanner(p, size, found->second.steps, found->second.current, textLeft, textRight);
  return true;
}

int BannerTextMinimumWidth() {
  Pictures();
  size_t most = 1;
  for (const auto& entry : Banners()) most = std::max<size_t>(most, entry.second.steps.size());
  return static_cast<int>(most) * pictures::kBannerStepMinimumWidth;
}

QRect BannerLogoRect() {
  return QRect(pictures::kBannerLogoLeft, pictures::kBannerLogoTop, pictures::kBannerLogoWidth,
               pictures::kBannerLogoHeight);
}

std::vector<uint32_t> PictureIds() {
  std::vector<uint32_t> ids;
  for (const auto& entry : Pictures()) ids.push_back(entry.first);
  return ids;
}

}  // namespace corvale::ui
