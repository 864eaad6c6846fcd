// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of one command of voxtar-lesson, read with CLI11: flags, options with a value
// ("--name VALUE" or "--name=VALUE", the last one given counting), -h and --help for the usage
// text, and "--" after which everything is an operand.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace voxtar::cli {

class CommandLine {
 public:
  // `upToCommand`: only the options before the first operand are read; that operand and all
  // after it are left as the operands, for the command they name.
  explicit CommandLine(bool upToCommand = false);
  ~CommandLine();
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  // `names` as CLI11 takes them: "--json", "-o,--output".
  void Flag(const std::string& names, bool* value);
  // `what` names the value when it is missing: "--keep needs a number".
  void Valued(const std::string& names, std::string* value, std::string_view what);
  void Valued(const std::string& names, std::optional<std::string>* value, std::string_view what);

  // Reads `args` into the options, and what is not an option into `operands`. Returns the exit
  // status when the command ends here: kExitOk after the usage text went to `out`, kExitUsage
  // after a usage error went to `err`.
  std::optional<int> Parse(const std::vector<std::string>& args, std::vector<std::string>* operands,
                           std::ostream& out, std::ostream& err);

 private:
  struct Reader;  // CLI11's, whose header only this reader's own file needs
  std::unique_ptr<Reader> reader_;
};

}  // namespace voxtar::cli
