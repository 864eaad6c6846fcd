// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/charts_p.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "report/html_report.h"

namespace voxtar::report {

namespace {

// Every chart is drawn in these units; the page scales it to its width.
constexpr double kWidth = 760;
constexpr double kLeft = 52;
constexpr double kRight = 748;
constexpr double kTop = 14;
// Below the plot: the axis's labels and name.
constexpr double kFoot = 36;
constexpr double kLevelHeight = 272;
constexpr double kLengthHeight = 196;

// The levels the level chart shows: a silent take's figures (-120 dB) sit on its floor, and
// whatever a float file or a profile file holds beyond the highest on its top edge.
constexpr double kLowestDb = -70;
constexpr double kHighestDb = 30;

// Maps [low, high] onto [from, to], holding values outside at the ends.
struct Scale {
  double low;
  double high;
  double from;
  double to;

  double operator()(double value) const {
    return from + (std::clamp(value, low, high) - low) / (high - low) * (to - from);
  }
};

// The first of `steps` that cuts `span` into at most `most` parts (the last, multiplied, beyond).
template <typename Number>
Number RoundStep(Number span, Number most, std::span<const Number> steps) {
  for (const Number step : steps) {
    if (span <= step * most) {
      return step;
    }
  }
  const Number last = steps.back();
  return last * (span / (last * most) + 1);
}

std::string At(double value) {
  return Decimal(value, 1);
}

void OpenChart(std::string& html, std::string_view cssClass, double height,
               std::string_view title) {
  html += "<figure class=\"";
  html += cssClass;
  html += "\"><svg viewBox=\"0 0 " + At(kWidth) + " " + At(height) +
          "\" role=\"img\" xmlns=\"http://www.w3.org/2000/svg\"><title>";
  html += title;
  html += "</title>\n";
}

void CloseChart(std::string& html, std::string_view caption) {
  html += "</svg><figcaption>";
  html += caption;
  html += "</figcaption></figure>\n";
}

// An SVG shape of the class, with a title when `title` is not empty.
void Shape(std::string& html, std::string_view tag, std::string_view cssClass,
           std::initializer_list<std::pair<std::string_view, double>> attributes,
           std::string_view title) {
  html += '<';
  html += tag;
  html += " class=\"";
  html += cssClass;
  html += '"';
  for (const auto& [name, value] : attributes) {
    html += ' ';
    html += name;
    html += "=\"" + At(value) + '"';
  }
  if (title.empty()) {
    html += "/>";
    return;
  }
  html += "><title>";
  html += title;
  html += "</title></";
  html += tag;
  html += '>';
}

void Line(std::string& html, std::string_view cssClass, double x1, double y1, double x2, double y2,
          std::string_view title = {}) {
  Shape(html, "line", cssClass, {{"x1", x1}, {"y1", y1}, {"x2", x2}, {"y2", y2}}, title);
}

void Rect(std::string& html, std::string_view cssClass, double x, double y, double width,
          double height, std::string_view title = {}) {
  Shape(html, "rect", cssClass, {{"x", x}, {"y", y}, {"width", width}, {"height", height}}, title);
}

void Label(std::string& html, std::string_view anchor, double x, double y, std::string_view text) {
  html += "<text text-anchor=\"";
  html += anchor;
  html += "\" x=\"" + At(x) + "\" y=\"" + At(y) + "\">";
  html += text;
  html += "</text>";
}

// Grid lines and labels of the value axis, from `scale.low` to `scale.high` every `step`.
void ValueGrid(std::string& html, const Scale& scale, double step, int decimals) {
  const auto lines = static_cast<int>(std::lround((scale.high - scale.low) / step));
  for (int i = 0; i <= lines; ++i) {
    const double value = scale.low + i * step;
    Line(html, "grid", kLeft, scale(value), kRight, scale(value));
    Label(html, "end", kLeft - 4, scale(value) + 4, Decimal(value, decimals));
  }
}

void Frame(std::string& html, double bottom, std::string_view xLabel, std::string_view yLabel) {
  Line(html, "axis", kLeft, bottom, kRight, bottom);
  Line(html, "axis", kLeft, kTop, kLeft, bottom);
  Label(html, "middle", (kLeft + kRight) / 2, bottom + kFoot - 4, xLabel);
  html += "<text text-anchor=\"middle\" transform=\"translate(12 " + At((kTop + bottom) / 2) +
          ") rotate(-90)\">";
  html += yLabel;
  html += "</text>\n";
}

struct Band {
  double low;
  double high;
  std::string_view cssClass;
  std::string_view colour;
  std::string text;
};

// "12 a012.wav: loudness -18.2 LUFS, true peak -3.1 dBTP; too quiet (peak -34.0 dB)".
std::string MarkTitle(const TakeRow& take) {
  std::string title = std::to_string(take.number) + " " + EscapeHtml(take.name) + ": loudness ";
  const measures::TakeMeasures& m = take.measures;
  title += m.loudnessLufs ? Decimal(*m.loudnessLufs, 1) + " LUFS" : std::string("unknown");
  title += ", true peak " + Decimal(m.truePeakDbtp, 1) + " dBTP; ";
  if (take.judgement.ok()) {
    return title + "passes";
  }
  for (std::size_t i = 0; i < take.judgement.findings.size(); ++i) {
    title += (i == 0 ? "" : ", ") + EscapeHtml(take.judgement.findings[i].text);
  }
  return title;
}

// A figure beyond the chart: an arrow on its edge at `edge`, pointing up or down, out of it.
void BeyondArrow(std::string& html, double x, double edge, bool up, double size) {
  const double tip = up ? edge - 1 : edge + 1;
  const double base = up ? tip + 2 * size + 3 : tip - 2 * size - 3;
  html += "<path class=\"beyond\" d=\"M" + At(x) + " " + At(tip) + "L" + At(x - size - 1) + " " +
          At(base) + "L" + At(x + size + 1) + " " + At(base) + "Z\"/>";
}

// The figures but those far from the rest: further from their median than 3 times their median
// absolute deviation (as a standard deviation), and than kUsualSpreadDb, within which every
// difference between takes is worth seeing.
std::vector<double> WithoutOutliers(std::vector<double> figures) {
  constexpr double kUsualSpreadDb = 10.0;
  constexpr double kDeviations = 3.0;
  constexpr double kMadToDeviation = 1.4826;  // for normally spread figures
  std::erase_if(figures, [](double figure) { return !std::isfinite(figure); });
  if (figures.empty()) {
    return figures;
  }
  const auto median = [](std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    double value = *middle;
    if (values.size() % 2 == 0) {
      value = (value + *std::max_element(values.begin(), middle)) / 2;
    }
    return value;
  };
  const double centre = median(figures);
  std::vector<double> deviations;
  deviations.reserve(figures.size());
  for (const double figure : figures) {
    deviations.push_back(std::fabs(figure - centre));
  }
  const double spread =
      std::max(kDeviations * kMadToDeviation * median(deviations), kUsualSpreadDb);
  std::erase_if(figures, [&](double figure) { return std::fabs(figure - centre) > spread; });
  return figures;
}

}  // namespace

std::string Decimal(double value, int decimals) {
  if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) {
    value = 0.0;  // no "-0.0"
  }
  std::array<char, 64> text{};
  char* const end = text.data() + text.size();
  auto result = std::to_chars(text.data(), end, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) {  // too long to write out (a profile file may say 1e300)
    result = std::to_chars(text.data(), end, value);
  }
  return {text.data(), result.ptr};
}

void AppendLevelChart(std::string& html, const LessonReport& lesson,
                      const measures::DeliveryProfile& profile) {
  std::vector<Band> bands;
  if (profile.loudnessLufs) {
    const double tolerance = profile.loudnessToleranceLu.value_or(1.0);
    bands.push_back({*profile.loudnessLufs - tolerance, *profile.loudnessLufs + tolerance, "band",
                     "green",
                     "the loudness target " + Decimal(*profile.loudnessLufs, 1) + " LUFS &#177; " +
                         Decimal(tolerance, 1) + " LU"});
  }
  if (profile.loudnessConsistencyLu && lesson.medianLoudnessLufs) {
    const double median = *lesson.medianLoudnessLufs;
    const double within = *profile.loudnessConsistencyLu;
    bands.push_back({median - within, median + within, "band consistency", "grey",
                     "within " + Decimal(within, 1) + " LU of the lesson's median"});
  }

  // The scale takes the profile's band and limit, the lesson's median, and the takes' figures
  // but for outliers, which would squeeze the band and the takes' small differences into a line:
  // those are drawn on the chart's edge, marked as beyond it.
  std::vector<double> levels;
  for (const Band& band : bands) {
    levels.insert(levels.end(), {band.low, band.high});
  }
  if (lesson.medianLoudnessLufs) {
    levels.push_back(*lesson.medianLoudnessLufs);
  }
  if (profile.maxTruePeakDbtp) {
    levels.push_back(*profile.maxTruePeakDbtp);
  }
  std::vector<double> loudnesses;
  std::vector<double> truePeaks;
  for (const TakeRow& take : lesson.takes) {
    if (take.read) {
      truePeaks.push_back(take.measures.truePeakDbtp);
      if (take.measures.loudnessLufs) {
        loudnesses.push_back(*take.measures.loudnessLufs);
      }
    }
  }
  for (const std::vector<double>* figures : {&loudnesses, &truePeaks}) {
    const std::vector<double> usual = WithoutOutliers(*figures);
    levels.insert(levels.end(), usual.begin(), usual.end());
  }
  std::erase_if(levels, [](double level) { return !std::isfinite(level); });
  double low = -40;
  double high = 0;
  if (!levels.empty()) {
    const auto [least, most] = std::minmax_element(levels.begin(), levels.end());
    low = std::clamp(*least, kLowestDb, kHighestDb) - 1;
    high = std::clamp(*most, kLowestDb, kHighestDb) + 1;
  }
  static constexpr std::array<double, 6> kLevelSteps = {1, 2, 5, 10, 20, 50};
  const double step = RoundStep<double>(high - low, 8, kLevelSteps);
  low = std::floor(low / step) * step;
  high = std::ceil(high / step) * step;
  const double bottom = kLevelHeight - kFoot;
  const Scale y{low, high, bottom, kTop};
  const int prompts = std::max(lesson.counts.prompts, 1);
  const Scale x{0.5, prompts + 0.5, kLeft, kRight};

  OpenChart(html, "chart levels", kLevelHeight,
            "Loudness and true peak of the takes of " + EscapeHtml(lesson.title()));
  for (const Band& band : bands) {
    Rect(html, band.cssClass, kLeft, y(band.high), kRight - kLeft, y(band.low) - y(band.high),
         band.text);
  }
  ValueGrid(html, y, step, 0);
  static constexpr std::array<int, 13> kPromptSteps = {1,   2,   5,    10,   20,   50,   100,
                                                       200, 500, 1000, 2000, 5000, 10000};
  const int every = RoundStep<int>(prompts, 10, kPromptSteps);
  for (int n = every; n <= prompts; n += every) {
    Line(html, "tick", x(n), bottom, x(n), bottom + 4);
    Label(html, "middle", x(n), bottom + 16, std::to_string(n));
  }
  Frame(html, bottom, "prompt", "LUFS, dBTP");
  if (profile.maxTruePeakDbtp) {
    const std::string limit = "true-peak limit " + Decimal(*profile.maxTruePeakDbtp, 1) + " dBTP";
    Line(html, "limit", kLeft, y(*profile.maxTruePeakDbtp), kRight, y(*profile.maxTruePeakDbtp),
         limit);
    Label(html, "end", kRight - 4, y(*profile.maxTruePeakDbtp) - 4, limit);
  }
  if (lesson.medianLoudnessLufs) {
    const std::string median = "median " + Decimal(*lesson.medianLoudnessLufs, 1) + " LUFS";
    Line(html, "median", kLeft, y(*lesson.medianLoudnessLufs), kRight,
         y(*lesson.medianLoudnessLufs), "the lesson's " + median);
    Label(html, "start", kLeft + 4, y(*lesson.medianLoudnessLufs) - 4, median);
  }
  html += '\n';

  // Marks shrink as they crowd, and stay visible.
  const double size = std::clamp(300.0 / prompts, 1.2, 3.5);
  bool beyond = false;
  for (const TakeRow& take : lesson.takes) {
    if (!take.read) {
      continue;
    }
    const double at = x(take.number);
    const double peak = take.measures.truePeakDbtp;
    const std::optional<double> loudness = take.measures.loudnessLufs;
    const auto outside = [&](double level) { return level < low || level > high; };
    const bool off = outside(peak) || (loudness && outside(*loudness));
    beyond = beyond || off;
    html += take.flagged() ? "<g class=\"take-mark flagged\"><title>"
                           : "<g class=\"take-mark\"><title>";
    html += MarkTitle(take);
    html += off ? " (beyond the chart: drawn on its edge)</title>" : "</title>";
    Line(html, "peak", at - size - 1, y(peak), at + size + 1, y(peak));
    if (loudness) {
      if (take.flagged()) {
        Rect(html, "loudness", at - size, y(*loudness) - size, 2 * size, 2 * size);
      } else {
        Shape(html, "circle", "loudness", {{"cx", at}, {"cy", y(*loudness)}, {"r", size}}, {});
      }
    }
    for (const double level : {peak, loudness.value_or(low)}) {
      if (outside(level)) {
        BeyondArrow(html, at, level > high ? kTop : bottom, level > high, size);
      }
    }
    html += "</g>\n";
  }

  std::string caption =
      "Integrated loudness (dots; squares for flagged takes) and true peak (dashes) of each take "
      "by prompt number.";
  for (const Band& band : bands) {
    caption +=
        (&band == &bands.front() ? " Shaded " : "; ") + std::string(band.colour) + ", " + band.text;
  }
  caption += bands.empty() ? " The profile judges no loudness band." : ".";
  if (lesson.medianLoudnessLufs) {
    caption += " Dashed: the lesson's median loudness.";
  }
  if (profile.maxTruePeakDbtp) {
    caption += " Dotted: the profile's true-peak limit.";
  }
  if (beyond) {
    caption += " Arrows on an edge: a figure beyond the chart, drawn on its edge.";
  }
  CloseChart(html, caption);
}

void AppendLengthHistogram(std::string& html, const LessonReport& lesson) {
  std::vector<std::uint32_t> lengths;  // ms
  for (const TakeRow& take : lesson.takes) {
    if (take.read) {
      lengths.push_back(take.measures.durationMs);
    }
  }
  if (lengths.empty()) {
    return;
  }
  const auto [shortest, longest] = std::minmax_element(lengths.begin(), lengths.end());
  static constexpr std::array<std::uint32_t, 14> kWidths = {
      100, 200, 250, 500, 1000, 2000, 5000, 10000, 15000, 30000, 60000, 120000, 300000, 600000};
  const std::uint32_t width =
      RoundStep<std::uint32_t>(std::max(*longest - *shortest, 1u), 24, kWidths);
  // At least kMinBins, so that a lesson of takes of one length shows a bar, not a block.
  constexpr std::uint32_t kMinBins = 5;
  const std::uint32_t spanned = *longest / width - *shortest / width + 1;
  const std::uint32_t first =
      *shortest / width - std::min(*shortest / width, (kMinBins - std::min(spanned, kMinBins)) / 2);
  std::vector<int> counts(std::max(*longest / width - first + 1, kMinBins), 0);
  int most = 0;
  for (const std::uint32_t length : lengths) {
    most = std::max(most, ++counts[length / width - first]);
  }
  static constexpr std::array<int, 10> kCountSteps = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000};
  const int step = RoundStep<int>(most, 6, kCountSteps);
  const int top = (most + step - 1) / step * step;
  const double bottom = kLengthHeight - kFoot;
  const Scale y{0, static_cast<double>(top), bottom, kTop};
  const auto bins = static_cast<double>(counts.size());
  const Scale x{0, bins, kLeft, kRight};
  const int decimals = width % 1000 == 0 ? 0 : (width % 100 == 0 ? 1 : 2);
  const auto seconds = [&](std::size_t edge) {
    return Decimal(static_cast<double>((first + edge) * width) / 1000.0, decimals);
  };

  OpenChart(html, "chart lengths", kLengthHeight,
            "Lengths of the takes of " + EscapeHtml(lesson.title()));
  ValueGrid(html, y, step, 0);
  const std::size_t labelEvery = (counts.size() + 11) / 12;
  for (std::size_t edge = 0; edge <= counts.size(); edge += labelEvery) {
    Label(html, "middle", x(static_cast<double>(edge)), bottom + 16, seconds(edge));
  }
  Frame(html, bottom, "seconds", "takes");
  for (std::size_t bin = 0; bin < counts.size(); ++bin) {
    const double left = x(static_cast<double>(bin));
    const double right = x(static_cast<double>(bin + 1));
    Rect(html, "bin", left + 1, y(counts[bin]), right - left - 2, bottom - y(counts[bin]),
         seconds(bin) + "&#8211;" + seconds(bin + 1) + " s: " + std::to_string(counts[bin]) +
             (counts[bin] == 1 ? " take" : " takes"));
  }
  CloseChart(
      html, "How many takes are how long, in bins of " + Decimal(width / 1000.0, decimals) + " s.");
}

}  // namespace voxtar::report
