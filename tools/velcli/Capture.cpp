// capture: host captures with their progress, results and images; the images
// written as received (--out) or saved by the library (--save, with the auto-save).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <initializer_list>

#include "Cli.h"
#include "Commands.h"
#include "ImgEngine.h"
#include "Progress.h"
#include "Results.h"

namespace velcli {

namespace {

// How long an interrupted capture may take to stop (one block on a slow line).
constexpr auto kCancelWait = std::chrono::seconds(10);

// Takes the progress messages posted to this thread and shows the status word
// until the run ends; answers the final event code. The word keeps the last run's
// end until this run posts: the run has ended when the word shows an end after one
// of its progress events was taken, or an end other than the last run's, or (a run
// that fails before any progress) the last run's end still after the channel
// timeout. When interrupted it cancels the run and waits a while for its end, so
// that neither the transfer nor a later command waiting for it keeps an
// interrupted velcli alive; 0 when it did not end.
int followRun(ProgressView& view, int lastRunWord, int timeoutMs) {
  const auto start = std::chrono::steady_clock::now();
  const auto quiet = start + std::chrono::milliseconds(timeoutMs) + kCancelWait;
  std::chrono::steady_clock::time_point giveUp{};
  bool progressed = false;
  for (;;) {
    // The word first: whatever this run posted before it showed an end is then
    // in the queue ahead, so a poll that takes no progress event has taken them all.
    const int word = VelGetHostInitiatedOperationStatus();
    const int event = VelOutputProgress(0, 0);  // takes (and so frees) one message posted to this thread
    const bool progress = event >= VEL_EVENT_RESULTS_PROGRESS && event <= VEL_EVENT_GREY_IMAGE_READY;
    progressed |= progress;
    if (progressed || word != lastRunWord) view.show(word);
    if (progress) continue;
    if (endsRun(word >> 8) &&
        (progressed || word != lastRunWord || std::chrono::steady_clock::now() > quiet))
      return word >> 8;
    if (g_interrupted) {
      const auto now = std::chrono::steady_clock::now();
      if (giveUp == std::chrono::steady_clock::time_point{}) {
        VelCancelHostInitiatedOperation();
        giveUp = now + kCancelWait;
      } else if (now > giveUp) {
        return 0;
      }
    }
    pauseMs(5);
  }
}

bool makeFolder(Context& c, const std::string& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (!error) return true;
  c.report.fail("cannot create " + dir + ": " + error.message());
  return false;
}

// The grey image buffer holds the colour image of a colour sensor.
const char* imageStem() { return VelIsColorSensor() ? "colour" : "grey"; }

// "grey.bmp", or "grey-2.bmp" for the second of several captures.
std::string fileName(const char* stem, const char* extension, int index, int count) {
  return std::string(stem) + (count > 1 ? "-" + std::to_string(index + 1) : "") + extension;
}

// A file written (its size in bytes) or saved by the library (its answer).
void reportFile(Context& c, Json& files, const std::string& path, bool ok, const char* verb, const char* key,
                long long value) {
  Json& f = files.push(Json::object());
  f["path"] = Json::string(path);
  f["written"] = Json::boolean(ok);
  f[key] = Json::number(value);
  c.report.say(ok ? verb : std::string("could not ") + verb,
               path + " (" + std::to_string(value) + (std::string(key) == "bytes" ? " bytes)" : ")"));
  if (!ok) c.report.fail(std::string("could not ") + verb + " " + path);
}

bool writeBuffer(Context& c, Json& files, const std::string& path, const unsigned char* data, int size, int limit) {
  std::FILE* f = size > 0 && size <= limit && data ? std::fopen(path.c_str(), "wb") : nullptr;
  bool ok = f && std::fwrite(data, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size);
  if (f) ok = std::fclose(f) == 0 && ok;
  reportFile(c, files, path, ok, "wrote", "bytes", size);
  return ok;
}

// Sizes of the images received; with an output folder, the buffers as they are.
bool reportImages(Context& c, Json& capture, int index) {
  const Options& o = c.options;
  Json& files = capture["files"] = Json::array();
  bool ok = true;
  if (o.grey) {
    const char* stem = imageStem();
    const bool jpeg = VelGetGreyImageDataSize() == 0 && VelGetGreyImageCompressedDataSize() > 0;
    const int size = jpeg ? VelGetGreyImageCompressedDataSize() : VelGetGreyImageDataSize();
    Json& g = capture["greyImage"];
    g["width"] = Json::number(VelGetGreyImageWidth()), g["height"] = Json::number(VelGetGreyImageHeight());
    g["bytes"] = Json::number(size), g["compressed"] = Json::boolean(jpeg);
    c.report.say(std::string(stem) + " image", std::to_string(VelGetGreyImageWidth()) + " x " +
                                                   std::to_string(VelGetGreyImageHeight()) + ", " +
                                                   std::to_string(size) + " bytes" + (jpeg ? " compressed" : ""));
    if (o.outDir.size()) {
      const auto path = [&](const char* ext) {
        return (std::filesystem::path(o.outDir) / fileName(stem, ext, index, o.count)).string();
      };
      ok &= jpeg ? writeBuffer(c, files, path(".jpg"), VelGetGreyImageData(), VelGetGreyImageCompressedDataSize(),
                               kGreyBufferBytes)
                 : writeBuffer(c, files, path(".bmp"), VelGetGreyImageBitmapFileData(), VelGetGreyImageBitmapFileSize(),
                               kGreyBufferBytes);
    }
  }
  if (o.binary) {
    Json& b = capture["binaryImage"];
    b["width"] = Json::number(VelGetBinaryImageWidth()), b["height"] = Json::number(VelGetBinaryImageHeight());
    b["bytes"] = Json::number(VelGetBinaryImageDataSize());
    c.report.say("binary image:          " + std::to_string(VelGetBinaryImageWidth()) + " x " +
                 std::to_string(VelGetBinaryImageHeight()) + ", " + std::to_string(VelGetBinaryImageDataSize()) +
                 " bytes");
    if (o.outDir.size() && VelGetBinaryImageBitmapFileData())
      ok &=
          writeBuffer(c, files, (std::filesystem::path(o.outDir) / fileName("binary", ".bmp", index, o.count)).string(),
                      VelGetBinaryImageBitmapFileData(), VelGetBinaryImageBitmapFileSize(), kBinaryBufferBytes);
  }
  return ok;
}

// The auto-save (when the host settings ask for it) and the library's own saves.
bool saveImages(Context& c, Json& capture, int index) {
  const Options& o = c.options;
  Json& files = capture["saved"] = Json::array();
  const int autoSaved = VelExecuteAutoSaveOperation();
  Json& a = capture["autoSave"];
  a["result"] = Json::number(autoSaved);
  if (autoSaved != 0) {
    const char* path = VelGetAutoSaveFileFullPathName();
    a["path"] = Json::string(path ? path : "");
    c.report.say("auto-save:             " + std::to_string(autoSaved) + " (" + (path ? path : "") + ")");
  }
  bool ok = true;
  auto save = [&](const char* stem, const char* ext, int(VEL_API* saver)(const char*, int),
                  std::initializer_list<int> success) {
    const std::string path = (std::filesystem::path(o.saveDir) / fileName(stem, ext, index, o.count)).string();
    const int result = saver(path.c_str(), 1);
    const bool saved = std::find(success.begin(), success.end(), result) != success.end();
    reportFile(c, files, path, saved, "saved", "result", result);
    ok &= saved;
  };
  if (o.grey) {
    save(imageStem(), ".bmp", VelSaveGreyImageAsBmpFile, {0, 1});  // 0: a compressed image, decompressed
    save(imageStem(), ".jpg", VelSaveGreyImageAsJpegFile, {1});
  }
  if (o.binary && VelGetBinaryImageBitmapFileData()) {
    save("binary", ".bmp", VelSaveBinaryImageAsBmpFile, {1});
    save("binary", ".jpg", VelSaveBinaryImageAsJpegFile, {1});
  }
  return ok;
}

// One capture: answers kOk, kCaptureFailed or kFileError.
int captureOnce(Context& c, Json& capture, int index) {
  const Options& o = c.options;
  const auto start = std::chrono::steady_clock::now();
  const int lastRunWord = VelGetHostInitiatedOperationStatus();
  VelCaptureImage(o.decode, o.binary, o.grey, o.compressed);
  ProgressView view(c.report.json());
  const int end = followRun(view, lastRunWord, o.timeoutMs);
  view.finish();
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  capture["end"] = Json::string(g_interrupted ? "interrupted" : eventName(end));
  capture["microseconds"] = Json::number(us.count());
  c.report.say("capture:               " + std::string(g_interrupted ? "interrupted" : eventName(end)) + " in " +
               std::to_string(us.count()) + " us");
  if (end != VEL_EVENT_DONE) {
    c.report.fail(g_interrupted ? "capture interrupted" : std::string("capture ended: ") + eventName(end));
    return kCaptureFailed;
  }
  if (o.decode) reportBarcodes(c.report, capture, console::readCapture("host", true, false, false));
  bool ok = reportImages(c, capture, index);
  if (o.saveDir.size()) ok &= saveImages(c, capture, index);
  return ok ? kOk : kFileError;
}

}  // namespace

int runCapture(Context& c) {
  const Options& o = c.options;
  if (!o.decode && !o.grey && !o.binary) {
    c.report.fail("capture needs --decode, --grey or --binary");
    return kUsage;
  }
  if ((o.outDir.size() && !makeFolder(c, o.outDir)) || (o.saveDir.size() && !makeFolder(c, o.saveDir)))
    return kFileError;
  if (!connectImager(c)) return kConnectFailed;
  if (o.timestamp) VelSetTimestampEnabled(1);
  // The library's settings name the auto-saved file: they follow what is asked for.
  if (o.compressed) VelSetImageCompressedEnabled(1);
  VelRegisterHostOperationProgressThread(ownThreadId());
  Json& captures = c.report.root()["captures"] = Json::array();
  int result = kOk;
  const int count = std::max(o.count, 1);
  for (int i = 0; i < count && result == kOk; ++i) {
    if (count > 1) c.report.say("capture " + std::to_string(i + 1) + " of " + std::to_string(count));
    result = captureOnce(c, captures.push(Json::object()), i);
  }
  // The status check waits for a transfer still under way: an interrupted run skips it.
  if (result == kCaptureFailed && !g_interrupted && VelGetCommunicationStatus() != 1)
    result = linkStatus(c, "capture");
  disconnectImager(c);
  return result;
}

}  // namespace velcli
