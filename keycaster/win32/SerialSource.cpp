// Serial scanner: the port is read one byte at a time; a read that times out after
// a pause ends the barcode.
#include <cstdio>

#include "Sources.h"

namespace keycaster {

HANDLE SerialSource::open(int port, bool forReading) {
  if (port < 1 || port > 6) return INVALID_HANDLE_VALUE;
  char name[] = "COM1";
  name[3] = static_cast<char>('0' + port);
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(h, &dcb);
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.fParity = TRUE;
  dcb.StopBits = ONESTOPBIT;
  dcb.fNull = FALSE;
  dcb.fRtsControl = forReading ? RTS_CONTROL_DISABLE : RTS_CONTROL_ENABLE;
  SetCommState(h, &dcb);

  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = forReading ? 20 : 30;
  timeouts.ReadTotalTimeoutMultiplier = 10;
  timeouts.ReadTotalTimeoutConstant = 200;
  SetCommTimeouts(h, &timeouts);
  return h;
}

bool SerialSource::probe(int port) {
  close();
  Sleep(100);
  port_ = open(port, false);
  return isOpen();
}

bool SerialSource::openReader(int port) {
  close();
  Sleep(100);
  port_ = open(port, true);
  if (!isOpen()) return false;
  run_ = true;
  thread_ = CreateThread(nullptr, 0, readerThread, this, 0, nullptr);
  if (!thread_) {
    run_ = false;
    CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
    return false;
  }
  return true;
}

void SerialSource::close() {
  run_ = false;
  if (thread_) {
    // The reader sees the flag after its current read, at most ~210 ms + 50 ms.
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  if (port_ != INVALID_HANDLE_VALUE) {
    CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
  }
}

DWORD WINAPI SerialSource::readerThread(LPVOID arg) {
  auto* self = static_cast<SerialSource*>(arg);
  SerialCollector collector;
  std::vector<uint8_t> barcode;
  while (self->run_) {
    uint8_t b = 0;
    DWORD got = 0;
    // A failed read counts as a pause, so an unplugged adapter only ends barcodes.
    if (ReadFile(self->port_, &b, 1, &got, nullptr) && got == 1) {
      collector.addByte(b);
      continue;
    }
    if (collector.pause(barcode)) self->handOver_.deliver(barcode.data(), barcode.size());
    Sleep(50);
  }
  return 0;
}

}  // namespace keycaster
