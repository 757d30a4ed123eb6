#include "Commands.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "Service.h"

namespace velcli {

const std::vector<Command>& commands() {
  static const std::vector<Command> table = {
      {"versions", "", "The library's version and the versions of the last imager connected (none: zeros).", "", false,
       runVersions},
      {"connect", "",
       "Connects and shows the imager's versions, processor and sensor, the link level and a summary of its "
       "configuration, then disconnects.",
       "", true, runConnect},
      {"status", "", "Connects and checks that the imager answers.", "", true, runStatus},
      {"capture", "(--decode | --grey | --binary)...",
       "A host capture: its progress, every decoded barcode (type, data, corners, decode time) and the capture's "
       "timings, the sizes of the images received. --out writes the images as received (DIR/grey.bmp, or "
       "DIR/grey.jpg when compressed, DIR/binary.bmp); --save runs the library's auto-save (the host settings "
       "AutoSaved and AutoSaveFolder) and saves through the library as DIR/grey.bmp, DIR/grey.jpg, "
       "DIR/binary.bmp and DIR/binary.jpg. With --count N the files are numbered: grey-1.bmp ...",
       "--decode --grey --binary --compressed --out --save --timestamp --count", true, runCapture},
      {"watch", "",
       "Trigger captures as the imager sends them, with their progress and barcodes, until Ctrl+C, S seconds "
       "(--seconds) or N captures (--count). With --simulate, --pull N pulls the simulated trigger N times "
       "(and waits for N captures); with velsim, its --pull-every or Enter on its input pulls it. With --mqtt "
       "every decode is published on PREFIX/decode and the station's state (online, offline) on PREFIX/state.",
       "--seconds --pull --count --mqtt --topic --mqtt-queue --mqtt-ca --mqtt-user --mqtt-password-file", true,
       runWatch},
      {"config", "show | get NAME... | set NAME VALUE... | defaults | save FILE | load FILE",
       "The imager's configuration as the library keeps it, read from the imager at connect. show lists every "
       "setting by name and value; get shows the ones named (case ignored); set changes them in the host "
       "record (a VALUE is an integer, 0x.. hexadecimal, or on/off; the library may adjust it: the stored value "
       "is shown) and sends the record to the imager, temporarily or with --permanent permanently; defaults "
       "sends the factory defaults the same way; save writes the configuration and the host settings into an "
       "INI file; load reads one and stores it permanently in the imager.",
       "--permanent", true, runConfig},
      {"service", "NAME [ARGUMENTS]", nullptr, "", true, runService},
      {"serve", "",
       "The imager console: connects and serves, until Ctrl+C or S seconds (--seconds), a page that shows the "
       "latest image with its barcodes, captures (also live), trigger captures, the settings and the connection, "
       "with its JSON API under /api/ and the event stream /api/events. It listens on --listen (default "
       "127.0.0.1:8080; port 0 picks a free one, printed); any address beyond loopback needs --token or "
       "--token-file, which every request then carries (Authorization: Bearer TOKEN, or ?token=TOKEN). With --mqtt the decodes of "
       "host and trigger captures go to PREFIX/decode and the station's state to PREFIX/state, as with watch.",
       "--listen --token --token-file --seconds --mqtt --topic --mqtt-queue --mqtt-ca --mqtt-user --mqtt-password-file",
       true, runServe},
      {"convert", "IN OUT",
       "The library's conversions, chosen by IN's extension: a BMP (8 or 24 bits) compressed to the JPEG OUT, "
       "or a JPEG decompressed to the grey BMP OUT (OUT \"-\": the standard output). No imager is involved.",
       "", false, runConvert},
      {"trace", "show FILE | stats FILE",
       "A field trace (pcapng, VEL_TRACE): show prints the conversation in time order (the link's packets, "
       "acknowledgements, CRC errors and resynchronisations, commands and their answers, results and image "
       "sections, line and API events; with --json one object a line); stats counts bytes, packets, "
       "retransmissions, resynchronisations and CRC errors, and each command's count and latency.",
       "", false, runTrace},
  };
  return table;
}

const Command* findCommand(const std::string& name) {
  for (const Command& c : commands()) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

const std::vector<OptionHelp>& globalOptions() {
  static const std::vector<OptionHelp> table = {
      {"--port", "N", "the imager's port: 0 USB, 100 USB (second driver), 1..99 COM ports (default 1)"},
      {"--simulate", nullptr, "a simulated imager inside velcli on that port"},
      {"--scene", "FILE", "with --simulate: the scene it photographs (default sim/scenes/shelf.scene)"},
      {"--timeout", "MS", "the channel timeout (default 3000 ms, with --simulate 30000 ms)"},
      {"--json", nullptr, "one JSON document on the standard output instead of lines (progress: standard error)"},
      {"--trace", "PATH", "record a field trace (pcapng) of the conversation to PATH, as VEL_TRACE does"},
      {"--help", nullptr, "this help, or a command's: velcli COMMAND --help"},
  };
  return table;
}

const std::vector<OptionHelp>& commandOptions() {
  static const std::vector<OptionHelp> table = {
      {"--decode", nullptr, "decode barcodes"},
      {"--grey", nullptr, "read the grey image (the colour image of a colour sensor)"},
      {"--binary", nullptr, "read the binary image"},
      {"--compressed", nullptr,
       "the imager sends the grey image compressed (JPEG); the setting is switched on, so the auto-save writes .jpg"},
      {"--out", "DIR", "write the images as received into DIR"},
      {"--save", "DIR", "run the auto-save and save the images through the library into DIR"},
      {"--timestamp", nullptr, "draw the capture time into the saved images"},
      {"--count", "N", "capture: N captures in a row; watch: stop after N trigger captures"},
      {"--seconds", "S", "stop watching after S seconds"},
      {"--pull", "N", "with --simulate: pull the simulated trigger N times"},
      {"--permanent", nullptr, "store the configuration permanently in the imager"},
      {"--mqtt", "URL",
       "publish decodes and state to the MQTT broker mqtt://HOST[:PORT] (default port 1883) or, over TLS, "
       "mqtts://HOST[:PORT] (8883)"},
      {"--topic", "PREFIX", "the MQTT topic prefix (default imgengine): PREFIX/decode, PREFIX/state"},
      {"--mqtt-queue", "N",
       "decodes kept while the broker is away (default 10000, 1..1000000); beyond, the oldest are dropped"},
      {"--mqtt-ca", "FILE", "mqtts: the CA certificates (PEM) the broker's is checked against (default: the system's)"},
      {"--mqtt-user", "NAME", "the broker's user name; the password from --mqtt-password-file or VEL_MQTT_PASSWORD"},
      {"--mqtt-password-file", "FILE", "the broker's password as the first line of FILE"},
      {"--listen", "HOST:PORT", "serve: the address to listen on (default 127.0.0.1:8080)"},
      {"--token", "TOKEN", "serve: the token every request carries (needed beyond loopback)"},
      {"--token-file", "FILE", "serve: the token as the first line of FILE"},
  };
  return table;
}

bool isGlobalOption(const std::string& name) {
  for (const OptionHelp& o : globalOptions()) {
    if (name == o.name) return true;
  }
  return false;
}

bool takesOption(const Command& command, const std::string& name) {
  const std::string list = std::string(" ") + command.options + " ";
  return list.find(" " + name + " ") != std::string::npos;
}

namespace {

// The options, all of them or those the command takes.
void printOptions(const std::vector<OptionHelp>& options, const Command* only) {
  for (const OptionHelp& o : options) {
    if (only && !takesOption(*only, o.name)) continue;
    const std::string head = std::string(o.name) + (o.value ? std::string(" ") + o.value : "");
    std::printf("  %-18s%s%s\n", head.c_str(), head.size() >= 18 ? "  " : "", o.help);
  }
}

// Text wrapped at 78 columns.
void printWrapped(const std::string& text) {
  std::string line;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > 78) {
      std::printf("%s\n", line.c_str());
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    start = end + 1;
  }
  if (!line.empty()) std::printf("%s\n", line.c_str());
}

void printExitCodes() {
  std::printf("Exit codes:\n");
  for (const ExitMeaning& e : kExitMeanings) std::printf("  %d  %s\n", e.code, e.meaning);
}

}  // namespace

void printHelp() {
  std::printf(
      "usage: velcli [--port N | --simulate [--scene FILE]] [--timeout MS] [--json] [--trace PATH] COMMAND [ARGUMENTS]\n\n"
      "Commands (velcli COMMAND --help for one):\n");
  for (const Command& c : commands()) {
    const std::string head = std::string(c.name) + (*c.synopsis ? std::string(" ") + c.synopsis : "");
    std::printf("  %s\n", head.c_str());
  }
  std::printf("\nOptions:\n");
  printOptions(globalOptions(), nullptr);
  std::printf("\nCommand options:\n");
  printOptions(commandOptions(), nullptr);
  std::printf(
      "\nA COM port number N may be mapped to a device or to a network serial port\n"
      "(rfc2217://HOST:PORT, e.g. velsim) by the environment variable VEL_SERIAL_PORT_<N>.\n\n");
  printExitCodes();
}

void printCommandHelp(const Command& command) {
  std::printf("usage: velcli [--port N | --simulate] [--json] %s%s%s\n\n", command.name, *command.synopsis ? " " : "",
              command.synopsis);
  if (command.description) {
    printWrapped(command.description);
  } else {
    std::printf(
        "One service command: black levels, I/O pins, sensor registers, LEDs, trigger, sleep, terminal "
        "mode. NAME and ARGUMENTS (integers, 0x.. hexadecimal):\n%s",
        serviceUsage());
  }
  if (*command.options) {
    std::printf("\nOptions:\n");
    printOptions(commandOptions(), &command);
  }
  std::printf("\n");
  printExitCodes();
}

}  // namespace velcli
