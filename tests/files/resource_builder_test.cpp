#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "DloadFile.h"
#include "support/PhoneImage.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"
#include "ResourceBuilder.h"

namespace fs = std::filesystem;

namespace {

struct DirEntry {
  std::string path;
  uint32_t size;
};

// Reads back a resource image's directory, checking every entry's layout;
// `dataStart` is where the files' bytes begin.
std::vector<DirEntry> ParseDirectory(const std::vector<uint8_t>& image, size_t& dataStart) {
  std::vector<DirEntry> entries;
  size_t at = 0;
  for (; at + 128 <= image.size(); at += 128) {
    const uint8_t* e = image.data() + at;
    bool allFF = true;
    for (int i = 0; i < 128; ++i) allFF = allFF && e[i] == 0xFF;
    if (allFF) break;
    const size_t length = strnlen(reinterpret_cast<const char*>(e), 112);
    EXPECT_LT(length, 112u);
    for (size_t i = length; i < 112; ++i) EXPECT_EQ(e[i], 0x00);
    for (int i = 116; i < 128; ++i) EXPECT_EQ(e[i], 0xFF);
    entries.push_back({std::string(reinterpret_cast<const char*>(e), length),
                       static_cast<uint32_t>(e[112] | e[113] << 8 | e[114] << 16 | e[115] << 24)});
  }
  dataStart = 1024 * (entries.size() / 8 + 1);
  for (size_t i = at; i < dataStart && i < image.size(); ++i) EXPECT_EQ(image[i], 0xFF) << i;
  return entries;
}

size_t Padded(size_t size) { return (size + 1023) / 1024 * 1024; }

class ResourceBuilderTest : public ::testing::Test {
 protected:
  std::string Root() const { return m_dir.path() + "/res"; }
  std::string Output() const { return Root() + "/K470_rsc.bin"; }
  void Put(const std::string& relative, const std::vector<uint8_t>& bytes) {
    WriteFile(Root() + "/" + relative, bytes);
  }
  ResourceResult Build() { return m_builder.Build(Root()); }
  // Wine makes no symbolic links (Windows makes them only with a privilege).
  bool LinksSupported() const {
    std::error_code ec;
    fs::create_symlink(m_dir.path(), m_dir / "probe-link", ec);
    fs::remove(m_dir / "probe-link");
    return !ec;
  }
  std::vector<std::string> FolderNames(const std::string& folder) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  void SetUp() override { fs::create_directories(Root()); }

  CTempDir m_dir;
  RecordingWindow m_window;
  CDloadFile m_measurer{&m_window};
  CResourceBuilder m_builder{m_measurer};
};

// ---- the format ----

TEST_F(ResourceBuilderTest, SingleFileImage) {
  const std::vector<uint8_t> logo = PatternBytes(3000, 3);
  Put("logo.jpg", logo);
  ASSERT_TRUE(Build().Ok());

  const std::vector<uint8_t> image = ReadFile(Output());
  ASSERT_EQ(image.size(), 1024u + 3072u);
  std::vector<uint8_t> entry(128, 0x00);
  std::memcpy(entry.data(), "logo.jpg", 8);
  entry[112] = 0xB8;
  entry[113] = 0x0B;
  std::fill(entry.begin() + 116, entry.end(), 0xFF);
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + 128), entry);
  for (size_t i = 128; i < 1024; ++i) ASSERT_EQ(image[i], 0xFF) << i;
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 1024, image.begin() + 4024), logo);
  for (size_t i = 4024; i < 4096; ++i) ASSERT_EQ(image[i], 0xFF) << i;
  EXPECT_TRUE(m_window.m_boxes.empty());
  EXPECT_TRUE(m_builder.Entries().empty());  // emptied after the build
}

TEST_F(ResourceBuilderTest, SubFolderPathsUseSlashes) {
  Put("img/a.png", PatternBytes(10));
  m_builder.SetRoot(Root());
  ASSERT_TRUE(m_builder.CollectResourceFiles(""));
  ASSERT_EQ(m_builder.Entries().size(), 1u);
  EXPECT_EQ(m_builder.Entries()[0].hostPath, "img/a.png");
  EXPECT_EQ(m_builder.Entries()[0].imagePath, "img/a.png");
  EXPECT_EQ(m_builder.Entries()[0].size, 10u);
  EXPECT_EQ(m_builder.GetRoot(), Root() + "/");
  ASSERT_TRUE(m_builder.WriteResourceImage());
  size_t dataStart = 0;
  const auto entries = ParseDirectory(ReadFile(Output()), dataStart);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, "img/a.png");
}

TEST_F(ResourceBuilderTest, EmptyFolderGivesOneBlockOfFF) {
  ASSERT_TRUE(Build().Ok());
  EXPECT_EQ(ReadFile(Output()), std::vector<uint8_t>(1024, 0xFF));
}

TEST_F(ResourceBuilderTest, EightFilesFillTwoDirectoryBlocksInNameOrder) {
  // Created out of order; packed in byte order of the names (which differ
  // in more than case: Windows takes b.txt and B.txt for one file).
  const char* names[] = {"h.txt", "b.txt", "Q.txt", "a.txt", "g.txt", "c.txt", "_.txt", "z.txt"};
  for (int i = 0; i < 8; ++i) Put(names[i], PatternBytes(100u + i, static_cast<uint8_t>(i)));
  ASSERT_TRUE(Build().Ok());

  const std::vector<uint8_t> image = ReadFile(Output());
  size_t dataStart = 0;
  const auto entries = ParseDirectory(image, dataStart);
  ASSERT_EQ(dataStart, 2048u);
  std::vector<std::string> order;
  for (const auto& e : entries) order.push_back(e.path);
  EXPECT_EQ(order, (std::vector<std::string>{"Q.txt", "_.txt", "a.txt", "b.txt", "c.txt", "g.txt",
                                             "h.txt", "z.txt"}));
  for (size_t i = 1024; i < 2048; ++i) ASSERT_EQ(image[i], 0xFF);  // 8 padding entries
  ASSERT_EQ(image.size(), 2048u + 8 * 1024);
  // Data in directory order: each file at its padded place.
  size_t at = dataStart;
  for (const auto& e : entries) {
    const std::vector<uint8_t> file = ReadFile(Root() + "/" + e.path);
    ASSERT_EQ(file.size(), e.size);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + at, image.begin() + at + e.size), file) << e.path;
    at += Padded(e.size);
  }
}

TEST_F(ResourceBuilderTest, WholeBlockFilesAreNotPaddedAndEmptyFilesAddNothing) {
  const std::vector<uint8_t> exact = PatternBytes(2048, 9);
  Put("a.dat", exact);
  Put("b.dat", {});
  Put("c.dat", {0x01});
  ASSERT_TRUE(Build().Ok());
  const std::vector<uint8_t> image = ReadFile(Output());
  size_t dataStart = 0;
  const auto entries = ParseDirectory(image, dataStart);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].size, 0u);
  ASSERT_EQ(image.size(), 1024u + 2048u + 1024u);
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 1024, image.begin() + 3072), exact);
  EXPECT_EQ(image[3072], 0x01);
  EXPECT_EQ(image[3073], 0xFF);
}

// ---- what the walk takes ----

TEST_F(ResourceBuilderTest, NamesDecideFilesFoldersAndExclusions) {
  fs::create_directories(Root() + "/old.set");  // a folder with a dot: measured, size 0
  Put("old.set/inside.txt", {1, 2, 3});         // ... so its contents are never seen
  Put("README", {1});                           // a file without a dot: an empty "folder"
  Put("LOGO.BIN", {7, 7});                      // ".bin" is case-sensitive
  Put("old.bin", {1});
  Put("notes.cvs", {1});
  Put("CVS/entries.txt", {1});
  Put("Cvs.txt", {5});
  Put("deep/er/x.y", {9});
  ASSERT_TRUE(Build().Ok());

  const std::vector<uint8_t> image = ReadFile(Output());
  size_t dataStart = 0;
  const auto entries = ParseDirectory(image, dataStart);
  std::vector<std::string> order;
  for (const auto& e : entries) order.push_back(e.path);
  EXPECT_EQ(order, (std::vector<std::string>{"Cvs.txt", "LOGO.BIN", "deep/er/x.y", "old.set"}));
  EXPECT_EQ(entries[3].size, 0u);
  EXPECT_EQ(image.size(), 1024u + 3 * 1024u);

  ASSERT_EQ(m_window.m_boxes.size(), 1u);
  EXPECT_EQ(m_window.m_boxes[0].text,
            " Fail to read from " + Root() + "/old.set\n Please Check bin_file !");
  EXPECT_EQ(m_window.m_boxes[0].type, MB_OK | MB_ICONHAND);
}

TEST_F(ResourceBuilderTest, SecondBuildIgnoresTheFirstOutput) {
  Put("a.txt", PatternBytes(1500));
  Put("sub/b.txt", PatternBytes(20));
  ASSERT_TRUE(Build().Ok());
  const std::vector<uint8_t> first = ReadFile(Output());
  ASSERT_TRUE(Build().Ok());
  EXPECT_EQ(ReadFile(Output()), first);
  EXPECT_EQ(FolderNames(Root()), (std::vector<std::string>{"K470_rsc.bin", "a.txt", "sub"}));
}

TEST_F(ResourceBuilderTest, LinksAreFollowedOnlyInsideTheFolder) {
  if (!LinksSupported()) GTEST_SKIP() << "no symbolic links on this file system";
  Put("real.txt", PatternBytes(5));
  Put("sub/one.txt", PatternBytes(6));
  WriteFile(m_dir / "outside/secret.txt", PatternBytes(7));
  fs::create_symlink(Root() + "/real.txt", Root() + "/alias.txt");
  fs::create_symlink("sub", Root() + "/linked");
  fs::create_symlink(m_dir / "outside/secret.txt", Root() + "/secret.txt");
  fs::create_symlink(m_dir / "outside", Root() + "/escape");
  fs::create_symlink("../..", Root() + "/sub/up");
  fs::create_symlink(m_dir / "nowhere.txt", Root() + "/dangling.txt");

  m_builder.SetRoot(Root());
  ASSERT_TRUE(m_builder.CollectResourceFiles(""));
  std::vector<std::string> paths;
  for (const auto& e : m_builder.Entries()) paths.push_back(e.hostPath);
  EXPECT_EQ(paths, (std::vector<std::string>{"alias.txt", "linked/one.txt", "real.txt", "sub/one.txt"}));
  EXPECT_EQ(m_builder.Entries()[0].size, 5u);
  EXPECT_TRUE(m_window.m_boxes.empty());
}

TEST_F(ResourceBuilderTest, LinkLoopsEnd) {
  if (!LinksSupported()) GTEST_SKIP() << "no symbolic links on this file system";
  Put("a/b/file.txt", PatternBytes(3));
  fs::create_symlink("..", Root() + "/a/b/parent");  // back to a
  fs::create_symlink(".", Root() + "/a/self");
  fs::create_symlink(Root(), Root() + "/a/b/top");
  fs::create_symlink("spin", Root() + "/spin");       // a link to itself

  ASSERT_TRUE(Build().Ok());
  size_t dataStart = 0;
  const auto entries = ParseDirectory(ReadFile(Output()), dataStart);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, "a/b/file.txt");
}

// ---- refusals and failures: nothing half done ----

TEST_F(ResourceBuilderTest, RefusesMoreThan500Files) {
  for (int i = 0; i < 300; ++i) Put("one/f" + std::to_string(i) + ".x", {});
  for (int i = 0; i < 200; ++i) Put("two/f" + std::to_string(i) + ".x", {});
  ASSERT_TRUE(Build().Ok());  // exactly 500
  size_t dataStart = 0;
  EXPECT_EQ(ParseDirectory(ReadFile(Output()), dataStart).size(), 500u);
  fs::remove(Output());

  Put("two/zz.x", {});
  const ResourceResult result = Build();
  EXPECT_EQ(result.status, RESOURCE_TOO_MANY_FILES);
  EXPECT_NE(result.message.find(Root() + "/two/zz.x"), std::string::npos) << result.message;
  EXPECT_FALSE(fs::exists(Output()));
  EXPECT_TRUE(m_builder.Entries().empty());
}

TEST_F(ResourceBuilderTest, RefusesMoreThan500EntriesInOneFolder) {
  for (int i = 0; i < 500; ++i) Put("big/f" + std::to_string(i), {});  // dot-less: not files
  fs::create_directories(Root() + "/big/extra");
  const ResourceResult result = Build();
  EXPECT_EQ(result.status, RESOURCE_FOLDER_TOO_LARGE);
  EXPECT_NE(result.message.find(Root() + "/big"), std::string::npos) << result.message;
  EXPECT_FALSE(fs::exists(Output()));
}

TEST_F(ResourceBuilderTest, RefusesPathsOver111Characters) {
  const std::string folder(50, 'd');
  const std::string fits = folder + "/" + std::string(56, 'n') + ".txt";  // 111
  ASSERT_EQ(fits.size(), 111u);
  Put(fits, {1});
  ASSERT_TRUE(Build().Ok());
  size_t dataStart = 0;
  const auto entries = ParseDirectory(ReadFile(Output()), dataStart);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, fits);
  fs::remove(Output());

  const std::string tooLong = folder + "/" + std::string(57, 'n') + ".txt";  // 112
  Put(tooLong, {1});
  const ResourceResult result = Build();
  EXPECT_EQ(result.status, RESOURCE_PATH_TOO_LONG);
  EXPECT_NE(result.message.find(tooLong), std::string::npos);
  EXPECT_FALSE(fs::exists(Output()));
}

TEST_F(ResourceBuilderTest, OutputThatCannotBeCreatedLeavesNothing) {
  Put("a.txt", {1, 2});
  m_builder.SetRoot(Root());
  ASSERT_TRUE(m_builder.CollectResourceFiles(""));
  fs::remove_all(Root());  // the folder is gone before the image is written
  EXPECT_FALSE(m_builder.WriteResourceImage());
  EXPECT_EQ(m_builder.LastResult().status, RESOURCE_CANNOT_CREATE);
  EXPECT_NE(m_builder.LastResult().message.find(Output()), std::string::npos);
  EXPECT_FALSE(fs::exists(Root()));

#ifndef _WIN32  // no mode bits there, and a read-only folder still takes new files
  if (::geteuid() != 0) {  // permissions bind only ordinary users
    fs::create_directories(Root());
    Put("a.txt", {1, 2});
    fs::permissions(Root(), fs::perms::owner_read | fs::perms::owner_exec);
    const ResourceResult result = Build();
    fs::permissions(Root(), fs::perms::owner_all);
    EXPECT_EQ(result.status, RESOURCE_CANNOT_CREATE);
    EXPECT_EQ(FolderNames(Root()), std::vector<std::string>{"a.txt"});
  }
#endif
}

TEST_F(ResourceBuilderTest, FinishingFailureKeepsTheOldImageAndNoTemporary) {
  // A folder named like the output: the finished image cannot take its place.
  fs::create_directories(Output());
  Put("a.txt", PatternBytes(10));
  const ResourceResult result = Build();
  EXPECT_EQ(result.status, RESOURCE_CANNOT_CREATE);
  EXPECT_TRUE(fs::is_directory(Output()));
  EXPECT_EQ(FolderNames(Root()), (std::vector<std::string>{"K470_rsc.bin", "a.txt"}));
}

TEST_F(ResourceBuilderTest, FileThatVanishesOrShrinksWhileCopyingFailsTheBuild) {
  Put("a.txt", PatternBytes(10));
  Put("b.txt", PatternBytes(3000));
  ASSERT_TRUE(Build().Ok());
  const std::vector<uint8_t> good = ReadFile(Output());

  m_builder.SetRoot(Root());
  ASSERT_TRUE(m_builder.CollectResourceFiles(""));
  fs::resize_file(Root() + "/b.txt", 2000);
  EXPECT_FALSE(m_builder.WriteResourceImage());
  EXPECT_EQ(m_builder.LastResult().status, RESOURCE_CANNOT_READ);
  EXPECT_NE(m_builder.LastResult().message.find(Root() + "/b.txt"), std::string::npos);
  EXPECT_EQ(ReadFile(Output()), good);  // the older complete image is untouched
  EXPECT_EQ(FolderNames(Root()), (std::vector<std::string>{"K470_rsc.bin", "a.txt", "b.txt"}));

  m_builder.SetRoot(Root());
  ASSERT_TRUE(m_builder.CollectResourceFiles(""));
  fs::remove(Root() + "/a.txt");
  EXPECT_FALSE(m_builder.WriteResourceImage());
  EXPECT_EQ(m_builder.LastResult().status, RESOURCE_CANNOT_READ);
  EXPECT_EQ(FolderNames(Root()), (std::vector<std::string>{"K470_rsc.bin", "b.txt"}));
}

}  // namespace
