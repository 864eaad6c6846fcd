// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/help_and_man.h"

#include <sstream>

namespace voxtar::testing {

namespace {

std::string CollapseSpaces(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == ' ' || c == '\t') {
      if (!out.empty() && out.back() != ' ') {
        out += ' ';
      }
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') {
    out.pop_back();
  }
  return out;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return text;
}

// The printed text of a roff line: \fB \fI \fR \fP dropped, "\-" as "-", "\&" as nothing, "\e" as
// a backslash.
std::string PrintedText(std::string_view line) {
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\' || i + 1 == line.size()) {
      out += line[i];
      continue;
    }
    const char next = line[++i];
    if (next == 'f' && i + 1 < line.size()) {
      ++i;
    } else if (next == '-') {
      out += '-';
    } else if (next == 'e') {
      out += '\\';
    } else if (next != '&') {
      out += '\\';
      out += next;
    }
  }
  return out;
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

Outline OutlineOfHelp(std::string_view help) {
  Outline outline;
  std::string section;
  bool inUsage = false;
  for (const std::string& line : Lines(help)) {
    if (line.starts_with("Usage: ")) {
      inUsage = true;
      outline.synopsis.push_back(CollapseSpaces(line.substr(7)));
      continue;
    }
    if (inUsage && line.starts_with("  ")) {
      outline.synopsis.push_back(CollapseSpaces(line));
      continue;
    }
    inUsage = false;
    if (!line.empty() && line.front() != ' ' && line.back() == ':') {
      section = Upper(line.substr(0, line.size() - 1));
    } else if (line.empty() || line.front() != ' ') {
      section.clear();
    } else if (!section.empty()) {
      const std::size_t start = line.find_first_not_of(' ');
      const std::size_t gap = line.find("  ", start);
      // Continuation lines of a description start in its column: their indent is deep.
      if (start <= 6) {
        outline.entries[section].push_back(line.substr(start, gap - start));
      }
    }
  }
  return outline;
}

Outline OutlineOfManPage(std::string_view roff) {
  Outline outline;
  std::string section;
  bool noFill = false;
  bool tagNext = false;
  for (const std::string& line : Lines(roff)) {
    if (line.starts_with(".SH ")) {
      section = line.substr(4);
      if (section.size() >= 2 && section.front() == '"' && section.back() == '"') {
        section = section.substr(1, section.size() - 2);
      }
      noFill = false;
    } else if (line == ".nf") {
      noFill = true;
    } else if (line == ".fi") {
      noFill = false;
    } else if (line == ".TP") {
      tagNext = true;
    } else if (tagNext) {
      tagNext = false;
      outline.entries[section].push_back(CollapseSpaces(PrintedText(line)));
    } else if (noFill && section == "SYNOPSIS" && !line.empty() && line.front() != '.') {
      outline.synopsis.push_back(CollapseSpaces(PrintedText(line)));
    }
  }
  return outline;
}

}  // namespace voxtar::testing
