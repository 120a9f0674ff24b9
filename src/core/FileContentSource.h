#pragma once
// Data of a found file that only the engine that found it can produce: bytes kept inside a
// file-system record rather than in clusters, the key stream of an encrypted file, and the expansion
// of a compressed unit. A properties object whose engine has such data implements this beside
// IFileProperties (the NTFS properties do); the recovery output asks for it with dynamic_cast, and
// without it cannot recover a file that needs it.

#include <cstddef>
#include <cstdint>

class CFileNode;
class IStorageDevice;

class IFileContentSource {
 public:
  virtual ~IFileContentSource() = default;

  // Copies the data kept inside the file's record into `buffer` (at most `capacity` bytes) and sets
  // *outSize. False when the data is not kept there, does not fit or cannot be read.
  virtual bool ReadResidentData(CFileNode* node, IStorageDevice* device, uint8_t* buffer, uint32_t capacity,
                                uint32_t* outSize) = 0;

  // Copies the stream that holds an encrypted file's keys ($EFS) into `buffer` (at most `capacity`
  // bytes) and sets *outSize. False when the file has none or it is inconsistent.
  virtual bool ReadEfsStream(CFileNode* node, IStorageDevice* device, uint8_t* buffer, uint32_t capacity,
                             uint32_t* outSize) = 0;

  // Expands one compression unit of a compressed file. `input` holds the unit's stored clusters
  // (`inputSize` bytes); exactly `outputSize` bytes of the unit's content go to `output` (the unit
  // cut to the bytes still due; content the stored data does not reach is zeros). False when the
  // unit cannot be expanded.
  virtual bool DecompressUnit(const uint8_t* input, size_t inputSize, uint8_t* output, size_t outputSize) = 0;
};
