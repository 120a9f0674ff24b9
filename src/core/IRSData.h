#pragma once
// The recovery-state stream: everything a saved scan holds goes through it into a state file made
// of a 132-byte header and GUID-tagged sections. Errors are thrown as IRSException.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// A GUID in its binary (on-disk) form.
struct RSGuid {
  std::array<uint8_t, 16> bytes{};
  bool operator==(const RSGuid&) const = default;
  // From the text form "{1CB3F4EA-4305-4AB6-B4B8-244A33D913BB}" (braces optional): the first three
  // groups are stored little-endian, the last two byte by byte, as the platform's GUID layout does.
  static RSGuid FromString(const char* text);
};

class IRSException {
 public:
  virtual ~IRSException() = default;
  virtual int32_t GetCode() const = 0;
};

class IRSData {
 public:
  virtual ~IRSData() = default;
  virtual bool IsValidFile() = 0;
  virtual bool Open(const std::string& path, int create) = 0;
  virtual void Close() = 0;
  virtual void WriteHeader(const uint8_t header[132]) = 0;
  virtual bool ReadHeader(uint8_t header[132]) = 0;
  virtual int32_t GetStatus() = 0;
  virtual void SetStatus(int32_t status) = 0;
  virtual void SetResultText(const char* text) = 0;
  virtual void GetResultText(char* buffer, size_t size) = 0;
  virtual bool BeginSection(const RSGuid& guid) = 0;
  virtual void EndSection() = 0;
  virtual uint32_t GetSectionLength() = 0;
  // Reads up to n bytes of the open section; returns the bytes delivered (fewer only at its end).
  virtual size_t Read(void* buffer, size_t n) = 0;
  virtual void Write(const void* buffer, size_t n) = 0;
  virtual void Flush() = 0;
};
