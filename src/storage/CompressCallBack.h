#pragma once
// What the imaging run tells the page that started it, and what it asks. Every call comes on the
// thread that runs CCompressController::Compress.

#include <cstdint>

class ICompressCallBack {
 public:
  virtual ~ICompressCallBack() = default;
  // After every chunk.
  virtual void Step() {}
  // Before every chunk; true stops the run.
  virtual bool IsCancelled() { return false; }
  // The chunk just written.
  virtual void SetPos(int64_t chunkIndex) { (void)chunkIndex; }
  // Once, with (0, number of chunks).
  virtual void SetRange(int64_t first, int64_t last) {
    (void)first;
    (void)last;
  }
  // After every chunk, with the bytes it took in its part file.
  virtual void AddWritten(uint32_t bytes) { (void)bytes; }
  // Before every chunk; true puts that chunk first in a new part file.
  virtual bool NeedNewPart() { return false; }
};
