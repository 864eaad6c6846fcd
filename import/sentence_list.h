// SPDX-License-Identifier: GPL-3.0-or-later
// A list of sentences read as the prompts of a new lesson. Every rule of the lesson index is
// checked here, so that a list that passes makes an index the lesson loads unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voxtar::import {

// How the lines of a list name their prompts. The first line that is not blank decides for the
// whole file: with a tab it is Tab, else with a "|" it is Pipe, else Plain.
enum class ListForm {
  Plain,  // one sentence per line; the names are made from a prefix and a number
  Tab,    // NAME<TAB>TEXT
  Pipe,   // NAME|TEXT|..., the first text column is the text
};

struct ImportedPrompt {
  std::u16string name;
  std::u16string text;
};

// Why a list was refused: the 1-based line, or 0 for the list as a whole.
struct ListRefusal {
  int line = 0;
  std::string reason;
  bool prefix = false;  // the names made from the prefix break a rule, whatever the lines say
};

struct SentenceList {
  ListForm form = ListForm::Plain;
  std::vector<ImportedPrompt> prompts;  // in list order; empty when refused
  std::optional<ListRefusal> refusal;   // the first line that breaks a rule
};

// Reads a list from its bytes: UTF-8 with or without byte-order mark, lines ending in LF or
// CR LF; blank lines (nothing but spaces and tabs) are skipped. Plain lines are named prefix +
// number + ".wav", the numbers from 1 with leading zeros to three digits, or to as many as the
// number of prompts needs (P0001 to P1200). A given name that does not end in ".wav" (any case)
// gets it added. Names, given or made, are at most 31 units long, without space or control
// character, unique ignoring letter case (FoldLower); ".", "..", names with a "/" and names that
// begin with "." (hidden files) are refused. Texts are at most 511 UTF-16 units without control
// character, and do not begin with the edit marker "> ".
SentenceList ReadSentenceList(std::string_view bytes, std::u16string_view prefix);

}  // namespace voxtar::import
