#pragma once
// Conditions on one found file, decided from its properties: the file attributes against a mask,
// or the file's recovery state against a mask. A property that the file's properties do not mark as
// valid never passes.

#include <cstdint>

class IFileProperties;

class IFileFilter {
 public:
  virtual ~IFileFilter() = default;
  virtual bool Accept(const IFileProperties* properties) const = 0;
};

// Valid-property bits of IFileProperties::GetValidMask that the filters rely on.
inline constexpr uint32_t kValidAttributes = 0x04;
inline constexpr uint32_t kValidState = 0x40;

// Passes a file when one of the attribute bits 0x1 to 0x40, 0x400 or 0x800 is set both in the mask
// and in the file's attributes; a mask of -1 passes every file whose attributes are valid.
class CFileAttributeFilter : public IFileFilter {
 public:
  explicit CFileAttributeFilter(int32_t mask) : m_mask(mask) {}
  bool Accept(const IFileProperties* properties) const override;

 private:
  int32_t m_mask;
};

// Passes a file when one of the state bits 0x1, 0x2, 0x4 is set both in the mask and in the
// file's state word; a mask of -1 passes every file whose state is valid. Mask 7 keeps every file
// the engines found in a recoverable state (deleted files among them).
class CFileStateFilter : public IFileFilter {
 public:
  explicit CFileStateFilter(int32_t mask) : m_mask(mask) {}
  bool Accept(const IFileProperties* properties) const override;

 private:
  int32_t m_mask;
};
