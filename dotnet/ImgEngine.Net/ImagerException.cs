using System;

namespace ImgEngine
{
    /// <summary>
    /// A call of the library failed. <see cref="Code"/> is the library's result and
    /// <see cref="Meaning"/> what the guide's table of error codes says it means for the
    /// family of functions named by <see cref="Family"/>.
    /// </summary>
    public class ImagerException : Exception
    {
        /// <summary>The library's result code.</summary>
        public int Code { get; private set; }

        /// <summary>The meaning of the code, from the guide's table of error codes.</summary>
        public string Meaning { get; private set; }

        /// <summary>The family of functions whose result it is, as the guide's table names it.</summary>
        public string Family { get; private set; }

        internal ImagerException(string what, ResultFamily family, int code)
            : base(string.Format("{0}: result {1} ({2})", what, code, family.Meaning(code)))
        {
            Code = code;
            Meaning = family.Meaning(code);
            Family = family.Name;
        }

        internal ImagerException(string what, ResultFamily family, int code, string meaning)
            : base(string.Format("{0}: result {1} ({2})", what, code, meaning))
        {
            Code = code;
            Meaning = meaning;
            Family = family.Name;
        }

        /// <summary>A failed connect: code 0, -1, -2 or -3.</summary>
        internal static ImagerException Connect(int port, int code)
        {
            return new ImagerException(string.Format("connect to port {0} failed", port), ResultMeanings.Connect, code);
        }
    }
}
