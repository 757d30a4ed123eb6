using System;
using System.Collections.Generic;
using ImgEngine.Native;

namespace ImgEngine
{
    /// <summary>
    /// The settings of the configuration record and of the host settings store, one typed
    /// property each (generated from the library's settings tables). A property reads and
    /// changes the host copy of the record: <see cref="Imager.SendTemporary"/> or
    /// <see cref="Imager.SendPermanent"/> sends it to the imager, <see cref="Imager.ReadFromImager"/>
    /// reads the imager's. The properties work without a connection. Calls from several
    /// threads are serialised (a switch rewrites a whole flag word of the record).
    /// </summary>
    public sealed partial class Settings
    {
        // One setter at a time: switches rewrite whole flag words, values are read back.
        internal static readonly object Serial = new object();

        internal Settings()
        {
        }

        /// <summary>Every setting by its name, read now.</summary>
        public IDictionary<string, int> ReadAll()
        {
            var values = new Dictionary<string, int>(StringComparer.Ordinal);
            Type type = typeof(Settings);
            lock (Serial)
            {
                foreach (string name in Names)
                {
                    object value = type.GetProperty(name).GetValue(this, null);
                    values[name] = value is bool ? ((bool)value ? 1 : 0) : (int)value;
                }
            }
            return values;
        }

        static void SetValue(string name, int value, Func<int> get, Func<int, int> set)
        {
            lock (Serial)
            {
                using (Calls.Shared())
                {
                    int before = get();
                    set(value);
                    if (get() == value) return;
                    set(before);
                }
            }
            throw new ArgumentOutOfRangeException(name, value, name + ": the setting's field cannot hold this value");
        }

        static void SelectMode(string name, bool value, Func<int, int> set)
        {
            if (!value) throw new ArgumentException(name + " is one of several modes: select another mode instead", name);
            lock (Serial) using (Calls.Shared()) set(1);
        }

        static void SetHostSwitch(string name, bool value, Func<int, int> set)
        {
            int result;
            lock (Serial) using (Calls.Shared()) result = set(value ? 1 : 0);
            if (result != 0)
                throw new ImagerException(name + ": the host settings store could not be written",
                                          ResultMeanings.HostSettingsSwitchSetters, result);
        }
    }
}
