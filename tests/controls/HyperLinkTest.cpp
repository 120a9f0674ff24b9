// The link control and the busy animation, driven with the mouse as a person drives them. What a
// click opens is checked by what really started: stand-ins in the places of the desktop's opener and
// of the file manager's "show these items" call, which record their arguments and end with a chosen
// status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "controls/HyperLink.h"
#include "controls/ImageWnd.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "support/StandInOpener.h"
#include "ui/MessageBox.h"
#include "ui/Pictures.h"
#include "ui/Resources.h"

using corvale::test::ScopedVariables;
using corvale::test::StandInOpener;

namespace {

const QColor kLinkBlue(0, 0, 238);
const QColor kVisitedPurple(85, 26, 139);
const QColor kHoverRed(255, 0, 0);

class HyperLink : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    // Running as root, the opener runs as the person who asked; here that is user nobody.
    if (geteuid() == 0) m_asked.Set("SUDO_UID", "65534");
    m_asked.Set("PKEXEC_UID", nullptr);
    m_boxes = corvale::ui::SetMessageBoxHandler([this](const std::string& text, const std::string&,
                                                       corvale::ui::MessageIcon) { boxes.push_back(text); });
    window = std::make_unique<QWidget>();
    window->resize(320, 120);
  }
  void TearDown() override {
    window.reset();
    corvale::ui::SetMessageBoxHandler(m_boxes);
  }

  // A link in the window at (20, 40) with `text` and target `url`, shown.
  CHyperLink* AddLink(const QString& text, const QString& url, bool selectDirs = false) {
    auto* link = new CHyperLink(selectDirs, window.get());
    link->setGeometry(20, 40, 10, 10);
    link->setText(text);
    link->SetLinkURL(url);
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    // A double click elsewhere can leave the test library holding the button down; let it go, so
    // that moves are plain moves.
    QTest::mouseRelease(window.get(), Qt::LeftButton, {}, QPoint(1, 1));
    return link;
  }
  // Two moves each, so that the pointer really moves whatever an earlier test left it on.
  static void Hover(CHyperLink* link) {
    QTest::mouseMove(link, QPoint(2, link->height() / 2));
    QTest::mouseMove(link, QPoint(3, link->height() / 2));
  }
  void LeaveLink() {
    QTest::mouseMove(window.get(), QPoint(window->width() - 4, window->height() - 4));
    QTest::mouseMove(window.get(), QPoint(5, 5));
  }
  static void ClickOn(CHyperLink* link) {
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(3, link->height() / 2));
  }
  // Waits for the message boxes that come in after the opener ended.
  bool WaitForBox(int timeoutMs = 20000) {
    return QTest::qWaitFor([this] { return !boxes.empty(); }, timeoutMs);
  }

  std::unique_ptr<QWidget> window;
  std::vector<std::string> boxes;

 private:
  ScopedVariables m_asked;
  corvale::ui::MessageBoxHandler m_boxes;
};

}  // namespace

TEST_F(HyperLink, UnderlineAndColourFollowThePointerInEachMode) {
  struct Case {
    int mode;
    bool underlinedOut;
    bool underlinedOver;
  } cases[] = {{CHyperLink::kUnderlineHover, false, true},
               {CHyperLink::kUnderlineNever, false, false},
               {CHyperLink::kUnderlineAlways, true, true}};
  CHyperLink* link = AddLink(QStringLiteral("corvale.example"), QStringLiteral("https://corvale.example/"));
  EXPECT_EQ(link->GetUnderlineMode(), CHyperLink::kUnderlineHover) << "the default";
  EXPECT_EQ(link->toolTip(), QStringLiteral("https://corvale.example/"));
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    link->SetUnderlineMode(c.mode);
    LeaveLink();
    EXPECT_FALSE(link->IsPointerOver());
    EXPECT_EQ(link->IsUnderlined(), c.underlinedOut);
    EXPECT_EQ(link->TextColor(), kLinkBlue);
    Hover(link);
    EXPECT_TRUE(link->IsPointerOver());
    EXPECT_EQ(link->IsUnderlined(), c.underlinedOver);
    EXPECT_EQ(link->TextColor(), kHoverRed);
    if (c.mode == CHyperLink::kUnderlineHover)
      EXPECT_FALSE(corvale::test::SaveScreenshot(window->grab().toImage(), "hyperlink-hover").empty());
  }
  LeaveLink();
  link->SetVisited(true);
  EXPECT_EQ(link->TextColor(), kVisitedPurple);
  // Colours of the owner's choosing; an invalid hover colour is the system's highlight.
  link->SetLinkColors(Qt::darkGreen, Qt::darkGray, QColor());
  EXPECT_EQ(link->TextColor(), QColor(Qt::darkGray));
  Hover(link);
  EXPECT_EQ(link->TextColor(), link->palette().color(QPalette::Highlight));
}

TEST_F(HyperLink, TheLinkIsFittedToItsTextAndAnEmptyTextShowsTheTarget) {
  CHyperLink* link = AddLink(QString(), QStringLiteral("https://corvale.example/guide"));
  EXPECT_EQ(link->text(), QStringLiteral("https://corvale.example/guide"));
  QFont underlined = link->font();
  underlined.setUnderline(true);
  EXPECT_EQ(link->width(), QFontMetrics(underlined).horizontalAdvance(link->text()));
  EXPECT_EQ(link->x(), 20) << "a left-aligned link keeps its left edge";

  auto* centred = new CHyperLink(false, window.get());
  centred->setAlignment(Qt::AlignCenter);
  centred->setGeometry(0, 0, 300, 40);
  centred->setText(QStringLiteral("x"));
  centred->SetLinkURL(QStringLiteral("https://corvale.example/"));
  EXPECT_EQ(centred->geometry().center().x(), QRect(0, 0, 300, 40).center().x());
  EXPECT_LT(centred->width(), 300);
}

TEST_F(HyperLink, AClickOpensTheTargetThroughTheOneOpenerAndMarksItVisited) {
  StandInOpener opener;
  ASSERT_TRUE(opener.ok());
  CHyperLink* link = AddLink(QStringLiteral("Corvale"), QStringLiteral("https://corvale.example/help"));
  Hover(link);
  ClickOn(link);
  ASSERT_TRUE(opener.WaitFor(1));
  EXPECT_EQ(opener.Records()[0].args, std::vector<std::string>{"https://corvale.example/help"});
  if (geteuid() == 0) EXPECT_EQ(opener.Records()[0].uid, corvale::test::kOtherUser);
  EXPECT_TRUE(link->IsVisited());
  EXPECT_FALSE(link->IsPointerOver()) << "a click clears the hover";
  EXPECT_EQ(link->TextColor(), kVisitedPurple);
  QTest::qWait(300);
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_EQ(opener.Records().size(), 1u);
}

TEST_F(HyperLink, AnOpenThatFailsIsShownWithTheReason) {
  struct Case {
    int status;  // how the desktop's opener ends
    std::string reason;
  } cases[] = {
      {3, "There is no application associated\nwith the given filename extension."},
      {2, "The specified file is not found."},
      {4, "The filename association is\nincomplete or invalid."},
      {1, "Unknown Error (1) occurred."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    boxes.clear();
    StandInOpener opener(c.status);
    CHyperLink* link = AddLink(QStringLiteral("guide"), QStringLiteral("https://corvale.example/guide"));
    ClickOn(link);
    ASSERT_TRUE(WaitForBox()) << "a desktop without a browser is not passed over in silence";
    EXPECT_EQ(boxes, std::vector<std::string>{"Unable to open hyperlink:\n\n" + c.reason});
    delete link;
  }
  // The box as the user sees it.
  QMessageBox shown(QMessageBox::Warning, QStringLiteral("Corvale"), QString::fromStdString(boxes.back()),
                    QMessageBox::Ok);
  shown.show();
  EXPECT_FALSE(corvale::test::SaveScreenshot(shown.grab().toImage(), "hyperlink-open-failed").empty());

  // Nothing to open it with at all: the opener says so at once, and the link stays unvisited.
  boxes.clear();
  {
    StandInOpener opener;
    chmod(opener.Program().c_str(), 0644);  // no longer a program
    CHyperLink* link = AddLink(QStringLiteral("guide"), QStringLiteral("https://corvale.example/guide"));
    ClickOn(link);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(link->IsVisited());
  }
}

TEST_F(HyperLink, FolderModeShowsTheWrittenFoldersSelectedOrSaysThePathIsInvalid) {
  StandInOpener opener;
  StandInOpener shower(0, StandInOpener::Role::kItemShower);
  corvale::test::PublicScratchDir target;
  const std::string a = target.path() + "/Recovered, part 1";
  const std::string b = target.path() + "/Bilder";
  mkdir(a.c_str(), 0755);
  mkdir(b.c_str(), 0755);

  // A target that is not a folder: "Path Invalid!", and nothing starts.
  CHyperLink* link =
      AddLink(QStringLiteral("missing"), QString::fromStdString(target.path() + "/gone"), true);
  link->SetItemPaths({a});
  ClickOn(link);
  EXPECT_EQ(boxes, std::vector<std::string>{"Path Invalid!"});
  EXPECT_FALSE(link->IsVisited());

  // The folder with the items selected, through the file manager's call.
  boxes.clear();
  link->SetLinkURL(QString::fromStdString(target.path()));
  link->SetItemPaths({a, b});
  ClickOn(link);
  ASSERT_TRUE(shower.WaitFor(1));
  const std::vector<std::string> args = shower.Records()[0].args;
  ASSERT_GE(args.size(), 2u);
  EXPECT_NE(std::find(args.begin(), args.end(), "org.freedesktop.FileManager1.ShowItems"), args.end());
  const std::string uris =
      "array:string:file://" + target.path() + "/Recovered%2C%20part%201,file://" + target.path() + "/Bilder";
  EXPECT_NE(std::find(args.begin(), args.end(), uris), args.end()) << args[args.size() - 2];
  EXPECT_TRUE(link->IsVisited());
  QTest::qWait(300);
  EXPECT_TRUE(opener.Records().empty()) << "the file manager showed them";
  EXPECT_TRUE(boxes.empty());

  // At most 32 items are shown.
  shower.Clear();
  std::vector<std::string> many;
  for (int i = 0; i < 40; ++i) many.push_back(target.path() + "/item" + std::to_string(i));
  link->SetItemPaths(many);
  ClickOn(link);
  ASSERT_TRUE(shower.WaitFor(1));
  const std::string list = shower.Records()[0].args[shower.Records()[0].args.size() - 2];
  EXPECT_EQ(std::count(list.begin(), list.end(), ','), 31);
}

TEST_F(HyperLink, WithoutAFileManagerThatSelectsTheFolderItselfIsOpened) {
  StandInOpener opener;
  StandInOpener shower(1, StandInOpener::Role::kItemShower);  // no such service on the bus
  corvale::test::PublicScratchDir target;
  const std::string item = target.path() + "/Recovered";
  mkdir(item.c_str(), 0755);
  CHyperLink* link = AddLink(QStringLiteral("target"), QString::fromStdString(target.path()), true);
  link->SetItemPaths({item});
  ClickOn(link);
  ASSERT_TRUE(opener.WaitFor(1));
  EXPECT_EQ(opener.Records()[0].args, std::vector<std::string>{target.path()});
  EXPECT_EQ(shower.Records().size(), 1u);

  // Without items there is nothing to select: the folder opens.
  opener.Clear();
  shower.Clear();
  link->SetItemPaths({});
  ClickOn(link);
  ASSERT_TRUE(opener.WaitFor(1));
  EXPECT_EQ(opener.Records()[0].args, std::vector<std::string>{target.path()});
  EXPECT_TRUE(shower.Records().empty());
  QTest::qWait(300);
  EXPECT_TRUE(boxes.empty());
}

TEST(ImageWnd, FramesAdvanceOnTheTimerUntilStoppedAndTheWindowIsOneFrame) {
  corvale::test::TestApplication();
  QWidget page;
  page.resize(400, 300);
  auto* busy = new CImageWnd(&page);

  // Without frames nothing starts.
  busy->Start();
  EXPECT_FALSE(busy->IsRunning());

  ASSERT_TRUE(busy->SetAnimation(corvale::ui::bitmap::kBusyAnimation, 12, 40, 0xFFFFFF, true));
  const QPixmap strip = corvale::ui::LoadBitmapResource(corvale::ui::bitmap::kBusyAnimation);
  EXPECT_EQ(busy->FrameCount(), 12);
  busy->SetPosition(-1, -1);
  EXPECT_EQ(busy->size(), QSize(strip.width() / 12, strip.height()));
  EXPECT_EQ(busy->geometry().center(), page.rect().center());
  page.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));

  busy->Start();
  EXPECT_TRUE(busy->IsRunning());
  std::vector<int> seen{busy->CurrentFrame()};
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        if (busy->CurrentFrame() != seen.back()) seen.push_back(busy->CurrentFrame());
        return seen.size() > 13;
      },
      10000));
  EXPECT_NE(std::find(seen.begin() + 1, seen.end(), 0), seen.end()) << "the frames wrap round";
  EXPECT_FALSE(corvale::test::SaveScreenshot(page.grab().toImage(), "busy-animation").empty());

  busy->Stop();
  EXPECT_FALSE(busy->IsRunning());
  EXPECT_EQ(busy->CurrentFrame(), 0);
  QTest::qWait(150);
  EXPECT_EQ(busy->CurrentFrame(), 0) << "stopped stays stopped";

  // Once through without looping, then it stops by itself.
  ASSERT_TRUE(busy->SetAnimation(corvale::ui::bitmap::kBusyAnimation, 12, 10, 0xFFFFFF, false));
  busy->Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !busy->IsRunning(); }, 10000));
  EXPECT_EQ(busy->CurrentFrame(), 0);

  // A strip too narrow for the frames is refused.
  EXPECT_FALSE(
      busy->SetAnimation(corvale::ui::bitmap::kBusyAnimation, strip.width() + 1, 10, 0xFFFFFF, true));
}
