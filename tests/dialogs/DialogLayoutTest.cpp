// Every dialog as a person opens it, and every page of the two image wizards as a person reaches it
// by clicking: at the window's least size, at 1280 x 900 and at full HD every control shown lies
// inside its window and none covers another. Each is left as a picture at each size in screenshots/
// (dialog-<name>-<width>x<height>).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "controls/AttributesStates.h"
#include "controls/ButtonPlus.h"
#include "controls/DialogTemplate.h"
#include "controls/SearchSuperDlg.h"
#include "dialogs/AboutBoxDlg.h"
#include "dialogs/AdvanceSettingMasterDlg.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "dialogs/FilePreviewDlg.h"
#include "dialogs/FileSaveDlg.h"
#include "dialogs/FindFileDlg.h"
#include "dialogs/HasCheckboxPromptDlg.h"
#include "dialogs/ImageDiskMasterDlg.h"
#include "dialogs/IntelligentSearchingDlg.h"
#include "dialogs/LostPartitionSearchingDlg.h"
#include "dialogs/OpenDiskImageMasterDlg.h"
#include "dialogs/PropertiesDlg.h"
#include "dialogs/RBClickRecoverFileDlg.h"
#include "dialogs/RecoveringDlg.h"
#include "dialogs/SaveFilePathDlg.h"
#include "dialogs/SearchFileDlg.h"
#include "dialogs/WaitingDlg.h"
#include "storage/CompressController.h"
#include "storage/ImageFile.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "support/qt/LayoutCheck.h"
#include "ui/MessageBox.h"

namespace fs = std::filesystem;
using corvale::ui::FindControl;
using corvale::ui::MessageAnswer;

namespace {

// The sizes every dialog is looked at: the least (an empty size), the common one and full HD.
const QSize kSizes[] = {QSize(), QSize(1280, 900), QSize(1920, 1080)};

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 random(seed);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

class DialogLayouts : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    m_folder = corvale::test::ScratchDir();
    m_previousQuestion =
        corvale::ui::SetQuestionHandler([this](const std::string& text, const std::string&,
                                               corvale::ui::MessageButtons, corvale::ui::MessageIcon) {
          questions.push_back(text);
          if (whileAsked) whileAsked();
          return answer;
        });
    m_previousBox =
        corvale::ui::SetMessageBoxHandler([this](const std::string& text, const std::string&,
                                                 corvale::ui::MessageIcon) { messages.push_back(text); });
    m_previousChooser = corvale::dialogs::SetImageFileChooser(
        [](QWidget*, bool, const std::string&, const std::string&) { return std::string(); });
  }
  void TearDown() override {
    corvale::ui::SetQuestionHandler(m_previousQuestion);
    corvale::ui::SetMessageBoxHandler(m_previousBox);
    corvale::dialogs::SetImageFileChooser(m_previousChooser);
  }

  // `window` at its least size and at the two large ones: what the layout check finds, and its
  // picture; then back at the size it had.
  void CheckAtEverySize(QWidget* window, const std::string& name) {
    const QSize before = window->size();
    for (const QSize& wanted : kSizes) {
      const QSize least = window->minimumSize().expandedTo(window->minimumSizeHint());
      const QStringList problems = layoutcheck::ProblemsAtSize(window, wanted.isValid() ? wanted : least);
      const QSize shown = window->size();
      EXPECT_TRUE(problems.isEmpty()) << name << " at " << shown.width() << "x" << shown.height() << ":\n"
                                      << problems.join("\n").toStdString();
      corvale::test::SaveScreenshot(
          window->grab().toImage(),
          "dialog-" + name + "-" + std::to_string(shown.width()) + "x" + std::to_string(shown.height()));
    }
    window->resize(before);
    QTest::qWait(20);
  }

  static void Click(QWidget* button) { QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, 4)); }
  static void Type(QLineEdit* edit, const std::string& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QString::fromStdString(text));
  }

  std::string m_folder;
  std::vector<std::string> questions;
  std::vector<std::string> messages;
  MessageAnswer answer = MessageAnswer::Cancel;
  std::function<void()> whileAsked;

 private:
  corvale::ui::QuestionHandler m_previousQuestion;
  corvale::ui::MessageBoxHandler m_previousBox;
  corvale::dialogs::ImageFileChooser m_previousChooser;
};

TEST_F(DialogLayouts, EveryPageOfTheCreateImageWizardAsTheUserReachesIt) {
  const std::vector<uint8_t> source = RandomBytes(8 << 20, 3);
  MemoryDevice device(source);
  CImageDiskMasterDlg wizard(&device, "DATA (E:\\ NTFS)", 255);
  wizard.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&wizard));
  CheckAtEverySize(&wizard, "image-wizard-mode");

  // Simple mode first: its destination page, then back to the mode page.
  Click(wizard.NextButton());
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kPath);
  CheckAtEverySize(&wizard, "image-wizard-destination");
  Click(wizard.BackButton());
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kMode);

  // The advanced mode: destination and settings, region, summary, run, success.
  QCheckBox* advanced = wizard.ModePage()->AdvancedBox();
  QTest::mouseClick(advanced, Qt::LeftButton, {}, QPoint(5, advanced->height() / 2));
  ASSERT_TRUE(advanced->isChecked());
  Click(wizard.NextButton());
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kAdvancedPath);
  Type(wizard.AdvancedPathPage()->PathEdit(), m_folder + "/layout");
  QCheckBox* compress = wizard.AdvancedPathPage()->CompressBox();
  QTest::mouseClick(compress, Qt::LeftButton, {}, QPoint(5, compress->height() / 2));
  ASSERT_TRUE(wizard.AdvancedPathPage()->LevelList()->isEnabled());
  CheckAtEverySize(&wizard, "image-wizard-destination-advanced");
  Click(wizard.NextButton());
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kRegion) << (messages.empty() ? "" : messages.back());
  CheckAtEverySize(&wizard, "image-wizard-region");
  Click(wizard.NextButton());
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kSummary);
  CheckAtEverySize(&wizard, "image-wizard-summary");

  // The run page is looked at while the cancel question holds the run; Cancel lets it go on.
  whileAsked = [&] {
    if (wizard.GetStep() == CImageDiskMasterDlg::kRun) CheckAtEverySize(&wizard, "image-wizard-run");
  };
  Click(wizard.NextButton());
  ASSERT_EQ(wizard.GetStep(), CImageDiskMasterDlg::kRun);
  Click(wizard.CancelButton());
  whileAsked = nullptr;
  ASSERT_EQ(questions.size(), 1u);
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.GetStep() == CImageDiskMasterDlg::kSuccess; }, 60000));
  CheckAtEverySize(&wizard, "image-wizard-success");
}

TEST_F(DialogLayouts, EveryPageOfTheOpenImageWizardAsTheUserReachesIt) {
  // An image in slices of 1 MiB, one of which is moved away so that the slice list is shown.
  const std::vector<uint8_t> source = RandomBytes(3 << 20, 5);
  MemoryDevice device(source);
  CCompressController writer;
  writer.SetSource(&device, "DATA (E:\\ NTFS)", 0, source.size() / 512, 255);
  writer.SetCompressParam(0, -1, 2048);
  const std::string image = m_folder + "/disk.kbi";
  writer.SetImageFilePath(image);
  ASSERT_TRUE(writer.Compress(nullptr)) << writer.GetErrorText();
  const std::string slice = corvale::image::PartFilePath(image, 1);
  ASSERT_TRUE(fs::exists(slice));
  fs::rename(slice, slice + ".away");

  COpenDiskImageMasterDlg wizard(nullptr);
  wizard.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&wizard));
  CheckAtEverySize(&wizard, "open-image-welcome");
  Click(wizard.NextButton());
  CheckAtEverySize(&wizard, "open-image-path");
  auto* path = wizard.findChild<QLineEdit*>(QStringLiteral("1125"));
  ASSERT_NE(path, nullptr);
  Type(path, image);
  Click(wizard.NextButton());
  ASSERT_EQ(wizard.GetStep(), COpenDiskImageMasterDlg::kSlices) << (messages.empty() ? "" : messages.back());
  CheckAtEverySize(&wizard, "open-image-slices");

  // The slice back in its place: Back, Next, and the image opens.
  fs::rename(slice + ".away", slice);
  Click(wizard.BackButton());
  Click(wizard.NextButton());
  ASSERT_EQ(wizard.GetStep(), COpenDiskImageMasterDlg::kSuccess);
  CheckAtEverySize(&wizard, "open-image-success");
}

TEST_F(DialogLayouts, SearchFilesWithNoOptionAndWithEveryOption) {
  CSearchResult result;
  CSearchFileDlg dialog(nullptr, nullptr, &result, nullptr);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  CheckAtEverySize(&dialog, "search-files");
  const int collapsed = dialog.minimumSizeHint().height();
  for (int id : {CSearchFileDlg::kIdCheckType, CSearchFileDlg::kIdCheckDate, CSearchFileDlg::kIdCheckSize,
                 CSearchFileDlg::kIdCheckOther}) {
    auto* box = FindControl<QCheckBox>(&dialog, id);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    ASSERT_TRUE(box->isChecked()) << id;
  }
  EXPECT_GT(dialog.height(), collapsed);
  CheckAtEverySize(&dialog, "search-files-every-option");
}

TEST_F(DialogLayouts, SettingsDialogOnEveryTab) {
  CAdvanceSettingMasterDlg dialog(1, nullptr);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  const std::pair<int, const char*> tabs[] = {{CAdvanceSettingMasterDlg::kTabFat, "fat"},
                                              {CAdvanceSettingMasterDlg::kTabNtfs, "ntfs"},
                                              {CAdvanceSettingMasterDlg::kTabCommon, "common"},
                                              {CAdvanceSettingMasterDlg::kTabRaw, "raw"}};
  for (const auto& [tab, name] : tabs) {
    if (dialog.Button(tab)->isEnabled()) Click(dialog.Button(tab));
    ASSERT_EQ(dialog.CurrentPage(), dialog.PageOfTab(tab)) << name;
    CheckAtEverySize(&dialog, std::string("settings-") + name);
  }
}

TEST_F(DialogLayouts, EveryOtherDialog) {
  const auto check = [&](QWidget* dialog, const std::string& name) {
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog)) << name;
    CheckAtEverySize(dialog, name);
    dialog->hide();
  };
  {
    CAboutBoxDlg about(nullptr);
    check(&about, "about");
    CCNAboutDlg regional(nullptr);
    check(&regional, "about-regional");
  }
  {
    CFindFileDlg find(nullptr, nullptr, nullptr);
    check(&find, "find");
  }
  {
    CHasCheckboxPromptDlg prompt(
        "Recovered files are written into the target folder; a file that is there already is never "
        "replaced.");
    check(&prompt, "prompt-with-check-box");
  }
  {
    CSearchSuperDlg plain(nullptr);
    check(&plain, "plain-template");
  }
  {
    CAttributesStates states(nullptr);
    check(&states, "about-states");
  }
  {
    CBuildDirectoryDlg build;
    check(&build, "build-directory");
    CWaitingDlg waiting;
    check(&waiting, "waiting");
    CLostPartitionSearchingDialog lost;
    check(&lost, "lost-partition-search");
    CIntelligentSearchingDlg intelligent;
    check(&intelligent, "intelligent-search");
  }
  {
    CPropertiesDlg properties;
    check(&properties, "properties");
    CScanPartitionPropertiesDlg scanProperties;
    check(&scanProperties, "scan-partition-properties");
  }
  {
    CFileSaveDlg save;
    check(&save, "file-save");
    CSaveFilePathDlg target;
    check(&target, "target-folder");
    CSaveFileResultDlg result;
    check(&result, "save-result");
  }
  {
    CFilePreViewDlg preview(nullptr);
    check(&preview, "file-preview");
  }
  {
    // The copy windows as they open, before their work starts.
    CRecoveringDlg recovering(nullptr, nullptr, m_folder);
    check(&recovering, "recovering");
    const SingleFileCopyRequest request{nullptr, nullptr, m_folder + "/one.txt", nullptr};
    CRBClickRecoverFileDlg single(request);
    check(&single, "single-file-recovery");
    CPreviewLoadingDlg loading(request);
    check(&loading, "preview-loading");
  }
}

}  // namespace
