// The result bundle: its layout and checksum, a round trip through export and import, and bundles
// that lie (names leading out of the folder, entries past the end, a checksum that does not match,
// a cut anywhere) refused with the import message while the state files stay as they were.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/StateBundle.h"
#include "support/Fixtures.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return b;
}

// Every file of a folder with its bytes.
std::map<std::string, Bytes> Snapshot(const std::string& folder) {
  std::map<std::string, Bytes> files;
  for (const auto& item : fs::directory_iterator(folder))
    files[item.path().filename().string()] = ReadFile(item.path());
  return files;
}

uint64_t GetLE(const Bytes& b, size_t at, unsigned n) {
  uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) v |= static_cast<uint64_t>(b[at + i]) << (8 * i);
  return v;
}

void PutLE(Bytes& b, size_t at, uint64_t v, unsigned n) {
  for (unsigned i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The checksum a correct bundle carries, recomputed after a test changed its header.
void Reseal(Bytes& bundle) {
  const uint64_t count = GetLE(bundle, 24, 8) > 10 ? 0 : GetLE(bundle, 24, 8);
  const size_t headerSize = 32 + 280 * (count + 1);
  PutLE(bundle, 4, 0, 4);
  uint32_t sum = BundleCrc32(0, bundle.data(), std::min(headerSize, bundle.size()));
  for (size_t at = headerSize; at < bundle.size(); at += 4096)
    sum += BundleCrc32(0, bundle.data() + at, std::min<size_t>(4096, bundle.size() - at));
  PutLE(bundle, 4, sum, 4);
}

struct Folders {
  std::string root = corvale::test::ScratchDir();
  std::string source = root + "/source/";
  std::string target = root + "/target/";
  std::string bundle = root + "/scan.rsf";
  Folders() {
    fs::create_directories(source);
    fs::create_directories(target);
  }
};

// A bundle of two state files, one a whole number of pieces long; the source folder also holds a
// file that is not a state file.
Bytes MakeBundle(Folders& f) {
  WriteFile(f.source + "cslast.rdf", Pattern(8192, 1));
  WriteFile(f.source + "cstemp.rdf", Pattern(5000, 2));
  WriteFile(f.source + "notes.txt", Pattern(10, 3));
  CStateBundle bundle(true, f.source);
  EXPECT_TRUE(bundle.Save(f.bundle));
  return ReadFile(f.bundle);
}

}  // namespace

TEST(StateBundle, ChecksumIsTheCrc32OfPolynomial0x1770) {
  EXPECT_EQ(BundleCrc32(0, "abc", 3), 0x226B8FC0u);
  EXPECT_EQ(BundleCrc32(0, "", 0), 0u);
}

TEST(StateBundle, EmptyBundleIs312BytesAndImports) {
  Folders f;
  CStateBundle out(true, f.source);
  ASSERT_TRUE(out.Save(f.bundle));
  const Bytes b = ReadFile(f.bundle);
  ASSERT_EQ(b.size(), 312u);
  EXPECT_EQ(GetLE(b, 0, 4), 0x4B424D43u);
  EXPECT_EQ(GetLE(b, 8, 4), 5800u);
  EXPECT_EQ(GetLE(b, 16, 8), 312u);
  EXPECT_EQ(GetLE(b, 24, 8), 0u);
  Bytes zeroed = b;
  PutLE(zeroed, 4, 0, 4);
  EXPECT_EQ(GetLE(b, 4, 4), BundleCrc32(0, zeroed.data(), zeroed.size()));
  CStateBundle in(false, f.target);
  EXPECT_TRUE(in.Load(f.bundle));
  EXPECT_TRUE(Snapshot(f.target).empty());
}

TEST(StateBundle, ExportedStateFilesImportByteExactOverOlderOnes) {
  Folders f;
  const Bytes b = MakeBundle(f);
  ASSERT_EQ(b.size(), 312u + 2 * 280 + 8192 + 5000);
  EXPECT_EQ(GetLE(b, 24, 8), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[32])), "cslast.rdf");
  EXPECT_EQ(GetLE(b, 32 + 264, 8), 8192u);
  EXPECT_EQ(GetLE(b, 32 + 272, 8), 872u);
  EXPECT_EQ(GetLE(b, 32 + 280 + 272, 8), 872u + 8192);
  EXPECT_EQ(GetLE(b, 16, 8), b.size());
  for (size_t i = 32 + 2 * 280; i < 872; ++i) ASSERT_EQ(b[i], 0) << "spare entry byte " << i;

  WriteFile(f.target + "cslast.rdf", Pattern(100, 9));
  WriteFile(f.target + "lpslast.rdf", Pattern(100, 8));
  std::vector<int32_t> shown;
  CStateBundle in(false, f.target, [&](int32_t id) { shown.push_back(id); });
  ASSERT_TRUE(in.Load(f.bundle));
  EXPECT_TRUE(shown.empty());
  const auto files = Snapshot(f.target);
  EXPECT_EQ(files.size(), 3u);  // no temporary left behind
  EXPECT_EQ(files.at("cslast.rdf"), Pattern(8192, 1));
  EXPECT_EQ(files.at("cstemp.rdf"), Pattern(5000, 2));
  EXPECT_EQ(files.at("lpslast.rdf"), Pattern(100, 8));
}

TEST(StateBundle, HostileBundlesChangeNothing) {
  Folders f;
  const Bytes good = MakeBundle(f);
  const size_t entry0 = 32, entry1 = 32 + 280;
  auto name = [](Bytes& b, size_t at, const std::string& n) {
    std::fill(b.begin() + at, b.begin() + at + 260, 0);
    std::copy(n.begin(), n.end(), b.begin() + at);
  };
  struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
    bool reseal;
  };
  const Case cases[] = {
      {"wrong magic", [](Bytes& b) { b[0] = 'X'; }, true},
      {"count 11", [](Bytes& b) { PutLE(b, 24, 11, 8); }, true},
      {"count with high bits", [](Bytes& b) { PutLE(b, 24, (1ull << 32) + 2, 8); }, true},
      {"count larger than the entries", [](Bytes& b) { PutLE(b, 24, 3, 8); }, true},
      {"name leading up", [&](Bytes& b) { name(b, entry0, "../cslast.rdf"); }, true},
      {"absolute name", [&](Bytes& b) { name(b, entry0, "/tmp/cslast.rdf"); }, true},
      {"backslash name", [&](Bytes& b) { name(b, entry0, "..\\cslast.rdf"); }, true},
      {"name without terminator",
       [&](Bytes& b) { std::fill(b.begin() + entry0, b.begin() + entry0 + 260, 'a'); }, true},
      {"not a state file", [&](Bytes& b) { name(b, entry0, "passwd"); }, true},
      {"empty name", [&](Bytes& b) { name(b, entry0, ""); }, true},
      {"hidden name", [&](Bytes& b) { name(b, entry0, ".rdf"); }, true},
      {"same name twice", [&](Bytes& b) { name(b, entry1, "cslast.rdf"); }, true},
      {"size past the end", [&](Bytes& b) { PutLE(b, entry1 + 264, 5001, 8); }, true},
      {"offset past the end", [&](Bytes& b) { PutLE(b, entry1 + 272, ~0ull - 10, 8); }, true},
      {"offset inside the header", [&](Bytes& b) { PutLE(b, entry0 + 272, 8, 8); }, true},
      {"total smaller than the data", [](Bytes& b) { PutLE(b, 16, 600, 8); }, true},
      {"one data byte changed", [](Bytes& b) { b[b.size() - 100] ^= 1; }, false},
      {"checksum changed", [](Bytes& b) { b[4] ^= 0x80; }, false},
      {"header byte changed", [](Bytes& b) { b[12] = 1; }, false},
  };
  WriteFile(f.target + "cslast.rdf", Pattern(100, 9));
  const auto before = Snapshot(f.target);
  for (const Case& c : cases) {
    Bytes bytes = good;
    c.change(bytes);
    if (c.reseal) Reseal(bytes);
    const std::string path = f.bundle + ".hostile";
    WriteFile(path, bytes);
    std::vector<int32_t> shown;
    CStateBundle in(false, f.target, [&](int32_t id) { shown.push_back(id); });
    EXPECT_FALSE(in.Load(path)) << c.what;
    EXPECT_EQ(shown, std::vector<int32_t>{CStateBundle::kWrongBundleMessage}) << c.what;
    EXPECT_EQ(Snapshot(f.target), before) << c.what;
    EXPECT_FALSE(fs::exists(f.target + "../cslast.rdf")) << c.what;
  }
  for (size_t cut = 0; cut < good.size(); cut += (cut < 700 ? 1 : 97)) {
    const std::string path = f.bundle + ".cut";
    WriteFile(path, Bytes(good.begin(), good.begin() + cut));
    CStateBundle in(false, f.target);
    EXPECT_FALSE(in.Load(path)) << cut;
    ASSERT_EQ(Snapshot(f.target), before) << cut;
  }
}

TEST(StateBundle, FailedExportLeavesNoBundleThatLooksComplete) {
  Folders f;
  const Bytes old = MakeBundle(f);
  // A state file that grows or disappears after it was gathered: the header's sizes and offsets no
  // longer fit it, so the export fails and the bundle already at the path stays.
  for (const bool remove : {false, true}) {
    CStateBundle out(true, f.source);
    if (remove)
      fs::remove(f.source + "cstemp.rdf");
    else
      WriteFile(f.source + "cslast.rdf", Pattern(9000, 1));
    EXPECT_FALSE(out.Save(f.bundle)) << remove;
    EXPECT_EQ(ReadFile(f.bundle), old) << remove;
    for (const auto& item : fs::directory_iterator(fs::path(f.bundle).parent_path()))
      EXPECT_EQ(item.path().filename().string().find(".partial"), std::string::npos) << item.path();
  }
  CStateBundle out(true, f.source);
  EXPECT_FALSE(out.Save(f.source + "no-such-folder/scan.rsf"));
  EXPECT_FALSE(fs::exists(f.source + "no-such-folder"));
}

// An export as root into a folder of user nobody's: a bundle never goes through a link, whether
// nobody planted it on the way to the folder or under the bundle's own name, and the bundle is
// nobody's own, private file.
TEST(StateBundle, AnExportAsRootNeverGoesThroughALinkAndBelongsToTheFoldersOwner) {
  CORVALE_REQUIRE_ROOT();
  Folders f;
  WriteFile(f.source + "cslast.rdf", Pattern(5000, 4));
  corvale::test::PublicScratchDir scratch;
  const std::string home = scratch.path() + "/H";
  const std::string roots = scratch.path() + "/V";
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  ASSERT_EQ(chown(home.c_str(), corvale::test::kOtherUser, corvale::test::kOtherUser), 0);
  ASSERT_EQ(mkdir(roots.c_str(), 0755), 0);
  WriteFile(roots + "/kept", Pattern(10, 5));
  ASSERT_TRUE(corvale::test::RunAsOtherUser([&] {
    return symlink(roots.c_str(), (home + "/out").c_str()) == 0 &&
           symlink((roots + "/kept").c_str(), (home + "/scan.rsf").c_str()) == 0;
  }));
  CStateBundle bundle(true, f.source);
  EXPECT_FALSE(bundle.Save(home + "/out/scan.rsf"));
  ASSERT_TRUE(bundle.Save(home + "/scan.rsf"));
  EXPECT_EQ(ReadFile(roots + "/kept"), Pattern(10, 5));
  EXPECT_EQ(std::distance(fs::directory_iterator(roots), fs::directory_iterator()), 1);
  struct stat st {};
  ASSERT_EQ(lstat((home + "/scan.rsf").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_uid, corvale::test::kOtherUser);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  CStateBundle back(false, f.target);
  EXPECT_TRUE(back.Load(home + "/scan.rsf"));
  EXPECT_EQ(ReadFile(f.target + "cslast.rdf"), Pattern(5000, 4));
}
