#include "core/BuiltInFileTypes.h"

#include <iterator>

namespace {

// Indexed by type id. Not sorted: ids were handed out as types were added (MID before MDB, the
// Office XML types after ZIP).
constexpr const char* kExtensions[] = {
    "Raw", "3DS",  "3GP", "ADP",  "ANI",  "AI",   "ASF",  "AU",    "AVI", "BMP", "CAB", "CDR", "CHM",
    "CLK", "CMX",  "CPT", "CRW",  "CSL",  "CUR",  "DBX",  "DLL",   "DOC", "DWG", "DXF", "EMF", "EPS",
    "EXE", "FH11", "GIF", "GZ",   "HLP",  "HTM",  "ICO",  "JPG",   "LZH", "MAX", "MID", "MDB", "MNY",
    "MOF", "MOV",  "MP3", "MP4",  "MPP",  "OLE",  "ONE",  "PDF",   "PNG", "PPT", "PUB", "PSD", "PSP",
    "PST", "QPW",  "RAR", "RIFF", "RTF",  "SHW",  "SWF",  "TAR",   "TIF", "TTF", "VSD", "WAV", "WPD",
    "WPG", "WMF",  "XLS", "ZIP",  "DOCX", "XLSX", "PPTX", "ACCDB", "NEF"};
static_assert(std::size(kExtensions) == kLastBuiltInFileType + 1);

}  // namespace

const char* GetBuiltInFileTypeExtension(int32_t id) {
  if (id < kRawFileTypeId || id > kLastBuiltInFileType) return "";
  return kExtensions[id];
}
