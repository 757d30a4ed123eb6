// velcli's exit codes: what failed, for scripts. The table is printed by --help.
#pragma once

namespace velcli {

enum Exit : int {
  kOk = 0,
  kRefused = 1,        // the imager or the library answered that the command failed
  kUsage = 2,          // unknown command or option, a missing or malformed argument
  kConnectFailed = 3,  // the port did not open or the imager did not answer the link check
  kCommunication = 4,  // the link to the imager (or the MQTT broker) failed during the command
  kCaptureFailed = 5,  // a capture was aborted or failed; fewer trigger captures than asked
  kFileError = 6,      // a file could not be read or written
};

struct ExitMeaning {
  Exit code;
  const char* meaning;
};

inline constexpr ExitMeaning kExitMeanings[] = {
    {kOk, "success"},
    {kRefused, "the imager or the library refused the command (a service command failed)"},
    {kUsage, "usage: unknown command or option, missing or malformed argument"},
    {kConnectFailed, "connect failed: the port did not open or the imager did not answer"},
    {kCommunication, "communication error: the link to the imager (or the MQTT broker) failed during the command"},
    {kCaptureFailed, "capture failed or aborted, or fewer trigger captures arrived than asked"},
    {kFileError, "file error: a file could not be read or written"},
};

}  // namespace velcli
