using System;
using System.Threading;

namespace ImgEngine
{
    /// <summary>
    /// The process-wide rule of the library's calls: connect and disconnect run alone, every
    /// other call may run beside others. Connect and disconnect take the exclusive side, all
    /// other calls of the package the shared side. The state is one word: the number of
    /// shared holders, with the sign bit set while an exclusive holder waits or holds, which
    /// keeps new shared holders out so that a disconnect is not starved by the notification
    /// threads. The shared side costs one compare-and-swap and one decrement.
    /// </summary>
    static class Calls
    {
        const int Exclusive_ = int.MinValue;
        static int s_state;
        static readonly object Writers = new object();

        internal struct SharedHold : IDisposable
        {
            public void Dispose() { Interlocked.Decrement(ref s_state); }
        }

        internal struct ExclusiveHold : IDisposable
        {
            public void Dispose()
            {
                Interlocked.Exchange(ref s_state, 0);
                Monitor.Exit(Writers);
            }
        }

        internal static SharedHold Shared()
        {
            int state = Volatile.Read(ref s_state);
            if (state < 0 || Interlocked.CompareExchange(ref s_state, state + 1, state) != state) WaitShared();
            return new SharedHold();
        }

        static void WaitShared()
        {
            var spin = new SpinWait();
            while (true)
            {
                int state = Volatile.Read(ref s_state);
                if (state >= 0 && Interlocked.CompareExchange(ref s_state, state + 1, state) == state) return;
                spin.SpinOnce();  // yields, then sleeps: an exclusive holder may connect for seconds
            }
        }

        internal static ExclusiveHold Exclusive()
        {
            Monitor.Enter(Writers);
            int state;
            do
            {
                state = Volatile.Read(ref s_state);
            } while (Interlocked.CompareExchange(ref s_state, state | Exclusive_, state) != state);
            var spin = new SpinWait();
            while (Volatile.Read(ref s_state) != Exclusive_) spin.SpinOnce();  // the shared holders leave
            return new ExclusiveHold();
        }
    }
}
