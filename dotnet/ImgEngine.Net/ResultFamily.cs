using System.Collections.Generic;

namespace ImgEngine
{
    /// <summary>One failure code of a family of functions and what it means.</summary>
    sealed class ResultMeaning
    {
        internal readonly int Code;
        internal readonly string Text;

        internal ResultMeaning(int code, string text)
        {
            Code = code;
            Text = text;
        }
    }

    /// <summary>A row of the guide's table of error codes: the functions, their success and failures.</summary>
    sealed class ResultFamily
    {
        internal readonly string Name;
        internal readonly string Success;
        readonly string _anyFailure;
        readonly Dictionary<int, string> _failures = new Dictionary<int, string>();

        internal ResultFamily(string name, string success, string anyFailure, ResultMeaning[] failures)
        {
            Name = name;
            Success = success;
            _anyFailure = anyFailure;
            foreach (ResultMeaning m in failures) _failures[m.Code] = m.Text;
        }

        /// <summary>The meaning of a failure code: the table's words, else what the family's failures are.</summary>
        internal string Meaning(int code)
        {
            string text;
            if (_failures.TryGetValue(code, out text) && text.Length > 0) return text;
            if (_anyFailure != null) return _anyFailure;
            return _failures.ContainsKey(code) ? "failed" : "an answer the library does not document";
        }

        internal bool Documents(int code)
        {
            return _failures.ContainsKey(code) || _anyFailure != null;
        }
    }
}
