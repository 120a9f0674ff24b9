#pragma once
// Progress of a directory-tree build, or of saving or restoring a tree, as the progress window
// shows it. Every call returns -1 when the user has cancelled, else 0.

#include <cstdint>

class IDIRBuildCallback {
 public:
  virtual ~IDIRBuildCallback() = default;
  virtual int32_t BeginStage(const char* title, int32_t range) = 0;
  virtual int32_t AddProgress(int32_t n) = 0;
  virtual int32_t StepTo(int32_t position) = 0;
  virtual int32_t EndStage() = 0;
  virtual int32_t Poll() = 0;
};
