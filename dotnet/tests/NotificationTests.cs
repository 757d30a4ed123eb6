using System;
using System.Collections.Concurrent;
using System.Linq;
using System.Threading;
using NUnit.Framework;

namespace ImgEngine.Tests
{
    /// <summary>A SynchronizationContext with a thread of its own, as a UI thread is one.</summary>
    sealed class ThreadContext : SynchronizationContext, IDisposable
    {
        readonly BlockingCollection<Action> _work = new BlockingCollection<Action>();
        internal readonly Thread Thread;

        internal ThreadContext()
        {
            Thread = new Thread(() =>
            {
                SetSynchronizationContext(this);
                foreach (Action action in _work.GetConsumingEnumerable()) action();
            }) { IsBackground = true, Name = "test context" };
            Thread.Start();
        }

        public override void Post(SendOrPostCallback callback, object state)
        {
            _work.Add(() => callback(state));
        }

        /// <summary>Runs action on the context's thread and waits (bounded) for it.</summary>
        internal void Run(Action action)
        {
            using (var done = new ManualResetEventSlim())
            {
                _work.Add(() =>
                {
                    action();
                    done.Set();
                });
                Assert.That(done.Wait(TimeSpan.FromSeconds(30)), "the context's thread did not run the action");
            }
        }

        public void Dispose()
        {
            _work.CompleteAdding();
            Thread.Join(TimeSpan.FromSeconds(10));
        }
    }

    /// <summary>Trigger captures raised as events on the subscriber's SynchronizationContext.</summary>
    [TestFixture]
    public class NotificationTests : VelsimFixture
    {
        [Test]
        public void ATriggerPullIsRaisedOnTheSubscribersContextAndElseOnThePumpThread()
        {
            using (var sim = new Velsim("--scene", Velsim.Scene("shelf")))
            using (var context = new ThreadContext())
            using (var imager = new Imager())
            {
                imager.Connect(Velsim.Port, TimeSpan.FromSeconds(30));
                imager.Settings.MaximumNumberBarcodesToDecode = 20;  // every barcode of the scene, not just one
                imager.Settings.TriggerDecodeBarcodeEnabled = true;
                imager.Settings.TriggerGrayImageReadEnabled = false;
                imager.SendTemporary();

                var onContext = new ConcurrentQueue<Tuple<Thread, TriggerCapturedEventArgs>>();
                var elsewhere = new ConcurrentQueue<Thread>();
                EventHandler<TriggerCapturedEventArgs> handler = (sender, e) => onContext.Enqueue(Tuple.Create(Thread.CurrentThread, e));
                context.Run(() => imager.TriggerCaptured += handler);
                imager.TriggerCaptured += (sender, e) => elsewhere.Enqueue(Thread.CurrentThread);  // no context here

                sim.Pull();
                Assert.That(Eventually(() => onContext.Count == 1 && elsewhere.Count == 1, TimeSpan.FromSeconds(60)), sim.Log);
                Tuple<Thread, TriggerCapturedEventArgs> raised;
                onContext.TryPeek(out raised);
                Assert.That(raised.Item1, Is.SameAs(context.Thread));
                Capture capture = raised.Item2.Capture;
                Assert.That(raised.Item2.Error, Is.Null);
                Assert.That(capture.Kind, Is.EqualTo(CaptureKind.Trigger));
                Assert.That(capture.Barcodes.Select(b => b.Text), Has.Member("4006381333931"));
                Assert.That(capture.Grey, Is.Null, "velsim's trigger sends the results only");
                Thread pump;
                elsewhere.TryPeek(out pump);
                Assert.That(pump, Is.Not.SameAs(context.Thread).And.Not.SameAs(Thread.CurrentThread));

                // Removed from its context, the handler is not raised again; a second pull reaches the other.
                context.Run(() => imager.TriggerCaptured -= handler);
                sim.Pull();
                Assert.That(Eventually(() => elsewhere.Count == 2, TimeSpan.FromSeconds(60)), sim.Log);
                Assert.That(onContext.Count, Is.EqualTo(1));
            }
        }
    }
}
