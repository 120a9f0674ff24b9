#include "ext2/Ext2Exceptions.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <typeinfo>

#include "platform/Log.h"
#include "platform/ProgramFolder.h"

namespace {
std::mutex g_logMutex;
}

std::string Ext2ErrorLogPath() { return platform::ProgramFolder() + "Ext2Error.log"; }

void LogExt2Error(const char* text) {
  if (text == nullptr) return;
  std::string line = text;
  line += '\n';
  std::lock_guard<std::mutex> lock(g_logMutex);
  int fd = ::open(Ext2ErrorLogPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  ::close(fd);
}

void LogExt2Exception(const std::exception& e) {
  const char* mangled = typeid(e).name();
  int status = 0;
  char* name = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  LogExt2Error(status == 0 && name != nullptr ? name : mangled);
  LogExt2Error(e.what());
  if (const auto* parse = dynamic_cast<const CExt2ParseException*>(&e))
    if (!parse->GetParseResult().IsValid())
      DebugTrace("Ext2: %s: %s", status == 0 && name != nullptr ? name : mangled,
                 parse->GetParseResult().describe().c_str());
  std::free(name);
}
