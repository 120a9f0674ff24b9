#include "core/TempPathName.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace {

// mkdtemp/mkstemps fill in the X's of a pattern in place.
std::vector<char> Pattern(const std::string& text) {
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back(0);
  return buffer;
}

}  // namespace

CTempPathNameSignle& CTempPathNameSignle::GetInstance() {
  static CTempPathNameSignle instance;
  return instance;
}

CTempPathNameSignle::~CTempPathNameSignle() { DeleteVariantsLocked(); }

std::string CTempPathNameSignle::GetTempFileName() {
  std::lock_guard<std::mutex> lock(m_mutex);
  DeleteVariantsLocked();
  m_name.clear();
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp != nullptr && *tmp != 0 ? tmp : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  // The copy holds a recovered file's data: it lives in a folder of its own that only we can enter,
  // never directly in a folder that everybody may write to.
  std::vector<char> folder = Pattern(base + "/corvale-preview-XXXXXX");
  if (::mkdtemp(folder.data()) == nullptr) return {};
  m_folder = folder.data();
  std::vector<char> name = Pattern(m_folder + "/~@!XXXXXX.tmp");
  const int fd = ::mkstemps(name.data(), 4);
  if (fd < 0) {
    DeleteVariantsLocked();
    return {};
  }
  ::close(fd);
  m_name = name.data();
  DeleteVariantsLocked(false);
  return m_name;
}

void CTempPathNameSignle::DeleteTempFiles() {
  std::lock_guard<std::mutex> lock(m_mutex);
  DeleteVariantsLocked();
}

void CTempPathNameSignle::DeleteVariantsLocked(bool withFolder) {
  if (m_name.size() >= 4) {
    const std::string stem = m_name.substr(0, m_name.size() - 4);
    for (const char* extension : {".tmp", ".doc", ".xls"}) ::unlink((stem + extension).c_str());
  }
  if (withFolder && !m_folder.empty()) {
    // Only an empty folder goes: whatever else a viewer left in it stays for the user to see.
    ::rmdir(m_folder.c_str());
    m_folder.clear();
  }
}
