// Plain files through the platform layer: the create modes, no sharing while a
// file is open for writing, whole reads, probes, deletes, replacing moves and
// folders; and the save rule built on them.
#include <gtest/gtest.h>

#include "../image/ImageTestFiles.h"
#include "image/ImageFiles.h"
#include "platform/Files.h"

namespace {

using imagetest::Bytes;
using imagetest::readFile;
using imagetest::writeFile;
using namespace vel::platform;

TEST(PlainFiles, NewOnlyRefusesAnExistingFileAndReplaceEmptiesIt) {
  imagetest::ScratchFolder dir;
  const std::string path = dir / "a.bin";
  PlainFile* f = fileCreate(path.c_str(), CreateMode::kNewOnly);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fileWrite(f, "hello", 5), 5u);
  fileClose(f);
  EXPECT_EQ(fileCreate(path.c_str(), CreateMode::kNewOnly), nullptr);
  EXPECT_EQ(readFile(path), Bytes({'h', 'e', 'l', 'l', 'o'}));
  f = fileCreate(path.c_str(), CreateMode::kReplace);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fileWrite(f, "ab", 2), 2u);
  fileClose(f);
  EXPECT_EQ(readFile(path), Bytes({'a', 'b'}));
  EXPECT_EQ(fileCreate((dir / "missing/x.bin").c_str(), CreateMode::kReplace), nullptr);
  EXPECT_EQ(fileCreate("", CreateMode::kReplace), nullptr);
  EXPECT_EQ(fileCreate(nullptr, CreateMode::kReplace), nullptr);
}

TEST(PlainFiles, AFileOpenForWritingIsNotShared) {
  imagetest::ScratchFolder dir;
  const std::string path = dir / "held.bin";
  PlainFile* f = fileCreate(path.c_str(), CreateMode::kReplace);
  ASSERT_NE(f, nullptr);
  fileWrite(f, "xyz", 3);
  Bytes read;
  EXPECT_EQ(fileCreate(path.c_str(), CreateMode::kReplace), nullptr);
  EXPECT_FALSE(fileReadAll(path.c_str(), read, 100));
  fileClose(f);
  EXPECT_TRUE(fileReadAll(path.c_str(), read, 100));
  EXPECT_EQ(read, Bytes({'x', 'y', 'z'}));
}

TEST(PlainFiles, ReadAllHonoursItsLimit) {
  imagetest::ScratchFolder dir;
  writeFile(dir / "ten", Bytes(10, 7));
  Bytes read;
  EXPECT_FALSE(fileReadAll((dir / "ten").c_str(), read, 9));
  EXPECT_TRUE(fileReadAll((dir / "ten").c_str(), read, 10));
  EXPECT_EQ(read, Bytes(10, 7));
  EXPECT_FALSE(fileReadAll((dir / "none").c_str(), read, 10));
  EXPECT_FALSE(fileReadAll(dir.path().string().c_str(), read, 10));  // a folder
}

TEST(PlainFiles, ProbeDeleteReplaceAndFolders) {
  imagetest::ScratchFolder dir;
  const std::string a = dir / "a", b = dir / "b", sub = dir / "sub";
  EXPECT_FALSE(fileProbe(a.c_str()));
  writeFile(a, {1});
  writeFile(b, {2, 2});
  EXPECT_TRUE(fileProbe(a.c_str()));
  EXPECT_FALSE(fileProbe(dir.path().string().c_str()));
  EXPECT_TRUE(fileReplace(a.c_str(), b.c_str()));
  EXPECT_FALSE(fileProbe(a.c_str()));
  EXPECT_EQ(readFile(b), Bytes({1}));
  EXPECT_TRUE(fileDelete(b.c_str()));
  EXPECT_FALSE(fileDelete(b.c_str()));
  EXPECT_TRUE(directoryCreate(sub.c_str()));
  EXPECT_TRUE(directoryCreate(sub.c_str()));  // already there
  EXPECT_TRUE(imagetest::fs::is_directory(sub));
  writeFile(a, {1});
  EXPECT_FALSE(directoryCreate(a.c_str()));  // a file of that name
  EXPECT_FALSE(directoryCreate((dir / "x/y/z").c_str()));
}

TEST(SaveRule, OverwriteZeroNeverTouchesAnExistingFile) {
  imagetest::ScratchFolder dir;
  const std::string path = dir / "image.bmp";
  const Bytes data = {'B', 'M', 1, 2, 3};
  EXPECT_EQ(vel::writeImageFile(path.c_str(), data.data(), data.size(), false), vel::kWritten);
  EXPECT_EQ(readFile(path), data);
  const Bytes other = {9, 9};
  EXPECT_EQ(vel::writeImageFile(path.c_str(), other.data(), other.size(), false), vel::kNotCreated);
  EXPECT_EQ(readFile(path), data);
  EXPECT_EQ(vel::writeImageFile(path.c_str(), other.data(), other.size(), true), vel::kWritten);
  EXPECT_EQ(readFile(path), other);
  EXPECT_EQ(vel::writeImageFile((dir / "no/such/folder.bmp").c_str(), other.data(), other.size(), true),
            vel::kNotCreated);
}

}  // namespace
