// The command line of halvorn-mbim-sim.

#ifndef HALVORN_TOOLS_MBIM_SIMULATOR_COMMAND_LINE_H_
#define HALVORN_TOOLS_MBIM_SIMULATOR_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <vector>

#include "modem.h"

namespace halvorn::mbimsim {

struct CommandLine {
  ModemOptions modem;
  std::string path_file;  // where to write the control port's path, if anywhere
  std::string link;       // a symbolic link to the control port, if wanted
  bool verbose = false;
  bool help = false;
};

// Parses the arguments after the program name ("--level=4", "--level 4", ...). Fails with a
// message in `error` on an unknown option, a missing or malformed value.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string* error);

// The usage text.
std::string Usage();

}  // namespace halvorn::mbimsim

#endif  // HALVORN_TOOLS_MBIM_SIMULATOR_COMMAND_LINE_H_
