#pragma once
// The recovering window as the engine sees it, and the adapter that passes a recovery run's
// progress to it. The window itself belongs to the user interface; the engine only needs this
// contract, so that it runs (and is tested) without one.

#include <cstdint>

#include "core/IFileRecoverCallback.h"

// What the recovering window does with each call. Every call refreshes the window and answers as
// Poll does: -1 once the user has pressed cancel, else 0. Bytes done never go below 0, whatever
// SubtractBytes is given.
class IRecoveringDlg {
 public:
  virtual ~IRecoveringDlg() = default;
  // Stores the totals and shows the total size.
  virtual int32_t Begin(int32_t files, uint64_t totalBytes) = 0;
  virtual int32_t AddFiles(int32_t n) = 0;
  virtual int32_t AddBytes(uint64_t n) = 0;
  virtual int32_t SubtractBytes(uint32_t n) = 0;
  virtual int32_t SetCurrentFile(const char* name) = 0;
  // Handles what is waiting for the window and returns -1 when the user has cancelled, else 0.
  virtual int32_t Poll() = 0;
};

// Forwards each call to the window given at construction (not owned). Without a window every call
// answers 0.
class CFileRecoverCallback : public IFileRecoverCallback {
 public:
  explicit CFileRecoverCallback(IRecoveringDlg* dialog) : m_dialog(dialog) {}
  virtual ~CFileRecoverCallback() = default;

  void Begin(int32_t files, uint64_t totalBytes) override;
  int32_t AddFiles(int32_t n) override;
  int32_t AddBytes(uint64_t n) override;
  int32_t SubtractBytes(uint32_t n) override;
  int32_t SetCurrentFile(const char* name) override;
  int32_t Poll() override;

 private:
  IRecoveringDlg* m_dialog;
};
