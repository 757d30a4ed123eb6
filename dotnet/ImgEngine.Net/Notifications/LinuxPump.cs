using System;
using System.Runtime.InteropServices;
using System.Threading;
using ImgEngine.Native;

namespace ImgEngine.Notifications
{
    /// <summary>
    /// Linux: one thread per operation, registered as the operation's progress thread, so
    /// that the two operations' messages never mix. Only VelOutputProgress reads a thread's
    /// queue: it returns the events 3..8 and takes the others without returning them, so the
    /// end of a run (1, 2, 9) is read from the operation's status word, which holds the last
    /// event posted. A run has ended when the word shows an end after an event 3..8 was seen,
    /// or when it changed to an end. VelOutputProgress also runs the thread's due timers,
    /// among them the cancel watchdog of a cancel made on this thread.
    /// </summary>
    sealed class LinuxPump : NotificationPump
    {
        readonly Loop _host, _trigger;

        internal LinuxPump(IRunSink sink) : base(sink)
        {
            _host = new Loop(this, Operation.Host);
            _trigger = new Loop(this, Operation.Trigger);
        }

        internal override void Start()
        {
            _host.Start();
            _trigger.Start();
            using (Calls.Shared())
            {
                NativeMethods.VelRegisterHostOperationProgressThread(_host.ThreadId);
                NativeMethods.VelRegisterTriggerProgressThread(_trigger.ThreadId);
            }
        }

        internal override void Stop()
        {
            using (Calls.Shared())
            {
                NativeMethods.VelRegisterHostOperationProgressThread(0);
                NativeMethods.VelRegisterTriggerProgressThread(0);
            }
            _host.Stop();
            _trigger.Stop();
        }

        internal override void RequestCancel(Operation operation)
        {
            (operation == Operation.Host ? _host : _trigger).RequestCancel();
        }

        internal override bool IsPumpThread
        {
            get { return _host.IsCurrent || _trigger.IsCurrent; }
        }

        // The kernel's thread id names a thread to the library (gettid(), not pthread_self()).
        [DllImport("libc", EntryPoint = "syscall")]
        static extern long Syscall(long number);

        static uint KernelThreadId()
        {
            const long X64Gettid = 186, X86Gettid = 224;
            return (uint)Syscall(IntPtr.Size == 8 ? X64Gettid : X86Gettid);
        }

        sealed class Loop
        {
            readonly LinuxPump _pump;
            readonly Operation _operation;
            readonly Thread _thread;
            readonly ManualResetEvent _ready = new ManualResetEvent(false);
            volatile bool _stopping;
            int _cancels;
            internal uint ThreadId;

            internal Loop(LinuxPump pump, Operation operation)
            {
                _pump = pump;
                _operation = operation;
                _thread = new Thread(Main) { IsBackground = true, Name = "ImgEngine " + operation.ToString().ToLowerInvariant() + " notifications" };
            }

            internal bool IsCurrent { get { return Thread.CurrentThread == _thread; } }

            internal void Start()
            {
                _thread.Start();
                if (!_ready.WaitOne(StartLimit)) throw new InvalidOperationException("a notification thread did not start");
            }

            internal void Stop()
            {
                _stopping = true;
                if (_thread.IsAlive && !IsCurrent) _thread.Join(StopLimit);
            }

            internal void RequestCancel()
            {
                Interlocked.Exchange(ref _cancels, 1);
            }

            int Status()
            {
                return (_operation == Operation.Host ? NativeMethods.VelGetHostInitiatedOperationStatus()
                                                     : NativeMethods.VelGetTriggerOperationStatus()) & 0xFFFF;
            }

            void Main()
            {
                int lastEnd;
                ThreadId = KernelThreadId();
                using (Calls.Shared())
                {
                    NativeMethods.VelOutputProgress(0, -1);  // makes this thread's queue
                    lastEnd = Status();
                }
                _ready.Set();
                bool reported = false;
                IRunSink sink = _pump.Sink;
                while (!_stopping)
                {
                    if (Interlocked.Exchange(ref _cancels, 0) != 0) Cancel(_operation);
                    int word, eventCode;
                    // The word is read first: every event 3..8 posted before it showed an end is
                    // then in the queue ahead of anything else, so a poll that finds none means
                    // that they have all been taken.
                    using (Calls.Shared())
                    {
                        word = Status();
                        eventCode = NativeMethods.VelOutputProgress(0, -1);
                    }
                    if (eventCode >= 3 && eventCode <= 8)
                    {
                        reported = true;
                        Guarded(() => sink.Progress(_operation, eventCode, word & 0xFF));
                        continue;
                    }
                    int end = word >> 8;
                    if (IsEnd(end) && (reported || word != lastEnd))
                    {
                        reported = false;
                        lastEnd = word;
                        Guarded(() => sink.Ended(_operation, end));
                    }
                    Thread.Sleep(1);
                }
            }
        }
    }
}
