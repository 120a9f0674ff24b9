// Help topics as pages of the help folder beside the program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "controls/HelpFile.h"
#include "platform/ProgramFolder.h"
#include "support/QtTestApp.h"
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
  EXPECT_EQ(ShowHelpFile(nullptr, 16), 0);
  EXPECT_EQ(ShowHelpFile(nullptr, 7777), 0);
  std::ofstream(index) << "<html>contents</html>";
  EXPECT_EQ(ShowHelpFile(nullptr, 7777), 0);
  corvale::ui::SetUrlHandler(previous);
  unlink(topic.c_str());
  unlink(index.c_str());

  EXPECT_EQ(opened, (std::vector<std::string>{topic, index}));
}
