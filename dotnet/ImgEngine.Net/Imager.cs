using System;
using System.Collections.Generic;
using System.IO;
using System.Text;
using System.Threading;
using System.Threading.Tasks;
using ImgEngine.Native;
using ImgEngine.Notifications;

namespace ImgEngine
{
    /// <summary>The versions the library and the last connected imager report.</summary>
    public sealed class Versions
    {
        /// <summary>The library's version text ("V10.0 Build 15, ...").</summary>
        public string Host { get; internal set; }

        /// <summary>The imager's firmware version text.</summary>
        public string Firmware { get; internal set; }

        /// <summary>The vision processor's version.</summary>
        public uint VisionProcessor { get; internal set; }

        /// <summary>The image sensor's version.</summary>
        public uint ImageSensor { get; internal set; }

        /// <summary>The illumination board's version.</summary>
        public uint IlluminationBoard { get; internal set; }
    }

    /// <summary>The image sensor's kind, as the library classifies it at connect.</summary>
    public enum SensorKind
    {
        /// <summary>A monochrome sensor of the standard kind.</summary>
        Standard,

        /// <summary>The Picocam sensor.</summary>
        Picocam,

        /// <summary>The OV9640 colour sensor.</summary>
        Ov9640,

        /// <summary>The OV9650 colour sensor.</summary>
        Ov9650,
    }

    /// <summary>The vision processor's kind, as the library classifies it at connect.</summary>
    public enum ProcessorKind
    {
        /// <summary>i.MX1.</summary>
        Mx1,

        /// <summary>SA-1110 (the only one that sends binary images).</summary>
        Sa1110,
    }

    /// <summary>What <see cref="Imager.CommunicationStatus"/> answers.</summary>
    public enum CommunicationStatus
    {
        /// <summary>The imager answered a link check within 200 ms.</summary>
        Answering = 1,

        /// <summary>The connection is marked failed (also when that check was missed): connect again.</summary>
        Failed = -3,

        /// <summary>Not connected.</summary>
        NotConnected = -4,
    }

    /// <summary>
    /// The imager on one port. One imager is connected per process at a time (the library
    /// keeps one connection). Notifications arrive on threads of the package and the events
    /// are raised on the SynchronizationContext that was current when the handler was added,
    /// else on that thread. Dispose disconnects.
    /// </summary>
    public sealed class Imager : IDisposable, IRunSink
    {
        /// <summary>The baud rate of <see cref="Connect(int, TimeSpan, int)"/> when none is given.</summary>
        public const int DefaultBaud = 115200;

        static readonly object ConnectGate = new object();
        static Imager s_connected;
        static readonly TimeSpan CancelGrace = TimeSpan.FromSeconds(10);

        readonly EventHub<TriggerCapturedEventArgs> _triggerCaptured = new EventHub<TriggerCapturedEventArgs>();
        readonly EventHub<ConfigurationChangedEventArgs> _configurationChanged = new EventHub<ConfigurationChangedEventArgs>();
        readonly EventHub<UsbReadyChangedEventArgs> _usbReadyChanged = new EventHub<UsbReadyChangedEventArgs>();
        readonly object _runs = new object();
        readonly HashSet<int>[] _events = { new HashSet<int>(), new HashSet<int>() };
        NotificationPump _pump;
        HostRequest _pending;
        bool _disposed;

        /// <summary>A host capture under way: its task, and how it is to end when the run is aborted.</summary>
        sealed class HostRequest
        {
            internal readonly TaskCompletionSource<Capture> Task = new TaskCompletionSource<Capture>();
            internal CancellationToken Token;
            internal volatile bool Cancelled, TimedOut;
            internal CancellationTokenRegistration Registration;
            internal Timer Timer;
        }

        /// <summary>An imager not connected yet; <see cref="Settings"/> work already.</summary>
        public Imager()
        {
            Port = -1;
            Settings = new Settings();
        }

        /// <summary>The settings of the configuration record and of the host settings store.</summary>
        public Settings Settings { get; private set; }

        /// <summary>The COM port (or 0, 100 for USB) of the connection, or -1 when not connected.</summary>
        public int Port { get; private set; }

        /// <summary>Whether this imager is connected (until <see cref="Disconnect"/>; a failed line shows in <see cref="CommunicationStatus"/>).</summary>
        public bool IsConnected { get { return _pump != null; } }

        /// <summary>A trigger capture arrived (raised after the run ended, with its results and images).</summary>
        public event EventHandler<TriggerCapturedEventArgs> TriggerCaptured
        {
            add { _triggerCaptured.Add(value); }
            remove { _triggerCaptured.Remove(value); }
        }

        /// <summary>
        /// The operation threads changed the configuration record (new exposure values, the
        /// presentation mode, a configuration barcode). Raised on Windows; on Linux the library
        /// gives these notifications no way out of its queues, and the event is not raised.
        /// </summary>
        public event EventHandler<ConfigurationChangedEventArgs> ConfigurationChanged
        {
            add { _configurationChanged.Add(value); }
            remove { _configurationChanged.Remove(value); }
        }

        /// <summary>The USB imager appeared or went away (Windows, while connected; Linux has no USB transport).</summary>
        public event EventHandler<UsbReadyChangedEventArgs> UsbReadyChanged
        {
            add { _usbReadyChanged.Add(value); }
            remove { _usbReadyChanged.Remove(value); }
        }

        /// <summary>The library's version text; needs no connection.</summary>
        public static string HostVersion
        {
            get { return Text(NativeMethods.VelGetHostVersion); }
        }

        static string Text(Func<int, byte[], int> getter)
        {
            const int limit = 256;
            var buffer = new byte[limit];
            int n;
            using (Calls.Shared()) n = getter(limit, buffer);
            n = Math.Max(0, Math.Min(n, limit));  // the count is the library's: never past the buffer
            string text = Encoding.GetEncoding(28591).GetString(buffer, 0, n);
            int zero = text.IndexOf('\0');
            return zero < 0 ? text : text.Substring(0, zero);
        }

        /// <summary>Connects with a timeout of 3 s per exchange at 115200 baud.</summary>
        public void Connect(int port)
        {
            Connect(port, TimeSpan.FromSeconds(3), DefaultBaud);
        }

        /// <summary>
        /// Connects to the imager on port: 0 USB, 100 the second USB driver, 1..99 a COM port
        /// (which the port map, VEL_SERIAL_PORT_n, may turn into a network serial port).
        /// timeout bounds every exchange with the imager (<see cref="Timeout.InfiniteTimeSpan"/>:
        /// no limit); baud is set on a COM port. A connection of this imager is closed first.
        /// Throws <see cref="ImagerException"/> with the connect result (0 no link, -1 link
        /// check refused, -2 the port did not open, -3 no memory or thread), and
        /// <see cref="InvalidOperationException"/> when another imager of the process is connected.
        /// Not from an event handler running on the package's notification thread.
        /// </summary>
        public void Connect(int port, TimeSpan timeout, int baud = DefaultBaud)
        {
            if (port < 0 || port > 100) throw new ArgumentOutOfRangeException("port", port, "port is 0..100");
            if (baud <= 0) throw new ArgumentOutOfRangeException("baud", baud, "baud is positive");
            int milliseconds = Milliseconds(timeout, "timeout");
            lock (ConnectGate)
            {
                ThrowIfDisposed();
                if (s_connected != null && s_connected != this)
                    throw new InvalidOperationException("another imager is connected (port " + s_connected.Port + "): disconnect it first");
                DisconnectLocked(new ObjectDisposedException("Imager", "the connection was replaced"));
                int result;
                using (Calls.Exclusive()) result = NativeMethods.VelDeviceConnectEx(port, milliseconds, baud);
                if (result != 1) throw ImagerException.Connect(port, result);
                NotificationPump pump = NotificationPump.Create(this);
                try
                {
                    lock (_runs)
                    {
                        _events[0].Clear();
                        _events[1].Clear();
                    }
                    pump.Start();
                }
                catch
                {
                    pump.Stop();
                    using (Calls.Exclusive()) NativeMethods.VelDeviceDisconnect();
                    throw;
                }
                _pump = pump;
                Port = port;
                s_connected = this;
            }
        }

        static int Milliseconds(TimeSpan timeout, string name)
        {
            if (timeout == Timeout.InfiniteTimeSpan) return -1;
            if (timeout < TimeSpan.Zero || timeout.TotalMilliseconds > int.MaxValue)
                throw new ArgumentOutOfRangeException(name, timeout, name + " is 0 .. 2^31-1 ms or infinite");
            return (int)timeout.TotalMilliseconds;
        }

        /// <summary>
        /// Disconnects; harmless when not connected. A capture under way fails with
        /// <see cref="ObjectDisposedException"/>. Not from an event handler running on the
        /// package's notification thread (<see cref="InvalidOperationException"/>).
        /// </summary>
        public void Disconnect()
        {
            lock (ConnectGate) DisconnectLocked(new ObjectDisposedException("Imager", "the imager was disconnected"));
        }

        void DisconnectLocked(Exception forPending)
        {
            NotificationPump pump = _pump;
            if (pump == null) return;
            if (pump.IsPumpThread) throw new InvalidOperationException("disconnect from a handler on the notification thread: post it elsewhere");
            pump.Stop();
            _pump = null;
            HostRequest pending;
            lock (_runs)
            {
                pending = _pending;
                _pending = null;
            }
            using (Calls.Exclusive()) NativeMethods.VelDeviceDisconnect();
            if (pending != null) Finish(pending, forPending);
            Port = -1;
            s_connected = null;
        }

        /// <summary>Disconnects; the imager cannot be connected again.</summary>
        public void Dispose()
        {
            lock (ConnectGate)
            {
                if (_disposed) return;
                DisconnectLocked(new ObjectDisposedException("Imager"));
                _disposed = true;
            }
        }

        void ThrowIfDisposed()
        {
            if (_disposed) throw new ObjectDisposedException("Imager");
        }

        void RequireConnected()
        {
            ThrowIfDisposed();
            if (_pump == null) throw new InvalidOperationException("the imager is not connected");
        }

        /// <summary>
        /// A link check within 200 ms: <see cref="ImgEngine.CommunicationStatus.Answering"/>,
        /// <see cref="ImgEngine.CommunicationStatus.Failed"/> (the connection is, or on a missed check
        /// becomes, marked failed) or <see cref="ImgEngine.CommunicationStatus.NotConnected"/>.
        /// </summary>
        public CommunicationStatus CommunicationStatus
        {
            get
            {
                using (Calls.Shared()) return (CommunicationStatus)NativeMethods.VelGetCommunicationStatus();
            }
        }

        /// <summary>The versions of the library and of the imager last connected.</summary>
        public Versions Versions
        {
            get
            {
                var v = new Versions { Host = HostVersion, Firmware = Text(NativeMethods.VelGetFirmwareVersion) };
                using (Calls.Shared())
                {
                    v.VisionProcessor = NativeMethods.VelGetVisionProcessorVersion();
                    v.ImageSensor = NativeMethods.VelGetImageSensorVersion();
                    v.IlluminationBoard = NativeMethods.VelGetIlluminationBoardVersion();
                }
                return v;
            }
        }

        /// <summary>The image sensor's kind.</summary>
        public SensorKind Sensor
        {
            get
            {
                using (Calls.Shared())
                {
                    if (NativeMethods.VelIsSensorTypeOv9640() != 0) return SensorKind.Ov9640;
                    if (NativeMethods.VelIsSensorTypeOv9650() != 0) return SensorKind.Ov9650;
                    if (NativeMethods.VelIsSensorTypePicocam() != 0) return SensorKind.Picocam;
                    return SensorKind.Standard;
                }
            }
        }

        /// <summary>Whether the image sensor is a colour one.</summary>
        public bool IsColourSensor
        {
            get { using (Calls.Shared()) return NativeMethods.VelIsColorSensor() != 0; }
        }

        /// <summary>The largest meaningful integration time of the sensor.</summary>
        public int MaximumIntegrationTime
        {
            get { using (Calls.Shared()) return NativeMethods.VelGetMaximumIntegrationTime(); }
        }

        /// <summary>The vision processor's kind.</summary>
        public ProcessorKind Processor
        {
            get { using (Calls.Shared()) return NativeMethods.VelIsProcessorTypeSa1110() != 0 ? ProcessorKind.Sa1110 : ProcessorKind.Mx1; }
        }

        void Exchange(string what, Func<int> export)
        {
            RequireConnected();
            int result;
            lock (Settings.Serial) using (Calls.Shared()) result = export();
            if (result != 1) throw new ImagerException(what, ResultMeanings.ConfigurationExchanges, result);
        }

        /// <summary>Sends the settings to the imager as its temporary configuration.</summary>
        public void SendTemporary()
        {
            Exchange("the configuration could not be sent", NativeMethods.VelSetTemporaryDeviceConfiguration);
        }

        /// <summary>Sends the settings to the imager as its permanent configuration.</summary>
        public void SendPermanent()
        {
            Exchange("the configuration could not be stored", NativeMethods.VelSetPermanentDeviceConfiguration);
        }

        /// <summary>Reads the imager's configuration into the settings.</summary>
        public void ReadFromImager()
        {
            Exchange("the configuration could not be read", NativeMethods.VelGetDeviceConfiguration);
        }

        /// <summary>Restores the imager's factory defaults and reads them into the settings.</summary>
        public void RestoreFactoryDefaults()
        {
            Exchange("the factory defaults could not be restored", NativeMethods.VelSetFactoryDefaultConfiguration);
        }

        /// <summary>
        /// Writes the host copy of the configuration and the host settings to an INI file
        /// (nothing is read from the imager). An existing file is replaced.
        /// </summary>
        public void SaveConfiguration(string path)
        {
            if (path == null) throw new ArgumentNullException("path");
            ThrowIfDisposed();
            string full = Path.GetFullPath(path);
            string folder = Path.GetDirectoryName(full);
            if (!Directory.Exists(folder)) throw new DirectoryNotFoundException(folder + " does not exist");
            // The library's result does not tell every failed write apart: it writes a fresh
            // name, whose presence proves the write, which then replaces the file.
            string fresh = Path.Combine(folder, "." + Path.GetFileName(full) + "." + Guid.NewGuid().ToString("N") + ".tmp");
            int result;
            lock (Settings.Serial) using (Calls.Shared()) result = NativeMethods.VelSaveCurrentConfigurations(fresh);
            if (!File.Exists(fresh))
                throw new ImagerException(full + " could not be written", ResultMeanings.VelSaveCurrentConfigurations, result);
            if (File.Exists(full)) File.Delete(full);
            File.Move(fresh, full);
        }

        /// <summary>
        /// Reads an INI file into the configuration and the host settings and stores the
        /// result permanently in the imager when connected (the library does not report that
        /// store's outcome: a failed one shows at the next exchange). A file that cannot be
        /// read changes nothing (<see cref="FileNotFoundException"/>).
        /// </summary>
        public void LoadConfiguration(string path)
        {
            if (path == null) throw new ArgumentNullException("path");
            ThrowIfDisposed();
            string full = Path.GetFullPath(path);
            // The library would reset the record to its defaults before finding the file missing.
            using (File.OpenRead(full))
            {
            }
            int result;
            lock (Settings.Serial) using (Calls.Shared()) result = NativeMethods.VelLoadAndDeployConfigurations(full);
            if (result != 1) throw new ImagerException(full + " could not be read", ResultMeanings.VelLoadAndDeployConfigurations, result);
        }

        static void CheckByte(int value, string name)
        {
            // The imager receives one byte of each argument: anything wider would be cut.
            if (value < 0 || value > 255) throw new ArgumentOutOfRangeException(name, value, name + " is 0..255");
        }

        int Service(string what, ResultFamily family, Func<int, bool> failed, Func<int> export)
        {
            RequireConnected();
            int result;
            using (Calls.Shared()) result = export();
            if (failed(result)) throw new ImagerException(what + " failed", family, result);
            return result;
        }

        /// <summary>Calibrates the black levels (VelCalibrateBlackLevels).</summary>
        public void CalibrateBlackLevels(int value)
        {
            CheckByte(value, "value");
            Service("black level calibration", ResultMeanings.ServiceCommands, r => r != 1, () => NativeMethods.VelCalibrateBlackLevels(value));
        }

        /// <summary>Sets the default black levels (VelSetDefaultBlackLevels).</summary>
        public void SetDefaultBlackLevels(int value)
        {
            CheckByte(value, "value");
            Service("setting the default black levels", ResultMeanings.ServiceCommands, r => r != 1, () => NativeMethods.VelSetDefaultBlackLevels(value));
        }

        /// <summary>The imager's calibration status, 0..255.</summary>
        public int CalibrationStatus()
        {
            return Service("reading the calibration status", ResultMeanings.VelGetCalibrationStatus, r => r <= 0, NativeMethods.VelGetCalibrationStatus) - 1;
        }

        /// <summary>Switches the imager to terminal-mode output (ended by <see cref="QuitTerminalModeOutput"/>).</summary>
        public void SetTerminalModeOutput()
        {
            Service("switching to terminal mode", ResultMeanings.ServiceCommands, r => r != 1, NativeMethods.VelSetTerminalModeOutput);
        }

        /// <summary>Ends terminal-mode output on a COM port, outside the link (needs no connection).</summary>
        public void QuitTerminalModeOutput(int port, int baud = DefaultBaud)
        {
            ThrowIfDisposed();
            int result;
            using (Calls.Shared()) result = NativeMethods.VelQuitTerminalModeOutput(port, baud);
            if (result != 1) throw new ImagerException("ending terminal mode failed", ResultMeanings.VelQuitTerminalModeOutput, result);
        }

        /// <summary>Configures an I/O pin (16..19, 24).</summary>
        public void SetIoPinConfiguration(int pin, int configuration)
        {
            CheckByte(pin, "pin");
            CheckByte(configuration, "configuration");
            Service("configuring pin " + pin, ResultMeanings.ServiceCommands, r => r != 1, () => NativeMethods.VelSetIoPinConfiguration(pin, configuration));
        }

        /// <summary>Sets an I/O pin's value.</summary>
        public void SetIoPin(int pin, int value)
        {
            CheckByte(pin, "pin");
            CheckByte(value, "value");
            Service("setting pin " + pin, ResultMeanings.ServiceCommands, r => r != 1, () => NativeMethods.VelSetIoPinValue(pin, value));
        }

        /// <summary>An I/O pin's value, 0..255.</summary>
        public int GetIoPin(int pin)
        {
            CheckByte(pin, "pin");
            return Service("reading pin " + pin, ResultMeanings.VelGetIoPinValue, r => r < 0, () => NativeMethods.VelGetIoPinValue(pin));
        }

        /// <summary>A sensor register's value, 0..255.</summary>
        public int GetSensorRegister(int register)
        {
            CheckByte(register, "register");
            return Service("reading sensor register " + register, ResultMeanings.VelGetIoPinValue, r => r < 0,
                           () => NativeMethods.VelGetSensorRegister(register));
        }

        /// <summary>Writes a sensor register.</summary>
        public void SetSensorRegister(int register, int value)
        {
            CheckByte(register, "register");
            CheckByte(value, "value");
            Service("writing sensor register " + register, ResultMeanings.VelSetSensorRegister, r => r != 1,
                    () => NativeMethods.VelSetSensorRegister(register, value));
        }

        /// <summary>Switches the targeting LEDs on or off.</summary>
        public void SetTargetingLeds(bool on)
        {
            Service("switching the targeting LEDs", ResultMeanings.VelSetSensorRegister, r => r != 1, () => NativeMethods.VelSetTargetingLedsStatus(on ? 1 : 0));
        }

        /// <summary>Sets the imager's trigger status.</summary>
        public void SetTriggerStatus(int status)
        {
            CheckByte(status, "status");
            Service("setting the trigger status", ResultMeanings.VelSetSensorRegister, r => r != 1, () => NativeMethods.VelSetTriggerStatusCommand(status));
        }

        /// <summary>Puts the imager to sleep.</summary>
        public void Sleep()
        {
            Service("putting the imager to sleep", ResultMeanings.VelSetSensorRegister, r => r != 1, NativeMethods.VelPutDeviceToSleepCommand);
        }

        /// <summary>The standard deviation the imager computes over its last image.</summary>
        public int ImageStandardDeviation()
        {
            return Service("reading the image's standard deviation", ResultMeanings.VelGetImageStandardDeviation, r => r < 0,
                           NativeMethods.VelGetImageStandardDeviation);
        }

        /// <summary>Erases the imager's firmware (the library reports no result).</summary>
        public void EraseFirmware()
        {
            RequireConnected();
            using (Calls.Shared()) NativeMethods.VelExecuteFirmwareErase();
        }

        /// <summary>A host capture with the default options (decode and grey image, 30 s).</summary>
        public Task<Capture> CaptureAsync()
        {
            return CaptureAsync(new CaptureOptions(), CancellationToken.None);
        }

        /// <summary>
        /// A host capture. The task ends with the capture when the run is done; a cancelled
        /// token cancels the imager's operation (the task is then cancelled), and so does the
        /// options' timeout (<see cref="TimeoutException"/>). An aborted run fails the task with
        /// an <see cref="ImagerException"/> (the communication status when the line failed).
        /// One host capture at a time (<see cref="InvalidOperationException"/>).
        /// </summary>
        public Task<Capture> CaptureAsync(CaptureOptions options, CancellationToken cancellation)
        {
            if (options == null) throw new ArgumentNullException("options");
            if (!(options.Decode || options.Grey || options.Binary)) throw new ArgumentException("a capture needs Decode, Grey or Binary", "options");
            int timeout = Milliseconds(options.Timeout, "options.Timeout");
            RequireConnected();
            if (options.Binary && Processor != ProcessorKind.Sa1110) throw new NotSupportedException("binary images come only from an SA-1110 imager");
            if (cancellation.IsCancellationRequested)
            {
                var cancelled = new TaskCompletionSource<Capture>();
                cancelled.SetCanceled();
                return cancelled.Task;
            }
            int status;
            using (Calls.Shared()) status = NativeMethods.VelGetHostInitiatedOperationStatus() & 0xFFFF;
            if (status >> 8 == NotificationPump.Aborted)
            {
                // A run that aborts at once after an abort would show no change of the status word:
                // a failed line is ruled out first.
                CommunicationStatus line = CommunicationStatus;
                if (line != CommunicationStatus.Answering)
                    throw new ImagerException("the imager does not answer", ResultMeanings.VelGetCommunicationStatus, (int)line);
            }
            var request = new HostRequest { Token = cancellation };
            lock (_runs)
            {
                if (_pending != null) throw new InvalidOperationException("a host capture is under way");
                _pending = request;
                _events[(int)Operation.Host].Clear();
            }
            if (cancellation.CanBeCanceled)
                request.Registration = cancellation.Register(() => CancelRun(request, false));
            if (timeout >= 0)
                request.Timer = new Timer(_ => CancelRun(request, true), null, timeout, Timeout.Infinite);
            using (Calls.Shared())
                NativeMethods.VelCaptureImage(options.Decode ? 1 : 0, options.Binary ? 1 : 0, options.Grey ? 1 : 0, options.Compressed ? 1 : 0);
            // A cancel that came before the run began: the run is cancelled now.
            if (request.Cancelled || request.TimedOut) _pump.RequestCancel(Operation.Host);
            return request.Task.Task;
        }

        void CancelRun(HostRequest request, bool timedOut)
        {
            NotificationPump pump;
            lock (_runs)
            {
                if (_pending != request) return;
                if (timedOut) request.TimedOut = true;
                else request.Cancelled = true;
                pump = _pump;
            }
            if (pump != null) pump.RequestCancel(Operation.Host);
            // A run that does not end after the cancel (a line gone quiet) still ends the task;
            // the run stays the pending one until the library reports its end.
            ThreadPool.QueueUserWorkItem(_ =>
            {
                if (!request.Task.Task.Wait(CancelGrace)) Finish(request, null);
            });
        }

        /// <summary>Ends a request's task on the thread pool, so that no continuation runs on a pump thread.</summary>
        void Finish(HostRequest request, Exception error, Capture capture = null)
        {
            request.Registration.Dispose();
            if (request.Timer != null) request.Timer.Dispose();
            ThreadPool.QueueUserWorkItem(_ =>
            {
                if (capture != null) request.Task.TrySetResult(capture);
                else if (error != null) request.Task.TrySetException(error);
                else if (request.TimedOut) request.Task.TrySetException(new TimeoutException("the capture did not end in time: it was cancelled"));
                else request.Task.TrySetCanceled();
            });
        }

        void IRunSink.Progress(Operation operation, int eventCode, int percent)
        {
            lock (_runs) _events[(int)operation].Add(eventCode);
        }

        void IRunSink.Ended(Operation operation, int eventCode)
        {
            int[] events;
            HostRequest request = null;
            lock (_runs)
            {
                HashSet<int> set = _events[(int)operation];
                events = new int[set.Count];
                set.CopyTo(events);
                set.Clear();
                if (operation == Operation.Host)
                {
                    request = _pending;
                    _pending = null;
                }
            }
            if (operation == Operation.Trigger)
            {
                if (eventCode == NotificationPump.Aborted || !_triggerCaptured.Any) return;
                TriggerCapturedEventArgs args;
                try
                {
                    args = new TriggerCapturedEventArgs(Snapshot.Take(CaptureKind.Trigger, eventCode, events), null);
                }
                catch (Exception error)
                {
                    args = new TriggerCapturedEventArgs(null, error);
                }
                _triggerCaptured.Raise(this, args);
                return;
            }
            if (request == null) return;
            if (eventCode != NotificationPump.Aborted)
            {
                Capture capture;
                try
                {
                    capture = Snapshot.Take(CaptureKind.Host, eventCode, events);
                }
                catch (Exception error)
                {
                    Finish(request, error);
                    return;
                }
                Finish(request, null, capture);
                return;
            }
            if (request.Cancelled || request.TimedOut)
            {
                Finish(request, null);
                return;
            }
            CommunicationStatus line = CommunicationStatus;
            Finish(request, line != CommunicationStatus.Answering
                                ? new ImagerException("the capture failed: the imager does not answer", ResultMeanings.VelGetCommunicationStatus, (int)line)
                                : new ImagerException("the capture was aborted", ResultMeanings.Captures, NotificationPump.Aborted,
                                                      "the run ended aborted"));
        }

        void IRunSink.ConfigurationChanged(int reason)
        {
            _configurationChanged.Raise(this, new ConfigurationChangedEventArgs(reason));
        }

        void IRunSink.UsbReady(bool present)
        {
            _usbReadyChanged.Raise(this, new UsbReadyChangedEventArgs(present));
        }
    }
}
