// Message boxes, questions, web pages and helper programs: recorded by handlers in tests, and
// answered at once where nobody can see a window.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/Fixtures.h"
#include "support/Programs.h"
#include "support/QtTestApp.h"
#include "ui/MessageBox.h"
#include "ui/Shell.h"

using corvale::ui::MessageAnswer;
using corvale::ui::MessageButtons;
using corvale::ui::MessageIcon;

TEST(MessageBoxes, QuestionsGoToTheHandlerAndAreConfirmedWhereNobodyCouldAnswer) {
  corvale::test::TestApplication();
  ASSERT_FALSE(corvale::ui::WindowsAreVisible()) << "the tests run offscreen";
  EXPECT_EQ(corvale::ui::AskMessageBox("Exit?", "Title", MessageButtons::YesNo), MessageAnswer::Yes);
  EXPECT_EQ(corvale::ui::AskMessageBox("Go?", "Title", MessageButtons::OkCancel), MessageAnswer::Ok);

  std::vector<std::string> asked;
  auto previous = corvale::ui::SetQuestionHandler(
      [&](const std::string& text, const std::string& caption, MessageButtons buttons, MessageIcon icon) {
        asked.push_back(caption + "|" + text + "|" + std::to_string(static_cast<int>(buttons)) + "|" +
                        std::to_string(static_cast<int>(icon)));
        return MessageAnswer::No;
      });
  EXPECT_EQ(corvale::ui::AskMessageBox("Exit?", "Title", MessageButtons::YesNo, MessageIcon::Warning),
            MessageAnswer::No);
  corvale::ui::SetQuestionHandler(previous);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], "Title|Exit?|2|1");
}

TEST(Shell, AddressesAndProgramsGoToTheirHandlersAndProgramsReallyStart) {
  corvale::test::TestApplication();
  EXPECT_FALSE(corvale::ui::OpenUrl("https://corvale.example/")) << "nobody could see a browser";

  std::vector<std::string> opened;
  auto previousUrl = corvale::ui::SetUrlHandler([&](const std::string& address) {
    opened.push_back(address);
    return true;
  });
  EXPECT_TRUE(corvale::ui::OpenUrl("/usr/share/doc/index.html"));
  corvale::ui::SetUrlHandler(previousUrl);
  EXPECT_EQ(opened, std::vector<std::string>{"/usr/share/doc/index.html"});

  // A real start, with its arguments as a list: the program leaves a file.
  const std::string marker = corvale::test::ScratchDir() + "/started";
  ASSERT_TRUE(corvale::ui::StartProgram("/usr/bin/touch", {marker}));
  for (int i = 0; i < 200 && corvale::test::RunCommand("test -e '" + marker + "'") != 0; ++i) usleep(10000);
  EXPECT_EQ(corvale::test::RunCommand("test -e '" + marker + "'"), 0);
  EXPECT_FALSE(corvale::ui::StartProgram("/nonexistent/program", {}));
}

// Running as root the helpers beside the program (the restart helper) are started only when they are
// root's and nobody else may change them: one that user nobody put there is not started.
TEST(Shell, AsRootAProgramOfAnotherUserIsNotStarted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the check is made with raised rights";
  const std::string dir = corvale::test::ScratchDir();
  const std::string program = dir + "/QBXRestart";
  std::ofstream(program) << "#!/bin/sh\ntouch '" << dir << "/started'\n";
  chmod(program.c_str(), 0755);
  chown(program.c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser);
  EXPECT_FALSE(corvale::ui::StartProgram(program, {}));
  chown(program.c_str(), 0, 0);
  EXPECT_TRUE(corvale::ui::StartProgram(program, {}));
  EXPECT_TRUE(corvale::test::WaitUntil([&] { return access((dir + "/started").c_str(), F_OK) == 0; }, 10000));
}
