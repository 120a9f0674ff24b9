#pragma once
// The directory-build window as the engine sees it, and the adapter that passes a build's progress
// (or that of saving or restoring a tree) to it.

#include <cstdint>

#include "core/IDIRBuildCallback.h"

// What the directory-build window does with each call. The calls come from the build's worker
// thread while the window's own thread keeps handling its messages.
class IBuildDirectoryDlg {
 public:
  virtual ~IBuildDirectoryDlg() = default;
  // Shows the text, sets the bar's range and restarts the elapsed time at "00:00:00".
  virtual void BeginStep(const char* text, int32_t range) = 0;
  // Advances the bar by n.
  virtual void AddProgress(int32_t n) = 0;
  // Moves the bar to the position.
  virtual void SetProgress(int32_t position) = 0;
  // Moves the bar to the end of its range.
  virtual void CompleteStep() = 0;
  // -1 once the user has cancelled, else 0; refreshes the elapsed time ("%02d:%02d:%02d") at most
  // every 500 ms.
  virtual int32_t Tick() = 0;
};

// Forwards each call to the window given at construction (not owned) and answers with the window's
// cancel state, so that a build notices a cancel at whichever call comes next. Without a window
// every call answers 0.
class CDIRBuildCallback : public IDIRBuildCallback {
 public:
  explicit CDIRBuildCallback(IBuildDirectoryDlg* dialog) : m_dialog(dialog) {}

  int32_t BeginStage(const char* title, int32_t range) override;
  int32_t AddProgress(int32_t n) override;
  int32_t StepTo(int32_t position) override;
  int32_t EndStage() override;
  int32_t Poll() override;

 private:
  IBuildDirectoryDlg* m_dialog;
};
