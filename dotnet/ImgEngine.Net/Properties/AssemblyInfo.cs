using System.Reflection;
using System.Runtime.CompilerServices;

[assembly: AssemblyTitle("ImgEngine.Net")]
[assembly: AssemblyDescription("The .NET package of ImgEngine: the library's exports and a managed API over them")]
[assembly: InternalsVisibleTo("ImgEngine.Net.Tests")]
