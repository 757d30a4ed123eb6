using System;
using System.Collections.Generic;
using System.IO;
using NUnit.Framework;

namespace ImgEngine.Tests
{
    /// <summary>Connect and disconnect, failed connects, settings through the imager, configuration files, service commands.</summary>
    [TestFixture]
    public class ConnectionTests : VelsimFixture
    {
        static readonly TimeSpan Seconds30 = TimeSpan.FromSeconds(30);

        [Test]
        public void ConnectReadsWhatVelsimReportsAndDisconnectEndsTheConnection()
        {
            using (var sim = new Velsim("--firmware", "NET 2.50", "--sensor", "7FA29652"))
            using (var imager = new Imager())
            {
                imager.Connect(Velsim.Port, TimeSpan.FromSeconds(10));
                Assert.That(imager.IsConnected && imager.Port == Velsim.Port);
                Versions versions = imager.Versions;
                Assert.That(versions.Firmware, Is.EqualTo("NET 2.50"));
                Assert.That(versions.ImageSensor, Is.EqualTo(0x7FA29652u));
                Assert.That(versions.Host, Is.StringStarting("V10.0 Build 15"));
                Assert.That(imager.Sensor, Is.EqualTo(SensorKind.Ov9650));
                Assert.That(imager.IsColourSensor && imager.MaximumIntegrationTime == 1048);
                Assert.That(imager.CommunicationStatus, Is.EqualTo(CommunicationStatus.Answering));
                Assert.That(() => new Imager().Connect(Velsim.Port), Throws.InvalidOperationException);  // one per process

                int before = sim.LineCount;
                imager.Disconnect();
                Assert.That(!imager.IsConnected && imager.Port == -1);
                Assert.That(sim.WaitForLine(l => l.Contains("client disconnected"), Seconds30, before), Is.Not.Null, sim.Log);
                Assert.That(imager.CommunicationStatus, Is.EqualTo(CommunicationStatus.NotConnected));
                imager.Disconnect();  // harmless twice
                Assert.That(() => imager.SendTemporary(), Throws.InvalidOperationException);
                imager.Connect(Velsim.Port, Seconds30);  // and again
                imager.ReadFromImager();
            }
        }

        [Test]
        public void EveryFailedConnectIsAnImagerExceptionWithTheLibrarysCode()
        {
            using (var imager = new Imager())
            {
                Velsim.SetEnvironment("VEL_SERIAL_PORT_" + Velsim.Port, "rfc2217://[::1");  // malformed: the port does not open
                var error = Assert.Throws<ImagerException>(() => imager.Connect(Velsim.Port, TimeSpan.FromSeconds(2)));
                Assert.That(error.Code, Is.EqualTo(-2));
                Assert.That(error.Meaning, Is.EqualTo("port did not open"));
                Assert.That(error.Message, Is.StringContaining("port 7").And.StringContaining("-2"));
                Velsim.SetEnvironment("VEL_SERIAL_PORT_" + Velsim.Port, "rfc2217://127.0.0.1:1");  // nothing listens there
                error = Assert.Throws<ImagerException>(() => imager.Connect(Velsim.Port, TimeSpan.FromSeconds(2)));
                Assert.That(error.Code, Is.EqualTo(0).Or.EqualTo(-2));
                Assert.That(!imager.IsConnected);
            }
            // The codes velsim cannot provoke (a refused link check, an exception inside the
            // library) carry the meanings of the guide's table too, each its own.
            var meanings = new HashSet<string>();
            foreach (int code in new[] { 0, -1, -2, -3 })
            {
                ImagerException e = ImagerException.Connect(3, code);
                Assert.That(e.Code, Is.EqualTo(code));
                Assert.That(e.Family, Is.EqualTo("connect"));
                Assert.That(e.Meaning, Is.Not.Empty.And.Not.EqualTo("failed"));
                Assert.That(meanings.Add(e.Meaning), "a meaning of its own: " + e.Meaning);
            }
            Assert.That(ImagerException.Connect(3, 5).Meaning, Is.StringContaining("does not document"));
            using (var imager = new Imager())
            {
                Assert.That(() => imager.Connect(101), Throws.InstanceOf<ArgumentOutOfRangeException>());
                Assert.That(() => imager.Connect(7, TimeSpan.FromSeconds(1), 0), Throws.InstanceOf<ArgumentOutOfRangeException>());
            }
        }

        [Test]
        public void SettingsGoThroughTheImagerAsStoredAndAsTheLibraryAdjustsThem()
        {
            using (new Velsim("--scene", Velsim.Scene("shelf")))
            using (var imager = new Imager())
            {
                imager.Connect(Velsim.Port, Seconds30);
                Settings s = imager.Settings;
                bool qr = !s.QRCodeEnabled;
                s.QRCodeEnabled = qr;
                s.Gain = 77;
                s.ThresholdBias = -5;  // a signed field
                s.ImageRotationDegrees = 45;  // adjusted: 0
                s.WindowWidth = 100;  // adjusted: raised to 128 on an SA-1110, a multiple of 32
                s.ImageSoftwareSubsamplingFactor = 20;  // adjusted: 16
                Assert.That(imager.Processor, Is.EqualTo(ProcessorKind.Sa1110));
                imager.SendTemporary();
                // The host copy set back, then read from the imager again.
                s.QRCodeEnabled = !qr;
                s.Gain = 1;
                s.ThresholdBias = 0;
                s.ImageRotationDegrees = 90;
                s.WindowWidth = 640;
                s.ImageSoftwareSubsamplingFactor = 1;
                imager.ReadFromImager();
                Assert.That(s.QRCodeEnabled, Is.EqualTo(qr));
                Assert.That(new[] { s.Gain, s.ThresholdBias, s.ImageRotationDegrees, s.WindowWidth, s.ImageSoftwareSubsamplingFactor },
                            Is.EqualTo(new[] { 77, -5, 0, 128, 16 }));
                IDictionary<string, int> all = s.ReadAll();
                Assert.That(all.Count, Is.EqualTo(Settings.Names.Length).And.GreaterThan(100));
                Assert.That(all["Gain"], Is.EqualTo(77));

                Assert.That(() => s.Gain = 1 << 20, Throws.InstanceOf<ArgumentOutOfRangeException>());
                Assert.That(s.Gain, Is.EqualTo(77), "a refused value leaves the setting as it was");
                s.ImageHistogramCorrectionUsesBounds = true;
                Assert.That(s.ImageHistogramCorrectionUsesBounds && !s.ImageHistogramCorrectionAutomatic);
                Assert.That(() => s.ImageHistogramCorrectionUsesBounds = false, Throws.ArgumentException);
                Assert.That(s.ImageHistogramCorrectionUsesBounds);
            }
        }

        [Test]
        public void AConfigurationFileRoundTripsAndPythonsConfigparserReadsIt()
        {
            using (new Velsim("--scene", Velsim.Scene("shelf")))
            using (var imager = new Imager())
            {
                imager.Connect(Velsim.Port, Seconds30);
                string path = Path.Combine(Folder, "imager.ini");
                File.WriteAllText(path, "old");
                imager.Settings.Gain = 123;
                imager.Settings.Code93Enabled = true;
                imager.SaveConfiguration(path);
                int exit;
                string read = Run.Output("/usr/bin/python3",
                    "-c \"import configparser,sys; c=configparser.ConfigParser(strict=False, interpolation=None); " +
                    "c.read(sys.argv[1]); print(c['CorvidConfig']['Gain'], c['CorvidConfig']['Code93Enabled'], " +
                    "'HostConfig' in c)\" " + path, out exit);
                Assert.That(exit, Is.EqualTo(0));
                Assert.That(read.Trim(), Is.EqualTo("123 1 True"));
                Assert.That(Directory.GetFiles(Folder, "*.tmp"), Is.Empty);

                imager.Settings.Gain = 9;
                imager.Settings.Code93Enabled = false;
                imager.LoadConfiguration(path);
                Assert.That(imager.Settings.Gain == 123 && imager.Settings.Code93Enabled);
                imager.Settings.Gain = 9;
                imager.ReadFromImager();  // stored in the imager too
                Assert.That(imager.Settings.Gain, Is.EqualTo(123));

                Assert.That(() => imager.LoadConfiguration(Path.Combine(Folder, "missing.ini")), Throws.InstanceOf<FileNotFoundException>());
                Assert.That(imager.Settings.Gain, Is.EqualTo(123), "the library alone would have reset the record first");
                Assert.That(() => imager.SaveConfiguration(Path.Combine(Folder, "no", "such.ini")), Throws.InstanceOf<DirectoryNotFoundException>());
            }
        }

        [Test]
        public void ServiceCommandsAnswerOrThrowWithTheLibrarysResult()
        {
            using (new Velsim("--scene", Velsim.Scene("shelf")))
            using (var imager = new Imager())
            {
                imager.Connect(Velsim.Port, Seconds30);
                imager.SetIoPinConfiguration(24, 1);
                imager.SetIoPin(24, 1);
                Assert.That(imager.GetIoPin(24), Is.InRange(0, 1));
                imager.SetSensorRegister(0x12, 0x5A);
                Assert.That(imager.GetSensorRegister(0x12), Is.EqualTo(0x5A));
                var error = Assert.Throws<ImagerException>(() => imager.SetIoPin(2, 1));  // no pin 2
                Assert.That(error.Code, Is.EqualTo(0));
                Assert.That(error.Family, Is.StringStarting("service commands"));
                Assert.That(() => imager.SetIoPin(24, 256), Throws.InstanceOf<ArgumentOutOfRangeException>());
            }
        }
    }
}
