#pragma once
// Names for the temporary copy of a file that is recovered to be previewed. One program-wide
// provider keeps the last name it gave out, so that the copy (and the .doc and .xls names a viewer
// may have needed) can be removed when the preview is done and when the program ends. Each name lies
// in a private folder (mode 0700) of its own, made new for it and removed with it.

#include <mutex>
#include <string>

class CTempPathNameSignle {
 public:
  static CTempPathNameSignle& GetInstance();

  // A new name "~@!XXXXXX.tmp" in a new private folder "corvale-preview-XXXXXX" of the temporary
  // folder ($TMPDIR, else /tmp). The name is reserved by
  // creating the file and then freed again, so the recovery can create it exclusively; the
  // variants of the previous name are removed first. Empty when no name could be made.
  std::string GetTempFileName();
  // Removes the kept name's .tmp, .doc and .xls variants, and its folder when that is then empty.
  void DeleteTempFiles();

  CTempPathNameSignle(const CTempPathNameSignle&) = delete;
  CTempPathNameSignle& operator=(const CTempPathNameSignle&) = delete;

 private:
  CTempPathNameSignle() = default;
  ~CTempPathNameSignle();
  void DeleteVariantsLocked(bool withFolder = true);

  std::mutex m_mutex;
  std::string m_name;    // ends in ".tmp"; empty while none was given out
  std::string m_folder;  // the private folder of m_name
};
