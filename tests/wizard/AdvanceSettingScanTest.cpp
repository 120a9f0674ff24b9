// Options changed in the "Option" dialog reach the settings the next scan reads: the RAW file types
// to look for, and whether RAW files are recovered at all.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <set>
#include <string>

#include "controls/RawFileTypeTreeCtrl.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/IntelligentSearchController.h"
#include "dialogs/AdvanceSettingMasterDlg.h"
#include "platform/FileTypeExtensionSet.h"
#include "platform/RecoveryContext.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFilesFolderBuilder.h"
#include "storage/ImageFileDevice.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"

namespace {

// Carves the disk with the settings as they stand and returns the lower-case extensions of the
// files of the "Raw Files" folder, or "none" when no folder is made.
std::set<std::string> CarvedExtensions(CImageFileDevice& disk) {
  CRawFileInfoList found;
  CRAWSearchController controller;
  controller.SetResultSink(&found);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&disk);
  driver.AddFileSystemSearchController(&controller);
  EXPECT_EQ(driver.Search(nullptr), 1);
  CRawFilesFolderBuilder builder;
  CFileSystemNode* raw = builder.BuildRawFilesFolder(&disk, found.GetIterator(), nullptr, nullptr, 0);
  if (raw == nullptr) return {"none"};
  std::set<std::string> extensions;
  std::vector<CFileNode*> stack{raw};
  while (!stack.empty()) {
    CFileNode* node = stack.back();
    stack.pop_back();
    for (CFileNode* c = node->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) stack.push_back(c);
    auto* p = node->GetFileProperties();
    if (p == nullptr || p->IsFolder()) continue;
    std::string name = p->GetName();
    std::string ext = name.substr(name.rfind('.') + 1);
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    extensions.insert(ext);
  }
  FreeFileTree(raw);
  return extensions;
}

}  // namespace

TEST(AdvanceSettingScan, TheTypesTickedAndTheRawSwitchReachTheNextScan) {
  corvale::test::TestApplication();
  CORVALE_FIXTURE(dir, "raw_pictures.sh", "raw_pictures");
  CImageFileDevice disk(dir + "/fat_wiped.img");
  ASSERT_TRUE(disk.IsOpened());
  const CRecoveryContext saved = GetRecoveryContext();
  GetRecoveryContext().ResetOptions();
  GetRecoveryContext().RawFileTypes = AllBuiltInRawFileTypes();
  GetFileTypeExtensionSet().Clear();
  const std::set<std::string> all = CarvedExtensions(disk);
  ASSERT_TRUE(all.count("png")) << "the disk holds PNG pictures";
  ASSERT_GT(all.size(), 1u);

  const struct {
    const char* onlyType;  // null: untick "Recover RAW files"
    std::set<std::string> expected;
  } cases[] = {
      {"Portable Network Graphic file(.png)", {"png"}},
      {"GIF graphics file(.gif)", {"gif"}},
      {nullptr, {"none"}},
  };
  for (const auto& c : cases) {
    CAdvanceSettingMasterDlg dialog(1, nullptr);
    dialog.SetRawTreeSwitch(1);
    dialog.show();
    CRawFileTypeTreeCtrl& tree = *dialog.RawPage()->Tree();
    if (c.onlyType != nullptr) {
      for (int i = 0; i < tree.topLevelItemCount(); ++i)
        while (CRawFileTypeTreeCtrl::StateOf(tree.topLevelItem(i)) != CRawFileTypeTreeCtrl::kUnchecked)
          tree.Toggle(tree.topLevelItem(i));
      auto rows = tree.findItems(c.onlyType, Qt::MatchExactly | Qt::MatchRecursive);
      ASSERT_EQ(rows.size(), 1);
      tree.Toggle(rows.front());
    } else {
      dialog.RawPage()->RecoverRawCheck()->click();
    }
    dialog.accept();
    EXPECT_EQ(CarvedExtensions(disk), c.expected) << (c.onlyType ? c.onlyType : "RAW off");
  }
  GetRecoveryContext() = saved;
}
