using System;
using System.Threading;

namespace ImgEngine
{
    /// <summary>A trigger capture that arrived.</summary>
    public sealed class TriggerCapturedEventArgs : EventArgs
    {
        /// <summary>The capture, copied out of the library; null when <see cref="Error"/> says why it could not be.</summary>
        public Capture Capture { get; private set; }

        /// <summary>Why the capture's results or images could not be read (the library reported sizes out of range, an unreadable image), else null.</summary>
        public Exception Error { get; private set; }

        internal TriggerCapturedEventArgs(Capture capture, Exception error)
        {
            Capture = capture;
            Error = error;
        }
    }

    /// <summary>Why the operation threads changed the configuration record.</summary>
    public enum ConfigurationChange
    {
        /// <summary>The imager reported new exposure values (integration time, gain, illumination level).</summary>
        Exposure = 1,

        /// <summary>The presentation mode changed, or a configuration barcode was applied.</summary>
        Configuration = 2,
    }

    /// <summary>The operation threads changed the configuration record.</summary>
    public sealed class ConfigurationChangedEventArgs : EventArgs
    {
        /// <summary>What changed; another value is passed on as the library posted it.</summary>
        public ConfigurationChange Change { get; private set; }

        internal ConfigurationChangedEventArgs(int reason) { Change = (ConfigurationChange)reason; }
    }

    /// <summary>The USB imager appeared or went away.</summary>
    public sealed class UsbReadyChangedEventArgs : EventArgs
    {
        /// <summary>Whether the USB imager is present now.</summary>
        public bool Present { get; private set; }

        internal UsbReadyChangedEventArgs(bool present) { Present = present; }
    }

    /// <summary>
    /// The handlers of one event, each with the SynchronizationContext that was current when
    /// it was added: it is raised there (Post), or on the raising thread when there was none.
    /// </summary>
    sealed class EventHub<T> where T : EventArgs
    {
        sealed class Subscriber
        {
            internal readonly EventHandler<T> Handler;
            internal readonly SynchronizationContext Context;

            internal Subscriber(EventHandler<T> handler, SynchronizationContext context)
            {
                Handler = handler;
                Context = context;
            }
        }

        readonly object _gate = new object();
        Subscriber[] _subscribers = new Subscriber[0];

        internal void Add(EventHandler<T> handler)
        {
            if (handler == null) return;
            var subscriber = new Subscriber(handler, SynchronizationContext.Current);
            lock (_gate)
            {
                var next = new Subscriber[_subscribers.Length + 1];
                _subscribers.CopyTo(next, 0);
                next[next.Length - 1] = subscriber;
                _subscribers = next;
            }
        }

        internal void Remove(EventHandler<T> handler)
        {
            if (handler == null) return;
            lock (_gate)
            {
                for (int i = _subscribers.Length - 1; i >= 0; i--)
                {
                    if (_subscribers[i].Handler != handler) continue;
                    var next = new Subscriber[_subscribers.Length - 1];
                    Array.Copy(_subscribers, 0, next, 0, i);
                    Array.Copy(_subscribers, i + 1, next, i, next.Length - i);
                    _subscribers = next;
                    return;
                }
            }
        }

        internal bool Any { get { return Volatile.Read(ref _subscribers).Length > 0; } }

        internal void Raise(object sender, T args)
        {
            foreach (Subscriber s in Volatile.Read(ref _subscribers))
            {
                if (s.Context != null)
                {
                    EventHandler<T> handler = s.Handler;
                    s.Context.Post(_ => handler(sender, args), null);
                }
                else
                {
                    s.Handler(sender, args);
                }
            }
        }
    }
}
