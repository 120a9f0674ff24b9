#pragma once
// The files of a compressed disk image:
//   the descriptor (the file the user names, normally "*.kbi"): a 512-byte header, then the chunk
//     table, one uint32 per chunk giving the end of that chunk's data within its part file, counted
//     from the part's data start (the count starts again at 0 in every part);
//   the part files ("*.part%d.kbf"): 512 reserved zero bytes, then the compressed chunks of 256
//     source sectors back to back;
//   the part list ("*.kbp"): the full path of each part file on its own line, ending in CR LF.
//
// Header (little-endian):
//   0    256  source name, NUL-terminated (byte 255 is always 0)
//   256  4    sector size of the source (readers accept 512..4096 in steps of 512, else take 512)
//   260  4    compression type (1 bzip2, 2 zlib, 3 LZMA; anything else: chunks stored unchanged)
//   264  4    source disk number; 255 when the source is not a whole disk
//   268  4    number of part files
//   272  4    total number of chunks
//   276  232  chunk count of each part file, room for 58 parts
//   508  4    0 (read as the end of the chunk before the first one)
//
// Every write is checked: an image whose writing failed anywhere is never reported as made.
//
// The files of an image are made for a person, often in a folder that person owns, by a program
// running as root. Each one is created relative to its folder, opened through no link of another
// user (platform/FolderWalk.h), with O_CREAT | O_EXCL | O_NOFOLLOW: a file (or link) already
// standing under a member's name makes its creation fail, unless the user agreed to replace the
// image's files; then that entry is removed first, never written through. What is made belongs to
// the person it is for (platform/OutputOwner.h).

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FolderWalk.h"
#include "platform/HandleFile.h"

namespace corvale::image {

constexpr uint32_t kHeaderSize = 512;
constexpr uint32_t kSectorsPerChunk = 256;
constexpr uint32_t kMaxParts = 58;
constexpr int32_t kNotAWholeDisk = 255;
constexpr uint32_t kOffSourceName = 0;
constexpr uint32_t kSourceNameSize = 256;
constexpr uint32_t kOffSectorSize = 256;
constexpr uint32_t kOffCompressionType = 260;
constexpr uint32_t kOffDiskNumber = 264;
constexpr uint32_t kOffPartCount = 268;
constexpr uint32_t kOffTotalChunks = 272;
constexpr uint32_t kOffPartChunkCounts = 276;

// The largest stored chunk of a chunk of `rawBytes`: its size plus 0.2 %, what the writer's output
// buffer holds.
inline uint32_t StoredChunkCapacity(uint32_t rawBytes) { return rawBytes + rawBytes / 500; }

// Sector sizes a header may give: 512..4096 in steps of 512; anything else reads as 512.
inline bool IsValidImageSectorSize(int64_t size) { return size >= 512 && size <= 4096 && size % 512 == 0; }

// The part list's path: the descriptor path with the text after the last '.' of its file name
// replaced by "kbp", or ".kbp" appended when the file name has no '.'. A '.' in a folder name does
// not count, so the image's files always lie beside the descriptor.
std::string PartListPath(const std::string& descriptorPath);
// Part file `index`: the same rule with "part%d.kbf".
std::string PartFilePath(const std::string& descriptorPath, uint32_t index);
// True when `path` names part `index` of the image `descriptorPath` by the image's own naming: the
// name the writer gives that part, in the descriptor's own folder (the same folder, however the two
// paths reach it).
bool IsOwnPartPath(const std::string& descriptorPath, uint32_t index, const std::string& path);
// Opens `path` as part `index` of the image `descriptorPath`, with `flags` (O_RDONLY, or O_RDWR):
// its folder through no link of another user, the file itself not through a link, and only a
// regular file whose 512 reserved bytes are zero, as every part the writer makes begins. A part
// list may name any file, and the program reads as root: a file other than the image's own part
// file is taken only when the person the run works for could read it themselves
// (platform::RequestingUserMayRead). -1 otherwise, with the reason in *why when given.
int OpenPartFile(const std::string& descriptorPath, uint32_t index, const std::string& path, int flags,
                 std::string* why = nullptr);
// The names (without their folder) of the files an image at `descriptorPath` may consist of: the
// descriptor and the part list (unless `partsOnly`), and every part the header can count.
std::vector<std::string> MemberFileNames(const std::string& descriptorPath, bool partsOnly = false);

}  // namespace corvale::image

class CImageFile {
 public:
  // Which file ReadAt and WriteAt use.
  enum Which { kDescriptor = 0, kDataFile = 1 };

  CImageFile(const char* path, int length);
  explicit CImageFile(const std::string& path) : CImageFile(path.c_str(), static_cast<int>(path.size())) {}
  ~CImageFile();
  CImageFile(const CImageFile&) = delete;
  CImageFile& operator=(const CImageFile&) = delete;

  const std::string& GetPath() const { return m_path; }

  // Lets the creating opens (mode 3) replace a member of the image that is already there, as the
  // user agreed to; without it a member that exists makes its creation fail with EEXIST.
  void SetReplaceExisting(bool replace) { m_replace = replace; }
  // Removes every file this object created that still stands under the name it was made with.
  void RemoveCreatedFiles();
  // Removes the file created last, when it still stands under its name (a part that was made but
  // could not be listed).
  void RemoveLastCreatedFile();
  // Closes the descriptor, the part list and the open part; what was created is still known.
  void CloseFiles();

  // Opens the descriptor in a mode of CHandleFile; mode 3 (create) also writes the 512 zero bytes
  // of the header.
  bool OpenDescriptor(int mode);
  bool WriteHeader(const char* name, int32_t diskNumber, int32_t compressionType, int32_t sectorSize);
  // Records a closed part: the part count becomes `parts`, the total grows by `chunksInPart` and the
  // count of part (old part count) is `chunksInPart`. Refuses a part beyond the header's 58.
  bool WriteTotals(uint32_t parts, uint32_t chunksInPart);

  bool OpenPartList(int mode);
  // Opens part `index`. Reading (mode 0) finds its path in the part list, or, when the file listed
  // is gone, a file of the same name beside the descriptor (an image that was moved as a whole);
  // creating (mode 3) makes the file named after the descriptor, or at `createPath` when one is
  // given (the rest of an image written to another disk), and writes its 512 reserved bytes.
  bool OpenPart(int32_t index, int mode, const std::string& createPath = std::string());
  void CloseDataFile();
  int32_t GetOpenPart() const { return m_openPart; }
  // The path that OpenPart uses for part `index` when reading: the part list's line, or the file of
  // that name beside the descriptor when the listed one is gone. Without a line for the part (or
  // without a part list), and with `byNameToo`, the file named after the descriptor when it
  // exists; else empty.
  std::string FindPartPath(int32_t index, bool byNameToo = true);
  // Appends one line to the part list.
  bool AddToPartList(const std::string& partPath);
  // fdatasync of the part list.
  bool FlushPartList();

  // The data offset of chunk `chunk` within its part file and, in *length, its stored length; -1
  // when the descriptor is not open, the chunk lies beyond the header's parts, or its table entries
  // cannot be read or run backwards. The first chunk of each part (known from the per-part counts)
  // starts at 0.
  int64_t GetChunkLocation(uint32_t chunk, uint32_t* length);

  bool ReadAt(void* buffer, uint64_t offset, uint32_t length, Which which);
  bool WriteAt(const void* buffer, uint64_t offset, uint32_t length, Which which);
  // fdatasync of the file: a full disk shows here at the latest.
  bool Flush(Which which);

  // Header readers over the open descriptor.
  int32_t GetSectorSize();
  int32_t GetCompressionType();
  int32_t GetSourceDiskNumber();
  bool GetSourceName(char* buffer260);
  uint32_t GetPartCount();
  uint32_t GetTotalChunks();
  bool GetPartChunkCounts(uint32_t* buffer, uint32_t bytes);
  // The descriptor's size in bytes; 0 when it cannot be read.
  uint64_t GetDescriptorSize() const;
  uint64_t GetDataFileSize() const;

  // The errno of the last failed file operation and what was being done, for messages.
  int LastErrno() const { return m_errno; }
  // The last failure as a text: why a folder was refused, or the errno's text.
  std::string LastErrorText() const;

 private:
  // Creates the member at `path` as described above, open in `file`.
  bool CreateMember(const std::string& path, CHandleFile& file);
  bool ReadHeaderU32(uint32_t offset, uint32_t* value);

  // A file made here: its folder, its name there and which file it was.
  struct Created {
    platform::UniqueFd folder;
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
  };
  CHandleFile& File(Which which) { return which == kDescriptor ? m_descriptor : m_data; }

  CHandleFile m_data;
  CHandleFile m_descriptor;
  CHandleFile m_partList;
  std::string m_path;
  int32_t m_openPart = -1;
  int32_t m_sectorSize = -1;
  int m_errno = 0;
  std::string m_problem;  // why the last creation was refused, when not an errno alone
  bool m_replace = false;
  bool m_ownerWarned = false;
  std::vector<Created> m_created;
  // The first chunk of each part, read from the header on the first look-up.
  std::vector<uint64_t> m_partStarts;
};
