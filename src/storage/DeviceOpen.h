#pragma once
// How the leaf devices open their source: read-only, through the current raw I/O, and with a
// clear log line when the user has no right to open it (a disk that cannot be read for lack of
// rights must not just be missing from the lists).

#include <memory>
#include <string>

#include "platform/RawIo.h"

namespace corvale {

std::unique_ptr<platform::IRawDevice> OpenSourceReadOnly(const std::string& path);

}  // namespace corvale
