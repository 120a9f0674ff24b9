// Pictures of each control in its states, left in the build folder (screenshots/) for a person to
// look at. The checks here only make sure that every picture was drawn and saved.
#include <gtest/gtest.h>

#include <QPainter>
#include <QTest>
#include <QWidget>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "controls/ButtonPlus.h"
#include "controls/CopyLimitedRichEditCtrl.h"
#include "controls/EditPlus.h"
#include "controls/SearchSuperDlg.h"
#include "controls/TransButton.h"
#include "controls/XPMenu.h"
#include "support/QtTestApp.h"
#include "ui/Pictures.h"

namespace {

using Shot = std::pair<std::string, QImage>;

// The shots side by side with their captions under them, on a light background.
QImage Gallery(const std::vector<Shot>& shots) {
  const int gap = 16;
  int width = gap;
  int height = 0;
  for (const Shot& shot : shots) {
    width += std::max(shot.second.width(), 130) + gap;
    height = std::max(height, shot.second.height());
  }
  QImage gallery(width, height + 2 * gap + 18, QImage::Format_RGB32);
  gallery.fill(QColor(250, 250, 250));
  QPainter painter(&gallery);
  int x = gap;
  for (const Shot& shot : shots) {
    painter.drawImage(x, gap, shot.second);
    painter.setPen(QColor(60, 60, 60));
    painter.drawText(QRect(x, gap + height + 4, std::max(shot.second.width(), 130), 16), Qt::AlignLeft,
                     QString::fromStdString(shot.first));
    x += std::max(shot.second.width(), 130) + gap;
  }
  return gallery;
}

class Screenshots : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    window = std::make_unique<QWidget>();
    window->resize(700, 300);
    window->setStyleSheet("background: white");
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void Save(const std::string& name, const QImage& image) {
    ASSERT_FALSE(image.isNull());
    EXPECT_FALSE(corvale::test::SaveScreenshot(image, name).empty()) << name;
  }
  std::unique_ptr<QWidget> window;
};

}  // namespace

TEST_F(Screenshots, PictureButtonsInTheirFourStates) {
  const std::pair<const char*, corvale::ui::ButtonBitmaps> sets[] = {
      {"home", corvale::ui::buttons::kHome},           {"back", corvale::ui::buttons::kBack},
      {"next", corvale::ui::buttons::kNext},           {"recover", corvale::ui::buttons::kNextFilePage},
      {"guide", corvale::ui::buttons::kUserGuideLink}, {"menu", corvale::ui::buttons::kSheetMenu},
  };
  std::vector<Shot> shots;
  for (const auto& [name, set] : sets) {
    auto* button = new CButtonPlus(set.normal, set.hover, set.push, set.disable, window.get());
    button->MoveTo(300, 100);
    button->show();
    shots.emplace_back(std::string(name) + " normal", button->grab().toImage());
    QTest::mouseMove(window.get(), QPoint(5, 5));
    QTest::mouseMove(button, QPoint(5, 5));
    shots.emplace_back("hover", button->grab().toImage());
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    shots.emplace_back("pressed", button->grab().toImage());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(window.get(), QPoint(5, 5));
    button->setEnabled(false);
    shots.emplace_back("disabled", button->grab().toImage());
    delete button;
  }
  for (size_t row = 0; row < shots.size() / 4; ++row)
    Save("controls-button-plus-" + std::to_string(row),
         Gallery({shots.begin() + row * 4, shots.begin() + row * 4 + 4}));
}

TEST_F(Screenshots, TransparentCheckAndRadioButtons) {
  std::vector<Shot> shots;
  for (auto kind : {CTransButton::Kind::CheckBox, CTransButton::Kind::RadioButton}) {
    for (bool checked : {false, true}) {
      auto* box = new CTransButton(kind, window.get());
      box->setText(kind == CTransButton::Kind::CheckBox ? "Full Scan ( If the partition is not found )"
                                                        : "Manually select partitions");
      box->SetFont(90, "Arial", kind == CTransButton::Kind::CheckBox);
      box->SetBkColor(checked ? QColor(232, 241, 248) : QColor(Qt::white));
      box->setChecked(checked);
      box->setGeometry(10, 10, 260, 22);
      box->show();
      shots.emplace_back(checked ? "ticked" : "not ticked", box->grab().toImage());
      delete box;
    }
  }
  Save("controls-trans-button", Gallery(shots));
}

TEST_F(Screenshots, EditRichTextMenuAndPlainDialog) {
  auto* edit = new CEditPlus(window.get());
  edit->setGeometry(10, 10, 260, 24);
  edit->setText("/media/usb/recovered");
  edit->show();
  auto* rich = new CCopyLimitedRichEditCtrl(window.get());
  rich->setReadOnly(true);
  rich->setGeometry(10, 40, 260, 90);
  rich->setHtml("<p><b>Rich text</b> that can be read but <i>not</i> selected or copied.</p>");
  rich->show();

  CXPMenu menu;
  menu.AddItem("Option", 1013);
  CXPMenu* languages = menu.AddSubMenu("Language");
  languages->AddItem("English", 1022, true, true);
  QAction* help = menu.AddItem("Help", 1006);
  menu.AddItem("About", 1007);
  menu.popup(QPoint(0, 0));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
  menu.setActiveAction(help);
  QImage menuShot = menu.grab().toImage();
  menu.close();
  languages->popup(QPoint(0, 0));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(languages));
  QImage languageShot = languages->grab().toImage();
  languages->close();

  CSearchSuperDlg dialog(nullptr);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QImage dialogShot = dialog.grab().toImage();
  dialog.close();

  Save("controls-edit-and-menu", Gallery({{"edit", edit->grab().toImage()},
                                          {"rich text", rich->grab().toImage()},
                                          {"menu, Help selected", menuShot},
                                          {"submenu, checked", languageShot},
                                          {"plain dialog", dialogShot}}));
}
