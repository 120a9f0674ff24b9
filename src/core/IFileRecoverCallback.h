#pragma once
// Progress of a recovery run as the recovering window shows it. The recovery worker calls it for
// every file and every piece of data it writes; every call but Begin returns -1 when the user has
// cancelled, else 0.
//
// The calls arrive on the worker thread. An implementation that drives a window hands them to the
// window's own thread and answers the cancel question from a flag it can read at once.

#include <cstdint>

class IFileRecoverCallback {
 public:
  // Totals of the run, given once by the caller before the run starts.
  virtual void Begin(int32_t files, uint64_t totalBytes) = 0;
  // Another n files are done.
  virtual int32_t AddFiles(int32_t n) = 0;
  // Another n bytes are written.
  virtual int32_t AddBytes(uint64_t n) = 0;
  // Takes back bytes counted by AddBytes that the file does not hold (the rounding of an encrypted
  // file's data to whole sectors).
  virtual int32_t SubtractBytes(uint32_t n) = 0;
  // The name of the file being recovered.
  virtual int32_t SetCurrentFile(const char* name) = 0;
  virtual int32_t Poll() = 0;

 protected:
  // Never deleted through this interface: whoever made the object owns it.
  ~IFileRecoverCallback() = default;
};
