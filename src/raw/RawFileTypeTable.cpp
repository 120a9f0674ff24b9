#include "raw/RawFileTypeTable.h"

#include <algorithm>
#include <cstring>

namespace {

struct BuiltInRow {
  const char* extension;
  const char* description;
};

// Rows 0..73. The ids are what users' saved states and settings hold, so the order is fixed even
// where it is not alphabetical (MID before MDB, the Office XML types after ZIP).
constexpr BuiltInRow kBuiltIn[kLastBuiltInRawFileType + 1] = {
    {"Raw", "Raw"},
    {"3DS", "3DS file"},
    {"3GP", "3GP Multimedia file"},
    {"ADP", "Access Project file"},
    {"ANI", "ANI file"},
    {"AI", "Adobe Illustrator file"},
    {"ASF", "Audio Streaming Format file"},
    {"AU", "AU file"},
    {"AVI", "Audio Video Interleave file"},
    {"BMP", "Bitmap file"},
    {"CAB", "Cabinet file"},
    {"CDR", "COREL Darw file"},
    {"CHM", "CHM file"},
    {"CLK", "Corel Draw Corel RAVE Image file"},
    {"CMX", "Corel Draw Vector Image file"},
    {"CPT", "Corel Photo Paint Image file"},
    {"CRW", "Canon Raw graphics file"},
    {"CSL", "CSL file"},
    {"CUR", "Cursor file"},
    {"DBX", "Outlook Express Email file"},
    {"DLL", "DLL file"},
    {"DOC", "Microsoft Word Document"},
    {"DWG", "AutoCAD Drawing file"},
    {"DXF", "AutoCad DX File"},
    {"EMF", "Enhanced Metafile"},
    {"EPS", "Encapsulated Postscript file"},
    {"EXE", "EXE file"},
    {"FH11", "Freehand 10 file"},
    {"GIF", "GIF graphics file"},
    {"GZ", "GZIP compression file"},
    {"HLP", "Help file"},
    {"HTM", "HTML Documents file"},
    {"ICO", "Icon file"},
    {"JPG", "JPEG Graphics file"},
    {"LZH", "LZH compression file"},
    {"MAX", "3d Studio Max file"},
    {"MID", "Musical Instrument Digital Interface file"},
    {"MDB", "Access Database file"},
    {"MNY", "Microsoft Money file"},
    {"MOF", "MOF file"},
    {"MOV", "MOV Multimedia file"},
    {"MP3", "MP3 Music file"},
    {"MP4", "MP4 Multimedia file"},
    {"MPP", "Microsoft Project file"},
    {"OLE", "Compound file"},
    {"ONE", "Microsoft OneNote file"},
    {"PDF", "Adobe Portable Document"},
    {"PNG", "Portable Network Graphic file"},
    {"PPT", "Microsoft PowerPoint Presentation file"},
    {"PUB", "Microsoft Publisher Document"},
    {"PSD", "Adobe Photoshop file"},
    {"PSP", "Paint Shop Pro file"},
    {"PST", "Outlook Email file"},
    {"QPW", "QuattroPro 7 File"},
    {"RAR", "RAR compression file"},
    {"RIFF", "RIFF Multimedia file"},
    {"RTF", "Rich Text Document"},
    {"SHW", "Corel Presentation File"},
    {"SWF", "ShockWave Flash file"},
    {"TAR", "TAR archive file"},
    {"TIF", "Tagged Image File"},
    {"TTF", "True Type Font file"},
    {"VSD", "Microsoft Visio Drawing"},
    {"WAV", "WAVE Multimedia file"},
    {"WPD", "WordPerfect file"},
    {"WPG", "WordPerfect Documents and Graphics v8"},
    {"WMF", "WMF Multimedia file"},
    {"XLS", "Microsoft Excel XML Documents"},
    {"ZIP", "Zip compression file"},
    {"DOCX", "Microsoft DOCX file"},
    {"XLSX", "Microsoft XLSX file"},
    {"PPTX", "Microsoft PPTX file"},
    {"ACCDB", "Microsoft ACCDB file"},
    {"NEF", "Nikon NEF file"},
};

void CopyCut(char* to, size_t capacity, const char* from) {
  const size_t n = std::min(std::strlen(from), capacity - 1);
  std::memcpy(to, from, n);
  to[n] = '\0';
}

}  // namespace

RawFileTypeTable& GetRawFileTypeTable() {
  static RawFileTypeTable table{};
  static const bool filled = [] {
    for (int32_t id = 0; id <= kLastBuiltInRawFileType; ++id) {
      CopyCut(table.Extensions[id], kRawExtensionChars, kBuiltIn[id].extension);
      CopyCut(table.Descriptions[id], kRawDescriptionChars, kBuiltIn[id].description);
    }
    return true;
  }();
  (void)filled;
  return table;
}

const char* GetRawFileExtension(int32_t id) {
  return IsRawFileTypeIdInTable(id) ? GetRawFileTypeTable().Extensions[id] : "";
}

const char* GetRawFileDescription(int32_t id) {
  return IsRawFileTypeIdInTable(id) ? GetRawFileTypeTable().Descriptions[id] : "";
}
