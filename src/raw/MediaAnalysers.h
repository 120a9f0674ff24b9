#pragma once
// The sound, video and animation analysers. An MP3 stream is measured by following its MPEG audio
// frames from the end of its ID3v2 tag; MP4, 3GP and QuickTime files by their top-level boxes; ASF
// files by their three top-level objects; MIDI files by their track chunks. RIFF forms (WAV, AVI,
// animated cursors, Corel files), AU sounds and Flash movies carry their length in the header.

#include <string>

#include "raw/IRawFileAnalyser.h"

class CRawSectorReader;

// The fields of one MPEG audio frame header (MPEG 1, 2 and 2.5, Layers I to III).
struct MpegFrameHeader {
  bool lowSamplingFrequency = false;  // MPEG 2 or 2.5
  uint32_t versionIndex = 0;          // 0 MPEG 2.5, 2 MPEG 2, 3 MPEG 1
  uint32_t layer = 0;                 // 1 to 3
  uint32_t channelMode = 0;           // 3 is mono
  uint32_t emphasis = 0;
  uint32_t samplingRate = 0;  // Hz
  uint32_t bitRate = 0;       // bit/s
  uint32_t padding = 0;
};

// MP3 files that begin with an ID3v2.3 or v2.4 tag. The tag's title and year become the file's two
// texts.
class FileMP3Analyser : public IRawFileAnalyser {
 public:
  FileMP3Analyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  std::string GetFirstInfoText() override { return m_title; }
  std::string GetSecondInfoText() override { return m_year; }
  RawLeadBytes GetLeadBytes() const override;

  // The frame header in the 4 bytes at `bytes`; false for the reserved and forbidden values.
  bool ParseFrameHeader(const uint8_t* bytes);
  // The length in bytes of the frame last parsed.
  unsigned GetFrameLength() const;
  const MpegFrameHeader& Frame() const { return m_frame; }

  // A 28-bit size in four 7-bit bytes, the first the most significant; false when a byte has its
  // top bit set.
  static bool ReadSyncsafeSize(const uint8_t* bytes, uint32_t* out);
  // The text of an ID3v2 text frame (`length` bytes, the encoding byte first) as UTF-8, at most
  // `capacity` - 1 bytes; encoding 2 (UTF-16 big-endian) leaves `out` as it is.
  static void DecodeId3Text(const uint8_t* body, size_t length, std::string* out, size_t capacity);

  static constexpr size_t kTextCapacity = 260;
  static constexpr uint64_t kMaxGap = 0x10000;

 private:
  // Whether a frame of the stream of the frame last parsed begins at `at`; the frame last parsed
  // stays the same.
  bool NextFrameFollows(CRawSectorReader* reader, uint64_t at);

  MpegFrameHeader m_frame;
  std::string m_title;
  std::string m_year;
};

// MP4 files (brands isom, mp42, M4V): the top-level boxes.
class FileMP4Analyser : public IRawFileAnalyser {
 public:
  FileMP4Analyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
};

// 3GPP and 3GPP2 files (brands 3gp4, 3g2a): the top-level boxes.
class File3GPAnalyser : public IRawFileAnalyser {
 public:
  File3GPAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
};

// QuickTime movies: every file with a file-type box whose brand the MP4 and 3GP analysers do not
// take; the top-level atoms.
class FileMOVAnalyser : public IRawFileAnalyser {
 public:
  FileMOVAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
};

// RIFF files; the form type and first chunk tell WAV, AVI, ANI and the Corel formats apart. The
// size is in the header.
class FileRIFFAnalyser : public IRawFileAnalyser {
 public:
  FileRIFFAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Windows Media (ASF) files: header, data and index objects.
class FileASFAnalyser : public IRawFileAnalyser {
 public:
  FileASFAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Standard MIDI files: the header chunk, then track chunks.
class FileMIDAnalyser : public IRawFileAnalyser {
 public:
  FileMIDAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Sun/NeXT AU sounds; the size is the header's data offset and data size.
class FileAUAnalyser : public IRawFileAnalyser {
 public:
  FileAUAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};

// Flash movies, plain and compressed; the size is the header's file length.
class FileSWFAnalyser : public IRawFileAnalyser {
 public:
  FileSWFAnalyser();
  bool IsFileHeader(const uint8_t* sector, CRawFileInfo* file) override;
  RawLeadBytes GetLeadBytes() const override;
};
