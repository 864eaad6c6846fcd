// SPDX-License-Identifier: GPL-3.0-or-later
#include "measures/lesson_measures.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <thread>

#include "platform/utf8.h"

namespace voxtar::measures {

namespace {

std::optional<double> Median(std::vector<double> values) {
  if (values.empty()) {
    return std::nullopt;
  }
  const std::size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                   values.end());
  const double upper = values[middle];
  if (values.size() % 2 == 1) {
    return upper;
  }
  const double lower =
      *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
  return (lower + upper) / 2.0;
}

}  // namespace

LessonMeasures::LessonMeasures(DeliveryProfile profile, std::optional<TakeFormat> expectedFormat)
    : profile_(std::move(profile)), expectedFormat_(expectedFormat) {}

void LessonMeasures::SetProfile(DeliveryProfile profile, std::optional<TakeFormat> expectedFormat) {
  profile_ = std::move(profile);
  expectedFormat_ = expectedFormat;
}

void LessonMeasures::SetPrompts(std::vector<Prompt> prompts) {
  prompts_ = std::move(prompts);
  names_.clear();
  for (const Prompt& prompt : prompts_) {
    names_.insert(prompt.name);
  }
  std::erase_if(measures_, [this](const auto& entry) { return !names_.contains(entry.first); });
  texts_.assign(prompts_.size(), std::nullopt);
  Changed();
}

void LessonMeasures::SetText(std::size_t index, std::u16string text) {
  prompts_.at(index).text = std::move(text);
  // Its take is checked against it, and its neighbours' takes against it as a wrong line.
  for (std::size_t i = index == 0 ? 0 : index - 1; i <= index + 1 && i < texts_.size(); ++i) {
    texts_[i].reset();
  }
  Changed();
}

void LessonMeasures::DropTextChecks(std::u16string_view name) {
  for (std::size_t i = 0; i < prompts_.size(); ++i) {
    if (prompts_[i].name == name) {
      texts_[i].reset();
    }
  }
}

void LessonMeasures::SetTextCheck(std::size_t index, const TextCheck& check) {
  if (measures(index) != nullptr) {
    texts_.at(index) = check;
  }
}

const TextCheck* LessonMeasures::textCheck(std::size_t index) const {
  return index < texts_.size() && texts_[index] ? &*texts_[index] : nullptr;
}

TextRequest LessonMeasures::TextRequestAt(std::size_t index) const {
  TextRequest request;
  request.text = prompts_.at(index).text;
  request.previous = index > 0 ? std::u16string_view(prompts_[index - 1].text) : u"";
  request.next = index + 1 < prompts_.size() ? std::u16string_view(prompts_[index + 1].text) : u"";
  request.voice = profile_.voice;
  return request;
}

bool LessonMeasures::SetMeasures(std::u16string_view name, const TakeMeasures& measures) {
  if (names_.find(name) == names_.end()) {
    return false;
  }
  measures_.insert_or_assign(std::u16string(name), measures);
  DropTextChecks(name);
  Changed();
  return true;
}

void LessonMeasures::ForgetMeasures(std::u16string_view name) {
  if (const auto found = measures_.find(name); found != measures_.end()) {
    measures_.erase(found);
    DropTextChecks(name);
    Changed();
  }
}

const TakeMeasures* LessonMeasures::measures(std::size_t index) const {
  const auto found = measures_.find(prompts_.at(index).name);
  return found == measures_.end() ? nullptr : &found->second;
}

std::optional<double> LessonMeasures::SpeechRateAt(std::size_t index) const {
  const TakeMeasures* take = measures(index);
  return take == nullptr ? std::nullopt : SpeechRate(*take, prompts_[index].text);
}

void LessonMeasures::WorkOutMedians() const {
  if (mediansKnown_) {
    return;
  }
  std::vector<double> loudness;
  for (const auto& [name, take] : measures_) {
    if (take.voiced && take.loudnessLufs) {
      loudness.push_back(*take.loudnessLufs);
    }
  }
  std::vector<double> rates;
  for (std::size_t i = 0; i < prompts_.size(); ++i) {
    if (const std::optional<double> rate = SpeechRateAt(i)) {
      rates.push_back(*rate);
    }
  }
  medianLoudness_ = Median(std::move(loudness));
  medianRate_ = Median(std::move(rates));
  mediansKnown_ = true;
}

std::optional<double> LessonMeasures::medianLoudnessLufs() const {
  WorkOutMedians();
  return medianLoudness_;
}

std::optional<double> LessonMeasures::medianSpeechRate() const {
  WorkOutMedians();
  return medianRate_;
}

TakeContext LessonMeasures::ContextAt(std::size_t index) const {
  WorkOutMedians();
  const TextCheck* text = textCheck(index);
  return {expectedFormat_, SpeechRateAt(index), medianLoudness_, medianRate_,
          text != nullptr ? std::optional<TextCheck>(*text) : std::nullopt};
}

std::optional<Judgement> LessonMeasures::Judge(std::size_t index) const {
  const TakeMeasures* take = measures(index);
  if (take == nullptr) {
    return std::nullopt;
  }
  return measures::Judge(*take, profile_, ContextAt(index));
}

std::optional<std::size_t> LessonMeasures::NextFlagged(std::size_t from) const {
  const std::size_t count = prompts_.size();
  const std::size_t start = from >= count ? 0 : from + 1;
  for (std::size_t step = 0; step < count; ++step) {
    const std::size_t index = (start + step) % count;
    const TakeMeasures* take = measures(index);
    if (take != nullptr && !FindProblems(*take, profile_, ContextAt(index)).empty()) {
      return index;
    }
  }
  return std::nullopt;
}

std::vector<MeasuredTake> MeasureTakes(std::u16string_view promptDirectory,
                                       const std::vector<std::u16string>& names,
                                       MeasureCache* cache, unsigned threads,
                                       const std::function<void()>& measured) {
  std::vector<MeasuredTake> results(names.size());
  std::vector<std::optional<FileStamp>> stamps(names.size());
  std::vector<char> fresh(names.size(), 0);
  std::atomic<std::size_t> next{0};
  std::mutex telling;
  const auto tell = [&] {
    if (measured) {
      const std::lock_guard lock(telling);
      measured();
    }
  };
  const auto work = [&] {
    for (std::size_t i = next++; i < names.size(); i = next++) {
      const std::u16string path = std::u16string(promptDirectory) + names[i];
      MeasuredTake& result = results[i];
      // Stamped before it is read: a take written meanwhile is measured again next time.
      stamps[i] = StampOf(path);
      const TakeMeasures* cached =
          cache != nullptr && stamps[i] ? cache->Find(names[i], *stamps[i]) : nullptr;
      if (cached != nullptr) {
        result.read = true;
        result.measures = *cached;
        result.stamp = stamps[i];
        tell();
        continue;
      }
      try {
        result.read = MeasureTakeFile(path, &result.measures, &result.error);
      } catch (const std::bad_alloc&) {
        result.error =
            "There is not enough memory to measure the sound file: " + platform::ToUtf8(path);
      }
      fresh[i] = result.read ? 1 : 0;
      result.stamp = stamps[i];
      tell();
    }
  };
  const auto helpers = static_cast<std::size_t>(std::max(threads, 1u)) - 1;
  std::vector<std::jthread> pool;
  for (std::size_t t = 0; t < std::min(helpers, names.size()); ++t) {
    pool.emplace_back(work);
  }
  work();
  pool.clear();  // joins
  if (cache != nullptr) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (fresh[i] != 0 && stamps[i]) {
        cache->Store(names[i], *stamps[i], results[i].measures);
      }
    }
  }
  return results;
}

}  // namespace voxtar::measures
