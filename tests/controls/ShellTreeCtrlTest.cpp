// The target-folder tree over a real folder: only folders, no hidden ones, each level read when it
// is opened, the chosen folder's absolute path told to the callback; and which mounts it leaves out.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "controls/ShellTreeCtrl.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"

namespace fs = std::filesystem;

TEST(ShellTree, ListsFoldersOnlyAndTellsTheChosenPath) {
  corvale::test::TestApplication();
  const std::string scratch = fs::canonical(corvale::test::ScratchDir()).string();
  fs::create_directories(scratch + "/outer/inner/leaf");
  fs::create_directories(scratch + "/outer/.hidden");
  fs::create_directories(scratch + "/outer/second");
  std::ofstream(scratch + "/outer/file.txt") << "a file";
  std::ofstream(scratch + "/outer/archive.zip") << "PK";

  CShellTreeCtrl tree;
  QWidget client;
  std::vector<std::string> chosen;
  tree.SetSelChangedCallback(
      [&](QWidget* w, const QString& path) {
        EXPECT_EQ(w, &client);
        chosen.push_back(path.toStdString());
      },
      &client);
  tree.Refill(true);
  tree.ExpandMyComputer();
  tree.resize(400, 300);
  tree.show();

  ASSERT_TRUE(tree.SelectPath(QString::fromStdString(scratch + "/outer")));
  ASSERT_EQ(chosen, std::vector<std::string>{scratch + "/outer"});
  const QPersistentModelIndex outer(tree.currentIndex());
  tree.expand(outer);
  QTRY_COMPARE(tree.model()->rowCount(outer), 2);
  std::vector<std::string> names;
  for (int row = 0; row < tree.model()->rowCount(outer); ++row)
    names.push_back(tree.model()->index(row, 0, outer).data().toString().toStdString());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"inner", "second"})) << "no files, no hidden folders";

  ASSERT_TRUE(tree.SelectPath(QString::fromStdString(scratch + "/outer/inner/leaf")));
  EXPECT_EQ(chosen.back(), scratch + "/outer/inner/leaf");
  EXPECT_FALSE(tree.SelectPath(QString::fromStdString(scratch + "/outer/file.txt")));
}

TEST(ShellTree, LeavesOutMountsNoRecoveryCanWriteTo) {
  const struct {
    const char* type;
    bool readOnly;
    bool shown;
  } cases[] = {
      {"ext4", false, true},      {"vfat", false, true},    {"fuseblk", false, true},
      {"tmpfs", false, true},     {"ext4", true, false},    {"iso9660", false, false},
      {"udf", false, false},      {"proc", false, false},   {"sysfs", false, false},
      {"devtmpfs", false, false}, {"devpts", false, false}, {"cgroup2", false, false},
      {"squashfs", false, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsWritableMountType(c.type, c.readOnly), c.shown) << c.type;
}
