#pragma once
// The document analysers. A PDF is measured by a scan to its end-of-file mark, an RTF document by
// its brace depth and an HTML page by its closing tag; a compound file (Word, Excel, PowerPoint and
// the other formats stored in one) is sized from its allocation table and typed from the names of
// its first directory entries.

#include "raw/IRawFileAnalyser.h"

// PDF documents, and Illustrator files (PDF documents that carry a PostScript header comment).
class FilePDFAnalyser : public IRawFileAnalyser {
 public:
  FilePDFAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Rich Text Format documents: the file ends where the outermost group closes.
class FileRTFAnalyser : public IRawFileAnalyser {
 public:
  FileRTFAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
};

// HTML pages in a single-byte or UTF-8 encoding: the page ends after its closing tag.
class FileHTMAnalyser : public IRawFileAnalyser {
 public:
  FileHTMAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;

  static constexpr uint64_t kTrailerLimit = 0x100000;
};

// Compound files: the size follows from the last used entry of the last allocation-table sector;
// the stream names of the first directory sector tell the application that wrote the file.
class FileOLEAnalyser : public IRawFileAnalyser {
 public:
  FileOLEAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;

  static constexpr uint64_t kUnit = 512;
  // Reads `count` 512-byte units, from unit `unit` of the file that starts at device sector
  // `fileStart`, into `buffer`, whatever the device's sector size. False when any of them lies past
  // the device's end or the read fails.
  static bool ReadCompoundSectors(uint8_t* buffer, uint64_t fileStart, uint64_t unit, uint64_t count,
                                  IStorageDevice* device);
};
