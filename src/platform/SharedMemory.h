#pragma once
// A block of memory that processes find by name: a POSIX shared-memory object (NamedObjects.h)
// mapped whole. The creating side sizes it and removes the name when it is done; the opening side
// maps an existing object and refuses one shorter than it expects, since touching a page past the
// end of a shared object kills the process.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace corvale {

class SharedMemory {
 public:
  enum class Failure { None, Create, Map };

  // Creates the object `name` of `size` bytes, or takes over an existing one and gives it that size.
  // Null on failure, with the failing step in *failure.
  static std::unique_ptr<SharedMemory> Create(std::string_view name, size_t size, Failure* failure = nullptr);
  // Maps the existing object `name`, which must hold at least `size` bytes.
  static std::unique_ptr<SharedMemory> Open(std::string_view name, size_t size, Failure* failure = nullptr);

  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  unsigned char* Data() const { return m_data; }
  size_t Size() const { return m_size; }

 private:
  SharedMemory(unsigned char* data, size_t size, std::string posixName, bool created);

  unsigned char* m_data;
  size_t m_size;
  std::string m_posixName;
  bool m_created;
};

}  // namespace corvale
