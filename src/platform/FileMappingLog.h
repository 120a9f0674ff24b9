#pragma once
// The log buffer that the launcher and the main program share. While the launcher watches the main
// program, the main program's log lines go into this buffer, and the launcher empties it into the
// log file every few seconds.
//
// Layout (binding on both programs):
//   offset 0, 4 bytes, unsigned little-endian: the number of text bytes in use
//   offset 4, up to kSharedLogSize - 4 bytes:  the text, appended without separators or terminator
// Every access holds the mutex kSharedLogMutexName, waiting for it at most one second; a wait that
// times out skips the access.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/NamedMutex.h"
#include "platform/SharedMemory.h"

namespace corvale {

inline constexpr const char* kSharedLogName = "Vy_{1E956C11-4D20-49d7-B4C7-016A342A2D39}";
inline constexpr const char* kSharedLogMutexName = "VyLOG_{1BFCF65F-0766-4a71-B7A3-2EB2CD1412DE}";
inline constexpr size_t kSharedLogSize = 0x200000;

}  // namespace corvale

class IEsLog {
 public:
  virtual ~IEsLog() = default;
  virtual int Initialize(int argument) = 0;
  virtual int Write(const char* data, unsigned length) = 0;
};

class CFileMappingLog : public IEsLog {
 public:
  // With `create` nonzero (the launcher) the buffer is created (replacing a leftover of the same
  // user; one made by another user is refused and the buffer stays closed) and starts empty. Otherwise (the
  // main program's log writer) the existing buffer is opened as it is: text that a crashed predecessor wrote
  // but the launcher has not collected yet stays.
  explicit CFileMappingLog(int create);
  ~CFileMappingLog() override;
  CFileMappingLog(const CFileMappingLog&) = delete;
  CFileMappingLog& operator=(const CFileMappingLog&) = delete;

  int Initialize(int argument) override;
  // Appends `length` bytes; 1 when appended. A write that does not fit whole is dropped whole.
  int Write(const char* data, unsigned length) override;
  // Writes the text in use to `fd` at its current position and empties the buffer, also when the
  // write fails; 1 when everything was written (an empty buffer writes nothing and gives 1).
  int FlushToFile(int fd);

  // True when the buffer is mapped.
  bool IsOpen() const { return m_view != nullptr; }

 private:
  bool Attach(unsigned char* start, size_t size, bool empty);
  uint32_t Used() const;
  void SetUsed(uint32_t used);
  int Append(const char* data, unsigned length);

  std::unique_ptr<corvale::SharedMemory> m_mapping;
  std::unique_ptr<corvale::NamedMutex> m_mutex;
  unsigned char* m_view = nullptr;
  size_t m_viewSize = 0;
  int m_create;
};

namespace corvale {

// Opens the launcher's shared buffer and makes it the destination of the log library's type-1
// lines (SetSharedLogWriter). False, and nothing changed, when the buffer cannot be opened.
bool ConnectLogToSharedBuffer();

}  // namespace corvale
