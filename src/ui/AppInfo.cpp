#include "ui/AppInfo.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/ProgramFolder.h"

namespace {

std::string& ProductTitle() {
  static std::string* title = new std::string("Corvale Hard Drive Data Recovery");
  return *title;
}

}  // namespace

const char* GetVersionString() {
  static char version[32];
  static std::once_flag once;
  std::call_once(once, [] {
    int n = std::snprintf(version, sizeof version, "%d.%d", 1, 1);
    n += std::snprintf(version + n, sizeof version - static_cast<size_t>(n), ".%d", 1);
    std::snprintf(version + n, sizeof version - static_cast<size_t>(n), ".%d", 8);
  });
  return version;
}

const char* GetBuildDateString() { return "20150212"; }

const std::string& GetProductTitle() { return ProductTitle(); }

void SetProductTitle(const std::string& title) { ProductTitle() = title; }

int GetModuleDirectory(char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  std::string folder = platform::ExecutableDirectory();
  if (folder.empty() || folder.size() + 1 > static_cast<size_t>(size)) return 0;
  std::memcpy(buffer, folder.c_str(), folder.size() + 1);
  return 1;
}
