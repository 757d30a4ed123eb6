// The wedge's main dialog: settings, Start/Stop of the scanner sources, the
// notification-area icon, and typing each barcode that a source hands over.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "Autorun.h"
#include "ImgEngine.h"
#include "KeyCasterSettings.h"
#include "Sources.h"
#include "SsiDll.h"
#include "Win32Typing.h"
#include "resource.h"

namespace keycaster {

namespace {

constexpr UINT WM_TRAY_NOTIFY = 0x8065;
constexpr UINT WM_TYPING_REPORT = WM_APP + 0x20;
constexpr UINT kTrayIconId = 0x8065;
constexpr LPARAM kResultsProgress = 3;
constexpr LPARAM kResultsReady = 6;
constexpr const char* kAppTitle = "KeyCaster";

const int kSourceButtons[8] = {IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4, IDC_COM5, IDC_COM6, IDC_USB1, IDC_USB2};
const char* const kDelayItems[] = {"0    ", "100", "200", "300", "400", "500"};
const char* const kControlDelayItems[] = {"0    ", "50", "100", "200", "300", "400", "500"};

INT_PTR CALLBACK aboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(window, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

// Bound when the program loads; the wedge never relies on the status itself.
int(__stdcall* volatile communicationStatus)() = VelGetCommunicationStatus;

class KeyCasterDialog : public OptionSource {
 public:
  KeyCasterDialog()
      : handOver_([this] { PostMessageA(window_, WM_OPERATION_PROGRESS, 0, kResultsReady); }),
        serial_(handOver_),
        hid_(handOver_),
        typing_(*this, WM_TYPING_REPORT) {}

  INT_PTR handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // On the typing thread: the options as the dialog showed them when last looked at.
  TypingOptions readOptions() override;

 private:
  void initialise();
  void readControls();
  void showSettings();
  void setReading(bool reading);
  void startSource();
  void stopSource();
  void resyncReturnSetting();
  void saveAndQuit();
  void addTrayIcon();
  void removeTrayIcon();
  void typeNextBarcode();
  void refreshOptions();
  void showTypingReport(TypingStatus status, unsigned typed, unsigned bytes);
  bool checked(int id) const { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }
  int selection(int id) const { return static_cast<int>(SendDlgItemMessageA(window_, id, CB_GETCURSEL, 0, 0)); }

  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;
  bool trayIcon_ = false;
  KeyCasterSettings settings_;  // the dialog members, and the reserved bytes of the file
  BarcodeHandOver handOver_;
  SerialSource serial_;
  HidSource hid_;
  Win32Sleeper sleeper_;
  std::mutex optionsLock_;
  TypingOptions options_;  // the typing controls, read on the window thread
  TypingThread typing_;
  bool returnHandledByScanner_ = false;
  int comPortNumber_ = 0;
  uint8_t ssiReplyBuffer_[kSsiReplyBufferBytes] = {};
};

// The controls are read on the window thread, when a barcode is handed to the typing
// thread and whenever a control reports a change, so that a change applies to the next
// barcode and to the appended Return as before.
void KeyCasterDialog::refreshOptions() {
  TypingOptions o;
  o.sendReturn = checked(IDC_SEND_RETURN);
  o.windowModeCrLf = checked(IDC_WINDOW_MODE);
  o.shiftCodePage = checked(IDC_SHIFT_CODE_PAGE);
  o.forceUpcAToEan13 = checked(IDC_FORCE_EAN13);
  o.delayIndex = selection(IDC_DELAY);
  o.controlCodeDelayIndex = selection(IDC_CONTROL_DELAY);
  std::lock_guard<std::mutex> guard(optionsLock_);
  options_ = o;
}

TypingOptions KeyCasterDialog::readOptions() {
  std::lock_guard<std::mutex> guard(optionsLock_);
  return options_;
}

void KeyCasterDialog::readControls() {
  for (int i = 0; i < 8; ++i) {
    if (checked(kSourceButtons[i])) settings_.sourceIndex = static_cast<uint8_t>(i);
  }
  settings_.sendReturn = checked(IDC_SEND_RETURN);
  settings_.windowModeCrLf = checked(IDC_WINDOW_MODE);
  settings_.shiftCodePage = checked(IDC_SHIFT_CODE_PAGE);
  settings_.autoRun = checked(IDC_AUTORUN);
  settings_.forceUpcAToEan13 = checked(IDC_FORCE_EAN13);
  const int delay = selection(IDC_DELAY);
  const int controlDelay = selection(IDC_CONTROL_DELAY);
  if (delay >= 0) settings_.delayIndex = static_cast<uint8_t>(delay);
  if (controlDelay >= 0) settings_.controlCodeDelayIndex = static_cast<uint8_t>(controlDelay);
}

void KeyCasterDialog::showSettings() {
  const KeyCasterSettings s = settings_.sanitized();
  CheckRadioButton(window_, IDC_COM1, IDC_USB2, kSourceButtons[s.sourceIndex]);
  CheckDlgButton(window_, IDC_SEND_RETURN, s.sendReturn);
  CheckDlgButton(window_, IDC_WINDOW_MODE, s.windowModeCrLf);
  CheckDlgButton(window_, IDC_SHIFT_CODE_PAGE, s.shiftCodePage);
  CheckDlgButton(window_, IDC_AUTORUN, s.autoRun);
  CheckDlgButton(window_, IDC_FORCE_EAN13, s.forceUpcAToEan13);
  SendDlgItemMessageA(window_, IDC_DELAY, CB_SETCURSEL, s.delayIndex, 0);
  SendDlgItemMessageA(window_, IDC_CONTROL_DELAY, CB_SETCURSEL, s.controlCodeDelayIndex, 0);
}

void KeyCasterDialog::addTrayIcon() {
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = window_;
  data.uID = kTrayIconId;
  data.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
  data.uCallbackMessage = WM_TRAY_NOTIFY;
  data.hIcon = static_cast<HICON>(
      LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, 16, 16, 0));
  std::strcpy(data.szTip, "Keyboard Caster");
  trayIcon_ = Shell_NotifyIconA(NIM_ADD, &data) != FALSE;
  if (data.hIcon) DestroyIcon(data.hIcon);
}

void KeyCasterDialog::removeTrayIcon() {
  if (!trayIcon_) return;
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = window_;
  data.uID = kTrayIconId;
  Shell_NotifyIconA(NIM_DELETE, &data);
  trayIcon_ = false;
}

void KeyCasterDialog::initialise() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  char about[64] = {};
  if (LoadStringA(instance, IDS_ABOUTBOX, about, sizeof about) > 0) {
    if (HMENU menu = GetSystemMenu(window_, FALSE)) {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }
  icon_ = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  smallIcon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_ ? smallIcon_ : icon_));

  for (const char* item : kDelayItems) SendDlgItemMessageA(window_, IDC_DELAY, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  for (const char* item : kControlDelayItems)
    SendDlgItemMessageA(window_, IDC_CONTROL_DELAY, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));

  // The status line under the controls: the outcome of the last barcode.
  RECT line = {7, 158, 190, 167};
  MapDialogRect(window_, &line);
  HWND status = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, line.left,
                                line.top, line.right - line.left, line.bottom - line.top, window_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS)), instance, nullptr);
  if (status) SendMessageA(status, WM_SETFONT, SendMessageA(window_, WM_GETFONT, 0, 0), FALSE);

  EnableWindow(GetDlgItem(window_, IDC_STOP), FALSE);
  settings_ = LoadSettings(kSettingsFileName);
  showSettings();
  refreshOptions();
  addTrayIcon();
  if (!typing_.start(window_)) SetDlgItemTextA(window_, IDC_STATUS, "Typing is not available");
  if (settings_.autoRun) PostMessageA(window_, WM_COMMAND, IDC_START, 0);
}

void KeyCasterDialog::setReading(bool reading) {
  EnableWindow(GetDlgItem(window_, IDC_START), !reading);
  EnableWindow(GetDlgItem(window_, IDC_STOP), reading);
  for (int id : kSourceButtons) EnableWindow(GetDlgItem(window_, id), !reading);
}

void KeyCasterDialog::startSource() {
  returnHandledByScanner_ = false;
  const int source = settings_.sanitized().sourceIndex;
  if (source <= 5) {
    const int port = source + 1;
    if (!serial_.probe(port)) {
      MessageBoxA(window_, "Open Serial Port Error!", "Error", MB_OK);
      removeTrayIcon();
      ExitProcess(0);
    }
    SsiDll ssi(window_);
    ssi.openLink(kSsiBaudRate, port);
    ssi.closeLink(port);
    serial_.close();
    switch (RunSsiStart(ssi, sleeper_, port, settings_.sendReturn != 0, ssiReplyBuffer_)) {
      case SsiStartResult::Configured:
        returnHandledByScanner_ = true;
        comPortNumber_ = port;
        serial_.openReader(port);
        return;
      case SsiStartResult::LinkFailed:
        MessageBoxA(window_, "Connect Symbol device (RS232)fail-1!", kAppTitle, MB_OK);
        break;
      case SsiStartResult::NotReady:
        break;
    }
  }
  hid_.start();
}

void KeyCasterDialog::stopSource() {
  returnHandledByScanner_ = false;
  if (hid_.deviceOpen()) {
    hid_.stop();
  } else if (serial_.isOpen()) {
    serial_.close();
  } else {
    hid_.stopWatch();
    VelDeviceDisconnect();
  }
}

void KeyCasterDialog::resyncReturnSetting() {
  if (!returnHandledByScanner_) return;
  readControls();
  serial_.close();
  Sleep(100);
  SsiDll ssi(window_);
  if (ResyncReturnParameter(ssi, sleeper_, comPortNumber_, settings_.sendReturn != 0, ssiReplyBuffer_)) {
    returnHandledByScanner_ = true;
  }
  serial_.openReader(comPortNumber_);
}

void KeyCasterDialog::typeNextBarcode() {
  std::vector<uint8_t> barcode = TakeBarcode(handOver_, [](int index, int maxLength, uint8_t* buffer) {
    return VelGetBarcodeData(index, maxLength, buffer);
  });
  if (barcode.empty()) return;
  refreshOptions();
  typing_.submit(std::move(barcode), returnHandledByScanner_);
}

void KeyCasterDialog::showTypingReport(TypingStatus status, unsigned typed, unsigned bytes) {
  char text[128];
  switch (status) {
    case TypingStatus::Typed: std::snprintf(text, sizeof text, "Barcode typed (%u bytes)", bytes); break;
    case TypingStatus::NoWindow: std::snprintf(text, sizeof text, "Barcode not typed: no window to type into"); break;
    case TypingStatus::NotResponding:
      std::snprintf(text, sizeof text, "Barcode not typed: the window does not respond");
      break;
    case TypingStatus::NoFocus:
      std::snprintf(text, sizeof text, "Barcode not typed: no window has the keyboard focus");
      break;
    case TypingStatus::Refused: std::snprintf(text, sizeof text, "Barcode not typed: the window refuses input"); break;
    case TypingStatus::TypedInPart:
      std::snprintf(text, sizeof text, "Barcode typed in part (%u of %u bytes): input refused", typed, bytes);
      break;
    case TypingStatus::Stopped:
      if (typed == 0) std::snprintf(text, sizeof text, "Barcode not typed: stopped");
      else std::snprintf(text, sizeof text, "Barcode typed in part (%u of %u bytes): stopped", typed, bytes);
      break;
    case TypingStatus::TooOld:
      std::snprintf(text, sizeof text, "Barcode not typed: it waited more than %u s",
                    static_cast<unsigned>(TypingThread::kMaxBarcodeWaitMs / 1000));
      break;
    case TypingStatus::QueueFull:
      std::snprintf(text, sizeof text, "Barcode not typed: %u barcodes are waiting already",
                    static_cast<unsigned>(TypingThread::kMaxWaitingBarcodes));
      break;
    default: return;
  }
  SetDlgItemTextA(window_, IDC_STATUS, text);
  if (!trayIcon_) return;
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = window_;
  data.uID = kTrayIconId;
  data.uFlags = NIF_TIP;
  std::snprintf(data.szTip, sizeof data.szTip, "Keyboard Caster: %s", text);
  if (status != TypingStatus::Typed) {
    // A barcode that did not arrive whole is told in a balloon as well.
    data.uFlags |= NIF_INFO;
    data.dwInfoFlags = NIIF_WARNING;
    std::snprintf(data.szInfoTitle, sizeof data.szInfoTitle, "%s", kAppTitle);
    std::snprintf(data.szInfo, sizeof data.szInfo, "%s", text);
  }
  Shell_NotifyIconA(NIM_MODIFY, &data);
}

void KeyCasterDialog::saveAndQuit() {
  typing_.shutdown(3000);
  serial_.close();
  readControls();
  SaveSettings(kSettingsFileName, settings_);
  ApplyAutorun(settings_.autoRun != 0);
  removeTrayIcon();
  Sleep(100);
  hid_.stopReader();
  PostQuitMessage(0);
}

INT_PTR KeyCasterDialog::handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      window_ = window;
      initialise();
      return TRUE;
    case WM_COMMAND:
      refreshOptions();
      switch (LOWORD(wParam)) {
        case IDC_START:
          ShowWindow(window_, SW_HIDE);
          readControls();
          setReading(true);
          readControls();
          startSource();
          return TRUE;
        case IDC_HIDE:
          ShowWindow(window_, SW_HIDE);
          return TRUE;
        case IDC_STOP:
          setReading(false);
          stopSource();
          typing_.stop();
          return TRUE;
        case IDC_SEND_RETURN:
          if (HIWORD(wParam) == BN_CLICKED) resyncReturnSetting();
          return TRUE;
        case IDOK:
        case IDCANCEL:
          DestroyWindow(window_);
          return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      stopSource();
      typing_.stop();
      DestroyWindow(window_);
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUTBOX), window_, aboutProc, 0);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      saveAndQuit();
      return TRUE;
    case WM_OPERATION_PROGRESS:
      if (lParam == kResultsReady) typeNextBarcode();
      return TRUE;
    case WM_TYPING_REPORT:
      showTypingReport(static_cast<TypingStatus>(wParam), HIWORD(lParam), LOWORD(lParam));
      return TRUE;
    case WM_TRAY_NOTIFY:
      if (lParam == WM_LBUTTONDOWN || lParam == WM_RBUTTONDOWN) {
        ShowWindow(window_, SW_SHOW);
        SetForegroundWindow(window_);
      }
      return TRUE;
  }
  return FALSE;
}

KeyCasterDialog* theDialog = nullptr;

INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return theDialog ? theDialog->handle(window, message, wParam, lParam) : FALSE;
}

}  // namespace

// The dialog runs as the application's only window, with a loop of our own: the
// system's modal loop would show the window again after AutoRUN has hidden it.
int RunKeyCaster(HINSTANCE instance) {
  (void)communicationStatus;
  // Never destroyed: reader and watch threads that are still winding down when the
  // window closes keep using it until the process ends.
  theDialog = new KeyCasterDialog;
  HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_KEYCASTER_DIALOG), nullptr, dialogProc, 0);
  if (!window) return 0;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (!IsWindow(window) || !IsDialogMessageA(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return 0;
}

}  // namespace keycaster
