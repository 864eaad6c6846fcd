// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>

#include "cli/command_support.h"
#include "cli/usage_text.h"

namespace voxtar::cli {

namespace {

constexpr std::string_view kEndOfOptions = "--";

// Where the options end: at "--", else after the last argument.
std::size_t EndOfOptions(const std::vector<std::string>& args) {
  return static_cast<std::size_t>(std::find(args.begin(), args.end(), kEndOfOptions) -
                                  args.begin());
}

// "--name=" is an empty value, as "--name ''" is; CLI11 takes the first for a missing one.
std::vector<std::string> EmptyValuesSpelledOut(const std::vector<std::string>& args) {
  std::vector<std::string> spelled;
  const std::size_t end = EndOfOptions(args);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (i < end && arg.size() > 3 && arg.starts_with("--") && arg.find('=') == arg.size() - 1) {
      spelled.push_back(arg.substr(0, arg.size() - 1));
      spelled.emplace_back();
    } else {
      spelled.push_back(arg);
    }
  }
  return spelled;
}

// The name of an option as it was written: "--keep" of "--keep=1".
std::string OptionName(std::string_view arg) {
  return std::string(arg.substr(0, arg.find('=')));
}

// Sorts what CLI11 left over (`left`) into operands and unknown options; the usage error of the
// first unknown option.
std::optional<std::string> Problem(const std::vector<std::string>& left,
                                   const std::vector<std::string>& args,
                                   const std::vector<std::string>& operands) {
  for (const std::string& arg : left) {
    if (arg != kEndOfOptions) {
      return "unknown option '" + Printable(arg) + "'";
    }
  }
  // CLI11 takes "-1" for an operand; before "--" it is an option the command does not know.
  const std::size_t end = EndOfOptions(args);
  const std::size_t after = end < args.size() ? args.size() - end - 1 : 0;
  for (std::size_t i = 0; i + after < operands.size(); ++i) {
    const std::string& operand = operands[i];
    if (operand.size() > 1 && operand.front() == '-') {
      return "unknown option '" + Printable(operand) + "'";
    }
  }
  return std::nullopt;
}

}  // namespace

struct CommandLine::Reader {
  CLI::App app;
  std::map<std::string, std::string, std::less<>> what;  // by each name of an option
  bool upToCommand = false;

  void Name(const std::string& names, std::string_view of) {
    for (const std::string& name : CLI::detail::split(names, ',')) {
      what[name] = of;
    }
  }
};

CommandLine::CommandLine(bool upToCommand) : reader_(std::make_unique<Reader>()) {
  CLI::App& app = reader_->app;
  app.set_help_flag("-h,--help");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  // Unknown options are told apart from operands below, with the tool's own words.
  app.allow_extras();
  reader_->upToCommand = upToCommand;
  if (upToCommand) {
    app.prefix_command();
  }
}

CommandLine::~CommandLine() = default;

void CommandLine::Flag(const std::string& names, bool* value) {
  reader_->app.add_flag(names, *value);
}

void CommandLine::Valued(const std::string& names, std::string* value, std::string_view what) {
  reader_->app.add_option_function<std::string>(
      names, [value](const std::string& given) { *value = given; });
  reader_->Name(names, what);
}

void CommandLine::Valued(const std::string& names, std::optional<std::string>* value,
                         std::string_view what) {
  reader_->app.add_option_function<std::string>(
      names, [value](const std::string& given) { *value = given; });
  reader_->Name(names, what);
}

std::optional<int> CommandLine::Parse(const std::vector<std::string>& args,
                                      std::vector<std::string>* operands, std::ostream& out,
                                      std::ostream& err) {
  CLI::App& app = reader_->app;
  if (!reader_->upToCommand) {
    app.add_option("operands", *operands);
  }
  std::vector<std::string> reversed = EmptyValuesSpelledOut(args);
  std::reverse(reversed.begin(), reversed.end());  // CLI11 takes them from the back
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << UsageText();
    return kExitOk;
  } catch (const CLI::ArgumentMismatch& mismatch) {
    // Only the last option can lack its value.
    const std::size_t end = EndOfOptions(args);
    const std::string name = end > 0 ? OptionName(args[end - 1]) : std::string();
    const auto what = reader_->what.find(name);
    return UsageError(err, what == reader_->what.end() ? std::string(mismatch.what())
                                                       : name + " needs a " + what->second);
  } catch (const CLI::ParseError& error) {
    return UsageError(err, error.what());
  }
  if (reader_->upToCommand) {
    *operands = app.remaining();
  } else if (const std::optional<std::string> problem = Problem(app.remaining(), args, *operands)) {
    return UsageError(err, *problem);
  }
  return std::nullopt;
}

}  // namespace voxtar::cli
