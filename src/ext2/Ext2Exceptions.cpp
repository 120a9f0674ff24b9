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

std::string Ext2ErrorLogPath() {
  const std::string folder = platform::ProgramFolder();
  return folder.empty() ? std::string() : folder + "Ext2Error.log";
}

void LogExt2Error(const char* text) {
  if (text == nullptr) return;
  std::string line = text;
  line += '\n';
  std::lock_guard<std::mutex> lock(g_logMutex);
  // The program's own file, never reached through a link (as the run log).
  int fd = platform::OpenPrivateFile(Ext2ErrorLogPath(), O_WRONLY | O_APPEND | O_CREAT);
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
