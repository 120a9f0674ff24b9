#pragma once
// A block of memory that processes find by name: a POSIX shared-memory object (NamedObjects.h)
// mapped whole. The creating side makes it exclusively, sizes it and removes the name when it is
// done; the opening side maps an existing object.
//
// Both sides use only an object of the effective user that is closed to everybody else: the names
// are guessable, and an object another user made first could be read, or shrunk under the mapping
// (touching a page past the end of a shared object kills the process with SIGBUS). Once an object
// passes that check only its own user (or root) can change its size, so the opening side checks
// the size once: an object of another size than expected is refused.

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace corvale {

class SharedMemory {
 public:
  // Create: no object could be made or opened; Refused: the object belongs to another user or is
  // open to others; Map: it has another size than expected, or mapping failed.
  enum class Failure { None, Create, Refused, Map };

  // Creates the object `name` of `size` bytes. A leftover of the effective user (a creator that
  // crashed) is replaced; an object made by anybody else is left alone and refused. Null on
  // failure, with the failing step in *failure.
  static std::unique_ptr<SharedMemory> Create(std::string_view name, size_t size, Failure* failure = nullptr);
  // Maps the existing object `name`, which must hold exactly `size` bytes.
  static std::unique_ptr<SharedMemory> Open(std::string_view name, size_t size, Failure* failure = nullptr);

  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  unsigned char* Data() const { return m_data; }
  size_t Size() const { return m_size; }

 private:
  SharedMemory(unsigned char* data, size_t size, std::string posixName, bool created, dev_t dev, ino_t ino);

  unsigned char* m_data;
  size_t m_size;
  std::string m_posixName;
  bool m_created;
  // The object itself, so that the creator removes its name only while the name still means it.
  dev_t m_dev;
  ino_t m_ino;
};

}  // namespace corvale
