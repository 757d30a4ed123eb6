// The commands: name, synopsis, what they do, the options they take, and the run.
#pragma once

#include <vector>

#include "Cli.h"

namespace velcli {

int runVersions(Context& c);
int runConnect(Context& c);
int runStatus(Context& c);
int runCapture(Context& c);
int runWatch(Context& c);
int runConfig(Context& c);
int runService(Context& c);
int runConvert(Context& c);
int runServe(Context& c);
int runTrace(Context& c);

struct Command {
  const char* name;
  const char* synopsis;     // the arguments after the name
  const char* description;  // what it does, for its --help
  const char* options;      // the command options it takes, space-separated
  bool connects;            // talks to an imager: --port or --simulate apply
  int (*run)(Context& c);
};

const std::vector<Command>& commands();
const Command* findCommand(const std::string& name);

// An option: name, the placeholder of its value (null: a switch), its help line.
struct OptionHelp {
  const char* name;
  const char* value;
  const char* help;
};
const std::vector<OptionHelp>& globalOptions();
const std::vector<OptionHelp>& commandOptions();
bool isGlobalOption(const std::string& name);
// Whether the command takes the command option (a word of its list).
bool takesOption(const Command& command, const std::string& name);

// Help texts on the standard output.
void printHelp();
void printCommandHelp(const Command& command);

}  // namespace velcli
