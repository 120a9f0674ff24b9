#pragma once
// The document analysers. A PDF is measured by a scan to its last end-of-file mark (one per saving
// when changes were appended), an RTF document by its brace depth and an HTML page by its closing
// tag; a compound file (Word, Excel, PowerPoint and the other formats stored in one) is sized from
// its allocation table and typed from the names of its first directory entries.

#include "raw/IRawFileAnalyser.h"

class CRawSectorReader;

// PDF documents, and Illustrator files (PDF documents that carry a PostScript header comment).
class FilePDFAnalyser : public IRawFileAnalyser {
 public:
  FilePDFAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;

  // How far past an end-of-file mark the walk looks for the start of an incremental update.
  static constexpr uint64_t kUpdateLookAhead = 64;

 private:
  // Whether an incremental update of the document (its objects, or a cross-reference section and
  // trailer) starts at `at`, after white space; `end` is where the device ends.
  static bool UpdateFollows(CRawSectorReader* reader, uint64_t at, uint64_t end);
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

// Word for DOS and Word 6 / 95 documents (and compound files, when this analyser comes first): the
// size is reckoned from header fields.
class FileLowDocAnalyser : public IRawFileAnalyser {
 public:
  FileLowDocAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// WordPerfect documents, graphics and presentations; the size is in the header.
class FileWPDAnalyser : public IRawFileAnalyser {
 public:
  FileWPDAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Outlook personal folders; the size is in the header.
class FilePSTAnalyser : public IRawFileAnalyser {
 public:
  FilePSTAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// OneNote sections; the size is in the header.
class FileONEAnalyser : public IRawFileAnalyser {
 public:
  FileONEAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Microsoft Money files: no length is told, a fixed size is given.
class FileMNYAnalyser : public IRawFileAnalyser {
 public:
  FileMNYAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
};

// Outlook Express mail folders; the size is in the header.
class FileDBXAnalyser : public IRawFileAnalyser {
 public:
  FileDBXAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Windows help files; the size is in the header.
class FileHLPAnalyser : public IRawFileAnalyser {
 public:
  FileHLPAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// HTML pages in UTF-16 (little-endian, with a byte-order mark): the page ends after its closing tag.
class FileUnicodeHTMAnalyser : public IRawFileAnalyser {
 public:
  FileUnicodeHTMAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;

  static constexpr uint64_t kScanLimit = 0x100000;
};

// Access databases (Jet and ACE): 4096-byte pages up to the first empty one.
class FileMDBAnalyser : public IRawFileAnalyser {
 public:
  FileMDBAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;

  static constexpr uint64_t kPage = 4096;
  static constexpr uint64_t kMaxSize = 0x6400000;
};
