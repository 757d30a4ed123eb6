// Win32 serial lines: the communications calls on an overlapped device file.
#include "platform/Serial.h"

#include "platform/win32/OverlappedFile.h"

namespace vel::platform {

bool serialConfigure(NativeFile* f, const SerialSettings& s) {
  HANDLE h = fileHandle(f);
  bool ok = SetupComm(h, s.inQueue, s.outQueue) != 0;
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  GetCommState(h, &dcb);
  dcb.BaudRate = s.baudRate;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.ErrorChar = 0;
  dcb.EofChar = 0;
  dcb.EvtChar = 0;
  ok = SetCommState(h, &dcb) != 0 && ok;
  ok = serialPurge(f) && ok;
  COMMTIMEOUTS t;
  t.ReadIntervalTimeout = 0;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = 0xFFFFFFFF;
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 0xFFFFFFFF;
  ok = SetCommTimeouts(h, &t) != 0 && ok;
  DWORD mask = 0;
  GetCommMask(h, &mask);
  ok = SetCommMask(h, mask | s.extraEventMask) != 0 && ok;
  return ok;
}

bool serialSetBaudRate(NativeFile* f, uint32_t baud) {
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(fileHandle(f), &dcb)) return false;
  dcb.BaudRate = baud;
  return SetCommState(fileHandle(f), &dcb) != 0;
}

bool serialSetLineFormat(NativeFile* f, const LineFormat& format) {
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(fileHandle(f), &dcb)) return false;
  dcb.BaudRate = format.baudRate;
  dcb.ByteSize = format.dataBits;
  dcb.Parity = format.parityBit ? EVENPARITY : NOPARITY;
  dcb.StopBits = format.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fBinary = format.binary ? TRUE : FALSE;
  dcb.fParity = format.parityCheck ? TRUE : FALSE;
  return SetCommState(fileHandle(f), &dcb) != 0;
}

bool serialPurge(NativeFile* f) {
  return PurgeComm(fileHandle(f), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
}

bool serialSetBreak(NativeFile* f, bool on) {
  return (on ? SetCommBreak(fileHandle(f)) : ClearCommBreak(fileHandle(f))) != 0;
}

bool serialModemStatus(NativeFile* f, uint32_t* levels) {
  DWORD status = 0;
  if (!GetCommModemStatus(fileHandle(f), &status)) return false;
  *levels = status & (kModemCtsOn | kModemDsrOn);
  return true;
}

IoStart serialWaitEvent(NativeFile* f, uint32_t* mask, IoOperation* op) {
  rearm(op);
  static_assert(sizeof(DWORD) == sizeof(uint32_t), "event mask width");
  return started(WaitCommEvent(fileHandle(f), reinterpret_cast<DWORD*>(mask), &op->ov));
}

}  // namespace vel::platform
