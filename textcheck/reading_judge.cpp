// SPDX-License-Identifier: GPL-3.0-or-later
#include "textcheck/reading_judge.h"

#include <algorithm>

#include "textcheck/speech_synthesis.h"

namespace voxtar::textcheck {

namespace {

// Changes whenever a verdict on the same take and texts may come out differently.
constexpr std::uint64_t kJudgementVersion = 1;

// FNV-1a, 64 bits.
class Digest {
 public:
  void Add(std::uint64_t value) {
    for (int byte = 0; byte < 8; ++byte) {
      AddByte(static_cast<unsigned char>(value >> (8 * byte)));
    }
  }
  void Add(std::u16string_view text) {
    Add(text.size());
    for (const char16_t unit : text) {
      AddByte(static_cast<unsigned char>(unit & 0xFF));
      AddByte(static_cast<unsigned char>(unit >> 8));
    }
  }
  void Add(std::string_view text) {
    Add(text.size());
    for (const char byte : text) {
      AddByte(static_cast<unsigned char>(byte));
    }
  }
  std::uint64_t value() const { return value_; }

 private:
  void AddByte(unsigned char byte) {
    value_ ^= byte;
    value_ *= 0x100000001B3u;
  }
  std::uint64_t value_ = 0xCBF29CE484222325u;
};

}  // namespace

std::string_view ProblemWord(TextProblem problem) {
  switch (problem) {
    case TextProblem::Mismatch:
      return "text-mismatch";
    case TextProblem::Incomplete:
      return "incomplete";
    case TextProblem::ExtraSpeech:
      return "extra-speech";
  }
  return "text-mismatch";
}

bool TextVerdict::has(TextProblem problem) const {
  return std::find(problems.begin(), problems.end(), problem) != problems.end();
}

std::uint64_t VerdictDigest(const PromptTexts& texts) {
  Digest digest;
  digest.Add(kJudgementVersion);
  digest.Add(std::string_view(texts.voice));
  digest.Add(ReadableText(texts.text));
  digest.Add(texts.neighbours.size());
  for (const std::u16string_view neighbour : texts.neighbours) {
    digest.Add(ReadableText(neighbour));
  }
  return digest.value();
}

}  // namespace voxtar::textcheck
