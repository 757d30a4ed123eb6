using System;
using System.Runtime.InteropServices;
using System.Threading;
using ImgEngine.Native;

namespace ImgEngine.Notifications
{
    /// <summary>
    /// Windows: one thread with a message loop and two message-only windows, one registered
    /// as the host operation's progress window (and for USB presence), one as the trigger
    /// operation's. Every message the library posts reaches the window procedure through
    /// DispatchMessage, and the cancels run there too, so that the library's cancel watchdog
    /// (a timer of the cancelling thread) fires in this loop.
    /// </summary>
    sealed class WindowsPump : NotificationPump
    {
        const uint WmUser = 0x0400, WmApp = 0x8000;
        const uint WmOperationProgress = WmUser + 258, WmConfigurationChanged = WmUser + 259, WmUsbReadyStatus = WmUser + 260;
        const uint WmAppCancel = WmApp + 17, WmAppStop = WmApp + 18;
        static readonly IntPtr MessageOnly = new IntPtr(-3);

        readonly Thread _thread;
        readonly ManualResetEvent _ready = new ManualResetEvent(false);
        readonly WindowProcedure _procedure;  // kept alive as long as the windows are
        readonly string _className = "ImgEngine.Net." + Guid.NewGuid().ToString("N");
        IntPtr _hostWindow, _triggerWindow;
        Exception _startError;

        internal WindowsPump(IRunSink sink) : base(sink)
        {
            _procedure = OnMessage;
            _thread = new Thread(Main) { IsBackground = true, Name = "ImgEngine notifications" };
        }

        internal override void Start()
        {
            _thread.Start();
            if (!_ready.WaitOne(StartLimit)) throw new InvalidOperationException("the notification thread did not start");
            if (_startError != null) throw _startError;
            using (Calls.Shared())
            {
                NativeMethods.VelRegisterHostOperationProgressWindow(_hostWindow);
                NativeMethods.VelRegisterTriggerProgressWindow(_triggerWindow);
                NativeMethods.VelRegisterUsbReadyStatusNotifyWindow(_hostWindow);
            }
        }

        internal override void Stop()
        {
            using (Calls.Shared())
            {
                NativeMethods.VelRegisterHostOperationProgressWindow(IntPtr.Zero);
                NativeMethods.VelRegisterTriggerProgressWindow(IntPtr.Zero);
                NativeMethods.VelRegisterUsbReadyStatusNotifyWindow(IntPtr.Zero);
            }
            if (_hostWindow != IntPtr.Zero) PostMessageW(_hostWindow, WmAppStop, IntPtr.Zero, IntPtr.Zero);
            if (_thread.IsAlive && !IsPumpThread) _thread.Join(StopLimit);
        }

        internal override void RequestCancel(Operation operation)
        {
            PostMessageW(_hostWindow, WmAppCancel, new IntPtr((int)operation), IntPtr.Zero);
        }

        internal override bool IsPumpThread
        {
            get { return Thread.CurrentThread == _thread; }
        }

        void Main()
        {
            try
            {
                var windowClass = new WindowClass
                {
                    Size = (uint)Marshal.SizeOf(typeof(WindowClass)),
                    Procedure = Marshal.GetFunctionPointerForDelegate(_procedure),
                    Instance = GetModuleHandleW(null),
                    ClassName = _className,
                };
                if (RegisterClassExW(ref windowClass) == 0) throw new InvalidOperationException("RegisterClassEx failed: " + Marshal.GetLastWin32Error());
                _hostWindow = CreateWindowExW(0, _className, "", 0, 0, 0, 0, 0, MessageOnly, IntPtr.Zero, windowClass.Instance, IntPtr.Zero);
                _triggerWindow = CreateWindowExW(0, _className, "", 0, 0, 0, 0, 0, MessageOnly, IntPtr.Zero, windowClass.Instance, IntPtr.Zero);
                if (_hostWindow == IntPtr.Zero || _triggerWindow == IntPtr.Zero)
                    throw new InvalidOperationException("CreateWindowEx failed: " + Marshal.GetLastWin32Error());
            }
            catch (Exception error)
            {
                _startError = error;
                _ready.Set();
                return;
            }
            _ready.Set();
            Message message;
            while (GetMessageW(out message, IntPtr.Zero, 0, 0) > 0)
            {
                TranslateMessage(ref message);
                DispatchMessageW(ref message);
            }
            UnregisterClassW(_className, GetModuleHandleW(null));
        }

        IntPtr OnMessage(IntPtr window, uint message, IntPtr wParam, IntPtr lParam)
        {
            Operation operation = window == _triggerWindow ? Operation.Trigger : Operation.Host;
            switch (message)
            {
                case WmOperationProgress:
                    int eventCode = (int)lParam.ToInt64(), percent = (int)wParam.ToInt64();
                    if (IsEnd(eventCode)) Guarded(() => Sink.Ended(operation, eventCode));
                    else Guarded(() => Sink.Progress(operation, eventCode, percent));
                    return IntPtr.Zero;
                case WmConfigurationChanged:
                    int reason = (int)wParam.ToInt64();
                    Guarded(() => Sink.ConfigurationChanged(reason));
                    return IntPtr.Zero;
                case WmUsbReadyStatus:
                    bool present = lParam != IntPtr.Zero;
                    Guarded(() => Sink.UsbReady(present));
                    return IntPtr.Zero;
                case WmAppCancel:
                    Cancel((Operation)(int)wParam.ToInt64());
                    return IntPtr.Zero;
                case WmAppStop:
                    DestroyWindow(_triggerWindow);
                    DestroyWindow(_hostWindow);
                    PostQuitMessage(0);
                    return IntPtr.Zero;
            }
            return DefWindowProcW(window, message, wParam, lParam);
        }

        [UnmanagedFunctionPointer(CallingConvention.Winapi)]
        delegate IntPtr WindowProcedure(IntPtr window, uint message, IntPtr wParam, IntPtr lParam);

        [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
        struct WindowClass
        {
            public uint Size;
            public uint Style;
            public IntPtr Procedure;
            public int ClassExtra;
            public int WindowExtra;
            public IntPtr Instance;
            public IntPtr Icon;
            public IntPtr Cursor;
            public IntPtr Background;
            public string MenuName;
            public string ClassName;
            public IntPtr SmallIcon;
        }

        [StructLayout(LayoutKind.Sequential)]
        struct Message
        {
            public IntPtr Window;
            public uint Id;
            public IntPtr WParam;
            public IntPtr LParam;
            public uint Time;
            public int X;
            public int Y;
        }

        [DllImport("user32.dll", SetLastError = true, CharSet = CharSet.Unicode)]
        static extern ushort RegisterClassExW(ref WindowClass windowClass);

        [DllImport("user32.dll", CharSet = CharSet.Unicode)]
        static extern bool UnregisterClassW(string className, IntPtr instance);

        [DllImport("user32.dll", SetLastError = true, CharSet = CharSet.Unicode)]
        static extern IntPtr CreateWindowExW(uint exStyle, string className, string title, uint style, int x, int y, int width,
                                             int height, IntPtr parent, IntPtr menu, IntPtr instance, IntPtr parameter);

        [DllImport("user32.dll")]
        static extern bool DestroyWindow(IntPtr window);

        [DllImport("user32.dll")]
        static extern int GetMessageW(out Message message, IntPtr window, uint first, uint last);

        [DllImport("user32.dll")]
        static extern bool TranslateMessage(ref Message message);

        [DllImport("user32.dll")]
        static extern IntPtr DispatchMessageW(ref Message message);

        [DllImport("user32.dll")]
        static extern bool PostMessageW(IntPtr window, uint message, IntPtr wParam, IntPtr lParam);

        [DllImport("user32.dll")]
        static extern void PostQuitMessage(int code);

        [DllImport("user32.dll")]
        static extern IntPtr DefWindowProcW(IntPtr window, uint message, IntPtr wParam, IntPtr lParam);

        [DllImport("kernel32.dll", CharSet = CharSet.Unicode)]
        static extern IntPtr GetModuleHandleW(string name);
    }
}
