#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/DIRBuildCallback.h"
#include "core/FileRecoverCallback.h"

namespace {

// Writes each call it gets as a line and answers with `answer`.
class RecordingDialogs : public IRecoveringDlg, public IBuildDirectoryDlg {
 public:
  int32_t Begin(int32_t files, uint64_t bytes) override {
    return Note("Begin " + std::to_string(files) + " " + std::to_string(bytes));
  }
  int32_t AddFiles(int32_t n) override { return Note("AddFiles " + std::to_string(n)); }
  int32_t AddBytes(uint64_t n) override { return Note("AddBytes " + std::to_string(n)); }
  int32_t SubtractBytes(uint32_t n) override { return Note("SubtractBytes " + std::to_string(n)); }
  int32_t SetCurrentFile(const char* name) override { return Note(std::string("SetCurrentFile ") + name); }
  int32_t Poll() override { return Note("Poll"); }
  void BeginStep(const char* text, int32_t range) override {
    Note(std::string("BeginStep ") + text + " " + std::to_string(range));
  }
  void AddProgress(int32_t n) override { Note("AddProgress " + std::to_string(n)); }
  void SetProgress(int32_t position) override { Note("SetProgress " + std::to_string(position)); }
  void CompleteStep() override { Note("CompleteStep"); }
  int32_t Tick() override { return Note("Tick"); }

  int32_t answer = 0;
  std::vector<std::string> calls;

 private:
  int32_t Note(const std::string& call) {
    calls.push_back(call);
    return answer;
  }
};

TEST(RecoverCallbackAdapter, ForwardsEachCallAndTheCancelAnswer) {
  for (int32_t answer : {0, -1}) {
    RecordingDialogs dialog;
    dialog.answer = answer;
    CFileRecoverCallback callback(&dialog);
    callback.Begin(3, 5000000000ULL);
    EXPECT_EQ(callback.AddFiles(2), answer);
    EXPECT_EQ(callback.AddBytes(4294967296ULL), answer);
    EXPECT_EQ(callback.SubtractBytes(7), answer);
    EXPECT_EQ(callback.SetCurrentFile("a.txt"), answer);
    EXPECT_EQ(callback.Poll(), answer);
    EXPECT_EQ(dialog.calls,
              (std::vector<std::string>{"Begin 3 5000000000", "AddFiles 2", "AddBytes 4294967296",
                                        "SubtractBytes 7", "SetCurrentFile a.txt", "Poll"}));
  }
}

TEST(BuildCallbackAdapter, ForwardsEachCallAndAnswersWithTheCancelState) {
  for (int32_t answer : {0, -1}) {
    RecordingDialogs dialog;
    dialog.answer = answer;
    CDIRBuildCallback callback(&dialog);
    IDIRBuildCallback& build = callback;
    EXPECT_EQ(build.BeginStage("Reading files", 12), answer);
    EXPECT_EQ(build.AddProgress(1), answer);
    EXPECT_EQ(build.StepTo(9), answer);
    EXPECT_EQ(build.EndStage(), answer);
    EXPECT_EQ(build.Poll(), answer);
    EXPECT_EQ(dialog.calls,
              (std::vector<std::string>{"BeginStep Reading files 12", "Tick", "AddProgress 1", "Tick",
                                        "SetProgress 9", "Tick", "CompleteStep", "Tick", "Tick"}));
  }
}

TEST(CallbackAdapters, WithoutAWindowNothingIsCancelled) {
  CFileRecoverCallback recover(nullptr);
  CDIRBuildCallback build(nullptr);
  recover.Begin(1, 1);
  EXPECT_EQ(recover.AddBytes(1), 0);
  EXPECT_EQ(recover.SetCurrentFile(nullptr), 0);
  EXPECT_EQ(build.BeginStage(nullptr, 1), 0);
  EXPECT_EQ(build.Poll(), 0);
}

}  // namespace
