#pragma once
// A thin owner of one open file descriptor. Every operation on a closed file returns 0 (false)
// unless said otherwise.
//
// Open modes:
//   0 read, the file must exist            3 read-write, created or truncated
//   1 write, the file must exist           4 read-write, created when missing, kept when present
//   2 read-write, the file must exist      any other value: refused, the file stays closed
// CreateNew is separate from the modes: it creates a file that does not exist yet and fails when the
// name is taken, so a recovered file can never replace a file that is already there.
//
// New files get mode 0666 less the umask. Folders are refused in every mode. The modes that create
// (3 and 4) refuse a name that is a link, as CreateNew does: a file is never made or emptied
// through a link. Files that a person's data goes into are made relative to an opened folder
// (platform/FolderWalk.h) and handed over with Adopt.

#include <cstddef>
#include <cstdint>
#include <string>

class CHandleFile {
 public:
  CHandleFile() = default;
  // Opens at once; IsOpen tells whether it worked.
  CHandleFile(const std::string& path, int mode);
  ~CHandleFile();
  CHandleFile(const CHandleFile&) = delete;
  CHandleFile& operator=(const CHandleFile&) = delete;
  CHandleFile(CHandleFile&& other) noexcept;
  CHandleFile& operator=(CHandleFile&& other) noexcept;

  // Closes any open file first. Returns whether the file is now open.
  bool Open(const std::string& path, int mode);
  // Creates `path` read-write only when no file (or link, or anything else) of that name exists.
  // On failure LastError() is EEXIST when the name was taken.
  bool CreateNew(const std::string& path);
  // Takes over the open descriptor `fd` (closing any open file first); false for -1.
  bool Adopt(int fd);
  bool IsOpen() const { return m_fd != -1; }
  void Close();

  // Reads up to n bytes at the current position; returns the count read (short only at the end of
  // the file or on an error).
  size_t Read(void* buffer, size_t n);
  // True only when all n bytes were written.
  bool Write(const void* buffer, size_t n);
  // Writes the n bytes of `text`, then CR LF unless the text already ends with CR LF. n = 0 succeeds
  // at once, without writing. True when everything was written.
  bool WriteLine(const char* text, size_t n);
  // Reads one byte at a time, at most n bytes, stopping after a line feed (which is kept), and ends
  // the text with a 0 byte: `buffer` must hold n + 1 bytes. Returns the bytes read; 0 at the end of
  // the file.
  size_t ReadLine(char* buffer, size_t n);

  // Moves to byte `offset` from the beginning.
  bool Seek(uint64_t offset);
  bool SeekToBegin();
  bool SeekToEnd();
  // The current position; all ones when it cannot be read (or the file is closed).
  uint64_t GetPosition() const;
  bool GetSize(uint64_t* size) const;

  // The descriptor, -1 when closed: for the calls this wrapper does not cover (setting the file
  // times, flushing to disk). It stays owned by the wrapper.
  int GetDescriptor() const { return m_fd; }
  // The errno of the last operation that failed.
  int LastError() const { return m_lastError; }

 private:
  bool OpenWithFlags(const std::string& path, int flags);

  int m_fd = -1;
  mutable int m_lastError = 0;
};
