// Scan-state files with stand-in controllers over the real state stream: which controllers a chain
// saves and in which order, the header status, committing, restoring up to the status, and the
// chains a restore refuses (another kind's ids, out of order, not starting at the caller), which
// leave nothing activated and clean up what they touched.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/RSData.h"
#include "core/RSDataEx.h"
#include "core/StateIo.h"
#include "dialogs/BuildDirectoryDlg.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "wizard/WizardPageController.h"
#include "wizard/controller/ScanState.h"

namespace {

// A controller that saves and restores one u32 of its own in a section of its own.
class FakeController : public IWizardPageController {
 public:
  FakeController(int id, int kind) : m_id(id), m_kind(kind) {}
  void Activate() override { ++activations; }
  void Home() override {}
  void Back() override {}
  bool Next() override { return false; }
  void SetPreviousController(IWizardPageController* previous) override { m_previous = previous; }
  IWizardPageController* GetPreviousController() override { return m_previous; }
  int GetStateTypeId() override { return m_id; }
  int GetRecoveryKind() override { return m_kind; }
  int SaveState(IRSData* stream, IDIRBuildCallback*) override {
    if (failSave) return 0;
    if (!stream->BeginSection(Guid())) return 0;
    corvale::WriteU32(*stream, value);
    stream->EndSection();
    return 1;
  }
  int RestoreState(IRSData* stream, IDIRBuildCallback*) override {
    ++restores;
    stream->BeginSection(Guid());
    restored = corvale::ReadU32(*stream);
    stream->EndSection();
    return failRestore ? 0 : 1;
  }
  void Cleanup() override { ++cleanups; }

  RSGuid Guid() const {
    RSGuid g = RSGuid::FromString("{11111111-2222-3333-4444-555555555555}");
    g.bytes[0] = static_cast<uint8_t>(m_id);
    return g;
  }

  uint32_t value = 0;
  uint32_t restored = 0;
  bool failSave = false;
  bool failRestore = false;
  int activations = 0;
  int restores = 0;
  int cleanups = 0;

 private:
  int m_id;
  int m_kind;
  IWizardPageController* m_previous = nullptr;
};

FakeController* g_controllers[6] = {};
template <int Id>
IWizardPageController* Get() {
  return g_controllers[Id];
}

class ScanStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    corvale::test::TestApplication();
    m_folder = corvale::test::ScratchDir() + "/";
    SetScanStateFolder(m_folder);
    for (int id = 0; id < 6; ++id) {
      const int kind = id == 0 || id == 1 ? kRecoveryKindComplete : kRecoveryKindPartition;
      m_fakes.push_back(std::make_unique<FakeController>(id, kind));
      m_fakes.back()->value = 100 + id;
      g_controllers[id] = m_fakes.back().get();
    }
    RegisterScanStateController(0, &Get<0>);
    RegisterScanStateController(1, &Get<1>);
    RegisterScanStateController(2, &Get<2>);
    RegisterScanStateController(3, &Get<3>);
    RegisterScanStateController(4, &Get<4>);
    RegisterScanStateController(5, &Get<5>);
  }
  void TearDown() override {
    for (auto& c : g_controllers) c = nullptr;
    SetScanStateFolder("");
  }

  FakeController& C(int id) { return *m_fakes[id]; }

  // Links the file controller (which takes the kind of what it follows) behind `chain`.
  void Link(const std::vector<IWizardPageController*>& chain) {
    for (size_t i = 1; i < chain.size(); ++i) chain[i]->SetPreviousController(chain[i - 1]);
  }

  std::vector<uint32_t> ReadChain(const std::string& path, int* status) {
    CRSDataEx reader(RS_MODE_READ);
    EXPECT_TRUE(reader.Open(path, 0));
    *status = reader.GetStatus();
    reader.BeginSection(RSGuid::FromString("{6EAE44F1-5CA7-49F8-BD8D-7126D446AACA}"));
    std::vector<uint32_t> ids(corvale::ReadU32(reader));
    for (auto& id : ids) id = corvale::ReadU32(reader);
    reader.Close();
    return ids;
  }

  // Writes a last file of the complete kind with the given status and chain, each listed
  // controller's section following.
  void WriteLast(int status, const std::vector<uint32_t>& ids) {
    CRSDataEx writer(RS_MODE_WRITE);
    ASSERT_TRUE(writer.Open(m_folder + "cslast.rdf", 1));
    writer.SetStatus(status);
    writer.BeginSection(RSGuid::FromString("{6EAE44F1-5CA7-49F8-BD8D-7126D446AACA}"));
    corvale::WriteU32(writer, static_cast<uint32_t>(ids.size()));
    for (uint32_t id : ids) corvale::WriteU32(writer, id);
    writer.EndSection();
    for (uint32_t id : ids)
      if (id < 6) C(static_cast<int>(id)).SaveState(&writer, nullptr);
    writer.Close();
  }

  std::string m_folder;
  std::vector<std::unique_ptr<FakeController>> m_fakes;
};

// The file controller of a complete recovery answers the complete kind.
class CompleteFileController : public FakeController {
 public:
  CompleteFileController() : FakeController(5, kRecoveryKindComplete) {}
};

TEST_F(ScanStateTest, SavesTheChainFirstToCurrentWithTheStatusOfTheCurrentStep) {
  struct Case {
    std::vector<int> chain;  // ids from the device controller to the current one
    std::vector<uint32_t> saved;
    int status;
  };
  const Case cases[] = {{{0, 1}, {0, 1}, 1}, {{0, 1, 5}, {0, 1, 5}, 2}, {{0, 5}, {0, 5}, 2}};
  for (const Case& c : cases) {
    CompleteFileController file;
    file.value = 105;
    std::vector<IWizardPageController*> chain;
    for (int id : c.chain) chain.push_back(id == 5 ? static_cast<IWizardPageController*>(&file) : &C(id));
    Link(chain);
    ASSERT_EQ(SaveScanState(chain.back(), false), 1);
    int status = -1;
    EXPECT_EQ(ReadChain(m_folder + "cstemp.rdf", &status), c.saved);
    EXPECT_EQ(status, c.status);
  }
}

TEST_F(ScanStateTest, CommitMovesOnlyAValidTemporaryFile) {
  // Nothing to move: success, no last file.
  EXPECT_EQ(CommitScanState(&C(0)), 1);
  EXPECT_FALSE(std::filesystem::exists(m_folder + "cslast.rdf"));
  C(1).SetPreviousController(&C(0));
  ASSERT_EQ(SaveScanState(&C(1), false), 1);
  EXPECT_EQ(CommitScanState(&C(0)), 1);
  EXPECT_TRUE(std::filesystem::exists(m_folder + "cslast.rdf"));
  EXPECT_FALSE(std::filesystem::exists(m_folder + "cstemp.rdf"));
  // A save that failed part way is left with status 0 and never committed.
  C(1).failSave = true;
  EXPECT_EQ(SaveScanState(&C(1), false), 0);
  const auto before = std::filesystem::file_size(m_folder + "cslast.rdf");
  EXPECT_EQ(CommitScanState(&C(0)), 1);
  EXPECT_TRUE(std::filesystem::exists(m_folder + "cstemp.rdf"));
  EXPECT_EQ(std::filesystem::file_size(m_folder + "cslast.rdf"), before);
}

TEST_F(ScanStateTest, DeletedFileRecoveryNeverTouchesTheFiles) {
  FakeController deleted(6, kRecoveryKindDeleted);
  FakeController none(6, kRecoveryKindNone);
  for (FakeController* c : {&deleted, &none}) {
    EXPECT_EQ(SaveScanState(c, false), 0);
    EXPECT_EQ(CommitScanState(c), 0);
    EXPECT_EQ(SetCurrentControllerStatus(c), 0);
    EXPECT_EQ(RestoreControllerChain(c, nullptr), nullptr);
    EXPECT_EQ(DeleteLastScanState(c), 0);
    char text[16];
    EXPECT_EQ(ReadLastScanResultText(c, text, sizeof text), 0);
  }
  EXPECT_TRUE(std::filesystem::is_empty(m_folder));
}

TEST_F(ScanStateTest, RestoresUpToTheStatusLinksTheChainAndCopiesItBack) {
  struct Case {
    int status;
    std::vector<uint32_t> ids;
    int last;  // id of the controller restored last
  };
  const Case cases[] = {{2, {0, 1, 5}, 5}, {1, {0, 1, 5}, 1}, {2, {0, 5}, 5}};
  for (const Case& c : cases) {
    for (auto& f : m_fakes) f->SetPreviousController(nullptr), f->restored = 0;
    WriteLast(c.status, c.ids);
    IWizardPageController* last = RestoreControllerChain(&C(0), nullptr);
    ASSERT_EQ(last, &C(c.last)) << c.status;
    for (uint32_t id : c.ids) {
      const bool expected = static_cast<int>(id) <= ScanStateRestoreLimit(c.status);
      EXPECT_EQ(C(static_cast<int>(id)).restored, expected ? 100 + id : 0) << id;
    }
    EXPECT_EQ(C(c.ids[1]).GetPreviousController() == &C(0), static_cast<int>(c.ids[1]) <= c.last);
    EXPECT_TRUE(std::filesystem::exists(m_folder + "cstemp.rdf"));
  }
}

// State files are never written through a link standing under their names: saving into one fails,
// and the copy a restore makes replaces it. What the links point at stays as it was.
TEST_F(ScanStateTest, StateFilesAreNeverWrittenThroughALink) {
  const std::string outside = corvale::test::ScratchDir() + "/outside";
  std::ofstream(outside) << "not a state file";
  ASSERT_EQ(symlink(outside.c_str(), (m_folder + "cstemp.rdf").c_str()), 0);
  C(1).SetPreviousController(&C(0));
  EXPECT_EQ(SaveScanState(&C(1), false), 0);
  EXPECT_EQ(SetCurrentControllerStatus(&C(1)), 0);
  WriteLast(2, {0, 1});
  ASSERT_EQ(RestoreControllerChain(&C(0), nullptr), &C(1));
  EXPECT_FALSE(std::filesystem::is_symlink(m_folder + "cstemp.rdf"));
  EXPECT_EQ(std::filesystem::file_size(m_folder + "cstemp.rdf"),
            std::filesystem::file_size(m_folder + "cslast.rdf"));
  std::ifstream in(outside);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
            "not a state file");
}

TEST_F(ScanStateTest, RefusesChainsThatAreNotThisKindsOwnAndCleansUp) {
  const std::vector<std::vector<uint32_t>> bad = {
      {2, 4, 5},              // the other kind's steps
      {5},                    // not starting at the caller
      {0, 5, 1},              // out of order
      {0, 0, 5},              // repeated
      {0, 1, 5, 6, 7, 8, 9},  // longer than any chain
      {},
  };
  for (const auto& ids : bad) {
    WriteLast(2, ids);
    for (auto& f : m_fakes) f->cleanups = 0, f->activations = 0;
    EXPECT_EQ(RestoreControllerChain(&C(0), nullptr), nullptr);
    for (auto& f : m_fakes) EXPECT_EQ(f->activations, 0);
  }
  // An id of 6 or more is skipped, which leaves a chain the kind cannot have.
  WriteLast(2, {0, 6});
  EXPECT_EQ(RestoreControllerChain(&C(0), nullptr), nullptr);
  // A step that fails to restore: the scan-partition and file steps are cleaned up, the device
  // step is left as it is.
  WriteLast(2, {0, 1, 5});
  C(5).failRestore = true;
  for (auto& f : m_fakes) f->cleanups = 0;
  EXPECT_EQ(RestoreControllerChain(&C(0), nullptr), nullptr);
  EXPECT_EQ(C(0).cleanups, 0);
  EXPECT_EQ(C(1).cleanups, 1);
  EXPECT_EQ(C(5).cleanups, 1);
  EXPECT_FALSE(std::filesystem::exists(m_folder + "cstemp.rdf"));
}

TEST_F(ScanStateTest, GarbageAndUnfinishedLastFilesRestoreNothing) {
  {
    std::ofstream garbage(m_folder + "cslast.rdf", std::ios::binary);
    garbage << std::string(300, '\x5a');
  }
  EXPECT_EQ(RestoreControllerChain(&C(0), nullptr), nullptr);
  WriteLast(0, {0, 1});
  EXPECT_EQ(RestoreControllerChain(&C(0), nullptr), nullptr);
  // A cut file: only the header and half the chain section.
  WriteLast(2, {0, 1, 5});
  std::filesystem::resize_file(m_folder + "cslast.rdf", 132 + 40);
  EXPECT_EQ(RestoreControllerChain(&C(0), nullptr), nullptr);
}

TEST_F(ScanStateTest, StatusResultTextAndDelete) {
  C(1).SetPreviousController(&C(0));
  ASSERT_EQ(SaveScanState(&C(1), false), 1);
  // Going back to the device step marks how far the user got.
  EXPECT_EQ(SetCurrentControllerStatus(&C(0)), 1);
  int status = -1;
  ReadChain(m_folder + "cstemp.rdf", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(SetCurrentControllerStatus(&C(1)), 1);
  {
    CRSDataEx writer(RS_MODE_WRITE);
    ASSERT_TRUE(writer.Open(m_folder + "cstemp.rdf", 0));
    EXPECT_EQ(WriteScanResultText(&writer, "NTFS 2.00 GB, 12 files"), 1);
    writer.Close();
  }
  ASSERT_EQ(CommitScanState(&C(0)), 1);
  char text[64];
  ASSERT_EQ(ReadLastScanResultText(&C(0), text, sizeof text), 1);
  EXPECT_STREQ(text, "NTFS 2.00 GB, 12 files");
  char small[5];
  ASSERT_EQ(ReadLastScanResultText(&C(0), small, sizeof small), 1);
  EXPECT_STREQ(small, "NTFS");
  EXPECT_EQ(DeleteLastScanState(&C(0)), 1);
  EXPECT_EQ(DeleteLastScanState(&C(0)), 0);
  EXPECT_EQ(ReadLastScanResultText(&C(0), text, sizeof text), 0);
}

TEST_F(ScanStateTest, SavingAndRestoringUnderTheDialogWithoutCancel) {
  static QString title;
  static bool cancelVisible = true;
  const auto previous = SetScanStateDialogHook([](CBuildDirectoryDlg& dialog) {
    title = dialog.windowTitle();
    cancelVisible = dialog.CancelButton()->isVisible();
    corvale::test::SaveScreenshot(dialog.grab().toImage(), "ScanStateDialog");
  });
  C(1).SetPreviousController(&C(0));
  EXPECT_EQ(SaveScanState(&C(1), true), 1);
  EXPECT_EQ(title, "Save recovery states");
  EXPECT_FALSE(cancelVisible);
  ASSERT_EQ(CommitScanState(&C(0)), 1);
  EXPECT_TRUE(RestoreScanState(&C(0)));
  EXPECT_EQ(title, "Restore previous recovery");
  EXPECT_EQ(C(1).activations, 1);
  EXPECT_EQ(C(1).restored, 101u);
  SetScanStateDialogHook(previous);
}

}  // namespace
