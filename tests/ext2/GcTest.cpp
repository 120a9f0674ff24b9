// The collector under the engine's allocations: threads register for as long as they allocate,
// objects reachable from a registered stack or from collector memory survive collections made by any
// thread, clean-up functions run for unreachable objects, and the file systems several threads open
// at once allocate their descriptor searches from it. All of it under the test build's sanitizers,
// with none of their checks disabled.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Ext2TestSupport.h"
#include "ext2/GcAlloc.h"
#include "ext2/InodeIterator.h"

using namespace corvale::ext2gc;
using namespace ext2test;

namespace {

std::atomic<int> g_cleaned{0};

struct Tracked {
  explicit Tracked(int v) : value(v) {}
  ~Tracked() { g_cleaned++; }
  int value;
  Tracked* next = nullptr;  // collector memory, scanned
};

TEST(Ext2Gc, ThreadScopesRegisterOnlyThreadsThatAreNot) {
  // The main thread was registered when the collector started.
  EXPECT_TRUE(GcThreadIsRegistered());
  {
    Ext2GcThreadScope scope;
    EXPECT_FALSE(scope.RegisteredHere());
  }
  EXPECT_TRUE(GcThreadIsRegistered());
  bool before = true, inside = false, nested = true, after = true;
  std::thread worker([&] {
    before = GcThreadIsRegistered();
    {
      Ext2GcThreadScope scope;
      inside = GcThreadIsRegistered() && scope.RegisteredHere();
      Ext2GcThreadScope inner;
      nested = inner.RegisteredHere();
    }
    after = GcThreadIsRegistered();
  });
  worker.join();
  EXPECT_FALSE(before);
  EXPECT_TRUE(inside);
  EXPECT_FALSE(nested);
  EXPECT_FALSE(after);
}

// Made in a frame of its own, so no pointer to them stays on the stack.
__attribute__((noinline)) void MakeGarbage(int count) {
  for (int i = 0; i < count; ++i) GcNew<Tracked>(i);
}

TEST(Ext2Gc, CleanupRunsForUnreachableObjectsOnly) {
  Tracked* kept = GcNew<Tracked>(42);
  for (int i = 0; i < 100; ++i) {
    Tracked* t = GcNew<Tracked>(i);
    t->next = kept->next;
    kept->next = t;
  }
  const int before = g_cleaned.load();
  MakeGarbage(2000);
  for (int i = 0; i < 3; ++i) GcCollect();
  EXPECT_GT(g_cleaned.load() - before, 0);
  // The chain reachable from `kept` is whole.
  int count = 0;
  for (Tracked* t = kept->next; t != nullptr; t = t->next) EXPECT_EQ(99 - count++, t->value);
  EXPECT_EQ(100, count);
  EXPECT_EQ(42, kept->value);
  const int cleanedBefore = g_cleaned.load();
  GcDelete(kept);
  EXPECT_EQ(cleanedBefore + 1, g_cleaned.load());
}

// Four threads build and check chains of collectable objects, keep buffers of disk bytes and files in
// collector memory, and force collections, all at once.
TEST(Ext2Gc, SeveralAllocatingThreadsRunClean) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      Ext2GcThreadScope scope;
      Tracked* head = nullptr;
      for (int i = 0; i < 3000; ++i) {
        Tracked* n = GcNew<Tracked>(t * 100000 + i);
        n->next = head;
        head = n;
        auto* buffer = static_cast<uint8_t*>(GcAllocAtomic(4096));
        buffer[0] = static_cast<uint8_t>(i);
        buffer[4095] = static_cast<uint8_t>(i);
        if (buffer[0] != buffer[4095]) failures++;
        if (i % 3 == 0) GcFree(buffer);
        uint8_t inode[128] = {};
        inode[0] = static_cast<uint8_t>(i);
        CExt2File* file = GcNewUncollectable<CExt2File>(nullptr, inode, static_cast<uint32_t>(i));
        if (file->GetInodeNumber() != static_cast<uint32_t>(i) || file->GetInode().bytes[0] != inode[0])
          failures++;
        GcDelete(file);
        if (i % 500 == 0) GcCollect();
      }
      int expected = t * 100000 + 2999;
      for (Tracked* n = head; n != nullptr; n = n->next)
        if (n->value != expected--) failures++;
      if (expected != t * 100000 - 1) failures++;
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(0, failures.load());
}

// File systems opened and scanned on several threads at once, each thread allocating the per-inode
// files from the collector as the directory build does.
TEST(Ext2Gc, FileSystemsOpenedOnSeveralThreads) {
  EXT2_IMAGE(path, kTree1k);
  std::atomic<int> failures{0};
  std::atomic<uint64_t> inUse{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      Ext2GcThreadScope scope;
      PaddedImageDevice device(path);
      try {
        CExt2FileSystem fs(&device, 2);
        CExt2File* file = nullptr;
        for (CExt2InodeIterator it = fs.InodesBegin(), end = fs.InodesEnd(); !(it == end); ++it) {
          GcDelete(file);
          file = GcNewUncollectable<CExt2File>(&fs, it.Get(), static_cast<uint32_t>(it.GetInodeNumber()));
          if (file->IsInUse()) inUse++;
          if (it.GetInodeNumber() % 4000 == 0) GcCollect();
        }
        GcDelete(file);
      } catch (const std::exception&) {
        failures++;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(0, failures.load());
  EXPECT_EQ(0u, inUse.load() % 4);
  EXPECT_GT(inUse.load(), 4u * 600);
}

}  // namespace
