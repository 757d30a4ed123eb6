using System;
using System.Collections;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using System.Web.Script.Serialization;
using ImgEngine.Native;
using NUnit.Framework;

namespace ImgEngine.Tests
{
    /// <summary>Host captures against velsim: barcodes against velcli's report, saved images read by zbarimg, cancel and dispose.</summary>
    [TestFixture]
    public class CaptureTests : VelsimFixture
    {
        static readonly TimeSpan Seconds30 = TimeSpan.FromSeconds(30);
        const int GreyImageProgress = 5;

        static string Describe(int type, string name, string text, IEnumerable<int> corners, int decodeTime)
        {
            return string.Format("{0} {1} '{2}' [{3}] {4}", type, name, text, string.Join(",", corners), decodeTime);
        }

        /// <summary>velcli's report of a decode of the scene: one line per barcode.</summary>
        static List<string> VelcliBarcodes()
        {
            int exit;
            string json = Run.Output(Velsim.Program("VELCLI"), "--json --timeout 30000 --port 7 capture --decode", out exit);
            Assert.That(exit, Is.EqualTo(0), json);
            var report = (IDictionary<string, object>)new JavaScriptSerializer().DeserializeObject(json);
            var capture = (IDictionary<string, object>)((object[])report["captures"])[0];
            var lines = new List<string>();
            foreach (IDictionary<string, object> b in (object[])capture["barcodes"])
            {
                lines.Add(Describe((int)b["type"], (string)b["name"], (string)b["text"], ((object[])b["corners"]).Cast<int>(),
                                   (int)b["decodeTime"]));
            }
            return lines;
        }

        static List<string> Zbar(string path)
        {
            int exit;
            string output = Run.Output("zbarimg", "-q --raw " + path, out exit);
            return output.Split('\n').Select(l => l.Trim()).Where(l => l.Length > 0).ToList();
        }

        static T Finished<T>(Task<T> task, TimeSpan limit)
        {
            Assert.That(task.Wait(limit), "the capture did not end within " + limit);
            return task.Result;
        }

        [Test]
        public void ACaptureHoldsTheBarcodesVelcliReportsAndImagesZbarimgReads()
        {
            using (var sim = new Velsim("--scene", Velsim.Scene("shelf")))
            {
                int exit;
                Run.Output(Velsim.Program("VELCLI"), "--port 7 config set MaximumNumberBarcodesToDecode 20 --permanent", out exit);
                Assert.That(exit, Is.EqualTo(0));
                List<string> expected = VelcliBarcodes();
                Assert.That(expected.Count, Is.GreaterThanOrEqualTo(3), sim.Log);

                using (var imager = new Imager())
                {
                    imager.Connect(Velsim.Port, Seconds30);
                    Capture capture = Finished(imager.CaptureAsync(new CaptureOptions { Timeout = TimeSpan.FromSeconds(90) }, CancellationToken.None),
                                               TimeSpan.FromSeconds(120));
                    Assert.That(capture.Kind == CaptureKind.Host && capture.EndEvent == 1);
                    // velcli lists the corners top left, top right, bottom left, bottom right.
                    var barcodes = capture.Barcodes.Select(b => Describe(b.Type, b.Name, b.Text,
                        new[] { b.Corners[0].X, b.Corners[0].Y, b.Corners[1].X, b.Corners[1].Y, b.Corners[3].X, b.Corners[3].Y,
                                b.Corners[2].X, b.Corners[2].Y }, b.DecodeTime)).ToList();
                    Assert.That(barcodes, Is.EqualTo(expected));
                    Barcode code128 = capture.Barcodes.First(b => b.Text == "VEL-0042-CODE128");
                    Assert.That(code128.Data, Is.EqualTo(System.Text.Encoding.ASCII.GetBytes("VEL-0042-CODE128")));
                    Assert.That(capture.Timings, Is.Not.Null);

                    Image grey = capture.Grey;
                    Assert.That(grey.Width == 1280 && grey.Height == 1024 && grey.Pixels.Length == 1280 * 1024);
                    Assert.That(capture.Colour == null && capture.Binary == null && capture.Jpeg == null);
                    string bmp = Path.Combine(Folder, "grey.bmp"), jpeg = Path.Combine(Folder, "grey.jpg");
                    capture.SaveBmp(bmp);
                    capture.SaveJpeg(jpeg);
                    // The library's own save of the same image: the same file.
                    using (Calls.Shared())
                        Assert.That(NativeMethods.VelSaveGreyImageAsBmpFile(Path.Combine(Folder, "library.bmp"), 1), Is.EqualTo(1));
                    Assert.That(File.ReadAllBytes(bmp), Is.EqualTo(File.ReadAllBytes(Path.Combine(Folder, "library.bmp"))));
                    Assert.That(Zbar(bmp), Has.Member("VEL-0042-CODE128"));
                    Assert.That(Zbar(jpeg), Has.Member("VEL-0042-CODE128"));
                }
            }
        }

        [Test]
        public void ACancelledTokenCancelsTheImagersOperation()
        {
            // A paced line at 115200 baud takes minutes for the grey image: the run ends within
            // the test's limits only when the library's cancel stops it.
            using (var sim = new Velsim("--scene", Velsim.Scene("shelf"), "--paced"))
            using (var imager = new Imager())
            {
                imager.Connect(Velsim.Port, Seconds30);
                imager.Settings.MaximumNumberBarcodesToDecode = 20;
                imager.SendTemporary();
                var cancel = new CancellationTokenSource();
                Task<Capture> capture = imager.CaptureAsync(new CaptureOptions { Decode = false, Timeout = Timeout.InfiniteTimeSpan }, cancel.Token);
                Assert.That(Eventually(() => NativeMethods.VelGetHostInitiatedOperationStatus() >> 8 == GreyImageProgress, Seconds30),
                            "the grey image never began: " + sim.Log);
                cancel.Cancel();
                try
                {
                    capture.Wait(Seconds30);
                }
                catch (AggregateException)
                {
                }
                Assert.That(capture.IsCanceled, "the capture's task: " + capture.Status);
                // The library ended the run itself (aborted), not only the package's task, and the
                // line is fine: the next capture runs.
                Assert.That(NativeMethods.VelGetHostInitiatedOperationStatus() >> 8, Is.EqualTo(2));
                Assert.That(imager.CommunicationStatus, Is.EqualTo(CommunicationStatus.Answering));
                Capture next = Finished(imager.CaptureAsync(new CaptureOptions { Grey = false }, CancellationToken.None), TimeSpan.FromSeconds(60));
                Assert.That(next.Barcodes.Select(b => b.Text), Has.Member("4006381333931"));

                var already = new CancellationTokenSource();
                already.Cancel();
                Assert.That(imager.CaptureAsync(new CaptureOptions(), already.Token).IsCanceled);
            }
        }

        [Test]
        public void DisposeDuringACaptureEndsTheConnection()
        {
            using (var sim = new Velsim("--scene", Velsim.Scene("shelf"), "--paced"))
            {
                var imager = new Imager();
                imager.Connect(Velsim.Port, Seconds30);
                Task<Capture> capture = imager.CaptureAsync(new CaptureOptions { Decode = false }, CancellationToken.None);
                Assert.That(Eventually(() => NativeMethods.VelGetHostInitiatedOperationStatus() >> 8 == GreyImageProgress, TimeSpan.FromSeconds(60)),
                            "the grey image never began: " + sim.Log);
                int before = sim.LineCount;
                imager.Dispose();
                Assert.That(sim.WaitForLine(l => l.Contains("client disconnected"), Seconds30, before), Is.Not.Null, sim.Log);
                var error = Assert.Throws<AggregateException>(() => capture.Wait(Seconds30));
                Assert.That(error.InnerException, Is.InstanceOf<ObjectDisposedException>());
                Assert.That(imager.CommunicationStatus, Is.EqualTo(CommunicationStatus.NotConnected));
                Assert.That(() => imager.Connect(Velsim.Port), Throws.InstanceOf<ObjectDisposedException>());
                imager.Dispose();
                using (var again = new Imager())  // the library is left as a new connection needs it
                {
                    again.Connect(Velsim.Port, Seconds30);
                    again.ReadFromImager();
                }
            }
        }
    }
}
