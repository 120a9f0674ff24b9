#pragma once
// The forward reader of every length walk, the size limit the walks share, and the hook through
// which long walks keep a user-interface thread responsive.
//
// CRawSectorReader reads a file from its start sector in windows of 128 sectors. Each read takes one
// sector more than the window, so a record that starts near the window's end can be read whole from
// the same read. It never reads past the device's last sector, and every answer is a bounds-knowing
// view: a request that runs past the data that could be read answers empty, never stale bytes.
//
// Each reader has its own buffer: a reader's answers stay valid until that reader reads again,
// whatever other readers do meanwhile.

#include <cstdint>
#include <memory>

#include "storage/ByteReader.h"

class IStorageDevice;

class CRawSectorReader {
 public:
  static constexpr uint64_t kWindowSectors = 128;

  // `deviceSectors` is the sector count of the device the file lies on; 0 takes the device's own
  // count. A view over a device (the carver's look-ahead ring) passes the full device's count, since
  // the view itself counts only the sectors it holds.
  CRawSectorReader(IStorageDevice* device, uint64_t startSector, uint64_t deviceSectors = 0);

  // The bytes from `byteOffset` (counted from the file's start) to the end of the data read with
  // the window holding that offset: at least one sector unless the device ends sooner. Empty when
  // the offset is past the device's end or the read fails.
  corvale::ByteReader ReadAt(uint64_t byteOffset);
  // Exactly `length` bytes at `byteOffset`, reading again when the current window does not hold them
  // whole; empty when they cannot all be read (past the device end, a failed read, or a length
  // beyond kMaxSpanBytes).
  corvale::ByteReader Read(uint64_t byteOffset, uint64_t length);

  // Bytes from the file's start to the device's end: no size may exceed it.
  uint64_t BytesToDeviceEnd() const { return m_bytesToEnd; }
  uint32_t SectorSize() const { return m_sectorSize; }
  uint64_t WindowBytes() const { return m_windowBytes; }
  // Device reads made so far (for tests and benchmarks).
  uint64_t ReadCount() const { return m_reads; }

  static constexpr uint64_t kMaxSpanBytes = 1u << 20;

 private:
  // Loads `sectors` sectors from file sector `firstSector` (relative to the start); false when not
  // even the first could be read.
  bool Load(uint64_t firstSector, uint64_t sectors);

  IStorageDevice* m_device;
  uint64_t m_startSector;
  uint64_t m_deviceSectors = 0;
  uint32_t m_sectorSize = 512;
  uint64_t m_windowBytes = kWindowSectors * 512;
  uint64_t m_bytesToEnd = 0;

  std::unique_ptr<uint8_t[]> m_buffer;
  uint64_t m_capacity = 0;
  bool m_held = false;
  uint64_t m_heldStart = 0;   // byte offset of the buffer's first byte, from the file's start
  uint64_t m_heldBytes = 0;   // valid bytes in the buffer
  uint64_t m_heldWindow = 0;  // the window the buffer was read for
  uint64_t m_reads = 0;
};

namespace corvale {

// Called by long walks every 10 steps on the thread that set it, to handle pending user-interface
// events; walks on other threads call nothing. A hook never waits.
using RawWalkPumpHook = void (*)();
void SetRawWalkPumpHook(RawWalkPumpHook hook);

// Counts one walk's steps and calls the calling thread's hook at steps 0, 10, 20 ...
class RawWalkPump {
 public:
  void Step();
  // `n` steps at once (a scan over a window's bytes): the hook is called once when the single steps
  // would have called it at least once, so a scan pumps once per window it crosses.
  void Steps(uint64_t n);

 private:
  uint64_t m_steps = 0;
};

// The length past which a walk stops growing a file: the maximum RAW file size when it is below
// 2^32 bytes, otherwise no limit (UINT64_MAX).
uint64_t RawWalkLimit();

// The size a carved file may be given at most: the maximum RAW file size (when positive) and the
// bytes from the file's start to the device's end, whichever is smaller.
uint64_t CapRawFileSize(uint64_t size, uint64_t bytesToDeviceEnd);

}  // namespace corvale
