#pragma once
// A wizard sheet in a stand-in main window, with everything it asks of the user and the desktop
// recorded and answered by the test: questions, message boxes, web pages, started programs, usage
// events, and the settings file in a scratch folder.

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "controls/DeviceSelectCtrl.h"
#include "platform/Language.h"
#include "platform/RecoveryContext.h"
#include "platform/Registry.h"
#include "storage/ImageFileDevice.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "ui/Shell.h"
#include "ui/UsageStatistics.h"
#include "wizard/RecoveryModeSelectPage.h"
#include "wizard/SaveFilePage.h"
#include "wizard/WizardFrame.h"
#include "wizard/WizardPageController.h"
#include "wizard/WizardPages.h"
#include "wizard/WizardSheet.h"
#include "wizard/WizardSheetController.h"
#include "wizard/controller/CompleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/DeleteRecoveryPartitionDeviceSelectController.h"
#include "wizard/controller/LostRecoveryDiskDeviceSelectController.h"
#include "wizard/controller/ScanState.h"

namespace corvale::test {

// Volumes for format recovery's device step: one per image file, read as a volume of the letter
// from 'F' on, with the label and file-system code given.
struct ImageVolume {
  std::string path;
  std::string label;
  int32_t fileSystemCode = kFileSystemUnknown;
};
inline std::unique_ptr<CollectedVolumes> CollectImageVolumes(const std::vector<ImageVolume>& images) {
  auto collected = std::make_unique<CollectedVolumes>();
  char letter = 'F';
  for (const ImageVolume& image : images) {
    auto record = std::make_shared<VolumeRecord>();
    auto device = std::make_shared<CImageFileDevice>(image.path);
    record->Kind = 0;
    record->DeviceOwner = device;
    record->Device = device.get();
    record->DriveLetter = letter++;
    record->VolumeName = image.label;
    record->FileSystemTypeCode = image.fileSystemCode;
    record->DevicePath = image.path;
    collected->volumes.push_back(std::move(record));
  }
  return collected;
}

// The main window as the sheet sees it.
class FakeFrame : public QWidget, public IWizardFrame {
 public:
  void SetWindowResizable(bool resizable) override { resizableCalls.push_back(resizable); }
  void BringToForeground() override { ++foregrounds; }
  void CloseWithoutAsking() override { ++closes; }

  std::vector<bool> resizableCalls;
  int foregrounds = 0;
  int closes = 0;
};

class WizardHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    m_folder = ScratchDir() + "/";
    setenv("CORVALE_REGISTRY", (m_folder + "registry.ini").c_str(), 1);
    // Scan states reached by a test go to its own folder, never to the program folder.
    SetScanStateFolder(m_folder);
    ASSERT_EQ(platform::RegistrySetString(corvale::kLanguageKey, corvale::kLanguageValue, "English"),
              platform::RegistryStatus::Ok);
    CRecoveryContext& context = GetRecoveryContext();
    m_savedLanguage = context.LanguageId;
    m_savedModule = context.LanguageModule;
    context.LanguageId = corvale::kLanguageEnglish;
    context.LanguageModule = nullptr;
    context.RecoveryMode = 2;

    m_previousQuestion = ui::SetQuestionHandler([this](const std::string& text, const std::string& caption,
                                                       ui::MessageButtons buttons, ui::MessageIcon) {
      questions.push_back(caption + "|" + text);
      if (buttons == ui::MessageButtons::YesNo)
        return confirm ? ui::MessageAnswer::Yes : ui::MessageAnswer::No;
      return confirm ? ui::MessageAnswer::Ok : ui::MessageAnswer::Cancel;
    });
    m_previousBox =
        ui::SetMessageBoxHandler([this](const std::string& text, const std::string& caption,
                                        ui::MessageIcon) { boxes.push_back(caption + "|" + text); });
    m_previousUrl = ui::SetUrlHandler([this](const std::string& address) {
      opened.push_back(address);
      return true;
    });
    m_previousStarter =
        ui::SetProgramStarter([this](const std::string& program, const std::vector<std::string>&) {
          started.push_back(program);
          return startSucceeds;
        });
    m_previousRecorder =
        usage::SetRecorder([this](const usage::Record& record) { events.push_back(record); });
    // The save step's windows close at once unless a test drives them.
    m_previousSaveRunner = SetSaveDialogRunner([](QDialog&) { return 0; });

    // The volume step lists no volumes here (its own tests give it real ones), so it never reads
    // the machine's disks.
    GetDeleteRecoveryPartitionDeviceSelectController()->SetCollector(
        [] { return std::vector<std::unique_ptr<CollectedVolume>>(); });
    GetLostRecoveryDiskDeviceSelectController()->SetCollector(
        [] { return std::make_unique<CollectedDisks>(); });
    GetCompleteRecoveryPartitionDeviceSelectController()->SetCollector(
        [] { return std::make_unique<CollectedVolumes>(); });
    // The controllers live for the whole run: earlier tests leave links behind.
    for (int i = 0; i < kWizardPageCount; ++i)
      GetPageController(static_cast<WIZARD_PAGE>(i))->SetPreviousController(nullptr);

    frame = std::make_unique<FakeFrame>();
    frame->resize(1000, 700);
    sheet = new CWizardSheet(145, 133);
    sheet->SetSheetController(&sheetController);
    sheetController.SetWizardSheet(sheet);
    sheet->SetMainFrame(frame.get());
    sheet->Create(frame.get());
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  }

  void TearDown() override {
    WaitForVolumeList();
    GetDeleteRecoveryPartitionDeviceSelectController()->SetCollector(nullptr);
    GetLostRecoveryDiskDeviceSelectController()->SetCollector(nullptr);
    GetCompleteRecoveryPartitionDeviceSelectController()->SetCollector(nullptr);
    frame.reset();
    ui::SetQuestionHandler(m_previousQuestion);
    ui::SetMessageBoxHandler(m_previousBox);
    ui::SetUrlHandler(m_previousUrl);
    ui::SetProgramStarter(m_previousStarter);
    usage::SetRecorder(m_previousRecorder);
    SetSaveDialogRunner(m_previousSaveRunner);
    CRecoveryContext& context = GetRecoveryContext();
    context.LanguageId = m_savedLanguage;
    context.LanguageModule = m_savedModule;
    unsetenv("CORVALE_REGISTRY");
    SetScanStateFolder("");
    GetRecoveryContext().PageFlowSwitch = 0;
  }

  // Gives format recovery's device step the volume of fixture `script` (image `imageName`) and
  // the found-partition step shown; false (with *why) when the image cannot be made.
  bool GiveFormatRecoveryAVolume(const std::string& script, const std::string& imageName,
                                 const std::string& label, int32_t code, std::string* why) {
    const std::string image = FixtureImage(script, imageName, why);
    if (image.empty()) return false;
    GetCompleteRecoveryPartitionDeviceSelectController()->SetCollector([image, label, code] {
      return CollectImageVolumes({{image, label, code}});
    });
    GetRecoveryContext().PageFlowSwitch = 1;
    return true;
  }

  // Clicks row `row` of format recovery's device list once its collection has ended.
  void SelectFormatRecoveryRow(int row) {
    WaitForVolumeList();
    CDeviceSelectCtrl* list = GetCompleteRecoveryPartitionDeviceSelectController()->GetList();
    ASSERT_NE(list, nullptr);
    QTest::mouseClick(list->View()->viewport(), Qt::LeftButton, {}, list->View()->RowRect(row).center());
    ASSERT_EQ(list->GetCurSel(), row);
  }

  // Waits until the volume step has its list (its collection runs on a worker, with the window
  // disabled meanwhile).
  void WaitForVolumeList() {
    for (int i = 0; i < 3000 && GetDeleteRecoveryPartitionDeviceSelectController()->IsCollecting(); ++i)
      QTest::qWait(10);
    ASSERT_FALSE(GetDeleteRecoveryPartitionDeviceSelectController()->IsCollecting());
    for (int i = 0; i < 3000 && GetLostRecoveryDiskDeviceSelectController()->IsCollecting(); ++i)
      QTest::qWait(10);
    ASSERT_FALSE(GetLostRecoveryDiskDeviceSelectController()->IsCollecting());
    for (int i = 0; i < 3000 && GetCompleteRecoveryPartitionDeviceSelectController()->IsCollecting(); ++i)
      QTest::qWait(10);
    ASSERT_FALSE(GetCompleteRecoveryPartitionDeviceSelectController()->IsCollecting());
  }

  // Presses the sheet's button of `command` with the mouse.
  void Click(int command) {
    WaitForVolumeList();
    CButtonPlus* button = command == CWizardSheet::kCommandNext && sheet->GetCurrentPageIndex() == FileSelect
                              ? sheet->FileNextButton()
                              : sheet->Button(command);
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isVisible()) << "command " << command << " on page " << sheet->GetCurrentPageIndex();
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, 5));
  }

  // Starts the recovery of `mode` from the welcome page with the mouse: the button beside Start for
  // modes 0 and 1, Start for mode 2.
  void StartRecovery(int mode) {
    sheet->ShowPage(RecoveryModeSelect);
    auto* welcome = static_cast<CRecoveryModeSelectPage*>(sheet->GetPage(RecoveryModeSelect));
    CButtonPlus* button = welcome->ModeButton(CRecoveryModeSelectPage::kCommandDeleted + mode);
    ASSERT_NE(button, nullptr) << mode;
    ASSERT_TRUE(button->isVisible()) << mode;
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(10, 10));
  }

  const std::string& Folder() const { return m_folder; }

  std::unique_ptr<FakeFrame> frame;
  CWizardSheet* sheet = nullptr;  // a child of the frame
  CWizardSheetController sheetController;

  // How the user answers questions: Yes or OK when set, else No or Cancel.
  bool confirm = true;
  bool startSucceeds = true;
  std::vector<std::string> questions;
  std::vector<std::string> boxes;
  std::vector<std::string> opened;
  std::vector<std::string> started;
  std::vector<usage::Record> events;

 private:
  std::string m_folder;
  int32_t m_savedLanguage = 0;
  const corvale::IStringTable* m_savedModule = nullptr;
  ui::QuestionHandler m_previousQuestion;
  ui::MessageBoxHandler m_previousBox;
  ui::UrlHandler m_previousUrl;
  ui::ProgramStarter m_previousStarter;
  usage::Recorder m_previousRecorder;
  SaveDialogRunner m_previousSaveRunner;
};

}  // namespace corvale::test
