// The saves and renderings of grey, compressed and binary image buffers: the
// overwrite rule, the kind of the buffer deciding the path, headers checked
// against the buffer, no file but the target touched (also in a read-only current
// folder), short writes, DIB sections, and the auto-save.
#include <gtest/gtest.h>

#include <algorithm>

#include "ChildProcess.h"
#include "ImageTestFiles.h"
#include "image/ImageFiles.h"
#include "image/ImageSaves.h"
#include "image/JpegExif.h"
#include "platform/DibSections.h"
#include "platform/Files.h"

namespace {

using imagetest::Bytes;
using imagetest::fs::exists;
using imagetest::readFile;
using namespace vel;

constexpr size_t kGreyCapacity = 3932214;
constexpr size_t kBinaryCapacity = 164352;

// A buffer of the library's size holding a file image at its start.
struct Buffer {
  Bytes bytes;
  uint32_t compressed = 0;
  explicit Buffer(size_t capacity, const Bytes& content = {}) : bytes(capacity) {
    std::copy(content.begin(), content.end(), bytes.begin());
  }
  ImageBuffer view() { return {bytes.data(), bytes.size(), compressed}; }
};

Buffer greyBuffer(uint32_t w = 640, uint32_t h = 480) { return Buffer(kGreyCapacity, imagetest::greyBitmap(w, h)); }

// "JP", the pseudo header (pixel offset 54, width, height) and the imager's stream.
Buffer jpegBuffer(const Bytes& stream, uint32_t w, uint32_t h) {
  Buffer b(kGreyCapacity);
  b.bytes[0] = 'J';
  b.bytes[1] = 'P';
  putLe32(&b.bytes[10], 54);
  putLe32(&b.bytes[14], 40);
  putLe32(&b.bytes[18], w);
  putLe32(&b.bytes[22], h);
  std::copy(stream.begin(), stream.end(), b.bytes.begin() + 54);
  b.compressed = static_cast<uint32_t>(stream.size());
  return b;
}

// A 1-bit bitmap (black/white palette): pixel set where (x + y) % 3 == 0, y the
// stored row (0 at the bottom).
Buffer binaryBuffer(uint32_t w, uint32_t h) {
  const uint32_t stride = bmpStride(w, 1);
  Bytes file(62 + size_t{stride} * h);
  file[0] = 'B';
  file[1] = 'M';
  putLe32(&file[2], static_cast<uint32_t>(file.size()));
  putLe32(&file[10], 62);
  putLe32(&file[14], 40);
  putLe32(&file[18], w);
  putLe32(&file[22], h);
  putLe16(&file[26], 1);
  putLe16(&file[28], 1);
  putLe32(&file[34], stride * h);
  std::fill(file.begin() + 58, file.begin() + 61, 0xFF);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      if ((x + y) % 3 == 0) file[62 + size_t{stride} * y + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  return Buffer(kBinaryCapacity, file);
}

TimestampRecord record(bool timestamp, const std::string& folder = ".\\", bool autoSave = false,
                       bool compressed = false) {
  DeviceConfiguration c{};
  c.timestampEnabled = timestamp;
  c.fwImageCompressedEnabled = compressed;
  c.timestampLocation = 1;
  c.imageCompressedQuality = 80;
  return makeTimestampRecord(c, {autoSave, false, folder.c_str()}, 1, {2005, 9, 14, 10, 20, 30});
}

// The tests run in a scratch folder of their own, also their current folder.
class ImageSaves : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = imagetest::fs::current_path();
    imagetest::fs::current_path(dir_.path());
  }
  void TearDown() override { imagetest::fs::current_path(previous_); }
  // The names in the scratch folder, sorted.
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : imagetest::fs::directory_iterator(dir_.path()))
      found.push_back(entry.path().filename().string());
    std::sort(found.begin(), found.end());
    return found;
  }
  std::string at(const std::string& name) const { return dir_ / name; }
  imagetest::ScratchFolder dir_;
  imagetest::fs::path previous_;
};

TEST_F(ImageSaves, BitmapIsSavedByteForByteUnderTheOverwriteRule) {
  Buffer grey = greyBuffer();
  const std::string path = at("grey.bmp");
  EXPECT_EQ(saveBitmapBuffer(grey.view(), path.c_str(), false), 1);  // flag 0, no file: written
  const Bytes saved = readFile(path);
  ASSERT_EQ(saved.size(), 308278u);  // 1078 + 480 x 640
  EXPECT_TRUE(std::equal(saved.begin(), saved.end(), grey.bytes.begin()));
  Buffer other = greyBuffer(64, 64);
  EXPECT_EQ(saveBitmapBuffer(other.view(), path.c_str(), false), -1);
  EXPECT_EQ(readFile(path), saved);
  EXPECT_EQ(saveBitmapBuffer(other.view(), path.c_str(), true), 1);
  EXPECT_EQ(readFile(path).size(), 1078u + 64 * 64);
}

TEST_F(ImageSaves, NoSoundBitmapNoFile) {
  Buffer empty(kGreyCapacity);
  EXPECT_EQ(saveBitmapBuffer(empty.view(), at("a.bmp").c_str(), true), -1);
  Buffer tooBig = greyBuffer();
  putLe32(&tooBig.bytes[2], kGreyCapacity + 1);
  EXPECT_EQ(saveBitmapBuffer(tooBig.view(), at("b.bmp").c_str(), true), -1);
  Buffer tooSmall = greyBuffer();
  putLe32(&tooSmall.bytes[2], 1078 + 100);  // fewer bytes than the rows
  EXPECT_EQ(saveBitmapBuffer(tooSmall.view(), at("c.bmp").c_str(), true), -1);
  Buffer tall = greyBuffer();
  putLe32(&tall.bytes[22], 100000);  // rows past the buffer
  EXPECT_EQ(saveBitmapBuffer(tall.view(), at("d.bmp").c_str(), true), -1);
  Buffer jpeg = jpegBuffer(imagetest::imagerJpeg(32, 32), 32, 32);
  EXPECT_EQ(saveBitmapBuffer(jpeg.view(), at("e.bmp").c_str(), true), -1);
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp"}) EXPECT_FALSE(exists(at(name))) << name;
}

TEST_F(ImageSaves, JpegStreamIsSavedAsItCameOrStamped) {
  const Bytes stream = imagetest::imagerJpeg(640, 480);
  Buffer grey = jpegBuffer(stream, 640, 480);
  EXPECT_EQ(saveJpegStream(grey.view(), at("plain.jpg").c_str(), false, record(false)), 1);
  EXPECT_EQ(readFile(at("plain.jpg")), stream);
  EXPECT_EQ(saveJpegStream(grey.view(), at("plain.jpg").c_str(), false, record(false)), -1);
  EXPECT_EQ(saveJpegStream(grey.view(), at("stamped.jpg").c_str(), false, record(true)), 1);
  const Bytes stamped = readFile(at("stamped.jpg"));
  const auto found = imagetest::markers(stamped);
  ASSERT_GE(found.size(), 3u);
  EXPECT_EQ(Bytes(found.begin(), found.begin() + 3), Bytes({0xD8, 0xE1, 0xDB}));
  const Bytes app1 = imagetest::imagerApp1();
  EXPECT_TRUE(std::equal(app1.begin(), app1.end(), stamped.begin() + 2));
  // Stray bytes before a marker do not keep the stamp out.
  Buffer stray = jpegBuffer(imagetest::withStrayBytes(stream), 640, 480);
  EXPECT_EQ(saveJpegStream(stray.view(), at("stray.jpg").c_str(), false, record(true)), 1);
  EXPECT_EQ(readFile(at("stray.jpg")), stamped);
  // A stream that ends early is saved as it came, but never without the stamp it should carry.
  for (bool endMarker : {false, true}) {
    const Bytes broken = imagetest::firstHalf(stream, endMarker);
    Buffer half = jpegBuffer(broken, 640, 480);
    EXPECT_EQ(saveJpegStream(half.view(), at("half.jpg").c_str(), true, record(false)), 1);
    EXPECT_EQ(readFile(at("half.jpg")), broken);
    EXPECT_EQ(saveJpegStream(half.view(), at("unstamped.jpg").c_str(), true, record(true)), -1) << endMarker;
    EXPECT_FALSE(exists(at("unstamped.jpg")));
  }
}

TEST_F(ImageSaves, JpegStreamNeedsAJpegWithinTheBuffer) {
  Buffer bitmap = greyBuffer();
  EXPECT_EQ(saveJpegStream(bitmap.view(), at("a.jpg").c_str(), true, record(false)), -1);
  Buffer huge = jpegBuffer(imagetest::imagerJpeg(32, 32), 32, 32);
  huge.compressed = static_cast<uint32_t>(kGreyCapacity - 53);
  EXPECT_EQ(saveJpegStream(huge.view(), at("b.jpg").c_str(), true, record(false)), -1);
  Buffer empty = jpegBuffer({}, 32, 32);
  EXPECT_EQ(saveJpegStream(empty.view(), at("c.jpg").c_str(), true, record(false)), -1);
  Buffer offset = jpegBuffer(imagetest::imagerJpeg(32, 32), 32, 32);
  putLe32(&offset.bytes[10], 0xFFFFFFF0u);
  EXPECT_EQ(saveJpegStream(offset.view(), at("d.jpg").c_str(), true, record(false)), -1);
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) EXPECT_FALSE(exists(at(name))) << name;
}

TEST_F(ImageSaves, JpegToBitmapAnswersZeroOnlyWhenItWrote) {
  Buffer grey = jpegBuffer(imagetest::imagerJpeg(320, 240), 320, 240);
  EXPECT_EQ(saveJpegAsBitmap(grey.view(), at("out.bmp").c_str(), true, record(false)), 0);
  const Bytes bmp = readFile(at("out.bmp"));
  BmpLayout l;
  ASSERT_TRUE(readBmpLayout(bmp.data(), bmp.size(), l));
  EXPECT_EQ(l.width, 320u);
  EXPECT_EQ(l.pixelOffset, 1078u);
  EXPECT_NEAR(imagetest::bmpPixel(bmp, 100, 200), imagetest::greyAt(100, 200), 6);
  // Stamped at the top left when the timestamp is enabled.
  EXPECT_EQ(saveJpegAsBitmap(grey.view(), at("stamped.bmp").c_str(), true, record(true)), 0);
  const Bytes stamped = readFile(at("stamped.bmp"));
  Bytes expected = bmp;
  ASSERT_TRUE(stampBitmap(expected.data(), expected.size(), record(true)));
  EXPECT_EQ(stamped, expected);
  // Refused, not a JPEG, or a stream that does not decode: -1 and no file.
  EXPECT_EQ(saveJpegAsBitmap(grey.view(), at("out.bmp").c_str(), false, record(false)), -1);
  Buffer bitmap = greyBuffer();
  EXPECT_EQ(saveJpegAsBitmap(bitmap.view(), at("a.bmp").c_str(), true, record(false)), -1);
  Bytes broken = imagetest::imagerJpeg(320, 240);
  broken.resize(broken.size() - 100);
  Buffer half = jpegBuffer(broken, 320, 240);
  EXPECT_EQ(saveJpegAsBitmap(half.view(), at("b.bmp").c_str(), true, record(false)), -1);
  EXPECT_FALSE(exists(at("a.bmp")));
  EXPECT_FALSE(exists(at("b.bmp")));
  // Stray bytes before a marker: only a warning, the picture is whole.
  Buffer stray = jpegBuffer(imagetest::withStrayBytes(imagetest::imagerJpeg(320, 240)), 320, 240);
  EXPECT_EQ(saveJpegAsBitmap(stray.view(), at("stray.bmp").c_str(), true, record(true)), 0);
  EXPECT_EQ(readFile(at("stray.bmp")), stamped);
}

TEST_F(ImageSaves, GreyJpegSaveFollowsTheOverwriteRuleAndReportsFailure) {
  Buffer none(kGreyCapacity);
  EXPECT_EQ(saveGreyAsJpeg(none.view(), at("none.jpg").c_str(), true, record(false)), -2);
  Buffer grey = greyBuffer();
  const std::string path = at("grey.jpg");
  EXPECT_EQ(saveGreyAsJpeg(grey.view(), path.c_str(), false, record(false)), 1);  // no file, flag 0: written
  Bytes jpeg = readFile(path);
  Bytes back;
  ASSERT_TRUE(decompressToGreyBmp(jpeg.data(), jpeg.size(), back));
  EXPECT_NEAR(imagetest::bmpPixel(back, 300, 100), imagetest::greyAt(300, 100), 6);
  imagetest::writeFile(path, {'o', 'l', 'd'});
  EXPECT_EQ(saveGreyAsJpeg(grey.view(), path.c_str(), false, record(false)), -1);
  EXPECT_EQ(readFile(path), Bytes({'o', 'l', 'd'}));
  EXPECT_EQ(saveGreyAsJpeg(grey.view(), path.c_str(), true, record(false)), 1);
  EXPECT_EQ(readFile(path), jpeg);
  // A compressed image goes out as its stream.
  const Bytes stream = imagetest::imagerJpeg(64, 48);
  Buffer compressed = jpegBuffer(stream, 64, 48);
  EXPECT_EQ(saveGreyAsJpeg(compressed.view(), path.c_str(), true, record(false)), 1);
  EXPECT_EQ(readFile(path), stream);
  EXPECT_EQ(saveGreyAsJpeg(grey.view(), at("no/such/folder.jpg").c_str(), true, record(false)), -1);
}

TEST_F(ImageSaves, BinaryJpegIsThePixelsAsGreyBytes) {
  Buffer binary = binaryBuffer(640, 480);
  const Bytes grey = binaryToGreyBitmap(binary.view());
  ASSERT_EQ(grey.size(), 1078u + 307200);
  EXPECT_EQ(getLe32(&grey[46]), 0u);
  EXPECT_EQ(imagetest::bmpPixel(grey, 0, 479), 0xFF);  // bottom row, x 0: (0 + 0) % 3 == 0
  EXPECT_EQ(imagetest::bmpPixel(grey, 1, 479), 0x00);
  EXPECT_EQ(imagetest::bmpPixel(grey, 2, 478), 0xFF);  // stored row 1: (2 + 1) % 3 == 0
  EXPECT_EQ(imagetest::bmpPixel(grey, 2, 477), 0x00);

  EXPECT_EQ(saveBinaryAsJpeg(binary.view(), at("binary.jpg").c_str(), false), 1);
  Bytes jpeg = readFile(at("binary.jpg")), back;
  ASSERT_TRUE(decompressToGreyBmp(jpeg.data(), jpeg.size(), back));
  BmpLayout l;
  ASSERT_TRUE(readBmpLayout(back.data(), back.size(), l));
  EXPECT_EQ(l.width, 640u);
  EXPECT_EQ(l.height, 480u);
  EXPECT_EQ(saveBinaryAsJpeg(binary.view(), at("binary.jpg").c_str(), false), -1);
  Buffer none(kBinaryCapacity);
  EXPECT_EQ(saveBinaryAsJpeg(none.view(), at("none.jpg").c_str(), true), -1);
  EXPECT_FALSE(exists(at("none.jpg")));
  // Only a directory listing would show a temporary left in the target folder.
  for (const auto& entry : imagetest::fs::directory_iterator(dir_.path()))
    EXPECT_EQ(entry.path().filename().string(), "binary.jpg");
}

TEST_F(ImageSaves, DisplayIsTheBitmapOrTheStampedDecompression) {
  Buffer grey = greyBuffer(), copy(kGreyCapacity);
  EXPECT_EQ(prepareDisplay(grey.view(), copy.view(), record(true)), grey.bytes.data());
  Buffer compressed = jpegBuffer(imagetest::imagerJpeg(640, 480), 640, 480);
  ASSERT_EQ(prepareDisplay(compressed.view(), copy.view(), record(true)), copy.bytes.data());
  ASSERT_EQ(saveJpegAsBitmap(compressed.view(), at("ref.bmp").c_str(), true, record(true)), 0);
  const Bytes reference = readFile(at("ref.bmp"));
  EXPECT_TRUE(std::equal(reference.begin(), reference.end(), copy.bytes.begin()));
  Buffer stray = jpegBuffer(imagetest::withStrayBytes(imagetest::imagerJpeg(640, 480)), 640, 480);
  Buffer strayCopy(kGreyCapacity);
  ASSERT_EQ(prepareDisplay(stray.view(), strayCopy.view(), record(true)), strayCopy.bytes.data());
  EXPECT_EQ(strayCopy.bytes, copy.bytes);
  Buffer none(kGreyCapacity), early = jpegBuffer(imagetest::firstHalf(imagetest::imagerJpeg(640, 480), true), 640, 480);
  EXPECT_EQ(prepareDisplay(none.view(), copy.view(), record(true)), nullptr);
  EXPECT_EQ(prepareDisplay(early.view(), copy.view(), record(true)), nullptr);
}

// The conversions run in memory: files of the user's that happen to carry the
// names of the old fixed temporaries stay as they are, and nothing else appears.
TEST_F(ImageSaves, ConversionsTouchNoFileButTheirTarget) {
  const Bytes mine = {'m', 'i', 'n', 'e'};
  imagetest::writeFile(at("temptemp.jpg"), mine);
  imagetest::writeFile(at("temptemp.bmp"), mine);
  Buffer compressed = jpegBuffer(imagetest::imagerJpeg(320, 240), 320, 240), copy(kGreyCapacity);
  Buffer grey = greyBuffer(), binary = binaryBuffer(64, 48);
  EXPECT_EQ(saveJpegAsBitmap(compressed.view(), at("out.bmp").c_str(), true, record(true)), 0);
  EXPECT_EQ(prepareDisplay(compressed.view(), copy.view(), record(true)), copy.bytes.data());
  EXPECT_EQ(saveGreyAsJpeg(grey.view(), at("grey.jpg").c_str(), true, record(false)), 1);
  EXPECT_EQ(saveBinaryAsJpeg(binary.view(), at("binary.jpg").c_str(), true), 1);
  EXPECT_EQ(readFile(at("temptemp.jpg")), mine);
  EXPECT_EQ(readFile(at("temptemp.bmp")), mine);
  EXPECT_EQ(names(), (std::vector<std::string>{"binary.jpg", "grey.jpg", "out.bmp", "temptemp.bmp", "temptemp.jpg"}));
}

#ifndef _WIN32
// A current folder the process may not write to does not stop a save elsewhere.
TEST_F(ImageSaves, SavesWorkInAReadOnlyCurrentFolder) {
  namespace fs = imagetest::fs;
  fs::create_directory(at("ro"));
  fs::create_directory(at("out"));
  fs::permissions(at("ro"), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(at("out"), fs::perms::all);
  Buffer compressed = jpegBuffer(imagetest::imagerJpeg(320, 240), 320, 240), copy(kGreyCapacity);
  Buffer grey = greyBuffer(), binary = binaryBuffer(64, 48);
  const std::string out = at("out") + platform::kPathSeparator;
  const std::vector<int> results = childprocess::run([&] {
    if (!childprocess::dropRoot() || ::chdir(at("ro").c_str()) != 0) return std::vector<int>{};
    return std::vector<int>{
        saveJpegAsBitmap(compressed.view(), (out + "a.bmp").c_str(), true, record(true)),
        prepareDisplay(compressed.view(), copy.view(), record(true)) == copy.bytes.data(),
        saveGreyAsJpeg(grey.view(), (out + "b.jpg").c_str(), true, record(false)),
        saveBinaryAsJpeg(binary.view(), (out + "c.jpg").c_str(), true),
        autoSave(compressed.view(), record(true, out, true)),
        // Proof that the folder is read-only for the child.
        platform::fileCreate("probe", platform::CreateMode::kReplace) == nullptr,
    };
  });
  fs::permissions(at("ro"), fs::perms::owner_all);
  EXPECT_EQ(results, (std::vector<int>{0, 1, 1, 1, 0, 1}));
  EXPECT_TRUE(fs::is_empty(at("ro")));
}

// Writes that come back short: -2 where the partial file stays, -1 and no file
// where the save converts, and never a temporary left behind.
TEST_F(ImageSaves, ShortWritesAreReported) {
  constexpr size_t kLimit = 4096;
  Buffer grey = greyBuffer(), binary = binaryBuffer(640, 480);
  const Bytes stream = imagetest::imagerJpeg(640, 480);
  Buffer compressed = jpegBuffer(stream, 640, 480);
  Bytes greyJpeg, binaryJpeg;
  ASSERT_TRUE(compressBmp(grey.bytes.data(), grey.bytes.size(), 75, JpegHeader::kNormal, greyJpeg));
  const Bytes binaryGrey = binaryToGreyBitmap(binary.view());
  ASSERT_TRUE(compressBmp(binaryGrey.data(), binaryGrey.size(), 75, JpegHeader::kNormal, binaryJpeg));
  for (size_t size : {stream.size(), greyJpeg.size(), binaryJpeg.size()}) ASSERT_GT(size, kLimit);
  imagetest::writeFile(at("in.bmp"), imagetest::greyBitmap(640, 480));
  imagetest::writeFile(at("in.jpg"), stream);
  const std::string folder = at("auto") + platform::kPathSeparator;
  const std::vector<int> results = childprocess::run([&] {
    if (!childprocess::limitFileSize(kLimit)) return std::vector<int>{};
    return std::vector<int>{
        saveBitmapBuffer(grey.view(), "grey.bmp", true),
        saveBitmapBuffer(binary.view(), "binary.bmp", true),
        saveJpegStream(compressed.view(), "stream.jpg", true, record(false)),
        saveJpegAsBitmap(compressed.view(), "decompressed.bmp", true, record(false)),
        saveGreyAsJpeg(grey.view(), "grey.jpg", true, record(false)),
        saveGreyAsJpeg(compressed.view(), "compressed.jpg", true, record(false)),
        saveBinaryAsJpeg(binary.view(), "binary.jpg", true),
        autoSave(grey.view(), record(false, folder, true)),
        autoSave(compressed.view(), record(false, folder, true, true)),
        compressBmpFile("in.bmp", "out.jpg", 75),
        decompressJpegFile("in.jpg", "out.bmp"),
    };
  });
  EXPECT_EQ(results, (std::vector<int>{-2, -2, -2, -1, -1, -1, -1, -2, -2, 0, 0}));
  EXPECT_EQ(names(), (std::vector<std::string>{"auto", "binary.bmp", "compressed.jpg", "grey.bmp", "in.bmp", "in.jpg",
                                               "stream.jpg"}));
  EXPECT_EQ(imagetest::fs::file_size(at("grey.bmp")), kLimit);
}
#endif

TEST_F(ImageSaves, DibSectionsHoldTheHeaderAndTheRows) {
  struct Case {
    Buffer buffer;
    DibRows rows;
    size_t offset;
  };
  Buffer colour(kGreyCapacity, imagetest::colourBitmap(101, 20));
  for (Case c : {Case{greyBuffer(643, 20), DibRows::kImageSize, 1078}, Case{colour, DibRows::kImageSize, 54},
                 Case{binaryBuffer(640, 480), DibRows::kFileSize, 62}}) {
    int width = -1, height = -1;
    void* bitmap = makeDibSection(nullptr, c.buffer.view(), c.rows, &width, &height);
    ASSERT_NE(bitmap, nullptr);
    platform::DibView view{};
    ASSERT_TRUE(platform::dibSectionView(bitmap, &view));
    BmpLayout l;
    ASSERT_TRUE(readBmpLayout(c.buffer.bytes.data(), c.buffer.bytes.size(), l));
    ASSERT_EQ(view.bitsBytes, l.rowBytes());
    EXPECT_TRUE(std::equal(view.bits, view.bits + view.bitsBytes, c.buffer.bytes.begin() + c.offset));
    if (view.info) {
      EXPECT_TRUE(std::equal(view.info, view.info + view.infoBytes, c.buffer.bytes.begin() + 14));
    }
    if (c.rows == DibRows::kImageSize) {
      EXPECT_EQ(width, static_cast<int>(l.width));
      EXPECT_EQ(height, static_cast<int>(l.height));
    }
    platform::dibSectionDelete(bitmap);
  }
  // Null width and height pointers are skipped; unsound buffers give no bitmap.
  Buffer grey = greyBuffer();
  void* bitmap = makeDibSection(nullptr, grey.view(), DibRows::kImageSize, nullptr, nullptr);
  EXPECT_NE(bitmap, nullptr);
  platform::dibSectionDelete(bitmap);
  Buffer none(kGreyCapacity);
  EXPECT_EQ(makeDibSection(nullptr, none.view(), DibRows::kImageSize, nullptr, nullptr), nullptr);
  putLe32(&grey.bytes[34], kGreyCapacity);  // image size past the buffer
  EXPECT_EQ(makeDibSection(nullptr, grey.view(), DibRows::kImageSize, nullptr, nullptr), nullptr);
}

TEST_F(ImageSaves, AutoSaveNamesTheFileByTheCaptureTime) {
  const std::string folder = at("auto") + platform::kPathSeparator;
  Buffer grey = greyBuffer();
  const Bytes before = grey.bytes;
  // Off: nothing saved, but the image in memory gets the timestamp.
  EXPECT_EQ(autoSave(grey.view(), record(true, folder, false)), 0);
  EXPECT_FALSE(exists(at("auto")));
  EXPECT_NE(grey.bytes, before);
  Buffer plain = greyBuffer();
  EXPECT_EQ(autoSave(plain.view(), record(false, folder, true)), 1);
  const std::string bmp = at("auto") + platform::kPathSeparator + "2005-09-14 10-20-30.bmp";
  EXPECT_EQ(readFile(bmp).size(), 308278u);
  EXPECT_EQ(autoSave(plain.view(), record(false, folder, true)), 1);  // the same second: replaced

  // The settings name the kind: compression on saves the imager's stream as ".jpg".
  Buffer compressed = jpegBuffer(imagetest::imagerJpeg(64, 48), 64, 48);
  EXPECT_EQ(autoSave(compressed.view(), record(false, folder, true, true)), 1);
  const std::string name = at("auto") + platform::kPathSeparator + "2005-09-14 10-20-30";
  const Bytes jpeg = readFile(name + ".jpg");
  EXPECT_LT(std::search(jpeg.begin(), jpeg.end(), std::begin("2005:09:14 10:20:30"), std::end("2005:09:14 10:20:30") - 1),
            jpeg.end());
  // Compression off, a compressed capture all the same: decompressed and stamped as ".bmp", 0.
  imagetest::fs::remove(name + ".bmp");
  EXPECT_EQ(autoSave(compressed.view(), record(true, folder, true)), 0);
  ASSERT_EQ(saveJpegAsBitmap(compressed.view(), at("ref.bmp").c_str(), true, record(true)), 0);
  EXPECT_EQ(readFile(name + ".bmp"), readFile(at("ref.bmp")));
  // Compression on, a bitmap in memory: no stream to save.
  imagetest::fs::remove(name + ".jpg");
  EXPECT_EQ(autoSave(plain.view(), record(false, folder, true, true)), -1);
  EXPECT_FALSE(exists(name + ".jpg"));
}

TEST_F(ImageSaves, AutoSaveRunsForBothPerspectiveCorrectionsAndNeedsRoomForTheName) {
  DeviceConfiguration c{};
  c.perspectiveCorrectionEnabled = 1;
  const std::string folder = at("p") + platform::kPathSeparator;
  // Perspective correction sends the imager's JPEG stream.
  Buffer grey = jpegBuffer(imagetest::imagerJpeg(64, 64), 64, 64);
  EXPECT_EQ(autoSave(grey.view(), makeTimestampRecord(c, {false, true, folder.c_str()}, 1, {2005, 9, 14, 10, 20, 30})), 1);
  EXPECT_TRUE(exists(at("p") + platform::kPathSeparator + "2005-09-14 10-20-30.jpg"));
  EXPECT_EQ(autoSave(grey.view(), makeTimestampRecord(c, {false, false, folder.c_str()}, 1, {2005, 9, 14, 10, 20, 30})), 0);
  // Folder and name fit the record's 256 bytes, the extension does not.
  const std::string longFolder = std::string(233, 'f') + platform::kPathSeparator;
  const TimestampRecord r = makeTimestampRecord(c, {true, false, longFolder.c_str()}, 1, {2005, 9, 14, 10, 20, 30});
  ASSERT_EQ(std::strlen(r.autoSavePath), 253u);
  EXPECT_EQ(autoSave(grey.view(), r), -1);
  EXPECT_FALSE(exists(longFolder));
  Buffer none(kGreyCapacity);
  EXPECT_EQ(autoSave(none.view(), record(false, folder, true)), -1);
}

}  // namespace
