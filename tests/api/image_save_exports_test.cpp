// The save, rendering and auto-save exports on images captured from the simulated
// imager: files equal to the buffers, the overwrite rule, compressed images
// decompressed or stamped, DIB sections holding the rows, nothing saved before an
// image exists, temporaries removed, and auto-saved names from the capture time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "../image/ImageTestFiles.h"
#include "ImgEngine.h"
#include "SimulatedImagerFixture.h"
#include "image/BmpFile.h"
#include "platform/DibSections.h"
#include "platform/Files.h"

#ifdef _WIN32
#include <windows.h>
#endif

using imagetest::Bytes;
using imagetest::fs::exists;
using imagetest::readFile;
using simimager::Line;
using simimager::progress;
using simimager::SimulatedImager;
using simimager::takeRun;
using simimager::thisThreadWithQueue;

namespace {

constexpr uint8_t kCompressedStatus = 0x10;

sim::Scene patternScene(uint16_t width, uint16_t height) {
  sim::Scene scene;
  scene.image.width = width;
  scene.image.height = height;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) scene.image.grey.push_back(imagetest::greyAt(x, y));
  scene.timing = {1, 2, 3, 4};
  return scene;
}

// A compressed capture: the imager's stream of the same pattern.
sim::Scene compressedScene(uint16_t width, uint16_t height) {
  sim::Scene scene = patternScene(width, height);
  scene.compressedMark = kCompressedStatus;
  scene.compressed = imagetest::imagerJpeg(width, height);
  return scene;
}

// The bits of a bitmap the exports made, as the platform holds them.
Bytes bitsOf(VelBitmap bitmap, size_t expected) {
#ifdef _WIN32
  // GetDIBits reads them back through GDI in the bitmap's own format.
  BITMAP info{};
  if (!GetObjectA(static_cast<HBITMAP>(bitmap), sizeof info, &info)) return {};
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
  } format{};
  format.header.biSize = sizeof format.header;
  format.header.biWidth = info.bmWidth;
  format.header.biHeight = info.bmHeight;
  format.header.biPlanes = 1;
  format.header.biBitCount = info.bmBitsPixel;
  Bytes bits(expected);
  HDC dc = CreateCompatibleDC(nullptr);
  const int rows = GetDIBits(dc, static_cast<HBITMAP>(bitmap), 0, static_cast<UINT>(info.bmHeight), bits.data(),
                             reinterpret_cast<BITMAPINFO*>(&format), DIB_RGB_COLORS);
  DeleteDC(dc);
  return rows == info.bmHeight ? bits : Bytes{};
#else
  vel::platform::DibView view{};
  if (!vel::platform::dibSectionView(bitmap, &view) || view.bitsBytes != expected) return {};
  return Bytes(view.bits, view.bits + view.bitsBytes);
#endif
}

void deleteBitmap(VelBitmap bitmap) {
#ifdef _WIN32
  DeleteObject(static_cast<HBITMAP>(bitmap));
#else
  vel::platform::dibSectionDelete(bitmap);
#endif
}

// The pixel rows of a bitmap file image.
Bytes rowsOf(const uint8_t* file) {
  vel::BmpLayout l;
  if (!vel::readBmpLayout(file, vel::kMaxBmpFileBytes, l)) return {};
  return Bytes(file + l.pixelOffset, file + l.pixelOffset + l.rowBytes());
}

class SaveExports : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = imagetest::fs::current_path();
    imagetest::fs::current_path(dir_.path());
    VelSetTimestampEnabled(0);
  }
  void TearDown() override {
    EXPECT_FALSE(exists(dir_ / "temptemp.bmp"));
    EXPECT_FALSE(exists(dir_ / "temptemp.jpg"));
    imagetest::fs::current_path(previous_);
  }
  void capture(SimulatedImager& imager, const sim::Scene& scene, bool binary, bool compressed) {
    imager.operations().setScene(scene);
    ASSERT_EQ(imager.connect(), 1);
    VelRegisterHostOperationProgressThread(thisThreadWithQueue());
    VelCaptureImage(0, binary, 1, compressed);
    ASSERT_EQ(takeRun().back(), progress(100, 1));
  }
  std::string at(const std::string& name) const { return dir_ / name; }
  imagetest::ScratchFolder dir_;
  imagetest::fs::path previous_;
};

// First in this program: nothing has been received yet.
TEST_F(SaveExports, BeforeAnyImageNothingIsSaved) {
  EXPECT_EQ(VelSaveGreyImageAsBmpFile(at("a.bmp").c_str(), 1), -1);
  EXPECT_EQ(VelSaveGreyImageAsJpegFile(at("a.jpg").c_str(), 1), -2);
  EXPECT_EQ(VelSaveJepgImageAsJpegFile(at("b.jpg").c_str(), 1), -1);
  EXPECT_EQ(VelSaveJpegImageAsBmpFile(at("b.bmp").c_str(), 0), -1);
  EXPECT_EQ(VelCreateGreyImageInDCEx(nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(VelCreateGreyImageInDeviceContext(nullptr), nullptr);
  EXPECT_TRUE(imagetest::fs::is_empty(dir_.path()));
}

TEST_F(SaveExports, GreyBitmapSavesAreTheBufferUnderTheOverwriteRule) {
  SimulatedImager imager(Line::Usb);
  capture(imager, patternScene(640, 480), false, false);
  const std::string bmp = at("grey.bmp");
  ASSERT_EQ(VelSaveGreyImageAsBmpFile(bmp.c_str(), 0), 1);
  const Bytes saved = readFile(bmp);
  ASSERT_EQ(saved.size(), 308278u);
  EXPECT_EQ(static_cast<int>(saved.size()), VelGetGreyImageBitmapFileSize());
  EXPECT_TRUE(std::equal(saved.begin(), saved.end(), VelGetGreyImageBitmapFileData()));
  EXPECT_EQ(VelSaveGreyImageAsBmpFile(bmp.c_str(), 0), -1);
  EXPECT_EQ(VelSaveGreyImageAsBmpFile(bmp.c_str(), 1), 1);

  // The JPEG save: no file and flag 0 is written; an existing file with flag 0 stays.
  const std::string jpg = at("grey.jpg");
  ASSERT_EQ(VelSaveGreyImageAsJpegFile(jpg.c_str(), 0), 1);
  EXPECT_EQ(VelSaveGreyImageAsJpegFile(jpg.c_str(), 0), -1);
  const Bytes jpeg = readFile(jpg);
  Bytes back;
  ASSERT_TRUE(vel::decompressToGreyBmp(jpeg.data(), jpeg.size(), back));
  EXPECT_NEAR(imagetest::bmpPixel(back, 320, 240), imagetest::greyAt(320, 240), 6);
  // Not a compressed image: the stream exports refuse.
  EXPECT_EQ(VelSaveJepgImageAsJpegFile(at("s.jpg").c_str(), 1), -1);
  EXPECT_EQ(VelSaveJpegImageAsBmpFile(at("s.bmp").c_str(), 0), -1);
  EXPECT_FALSE(exists(at("s.jpg")));
  EXPECT_FALSE(exists(at("s.bmp")));
}

TEST_F(SaveExports, DeviceContextBitmapsHoldTheRows) {
  SimulatedImager imager(Line::Usb);
  capture(imager, patternScene(643, 100), false, false);  // rows padded to 644 bytes
  VelBitmap grey = VelCreateGreyImageInDeviceContext(nullptr);
  ASSERT_NE(grey, nullptr);
  EXPECT_EQ(VelGetCurDisplayBuffer(), VelGetGreyImageBitmapFileData());
  const Bytes rows = rowsOf(VelGetGreyImageBitmapFileData());
  EXPECT_EQ(bitsOf(grey, rows.size()), rows);
  deleteBitmap(grey);
  int width = 0, height = 0;
  VelBitmap again = VelCreateGreyImageInDCEx(nullptr, &width, &height);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(width, 643);
  EXPECT_EQ(height, 100);
  deleteBitmap(again);

  capture(imager, patternScene(640, 96), true, false);
  VelBitmap binary = VelCreateBinaryImageInDeviceContext(nullptr);
  ASSERT_NE(binary, nullptr);
  const Bytes binaryRows = rowsOf(VelGetBinaryImageBitmapFileData());
  EXPECT_EQ(bitsOf(binary, binaryRows.size()), binaryRows);
  deleteBitmap(binary);
  EXPECT_EQ(VelSaveBinaryImageAsBmpFile(at("binary.bmp").c_str(), 0), 1);
  const Bytes saved = readFile(at("binary.bmp"));
  EXPECT_EQ(static_cast<int>(saved.size()), VelGetBinaryImageBitmapFileSize());
  EXPECT_TRUE(std::equal(saved.begin(), saved.end(), VelGetBinaryImageBitmapFileData()));
  EXPECT_EQ(VelSaveBinaryImageAsJpegFile(at("binary.jpg").c_str(), 0), 1);
  EXPECT_EQ(VelSaveBinaryImageAsJpegFile(at("binary.jpg").c_str(), 0), -1);
}

TEST_F(SaveExports, NoBinaryImageFromTheMx1) {
  sim::ImagerIdentity mx1;
  mx1.visionProcessor = 0;
  SimulatedImager imager(Line::Usb, mx1);
  capture(imager, patternScene(64, 32), true, false);
  EXPECT_EQ(VelSaveBinaryImageAsBmpFile(at("b.bmp").c_str(), 1), -1);
  EXPECT_EQ(VelSaveBinaryImageAsJpegFile(at("b.jpg").c_str(), 1), -1);
  EXPECT_EQ(VelCreateBinaryImageInDeviceContext(nullptr), nullptr);
  EXPECT_FALSE(exists(at("b.bmp")));
  EXPECT_FALSE(exists(at("b.jpg")));
}

TEST_F(SaveExports, CompressedImagesSaveAsTheirStreamOrDecompressed) {
  SimulatedImager imager(Line::Usb2);
  const sim::Scene scene = compressedScene(640, 480);
  capture(imager, scene, false, true);
  ASSERT_EQ(VelSaveJepgImageAsJpegFile(at("raw.jpg").c_str(), 0), 1);
  EXPECT_EQ(readFile(at("raw.jpg")), scene.compressed);
  EXPECT_EQ(VelSaveGreyImageAsJpegFile(at("grey.jpg").c_str(), 1), 1);
  EXPECT_EQ(readFile(at("grey.jpg")), scene.compressed);

  // The BMP savers decompress: 0 when written, the overwrite rule holds.
  EXPECT_EQ(VelSaveGreyImageAsBmpFile(at("grey.bmp").c_str(), 0), 0);
  EXPECT_EQ(VelSaveGreyImageAsBmpFile(at("grey.bmp").c_str(), 0), -1);
  EXPECT_EQ(VelSaveJpegImageAsBmpFile(at("other.bmp").c_str(), 0), 0);
  const Bytes bmp = readFile(at("grey.bmp"));
  EXPECT_EQ(readFile(at("other.bmp")), bmp);
  vel::BmpLayout l;
  ASSERT_TRUE(vel::readBmpLayout(bmp.data(), bmp.size(), l));
  EXPECT_EQ(l.width, 640u);
  EXPECT_EQ(l.pixelOffset, 1078u);

  // For display: the decompression in the display copy.
  VelBitmap shown = VelCreateGreyImageInDeviceContext(nullptr);
  ASSERT_NE(shown, nullptr);
  EXPECT_NE(VelGetCurDisplayBuffer(), VelGetGreyImageBitmapFileData());
  EXPECT_TRUE(std::equal(bmp.begin(), bmp.end(), VelGetCurDisplayBuffer()));
  EXPECT_EQ(bitsOf(shown, l.rowBytes()), Bytes(bmp.begin() + 1078, bmp.end()));
  deleteBitmap(shown);
}

TEST_F(SaveExports, TheTimestampIsDrawnIntoCompressedSavesAndTheDisplay) {
  SimulatedImager imager(Line::Usb);
  const sim::Scene scene = compressedScene(640, 480);
  capture(imager, scene, false, true);
  VelSetTimestampEnabled(1);
  VelSetTimestampLocation(1);
  EXPECT_EQ(VelExecuteAutoSaveOperation(), 0);  // auto-save off: only the record is taken anew
  ASSERT_EQ(VelSaveJepgImageAsJpegFile(at("stamped.jpg").c_str(), 1), 1);
  const Bytes stamped = readFile(at("stamped.jpg"));
  const auto markers = imagetest::markers(stamped);
  ASSERT_GE(markers.size(), 3u);
  EXPECT_EQ(Bytes(markers.begin(), markers.begin() + 3), Bytes({0xD8, 0xE1, 0xDB}));
  EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xD8), 1);

  ASSERT_EQ(VelSaveJpegImageAsBmpFile(at("stamped.bmp").c_str(), 0), 0);
  const Bytes bmp = readFile(at("stamped.bmp"));
  // Top left, colour 0: black ink and white background in the top rows.
  size_t black = 0, white = 0;
  for (uint32_t y = 1; y < 16; ++y)
    for (uint32_t x = 0; x < 150; ++x) {
      const uint8_t v = imagetest::bmpPixel(bmp, x, y);
      black += v == 0x00;
      white += v == 0xFF;
    }
  EXPECT_GT(black, 300u);
  EXPECT_GT(white, 300u);
  VelBitmap shown = VelCreateGreyImageInDeviceContext(nullptr);
  ASSERT_NE(shown, nullptr);
  EXPECT_TRUE(std::equal(bmp.begin(), bmp.end(), VelGetCurDisplayBuffer()));
  deleteBitmap(shown);
  VelSetTimestampEnabled(0);
}

// The host settings store, made for the test and removed after it.
class SettingsStore {
 public:
  explicit SettingsStore(const std::string& file) {
#ifdef _WIN32
    (void)file;
    HKEY key;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Velmora", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegCloseKey(key);
#else
    imagetest::writeFile(file, {});
    setenv("VEL_HOST_SETTINGS", file.c_str(), 1);
#endif
  }
  ~SettingsStore() {
#ifdef _WIN32
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Velmora");
#else
    unsetenv("VEL_HOST_SETTINGS");
#endif
  }
};

TEST_F(SaveExports, AutoSaveWritesTheCaptureUnderItsTime) {
  SettingsStore store(at("host-settings"));
  const std::string folder = at("auto");
  ASSERT_EQ(VelSetImageSourceFolder(folder.c_str(), 0), 1);
  ASSERT_EQ(VelSetAutoSaveEnabled(1), 0);
  SimulatedImager imager(Line::Usb);
  capture(imager, patternScene(320, 240), false, false);
  ASSERT_EQ(VelExecuteAutoSaveOperation(), 1);
  const std::string name = VelGetAutoSaveFileFullPathName();
  EXPECT_EQ(name, folder + vel::platform::kPathSeparator + VelGetCaptureTimestampStringInASCII());
  EXPECT_EQ(readFile(name + ".bmp").size(), 1078u + 320 * 240);

  // Compression off in the settings, a compressed capture all the same: written
  // decompressed and stamped as ".bmp", as the BMP saver writes it (0).
  const sim::Scene compressed = compressedScene(320, 240);
  capture(imager, compressed, false, true);
  VelSetTimestampEnabled(1);
  ASSERT_EQ(VelExecuteAutoSaveOperation(), 0);
  ASSERT_EQ(VelSaveJpegImageAsBmpFile(at("reference.bmp").c_str(), 0), 0);
  EXPECT_EQ(readFile(std::string(VelGetAutoSaveFileFullPathName()) + ".bmp"), readFile(at("reference.bmp")));
  VelSetTimestampEnabled(0);
  // Compression on: the imager's stream as ".jpg", the capture date in its EXIF block.
  VelSetImageCompressedEnabled(1);
  ASSERT_EQ(VelExecuteAutoSaveOperation(), 1);
  VelSetImageCompressedEnabled(0);
  std::string date = VelGetCaptureTimestampStringInASCII();
  std::replace(date.begin(), date.end(), '-', ':');
  const Bytes jpeg = readFile(std::string(VelGetAutoSaveFileFullPathName()) + ".jpg");
  EXPECT_LT(std::search(jpeg.begin(), jpeg.end(), date.begin(), date.end()), jpeg.end()) << date;
  VelSetAutoSaveEnabled(0);
  EXPECT_EQ(VelExecuteAutoSaveOperation(), 0);
}

}  // namespace
