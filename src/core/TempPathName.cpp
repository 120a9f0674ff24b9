#include "core/TempPathName.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

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
  std::string folder = tmp != nullptr && *tmp != 0 ? tmp : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string pattern = folder + "/~@!XXXXXX.tmp";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back(0);
  const int fd = ::mkstemps(buffer.data(), 4);
  if (fd < 0) return {};
  ::close(fd);
  m_name = buffer.data();
  DeleteVariantsLocked();
  return m_name;
}

void CTempPathNameSignle::DeleteTempFiles() {
  std::lock_guard<std::mutex> lock(m_mutex);
  DeleteVariantsLocked();
}

void CTempPathNameSignle::DeleteVariantsLocked() {
  if (m_name.size() < 4) return;
  const std::string stem = m_name.substr(0, m_name.size() - 4);
  for (const char* extension : {".tmp", ".doc", ".xls"}) ::unlink((stem + extension).c_str());
}
