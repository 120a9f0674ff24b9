// Help topics as pages of the help folder beside the program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "controls/HelpFile.h"
#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "support/Fixtures.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "ui/Shell.h"

TEST(ShowHelpFile, OpensTheTopicsPageElseTheIndexElseNothing) {
  corvale::test::TestApplication();
  // The help folder beside this test program; its topic numbers are used by no other test.
  const std::string folder = platform::ExecutableDirectory() + "help/";
  mkdir(folder.c_str(), 0755);
  const std::string topic = folder + "16.html";
  const std::string index = folder + "index.html";
  unlink(index.c_str());
  std::ofstream(topic) << "<html>deleted-file volume page</html>";

  std::vector<std::string> opened;
  auto previous = corvale::ui::SetUrlHandler([&](const std::string& address) {
    opened.push_back(address);
    return true;
  });
  std::vector<std::string> boxes;
  auto previousBoxes = corvale::ui::SetMessageBoxHandler(
      [&](const std::string& text, const std::string&, corvale::ui::MessageIcon) { boxes.push_back(text); });
  EXPECT_EQ(ShowHelpFile(nullptr, 16), 0);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(ShowHelpFile(nullptr, 7777), 0);
  // Neither the topic's page nor the contents: said, not passed over.
  EXPECT_EQ(boxes, std::vector<std::string>{"Unable to open hyperlink:\n\nThe specified file is not found."});
  ShowHelpContents();
  EXPECT_EQ(boxes.size(), 2u);
  std::ofstream(index) << "<html>contents</html>";
  EXPECT_EQ(ShowHelpFile(nullptr, 7777), 0);
  ShowHelpContents();
  corvale::ui::SetUrlHandler(previous);
  corvale::ui::SetMessageBoxHandler(previousBoxes);
  unlink(topic.c_str());
  unlink(index.c_str());

  EXPECT_EQ(opened, (std::vector<std::string>{topic, index, index}));
  EXPECT_EQ(boxes.size(), 2u);
}

// Running as root the page goes to the browser of the person who asked: one that another user wrote
// (in a root-owned 0755 folder) could run their script there. It is not opened, not even the index in
// its place, and the log says why; a help folder of another user's is not used at all.
TEST(ShowHelpFile, AsRootPagesOrAFolderOfAnotherUserAreNotOpened) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the check is made with raised rights";
  corvale::test::TestApplication();
  const std::string folder = corvale::test::ScratchDir() + "/help/";
  mkdir(folder.c_str(), 0755);
  std::ofstream(folder + "16.html") << "<html>planted</html>";
  std::ofstream(folder + "index.html") << "<html>contents</html>";
  chown((folder + "16.html").c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser);

  std::vector<std::string> opened;
  auto previous = corvale::ui::SetUrlHandler([&](const std::string& address) {
    opened.push_back(address);
    return true;
  });
  SetHelpFolder(folder);
  corvale::log::ScopedCapture log;
  ShowHelpFile(nullptr, 16);
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(log.HasPart(folder + "16.html is not used: it belongs to user 65534"));
  ShowHelpFile(nullptr, 7777);  // the index is root's
  EXPECT_EQ(opened, std::vector<std::string>{folder + "index.html"});

  chown(folder.c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser);
  opened.clear();
  ShowHelpFile(nullptr, 7777);
  EXPECT_TRUE(opened.empty());
  EXPECT_TRUE(log.HasPart("The help folder " + folder + " is not used"));
  SetHelpFolder("");
  corvale::ui::SetUrlHandler(previous);
}
