// The search criteria, the test of one file against them, and the search walk with auto select.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/FileNode.h"
#include "core/MyFileProperties.h"
#include "find/SearchMatcher.h"

namespace {

constexpr uint32_t kAllValid = 0xFF;

struct File {
  std::string name;
  uint64_t size = 0;
  uint16_t attributes = 0x20;
  uint64_t created = 0, modified = 0, accessed = 0;
  uint32_t valid = kAllValid;
};

CMyFileProperties* Make(const File& f) {
  MyFileInfo info;
  info.name = f.name;
  info.size = f.size;
  info.attributes = f.attributes;
  info.creationTime = f.created;
  info.time2 = f.modified;
  info.time3 = f.accessed;
  info.validMask = f.valid;
  return new CMyFileProperties(info);
}

bool MatchesOne(const SearchCriteria& criteria, const File& file) {
  CFileNode node;
  CMyFileProperties* p = Make(file);
  node.SetFileProperties(p);
  const bool match = CSearchMatcher(criteria).Matches(&node);
  node.SetFileProperties(nullptr);
  delete p;
  return match;
}

SearchCriteria Named(const char* name) {
  SearchCriteria c;
  c.namePattern = name;
  return c;
}

TEST(SearchMatcher, CriteriaTable) {
  SearchCriteria lessThan10K = Named("*");
  lessThan10K.flags = SearchCriteria::kSizeUsed;
  lessThan10K.size = {SearchCriteria::kLessThan, 10240};
  SearchCriteria moreThan10K = lessThan10K;
  moreThan10K.size.comparison = SearchCriteria::kMoreThan;
  SearchCriteria badComparison = lessThan10K;
  badComparison.size.comparison = 3;

  SearchCriteria modifiedIn = Named("*");
  modifiedIn.flags = SearchCriteria::kDateUsed;
  modifiedIn.date = {SearchCriteria::kModified, 100, 200};
  SearchCriteria modifiedBackwards = modifiedIn;
  modifiedBackwards.date = {SearchCriteria::kModified, 200, 100};
  SearchCriteria createdIn = modifiedIn;
  createdIn.date.which = SearchCriteria::kCreated;
  SearchCriteria accessedIn = modifiedIn;
  accessedIn.date.which = SearchCriteria::kAccessed;
  SearchCriteria badWhich = modifiedIn;
  badWhich.date.which = 3;

  SearchCriteria noEncrypted = Named("*");
  noEncrypted.flags = SearchCriteria::kOtherUsed;
  noEncrypted.includeEncrypted = 0;
  SearchCriteria caseSensitive = Named("Doc");
  caseSensitive.flags = SearchCriteria::kOtherUsed;
  caseSensitive.caseSensitive = 1;

  SearchCriteria pictures = Named("*");
  pictures.flags = SearchCriteria::kTypeUsed;
  pictures.type = {2, ".jpg;.png", "Pictures"};
  SearchCriteria picturesOtherKind = pictures;
  picturesOtherKind.type.kind = 4;

  const File small{"a.txt", 10240};
  const File big{"b.txt", 10241};
  File sizeUnknown{"c.txt", 5};
  sizeUnknown.valid = kAllValid & ~0x02u;
  File dated{"d.txt", 1};
  dated.modified = 200, dated.created = 99, dated.accessed = 100;
  File modifiedUnknown = dated;
  modifiedUnknown.valid = kAllValid & ~0x10u;
  File encrypted{"e.txt", 1, 0x60};
  File encryptedAttributesUnknown{"e.txt", 1, 0x60};
  encryptedAttributesUnknown.valid = kAllValid & ~0x04u;

  struct Case {
    const char* what;
    const SearchCriteria& criteria;
    File file;
    bool match;
  } cases[] = {
      {"less than takes the limit itself", lessThan10K, small, true},
      {"less than refuses more", lessThan10K, big, false},
      {"more than takes the limit itself", moreThan10K, small, true},
      {"more than takes more", moreThan10K, big, true},
      {"size not valid", lessThan10K, sizeUnknown, false},
      {"unknown comparison", badComparison, small, false},
      {"modified at the end of the range", modifiedIn, dated, true},
      {"range given backwards", modifiedBackwards, dated, true},
      {"created before the range", createdIn, dated, false},
      {"accessed at the start of the range", accessedIn, dated, true},
      {"time not valid", modifiedIn, modifiedUnknown, false},
      {"unknown time", badWhich, dated, false},
      {"encrypted left out", noEncrypted, encrypted, false},
      {"plain file kept", noEncrypted, small, true},
      {"attributes unknown pass", noEncrypted, encryptedAttributesUnknown, true},
      {"encrypted kept by default", Named("*"), encrypted, true},
      {"case sensitive refuses", caseSensitive, File{"doc", 1}, false},
      {"case sensitive takes", caseSensitive, File{"Doc", 1}, true},
      {"without case", Named("Doc"), File{"DOC", 1}, true},
      {"search mode trailing ?", Named("Do?"), File{"Document.txt", 1}, true},
      {"type list", pictures, File{"x.PNG", 1}, true},
      {"type list refuses", pictures, File{"x.gif", 1}, false},
      {"type kind takes no part", picturesOtherKind, File{"x.png", 1}, true},
      {"name not valid", Named("*"), File{"x", 1, 0x20, 0, 0, 0, kAllValid & ~0x01u}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesOne(c.criteria, c.file), c.match) << c.what;
  EXPECT_FALSE(CSearchMatcher(Named("*")).Matches(nullptr));
}

// root / Docs / {report.txt, Report (folder) / {notes.txt}, old.txt (ticked)}, root / top.txt
struct SmallTree {
  CFileSystemNode* root = CreateFileSystemNode();
  CFileNode* docs = nullptr;
  CFileNode* report = nullptr;
  CFileNode* reportFolder = nullptr;
  CFileNode* notes = nullptr;
  CFileNode* old = nullptr;
  CFileNode* top = nullptr;

  CFileNode* Add(CFileNode* parent, const File& f) {
    CFileNode* n = CreateFileNode();
    n->SetFileProperties(Make(f));
    // AddChild puts a child at the head: add in reverse to keep the listed order.
    return parent->AddChild(n);
  }
  SmallTree() {
    root->SetFileProperties(Make(File{"Root", 0, 0x10}));
    top = Add(root, File{"top.txt", 5});
    docs = Add(root, File{"Docs", 0, 0x10});
    old = Add(docs, File{"old.txt", 3});
    reportFolder = Add(docs, File{"Report", 0, 0x10});
    notes = Add(reportFolder, File{"notes.txt", 7});
    report = Add(docs, File{"report.txt", 11});
    root->ToggleCheck(old, false);
    root->RecountSummary();
  }
  ~SmallTree() { FreeFileTree(root); }
};

TEST(SearchFiles, WalksBelowTheLocationAndNeverListsFolders) {
  SmallTree t;
  SearchCriteria c = Named("*");
  c.location = t.root;
  CSearchResult all;
  SearchFiles(t.root, c, all);
  EXPECT_EQ(all.GetItems(), (std::vector<CFileNode*>{t.report, t.notes, t.old, t.top}));
  c = Named("*report*");
  c.location = t.root;
  CSearchResult reports;
  SearchFiles(t.root, c, reports);
  EXPECT_EQ(reports.GetItems(), std::vector<CFileNode*>{t.report});  // not the folder "Report"
  c.location = t.reportFolder;
  c.namePattern = "*";
  CSearchResult below;
  SearchFiles(t.root, c, below);
  EXPECT_EQ(below.GetItems(), std::vector<CFileNode*>{t.notes});
  EXPECT_EQ(below.GetCount(), 1u);
  below.Clear();
  EXPECT_EQ(below.GetCount(), 0u);
}

TEST(SearchFiles, AutoSelectTicksWhatIsNotTickedYet) {
  SmallTree t;
  SearchCriteria c = Named("*.txt");
  c.location = t.docs;
  c.autoSelect = 1;
  CSearchResult result;
  SearchFiles(t.root, c, result);
  EXPECT_EQ(result.GetCount(), 3u);
  for (CFileNode* n : {t.report, t.notes, t.old, t.reportFolder, t.docs})
    EXPECT_EQ(n->GetFileProperties()->GetCheckState(), kChecked);
  EXPECT_EQ(t.top->GetFileProperties()->GetCheckState(), kNotChecked);
  EXPECT_EQ(t.root->GetFileProperties()->GetCheckState(), kPartlyChecked);
  SelectionSummary summary;
  t.root->GetSummary(summary);
  EXPECT_EQ(summary.checkedFiles, 3u);
  EXPECT_EQ(summary.checkedBytes, 21u);
  // Searching again changes nothing: ticked files stay ticked (no toggling back).
  CSearchResult again;
  SearchFiles(t.root, c, again);
  EXPECT_EQ(again.GetCount(), 3u);
  EXPECT_EQ(t.old->GetFileProperties()->GetCheckState(), kChecked);
  t.root->GetSummary(summary);
  EXPECT_EQ(summary.checkedFiles, 3u);
}

TEST(SearchFiles, AutoSelectOfAHundredThousandFilesInOneFolder) {
  CFileSystemNode* root = CreateFileSystemNode();
  root->SetFileProperties(Make(File{"Root", 0, 0x10}));
  CFileNode* folder = root->AddChild(CreateFileNode());
  folder->SetFileProperties(Make(File{"many", 0, 0x10}));
  constexpr int kFiles = 100000;
  for (int i = 0; i < kFiles + 10; ++i) {
    CFileNode* n = folder->AddChild(CreateFileNode());
    n->SetFileProperties(Make(File{(i < kFiles ? "hit_" : "miss_") + std::to_string(i) + ".dat", 2}));
  }
  root->RecountSummary();
  SearchCriteria c = Named("hit_*");
  c.location = root;
  c.autoSelect = 1;
  CSearchResult result;
  SearchFiles(root, c, result);
  EXPECT_EQ(result.GetCount(), static_cast<uint32_t>(kFiles));
  SelectionSummary summary;
  root->GetSummary(summary);
  EXPECT_EQ(summary.checkedFiles, static_cast<uint32_t>(kFiles));
  EXPECT_EQ(summary.checkedBytes, 2u * kFiles);
  EXPECT_EQ(folder->GetFileProperties()->GetCheckState(), kPartlyChecked);
  FreeFileTree(root);
}

}  // namespace
