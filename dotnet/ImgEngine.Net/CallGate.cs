using System;
using System.Threading;

namespace ImgEngine
{
    /// <summary>
    /// The process-wide rule of the library's calls: connect and disconnect run alone, every
    /// other call may run beside others. Connect and disconnect take the exclusive side, all
    /// other calls of the package the shared side; a waiting exclusive holder keeps new shared
    /// holders out, so a disconnect is not starved by the notification pumps.
    /// </summary>
    static class Calls
    {
        static readonly ReaderWriterLockSlim Gate = new ReaderWriterLockSlim(LockRecursionPolicy.NoRecursion);

        internal struct SharedHold : IDisposable
        {
            public void Dispose() { Gate.ExitReadLock(); }
        }

        internal struct ExclusiveHold : IDisposable
        {
            public void Dispose() { Gate.ExitWriteLock(); }
        }

        internal static SharedHold Shared()
        {
            Gate.EnterReadLock();
            return new SharedHold();
        }

        internal static ExclusiveHold Exclusive()
        {
            Gate.EnterWriteLock();
            return new ExclusiveHold();
        }
    }
}
