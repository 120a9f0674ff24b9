#pragma once
// The Ext2 engine's allocations from the Boehm collector.
//
// Rules that keep the collector's memory sound here:
// - The collector is started once, on the main thread, before any allocation (a static initialiser
//   of GcAlloc.cpp does it; Ext2GcStartup may be called again and does nothing then).
// - Every thread that allocates from the collector is registered with it for as long as it does so:
//   hold an Ext2GcThreadScope at the top of the thread's function. A collection started by an
//   unregistered thread ends the process.
// - The collector scans its own heap, the registered threads' stacks and static data, not the malloc
//   heap. A collectable block whose only pointer sits in malloc memory (a std::vector, an object made
//   with new) can be reclaimed while still in use: such a block must come from GcNewUncollectable /
//   GcAllocUncollectable and be freed explicitly.
// - GC memory is released with GcDelete / GcFree, never with delete or free, and malloc memory never
//   with GcFree.
// An allocation the collector cannot satisfy takes the program's out-of-memory path, like every other
// allocation of the program.

#include <cstddef>
#include <new>
#include <utility>

namespace corvale::ext2gc {

// GC_INIT and GC_allow_register_threads, once per process.
void Ext2GcStartup();

// Collectable memory that the collector scans for pointers (GC_malloc).
void* GcAlloc(size_t bytes);
// Collectable memory holding no pointers (GC_malloc_atomic): buffers of disk bytes.
void* GcAllocAtomic(size_t bytes);
// Memory never collected, scanned for pointers (GC_malloc_uncollectable); freed with GcFree.
void* GcAllocUncollectable(size_t bytes);
// Releases a block of any of the three kinds at once (GC_free); null is accepted.
void GcFree(void* block);
// Runs `cleanup(block, data)` when the collector reclaims `block`, ignoring pointers from the block to
// itself (GC_register_finalizer_ignore_self).
void GcRegisterCleanup(void* block, void (*cleanup)(void* block, void* data), void* data);
// A full collection now (tests; the collector otherwise decides when).
void GcCollect();
// True when the calling thread is registered with the collector.
bool GcThreadIsRegistered();

// An object in collectable memory that the collector scans; its destructor runs when the collector
// reclaims it (or at GcDelete).
template <typename T, typename... Args>
T* GcNew(Args&&... args) {
  void* p = GcAlloc(sizeof(T));
  T* object = ::new (p) T(std::forward<Args>(args)...);
  GcRegisterCleanup(
      p, [](void* block, void*) { static_cast<T*>(block)->~T(); }, nullptr);
  return object;
}

// An object in collectable memory that holds no pointer into GC memory and has nothing to clean up
// that the collector must run; the caller frees it with GcDelete.
template <typename T, typename... Args>
T* GcNewAtomic(Args&&... args) {
  return ::new (GcAllocAtomic(sizeof(T))) T(std::forward<Args>(args)...);
}

// An object the collector never reclaims; the caller frees it with GcDelete.
template <typename T, typename... Args>
T* GcNewUncollectable(Args&&... args) {
  return ::new (GcAllocUncollectable(sizeof(T))) T(std::forward<Args>(args)...);
}

// Destroys an object made by one of the three above and releases its memory now.
template <typename T>
void GcDelete(T* object) {
  if (object == nullptr) return;
  // The cleanup registered by GcNew must not run a second time on a freed block.
  GcRegisterCleanup(object, nullptr, nullptr);
  object->~T();
  GcFree(object);
}

// Registers the calling thread with the collector for the life of the scope, unless it already was
// (the main thread, or an enclosing scope); unregisters it at the end only when this scope did the
// registering. Starts the collector first when needed.
class Ext2GcThreadScope {
 public:
  Ext2GcThreadScope();
  ~Ext2GcThreadScope();
  Ext2GcThreadScope(const Ext2GcThreadScope&) = delete;
  Ext2GcThreadScope& operator=(const Ext2GcThreadScope&) = delete;
  bool RegisteredHere() const { return m_registered; }

 private:
  bool m_registered = false;
};

}  // namespace corvale::ext2gc
