using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;
using System.Threading;
using NUnit.Framework;

namespace ImgEngine.Tests
{
    /// <summary>
    /// velsim on a free loopback port, reached by the library through the port map
    /// (VEL_SERIAL_PORT_7). Its output is collected line by line; Enter on its input pulls
    /// the trigger, "q" ends it. The environment names the programs (VELSIM, VELCLI) and the
    /// scenes' folder (VEL_SCENES).
    /// </summary>
    sealed class Velsim : IDisposable
    {
        internal const int Port = 7;
        static readonly TimeSpan StartLimit = TimeSpan.FromSeconds(30);
        readonly Process _process;
        readonly List<string> _lines = new List<string>();
        readonly Thread _reader;

        internal string Url { get; private set; }

        internal static string Program(string variable)
        {
            string path = Environment.GetEnvironmentVariable(variable);
            if (string.IsNullOrEmpty(path) || !File.Exists(path)) Assert.Ignore(variable + " names no program");
            return path;
        }

        internal static string Scene(string name)
        {
            string folder = Environment.GetEnvironmentVariable("VEL_SCENES") ?? "";
            return Path.Combine(folder, name + ".scene");
        }

        [DllImport("libc", EntryPoint = "setenv")]
        static extern int NativeSetenv(string name, string value, int overwrite);

        /// <summary>Sets a variable where the library reads it (the C environment) and in the runtime's view.</summary>
        internal static void SetEnvironment(string name, string value)
        {
            Environment.SetEnvironmentVariable(name, value);
            if (NativeSetenv(name, value, 1) != 0) throw new InvalidOperationException("setenv " + name + " failed");
        }

        internal Velsim(params string[] options)
        {
            var start = new ProcessStartInfo(Program("VELSIM"), "--tcp-port 0 " + Quote(options))
            {
                UseShellExecute = false,
                RedirectStandardInput = true,
                RedirectStandardOutput = true,
            };
            _process = Process.Start(start);
            _reader = new Thread(Read) { IsBackground = true };
            _reader.Start();
            string serving = WaitForLine(l => l.Contains("serving rfc2217://"), StartLimit);
            Match url = Regex.Match(serving ?? "", @"rfc2217://127\.0\.0\.1:\d+");
            if (!url.Success)
            {
                Dispose();
                Assert.Fail("velsim did not say where it serves: " + Log);
            }
            Url = url.Value;
            SetEnvironment("VEL_SERIAL_PORT_" + Port, Url);
        }

        internal static string Quote(IEnumerable<string> arguments)
        {
            var quoted = new List<string>();
            foreach (string a in arguments) quoted.Add(a.IndexOf(' ') >= 0 ? "\"" + a + "\"" : a);
            return string.Join(" ", quoted);
        }

        void Read()
        {
            string line;
            while ((line = _process.StandardOutput.ReadLine()) != null)
            {
                lock (_lines)
                {
                    _lines.Add(line);
                    Monitor.PulseAll(_lines);
                }
            }
        }

        /// <summary>What velsim printed so far.</summary>
        internal string Log
        {
            get { lock (_lines) return string.Join("\n", _lines); }
        }

        /// <summary>The first line that matches, waiting at most limit for it; null when none came.</summary>
        internal string WaitForLine(Predicate<string> match, TimeSpan limit)
        {
            return WaitForLine(match, limit, 0);
        }

        internal string WaitForLine(Predicate<string> match, TimeSpan limit, int from)
        {
            DateTime deadline = DateTime.UtcNow + limit;
            lock (_lines)
            {
                while (true)
                {
                    for (int i = from; i < _lines.Count; i++)
                        if (match(_lines[i])) return _lines[i];
                    TimeSpan left = deadline - DateTime.UtcNow;
                    if (left <= TimeSpan.Zero) return null;
                    Monitor.Wait(_lines, left < TimeSpan.FromMilliseconds(200) ? left : TimeSpan.FromMilliseconds(200));
                }
            }
        }

        internal int LineCount
        {
            get { lock (_lines) return _lines.Count; }
        }

        internal void Pull()
        {
            _process.StandardInput.WriteLine();
            _process.StandardInput.Flush();
        }

        public void Dispose()
        {
            try
            {
                if (!_process.HasExited)
                {
                    _process.StandardInput.WriteLine("q");
                    _process.StandardInput.Flush();
                }
            }
            catch (IOException)
            {
            }
            if (!_process.WaitForExit(15000)) _process.Kill();
            _process.WaitForExit(15000);
            _reader.Join(5000);
            _process.Dispose();
        }
    }

    /// <summary>Runs a program to its end within a limit; its standard output.</summary>
    static class Run
    {
        internal static string Output(string program, string arguments, out int exitCode, int limitMs = 120000)
        {
            var start = new ProcessStartInfo(program, arguments) { UseShellExecute = false, RedirectStandardOutput = true };
            using (Process p = Process.Start(start))
            {
                var output = p.StandardOutput.ReadToEndAsync();
                if (!p.WaitForExit(limitMs))
                {
                    p.Kill();
                    Assert.Fail(program + " " + arguments + " did not end within " + limitMs + " ms");
                }
                p.WaitForExit();
                exitCode = p.ExitCode;
                return output.Result;
            }
        }
    }

    /// <summary>A host settings file of the test's own, and no imager left connected.</summary>
    public abstract class VelsimFixture
    {
        protected string Folder;

        [SetUp]
        public void MakeFolder()
        {
            Folder = Path.Combine(Path.GetTempPath(), "imgengine-net-" + Guid.NewGuid().ToString("N"));
            Directory.CreateDirectory(Folder);
            string settings = Path.Combine(Folder, "host-settings");
            File.WriteAllText(settings, "");
            Velsim.SetEnvironment("VEL_HOST_SETTINGS", settings);
        }

        [TearDown]
        public void RemoveFolder()
        {
            Directory.Delete(Folder, true);
        }

        /// <summary>Polls until the condition holds; false when it did not within the limit.</summary>
        internal static bool Eventually(Func<bool> condition, TimeSpan limit)
        {
            DateTime deadline = DateTime.UtcNow + limit;
            while (!condition())
            {
                if (DateTime.UtcNow >= deadline) return false;
                Thread.Sleep(10);
            }
            return true;
        }
    }
}
