#pragma once
// The progress receiver of a file restored only to make its thumbnail: it reports nothing and never
// cancels, so a thumbnail restore always runs to its end.

#include "core/IFileRecoverCallback.h"

class CBreviaryImageLoadCallback : public IFileRecoverCallback {
 public:
  void Begin(int32_t, uint64_t) override {}
  int32_t AddFiles(int32_t) override { return 0; }
  int32_t AddBytes(uint64_t) override { return 0; }
  int32_t SubtractBytes(uint32_t) override { return 0; }
  int32_t SetCurrentFile(const char*) override { return 0; }
  int32_t Poll() override { return 0; }
};
