using System;
using System.Threading;
using ImgEngine.Native;

namespace ImgEngine.Notifications
{
    /// <summary>The library's two operations, each with notifications of its own.</summary>
    enum Operation
    {
        Host,
        Trigger,
    }

    /// <summary>Where a pump hands what it takes, always on a pump thread.</summary>
    interface IRunSink
    {
        /// <summary>An event 3..8 of a run in progress (results, images).</summary>
        void Progress(Operation operation, int eventCode, int percent);

        /// <summary>A run ended: 1 done, 2 aborted, 9 trigger done with a grey image.</summary>
        void Ended(Operation operation, int eventCode);

        /// <summary>The operation threads changed the configuration record: 1 exposure, 2 configuration.</summary>
        void ConfigurationChanged(int reason);

        /// <summary>The USB imager appeared (true) or went away.</summary>
        void UsbReady(bool present);
    }

    /// <summary>
    /// The threads that take the library's notifications for one connection. Started after
    /// connect (the registrations belong to the connection), stopped before disconnect.
    /// Cancels run on a pump thread too: the library's cancel watchdog is a timer of the
    /// thread that cancelled, and only a pump thread dispatches this package's messages.
    /// </summary>
    abstract class NotificationPump
    {
        internal const int Done = 1, Aborted = 2, TriggerDoneWithGrey = 9;
        internal static readonly TimeSpan StartLimit = TimeSpan.FromSeconds(10);
        internal static readonly TimeSpan StopLimit = TimeSpan.FromSeconds(10);

        protected readonly IRunSink Sink;

        protected NotificationPump(IRunSink sink)
        {
            Sink = sink;
        }

        internal static bool OnWindows
        {
            get { return Environment.OSVersion.Platform == PlatformID.Win32NT; }
        }

        internal static NotificationPump Create(IRunSink sink)
        {
            return OnWindows ? (NotificationPump)new WindowsPump(sink) : new LinuxPump(sink);
        }

        internal static bool IsEnd(int eventCode)
        {
            return eventCode == Done || eventCode == Aborted || eventCode == TriggerDoneWithGrey;
        }

        internal static void Cancel(Operation operation)
        {
            using (Calls.Shared())
            {
                if (operation == Operation.Host) NativeMethods.VelCancelHostInitiatedOperation();
                else NativeMethods.VelCancelTriggerOperation();
            }
        }

        /// <summary>Starts the threads and registers them (or their windows) with the connected library.</summary>
        internal abstract void Start();

        /// <summary>Unregisters and ends the threads.</summary>
        internal abstract void Stop();

        /// <summary>Asks the pump thread to cancel the operation's run.</summary>
        internal abstract void RequestCancel(Operation operation);

        /// <summary>Whether the calling thread is one of this pump's threads.</summary>
        internal abstract bool IsPumpThread { get; }

        /// <summary>Runs a pump thread's call into the sink; a handler's exception is rethrown on the thread pool,
        /// as one of an event raised on no thread of the application's would be, and the pump goes on.</summary>
        protected static void Guarded(Action action)
        {
            try
            {
                action();
            }
            catch (Exception error)
            {
                ThreadPool.QueueUserWorkItem(_ => { throw new InvalidOperationException("an ImgEngine event handler failed", error); });
            }
        }
    }
}
