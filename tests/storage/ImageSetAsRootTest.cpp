// The files of a disk image as root, with user nobody as the attacker who owns the destination
// folder H and plants links into a folder V of root's (think /etc): no member of an image is made or
// emptied through a link, nothing is replaced unless the user agreed, a failed run removes only what
// it made, and a part list that names another file does not have that file served as the image.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "storage/CompressController.h"
#include "storage/ImageFile.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

namespace fs = std::filesystem;
using corvale::image::PartFilePath;
using corvale::image::PartListPath;
using corvale::test::kOtherUser;
using corvale::test::RunAsOtherUser;

namespace {

using Bytes = std::vector<uint8_t>;

std::string Text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes Pattern(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>((i * 2654435761u) >> 11);
  return b;
}

class ImageSetAsRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    CORVALE_REQUIRE_ROOT();
    h = scratch.path() + "/H";
    v = scratch.path() + "/V";
    ASSERT_EQ(mkdir(h.c_str(), 0755), 0);
    ASSERT_EQ(chown(h.c_str(), kOtherUser, kOtherUser), 0);
    ASSERT_EQ(mkdir(v.c_str(), 0700), 0);
    std::ofstream(v + "/list") << "root's list\n";
    std::ofstream(v + "/part") << "root's part\n";
  }

  // Writes an image of `source` to `descriptor`; the writer's error text when it fails.
  std::string Write(const std::string& descriptor, bool replace, const Bytes& source) {
    MemoryDevice device(source);
    CCompressController writer;
    writer.SetSource(&device, "src", 0, source.size() / 512, 255);
    writer.SetCompressParam(2, 1, 0);
    writer.SetImageFilePath(descriptor);
    writer.SetReplaceExisting(replace);
    return writer.Compress(nullptr) ? std::string() : writer.GetErrorText();
  }

  void ExpectRootsFilesUntouched() {
    EXPECT_EQ(Text(v + "/list"), "root's list\n");
    EXPECT_EQ(Text(v + "/part"), "root's part\n");
    EXPECT_FALSE(fs::exists(v + "/new")) << "nothing was made through the dangling link";
    EXPECT_EQ(std::distance(fs::directory_iterator(v), fs::directory_iterator()), 2);
  }

  corvale::test::PublicScratchDir scratch;
  std::string h, v;
};

TEST_F(ImageSetAsRoot, MembersPlantedAsLinksAreNeverWrittenThrough) {
  ASSERT_TRUE(RunAsOtherUser([&] {
    return symlink((v + "/list").c_str(), (h + "/img.kbp").c_str()) == 0 &&
           symlink((v + "/part").c_str(), (h + "/img.part0.kbf").c_str()) == 0 &&
           symlink((v + "/new").c_str(), (h + "/img.kbi").c_str()) == 0;
  }));
  const std::string descriptor = h + "/img.kbi";
  const Bytes source = Pattern(600 * 512);

  // Not agreed to: the run fails at the first member that is there, the dangling link included.
  const std::string error = Write(descriptor, false, source);
  EXPECT_NE(error.find("exists already and is not replaced"), std::string::npos) << error;
  ExpectRootsFilesUntouched();
  for (const char* name : {"/img.kbi", "/img.kbp", "/img.part0.kbf"}) EXPECT_TRUE(fs::is_symlink(h + name));

  // Agreed to: the links are replaced by the image's own files, which belong to the folder's owner.
  ASSERT_EQ(Write(descriptor, true, source), "");
  ExpectRootsFilesUntouched();
  for (const char* name : {"/img.kbi", "/img.kbp", "/img.part0.kbf"}) {
    struct stat st {};
    ASSERT_EQ(lstat((h + name).c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    EXPECT_EQ(st.st_uid, kOtherUser) << name;
    EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
  }
  CImageFileDeviceWithDecompress image(descriptor);
  ASSERT_TRUE(image.CheckImageParts()) << image.GetProblem();
  Bytes read(source.size());
  ASSERT_TRUE(image.ReadSectors(read.data(), 0, source.size() / 512));
  EXPECT_TRUE(read == source);
}

// A failed run removes the files it made, and only those: the user's own file under a member's
// name stays, and so does a destination reached through another user's link (nothing is made).
TEST_F(ImageSetAsRoot, AFailedRunRemovesOnlyWhatItMade) {
  ASSERT_TRUE(RunAsOtherUser([&] {
    return std::ofstream(h + "/img.kbp").write("user's", 6).good() &&
           symlink(v.c_str(), (h + "/out").c_str()) == 0;
  }));
  const std::string error = Write(h + "/img.kbi", false, Pattern(300 * 512));
  EXPECT_NE(error.find("img.kbp exists already"), std::string::npos) << error;
  EXPECT_EQ(Text(h + "/img.kbp"), "user's");
  EXPECT_FALSE(fs::exists(h + "/img.kbi")) << "the descriptor the run made is gone again";

  const std::string refused = Write(h + "/out/img.kbi", true, Pattern(300 * 512));
  EXPECT_NE(refused.find(h + "/out is a link of user 65534"), std::string::npos) << refused;
  ExpectRootsFilesUntouched();
}

// The part list is the user's file and may name anything. A file that is not the image's own part
// (its name in the image's folder) is read for the person who asked only when that person could
// read it; a link is never followed to a part, and a file without the part's empty head is none.
TEST_F(ImageSetAsRoot, APartListNamingAnotherFileDoesNotServeIt) {
  const std::string descriptor = h + "/img.kbi";
  const Bytes source = Pattern(300 * 512);
  ASSERT_EQ(Write(descriptor, false, source), "");
  const std::string part = PartFilePath(descriptor, 0);
  // Root's secret, shaped like a part file: 512 empty bytes, then what looks like stored chunks.
  Bytes secret(512, 0);
  for (int i = 0; i < 4096; ++i) secret.push_back(static_cast<uint8_t>("SECRET"[i % 6]));
  std::ofstream(v + "/secret", std::ios::binary)
      .write(reinterpret_cast<const char*>(secret.data()), static_cast<std::streamsize>(secret.size()));
  chmod((v + "/secret").c_str(), 0600);
  ASSERT_TRUE(
      RunAsOtherUser([&] { return symlink((v + "/secret").c_str(), (h + "/alias.kbf").c_str()) == 0; }));
  corvale::test::ScopedEnv env({{"PKEXEC_UID", nullptr}, {"SUDO_UID", "65534"}, {"SUDO_GID", "65534"}});

  const struct {
    const char* what;
    std::string listed;
    bool served;
  } cases[] = {{"the image's own part", part, true},
               {"a file of root's", v + "/secret", false},
               {"a link to it", h + "/alias.kbf", false},
               {"a file without the part's empty head", "/etc/passwd", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(RunAsOtherUser([&] {
      std::ofstream list(PartListPath(descriptor), std::ios::binary | std::ios::trunc);
      list << c.listed << "\r\n";
      return list.good();
    }));
    // The image's own part is where the list does not point: only the listed file may be read.
    if (!c.served) fs::rename(part, part + ".away");
    corvale::log::ScopedCapture log;
    CImageFileDeviceWithDecompress image(descriptor);
    EXPECT_EQ(image.CheckImageParts(), c.served) << image.GetProblem();
    Bytes read(source.size(), 0xEE);
    image.ReadSectors(read.data(), 0, source.size() / 512);
    if (c.served) {
      EXPECT_TRUE(read == source);
    } else {
      EXPECT_TRUE(std::all_of(read.begin(), read.end(), [](uint8_t b) { return b == 0; }));
      EXPECT_TRUE(log.HasPart("part file 1 is missing")) << "the log says why";
      fs::rename(part + ".away", part);
    }
  }
}

}  // namespace
