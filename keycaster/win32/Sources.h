// The scanner sources of the wedge on Windows: the serial port with its reader thread,
// and the USB HID scanner with its reader, wait and watchdog threads.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "ScannerInput.h"

namespace keycaster {

constexpr uint16_t kHidVendorId = 0x05E0;
constexpr uint16_t kHidProductId = 0x1300;

class SerialSource {
 public:
  explicit SerialSource(BarcodeHandOver& handOver) : handOver_(handOver) {}
  ~SerialSource() { close(); }
  // Closes any open port, waits 100 ms and opens port 1-6 with the probe settings.
  bool probe(int port);
  // Waits 100 ms, opens the port with the reader settings and starts the reader thread.
  bool openReader(int port);
  // Stops the reader thread (it ends within one read timeout) and closes the port.
  void close();
  bool isOpen() const { return port_ != INVALID_HANDLE_VALUE; }

 private:
  static DWORD WINAPI readerThread(LPVOID self);
  HANDLE open(int port, bool forReading);

  BarcodeHandOver& handOver_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
  HANDLE thread_ = nullptr;
  std::atomic<bool> run_{false};
};

class HidSource {
 public:
  explicit HidSource(BarcodeHandOver& handOver) : handOver_(handOver) {}
  // Starts reading the scanner, or waiting for it, unless a scanner is already open.
  void start();
  bool deviceOpen();
  // Ends reader and watchdog (hidReaderRun and hidWatchRun cleared).
  void stop();
  // Ends the wait thread only (hidWatchRun cleared).
  void stopWatch();
  // Ends the reader only (hidReaderRun cleared).
  void stopReader();

  struct Reader;
  struct Watch;

 private:
  // Opens the scanner if present; the caller owns the handle.
  HANDLE find(bool fromWatchdog);
  void startReaderLocked(HANDLE device);
  void startWatch(bool watchdog);
  static DWORD WINAPI watchThread(LPVOID arg);

  BarcodeHandOver& handOver_;
  std::mutex lock_;
  std::shared_ptr<Reader> reader_;  // the current reader: hidDevice valid while set
  std::shared_ptr<Watch> watch_;
};

}  // namespace keycaster
