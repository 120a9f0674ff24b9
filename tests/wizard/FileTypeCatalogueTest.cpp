// The file-type catalogue read from FileFilter.xml, the reader under it, and the set of wanted
// extensions built from the user's ticks; the shipped catalogue against the RAW types; and what a
// broken or hostile catalogue file gives.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/BuiltInFileTypes.h"
#include "platform/FileTypeExtensionSet.h"
#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "support/Fixtures.h"
#include "wizard/controller/MapFileTypeInfo.h"
#include "wizard/controller/MarkupMSXML.h"

namespace {

std::string WriteFile(const std::string& name, const std::string& text) {
  const std::string path = corvale::test::ScratchDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

const FILE_TYPE_RECORD& Record(const CMapFileTypeInfo& catalogue, int32_t id) {
  static const FILE_TYPE_RECORD none;
  const FILE_TYPE_RECORD* record = catalogue.FindType(id);
  EXPECT_NE(record, nullptr) << id;
  return record ? *record : none;
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

}  // namespace

TEST(MarkupReader, ChildSearchKeepsItsPlaceAfterAFailedSearch) {
  CMarkupMSXML markup;
  ASSERT_TRUE(markup.SetXmlText(
      "<T "
      "a='1'><Selected>1</Selected><Extention>.a</Extention><Extention>.b</Extention><Selected>2</Selected>"
      "</T>"));
  EXPECT_EQ(markup.GetAttribute("a"), "") << "no current element yet";
  std::vector<std::string> extensions;
  while (markup.FindNextChildElement("Extention")) extensions.push_back(markup.GetChildText());
  EXPECT_EQ(extensions, (std::vector<std::string>{".a", ".b"}));
  EXPECT_EQ(markup.GetAttribute("a"), "1");
  ASSERT_TRUE(markup.FindNextChildElement("Selected"));
  EXPECT_EQ(markup.GetChildText(), "2") << "only a Selected after the extensions is found";
  EXPECT_FALSE(markup.FindNextChildElement("Selected"));
  EXPECT_EQ(markup.GetChildText(), "2") << "a failed search leaves the child where it was";
  EXPECT_EQ(markup.GetChildMarkup(), "<Selected>2</Selected>");
  EXPECT_FALSE(markup.FindNextElement("T")) << "one document element";
}

TEST(MarkupReader, EmptyTextIsAnEmptyDocumentAndBrokenTextGivesAnErrorElement) {
  CMarkupMSXML markup;
  EXPECT_TRUE(markup.SetXmlText(""));
  EXPECT_FALSE(markup.FindNextElement(nullptr));
  EXPECT_FALSE(markup.FindNextChildElement(nullptr));
  EXPECT_EQ(markup.GetChildMarkup(), "");

  EXPECT_FALSE(markup.SetXmlText("<a><b></a>"));
  const std::string& error = markup.GetError();
  EXPECT_EQ(error.rfind("<error msg=\"", 0), 0u) << error;
  EXPECT_NE(error.find(" line=\""), std::string::npos) << error;
  EXPECT_NE(error.find(" linepos=\""), std::string::npos) << error;
  EXPECT_NE(markup.GetErrorReason().find("(line 1, column "), std::string::npos) << markup.GetErrorReason();
  EXPECT_FALSE(markup.FindNextElement(nullptr)) << "nothing of a broken text is kept";
}

TEST(FileTypeCatalogue, IdsStayDenseAndFieldsAreReadAsTheLayoutSays) {
  std::string many;
  for (int i = 0; i < 35; ++i) many += "<Extention>.x" + std::to_string(i) + "</Extention>";
  const std::string path = WriteFile("catalogue.xml", R"(<?xml version="1.0"?>
<Root RootName="All types" Selected="1" iconIndex="3" IsMutex="1">
  <FileCategory Description="" Label="skipped whole"><FileType Description="Lost"><Extention>.lost</Extention></FileType></FileCategory>
  <FileCategory Description="Pictures" Label="Photos" iconIndex="4" IsMutex="0" ShowComment="Comment text">
    <Selected>2</Selected>
    <FileType Description=""><Extention>.JPG</Extention><Extention></Extention><Extention>.toolong1</Extention><Selected>2</Selected></FileType>
    <FileType Description="No extension"><Selected>2</Selected></FileType>
    <FileType Description="Ticked too early"><Selected>2</Selected><Extention>.png</Extention></FileType>
  </FileCategory>
  <FileCategory Description="Other" IsMutex="1" iconIndex="x">
    <FileType Description="Many">)" + many + R"(</FileType>
  </FileCategory>
</Root>)");
  CMapFileTypeInfo catalogue;
  ASSERT_EQ(catalogue.LoadFromXml(path), 0) << catalogue.GetLoadError();
  EXPECT_EQ(catalogue.GetTypeIds(), (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));

  const FILE_TYPE_RECORD& root = Record(catalogue, 0);
  EXPECT_EQ(root.description, "All types");
  EXPECT_EQ(root.checkState, 1);
  EXPECT_EQ(root.iconIndex, 3);
  EXPECT_EQ(root.parentId, -1);
  EXPECT_EQ(root.mutexFlag, 0) << "the root never carries the mutex flag";

  const FILE_TYPE_RECORD& pictures = Record(catalogue, 1);
  EXPECT_EQ(pictures.description, "Pictures");
  EXPECT_EQ(pictures.label, "Photos");
  EXPECT_EQ(pictures.comment, "Comment text");
  EXPECT_EQ(pictures.iconIndex, 4);
  EXPECT_EQ(pictures.checkState, 2);
  EXPECT_EQ(pictures.level, 1);
  EXPECT_EQ(pictures.parentId, 0);

  const FILE_TYPE_RECORD& jpg = Record(catalogue, 2);
  EXPECT_EQ(jpg.description, "Unknown File Type.");
  EXPECT_EQ(jpg.extensions, (std::vector<std::string>{".JPG", "???", ".toolon"}))
      << "an empty extension is ???, a long one is cut to 7 characters";
  EXPECT_EQ(jpg.checkState, 2);
  EXPECT_EQ(jpg.parentId, 1);
  EXPECT_EQ(jpg.level, 2);

  const FILE_TYPE_RECORD& png = Record(catalogue, 3);
  EXPECT_EQ(png.description, "Ticked too early");
  EXPECT_EQ(png.checkState, 0) << "a Selected before the extensions is not the type's";

  EXPECT_EQ(Record(catalogue, 4).description, "Other");
  EXPECT_EQ(Record(catalogue, 4).iconIndex, 0) << "a number that is no number counts as 0";
  EXPECT_EQ(Record(catalogue, 5).extensions.size(), 30u) << "only 30 extension slots";

  // Loading again adds nothing new and replaces nothing.
  Record(catalogue, 1);
  catalogue.FindType(1)->checkState = 0;
  ASSERT_EQ(catalogue.LoadFromXml(path), 0);
  EXPECT_EQ(catalogue.GetCount(), 6u);
  EXPECT_EQ(Record(catalogue, 1).checkState, 0);
}

TEST(FileTypeCatalogue, TheShippedCatalogueOffersEveryTypeTheRawSearchCarvesAllTicked) {
  // The build puts the catalogue beside the programs, the test programs included.
  CMapFileTypeInfo catalogue;
  ASSERT_EQ(catalogue.LoadFromXml(FileTypeCatalogueFile()), 0) << catalogue.GetLoadError();
  CMapFileTypeInfo builtIn;
  ASSERT_EQ(builtIn.LoadFromXmlText(BuiltInFileTypeCatalogue()), 0);
  EXPECT_EQ(builtIn.GetCount(), catalogue.GetCount()) << "the built-in list is the shipped file";
  EXPECT_EQ(Record(catalogue, 0).description, "All types");

  CFileTypeExtensionSet set;
  BuildFromCatalogue(set, catalogue, false);
  EXPECT_EQ(set.GetMode(), CFileTypeExtensionSet::kIncludeList);
  for (int32_t id = kFirstBuiltInFileType; id <= kLastBuiltInFileType; ++id)
    EXPECT_TRUE(set.IsFileTypeInList(std::string(".") + GetBuiltInFileTypeExtension(id)))
        << GetBuiltInFileTypeExtension(id);
  for (int32_t id : catalogue.GetTypeIds()) {
    const FILE_TYPE_RECORD& record = Record(catalogue, id);
    EXPECT_EQ(record.checkState, 2) << record.description;
    if (record.level == 1) {
      EXPECT_GE(record.iconIndex, 0);
      EXPECT_LE(record.iconIndex, 6);
    }
  }
}

TEST(FileTypeCatalogue, TheChosenTypesMakeAnIncludeOrExcludeListOrNoListAtAll) {
  CMapFileTypeInfo catalogue;
  ASSERT_EQ(catalogue.LoadFromXmlText(R"(<R RootName="All types">
    <FileCategory Description="Pictures">
      <FileType Description="JPEG"><Extention>.JPG</Extention><Extention>.jpeg</Extention></FileType>
      <FileType Description="PNG"><Extention>.png</Extention></FileType>
    </FileCategory>
    <FileCategory Description="Everything else" IsMutex="1">
      <FileType Description="Any"><Extention>.any</Extention></FileType>
    </FileCategory>
    <FileCategory Description="Documents">
      <FileType Description="Text"><Extention>.txt</Extention></FileType>
      <FileType Description="Shared"><Extention>.any</Extention></FileType>
    </FileCategory>
  </R>)"),
            0)
      << catalogue.GetLoadError();
  // Ids: 1 Pictures, 2 JPEG, 3 PNG, 4 Everything else, 5 Any, 6 Documents, 7 Text, 8 Shared.
  ASSERT_EQ(catalogue.GetCount(), 9u);
  CFileTypeExtensionSet set;

  catalogue.FindType(2)->checkState = 2;
  BuildFromCatalogue(set, catalogue, false);
  EXPECT_EQ(set.GetMode(), CFileTypeExtensionSet::kIncludeList);
  EXPECT_EQ(set.GetSize(), 2u);
  for (const char* yes : {".jpg", ".JPG", ".Jpeg"}) EXPECT_TRUE(set.IsFileTypeInList(yes)) << yes;
  for (const char* no : {".png", ".txt", ".any", ""}) EXPECT_FALSE(set.IsFileTypeInList(no)) << no;

  // A ticked category with the mutex flag: every file is wanted but the unticked types' own ones.
  catalogue.FindType(4)->checkState = 2;
  catalogue.FindType(5)->checkState = 2;
  BuildFromCatalogue(set, catalogue, false);
  EXPECT_EQ(set.GetMode(), CFileTypeExtensionSet::kExcludeList);
  for (const char* yes : {".jpg", ".any", ".doc", ".unknown"}) EXPECT_TRUE(set.IsFileTypeInList(yes)) << yes;
  for (const char* no : {".png", ".TXT"}) EXPECT_FALSE(set.IsFileTypeInList(no)) << no;

  BuildFromCatalogue(set, catalogue, true);
  EXPECT_EQ(set.GetMode(), CFileTypeExtensionSet::kAllTypes);
  EXPECT_EQ(set.GetSize(), 0u);
  EXPECT_TRUE(set.IsFileTypeInList(".whatever"));
}

TEST(FileTypeCatalogue, AHostileOrMissingFileGivesItsReasonAndTheBuiltInCatalogue) {
  CMapFileTypeInfo builtIn;
  ASSERT_EQ(builtIn.LoadFromXmlText(BuiltInFileTypeCatalogue()), 0);
  const std::string category =
      "<FileCategory Description='C'><FileType Description='T'>"
      "<Extention>.a</Extention></FileType></FileCategory>";
  std::string nested;
  for (int i = 0; i < 40; ++i) nested += "<FileCategory>";
  struct Case {
    const char* name;
    std::string text;  // empty: no file at all
    const char* reason;
  } cases[] = {
      {"missing", "", "cannot be opened"},
      {"not XML", "JFIF\xff\xd8 binary junk \x01\x02", "cannot be read as XML"},
      {"cut short", "<R RootName='All types'>" + category.substr(0, 40), "cannot be read as XML"},
      {"unknown element", "<R>" + category + "<Script>rm</Script></R>", "unknown element <Script>"},
      {"unknown element in a type",
       "<R><FileCategory "
       "Description='C'><FileType><Extention>.a</Extention><Icon/></FileType></FileCategory></R>",
       "unknown element <Icon>"},
      {"huge attribute", "<R RootName='" + std::string(100000, 'A') + "'>" + category + "</R>",
       "longer than"},
      {"huge text",
       "<R><FileCategory Description='C'><FileType><Extention>" + std::string(100000, 'x') +
           "</Extention></FileType></FileCategory></R>",
       "longer than"},
      {"duplicate types",
       "<R>" + category +
           "<FileCategory Description='D'><FileType><Extention>.A</Extention></FileType>"
           "</FileCategory></R>",
       "listed by two file types"},
      {"entity expansion",
       "<!DOCTYPE R [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;'>]><R RootName='&b;'>" +
           category + "</R>",
       "document type"},
      {"too deep", "<R>" + nested, "deeper than"},
      {"too large", "<R>" + Repeat(category, 20000) + "</R>", "larger than"},
      {"no category", "<R RootName='All types'/>", "no FileCategory"},
      {"no type", "<R><FileCategory Description='C'/></R>", "no file type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path =
        c.text.empty() ? corvale::test::ScratchDir() + "/absent.xml" : WriteFile("hostile.xml", c.text);
    corvale::log::ScopedCapture log;
    CMapFileTypeInfo catalogue;
    const std::string why = LoadFileTypeCatalogue(catalogue, path);
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    EXPECT_EQ(catalogue.GetCount(), builtIn.GetCount()) << "the built-in list, whole";
    ASSERT_NE(catalogue.FindType(0), nullptr);
    EXPECT_EQ(catalogue.FindType(0)->description, "All types");
    EXPECT_TRUE(log.HasPart("Line:642")) << "every failed load is logged";
  }
}

// Running as root the catalogue decides what is looked for and how found files are named: a file
// that another user put beside the programs (a root-owned 0755 folder) is not read; the built-in list
// is offered and the reason is told and logged.
TEST(FileTypeCatalogue, AsRootAFileOfAnotherUserIsNotRead) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root: the check is made with raised rights";
  const std::string path =
      WriteFile("FileFilter.xml",
                "<R RootName='Planted'><FileCategory Description='C'><FileType "
                "Description='T'><Extention>.a</Extention></FileType></FileCategory></R>");
  CMapFileTypeInfo builtIn;
  ASSERT_EQ(builtIn.LoadFromXmlText(BuiltInFileTypeCatalogue()), 0);
  {
    CMapFileTypeInfo catalogue;
    EXPECT_EQ(LoadFileTypeCatalogue(catalogue, path), "");
    EXPECT_EQ(catalogue.FindType(0)->description, "Planted");
  }
  ::chown(path.c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser);
  corvale::log::ScopedCapture log;
  CMapFileTypeInfo catalogue;
  const std::string why = LoadFileTypeCatalogue(catalogue, path);
  EXPECT_NE(why.find("the file is not used: it belongs to user 65534"), std::string::npos) << why;
  EXPECT_EQ(catalogue.GetCount(), builtIn.GetCount());
  EXPECT_EQ(catalogue.FindType(0)->description, "All types");
  EXPECT_TRUE(log.HasPart(path + " is not used: it belongs to user 65534"));
}

TEST(FileTypeCatalogue, DamagedCopiesOfTheShippedFileNeverBreakTheLoader) {
  // Every kind of damage a file on a user's disk can have: bytes changed, cut short, a piece doubled.
  const std::string original = BuiltInFileTypeCatalogue();
  CMapFileTypeInfo builtIn;
  ASSERT_EQ(builtIn.LoadFromXmlText(original), 0);
  uint64_t seed = 20261211;
  auto next = [&seed] {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<size_t>(seed >> 33);
  };
  int refused = 0;
  for (int round = 0; round < 150; ++round) {
    std::string text = original;
    switch (round % 3) {
      case 0:
        for (int i = 0; i < 4; ++i) text[next() % text.size()] = static_cast<char>(next() % 256);
        break;
      case 1:
        text.resize(next() % text.size());
        break;
      default: {
        const size_t at = next() % text.size();
        text.insert(at, text.substr(next() % text.size(), 200));
        break;
      }
    }
    const std::string path = WriteFile("damaged.xml", text);
    CMapFileTypeInfo catalogue;
    const std::string why = LoadFileTypeCatalogue(catalogue, path);
    if (!why.empty()) {
      ++refused;
      EXPECT_EQ(catalogue.GetCount(), builtIn.GetCount()) << round << ": " << why;
    }
    ASSERT_NE(catalogue.FindType(0), nullptr) << round;
    for (int32_t id : catalogue.GetTypeIds()) {
      const FILE_TYPE_RECORD& record = Record(catalogue, id);
      EXPECT_LT(record.description.size(), FILE_TYPE_RECORD::kTextChars);
      EXPECT_LE(record.extensions.size(), FILE_TYPE_RECORD::kMaxExtensions);
      EXPECT_GE(record.checkState, 0);
      EXPECT_LE(record.checkState, 2);
    }
  }
  EXPECT_GT(refused, 50) << "most damage is noticed";
}
