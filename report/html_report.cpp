// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/html_report.h"

#include <algorithm>
#include <string_view>

#include "platform/utf8.h"
#include "report/charts_p.h"

namespace voxtar::report {

namespace {

// Black on white, for the screen and for paper: a chart or a row is never split across pages,
// and each lesson starts a page of its own.
constexpr std::string_view kStyle = R"(
:root { color-scheme: light; }
body { font: 14px/1.4 sans-serif; color: #000; background: #fff; max-width: 62em;
       margin: 1.5em auto; padding: 0 1em; }
h1 { font-size: 1.6em; margin: 0 0 .3em; }
h2 { font-size: 1.3em; margin: 1.6em 0 .4em; border-bottom: 1px solid #000; }
h3 { font-size: 1.05em; margin: 1em 0 .3em; }
table { border-collapse: collapse; margin: .4em 0 1em; }
th, td { border: 1px solid #888; padding: .15em .5em; text-align: left; vertical-align: top; }
td.n, th.n { text-align: right; font-variant-numeric: tabular-nums; }
.name, .text, .lesson-name { unicode-bidi: isolate; }
.name { white-space: nowrap; }
.text, .lesson-name { overflow-wrap: anywhere; }
tr.bad td.problems { font-weight: bold; }
tr.missing td.problems { font-style: italic; }
p.index { margin: -.3em 0 .6em; font-size: .9em; }
.index { unicode-bidi: isolate; overflow-wrap: anywhere; }
.error { font-weight: bold; }
figure { margin: 1em 0; break-inside: avoid; page-break-inside: avoid; }
figcaption { font-size: .9em; }
svg { display: block; width: 100%; height: auto; }
svg text { font: 11px sans-serif; fill: #000; }
.axis, .tick { stroke: #000; }
.grid { stroke: #ddd; }
.band { fill: #cfe6cf; }
.band.consistency { fill: #000; fill-opacity: .08; }
.median { stroke: #000; stroke-dasharray: 6 3; }
.limit { stroke: #b00000; stroke-dasharray: 2 2; }
.take-mark .loudness { fill: #1f4e99; }
.take-mark .peak { stroke: #1f4e99; stroke-width: 1.5; }
.take-mark.flagged .loudness { fill: #c00000; }
.take-mark.flagged .peak { stroke: #c00000; }
.bin { fill: #555; }
.take-mark .beyond { fill: #000; }
.take-mark.flagged .beyond { fill: #c00000; }
@page { margin: 15mm; }
@media print {
  body { margin: 0; max-width: none; font-size: 10.5pt; }
  * { print-color-adjust: exact; -webkit-print-color-adjust: exact; }
  section.lesson + section.lesson, section.totals { break-before: page; }
  h2, h3 { break-after: avoid; }
  tr { break-inside: avoid; }
  a { color: #000; text-decoration: none; }
}
)";

void AppendUtf8Picture(std::string& out, char32_t c) {
  // U+2400 + c for C0 controls, U+2421 for DEL: three bytes E2 90 xx.
  out += "\xE2\x90";
  out += static_cast<char>(0x80 + (c == 0x7F ? 0x21 : c));
}

void Cell(std::string& html, std::string_view cssClass, std::string_view content) {
  html += "<td class=\"";
  html += cssClass;
  html += "\">";
  html += content;
  html += "</td>";
}

void CountCells(std::string& html, const Counts& counts) {
  for (const int count :
       {counts.prompts, counts.recorded, counts.pending, counts.passing, counts.flagged}) {
    Cell(html, "n", std::to_string(count));
  }
}

constexpr std::string_view kCountHeads =
    "<th class=\"n\">Prompts</th><th class=\"n\">Recorded</th><th class=\"n\">Pending</th>"
    "<th class=\"n\">Passing</th><th class=\"n\">Flagged</th>";

std::string Problems(const TakeRow& take) {
  if (take.missing) {
    return "missing";
  }
  if (!take.read) {
    return "cannot be read: " + EscapeHtml(take.error);
  }
  std::string text;
  for (const measures::Finding& finding : take.judgement.findings) {
    text += (text.empty() ? "" : ", ") + EscapeHtml(finding.text);
  }
  return text;
}

void FlaggedTable(std::string& html, const LessonReport& lesson) {
  const bool missing = std::any_of(lesson.takes.begin(), lesson.takes.end(),
                                   [](const TakeRow& t) { return t.missing; });
  html += missing ? "<h3>Flagged and missing takes</h3>\n" : "<h3>Flagged takes</h3>\n";
  if (lesson.counts.flagged == 0 && !missing) {
    html += "<p>No take is flagged.</p>\n";
    return;
  }
  // How well each take fits its text, where the takes were checked against them.
  const bool textChecked = std::any_of(lesson.takes.begin(), lesson.takes.end(),
                                       [](const TakeRow& t) { return t.textMatch.has_value(); });
  html += "<table class=\"flagged\"><thead><tr><th class=\"n\">#</th><th>Prompt</th><th>Text</th>";
  html += textChecked ? "<th class=\"n\">Text match</th>" : "";
  html += "<th>Problems</th></tr></thead><tbody>\n";
  for (const TakeRow& take : lesson.takes) {
    if (!take.flagged()) {
      continue;
    }
    const bool bad = !take.read || take.judgement.severity == measures::Severity::Bad;
    html += take.missing ? "<tr class=\"missing\">"
            : bad        ? "<tr class=\"bad\">"
                         : "<tr class=\"warning\">";
    Cell(html, "n", std::to_string(take.number));
    Cell(html, "name", EscapeHtml(take.name));
    Cell(html, "text", EscapeHtml(take.text));
    if (textChecked) {
      Cell(html, "n", take.textMatch ? Decimal(*take.textMatch, 2) : std::string("-"));
    }
    Cell(html, "problems", Problems(take));
    html += "</tr>\n";
  }
  html += "</tbody></table>\n";
}

void LessonSection(std::string& html, const LessonReport& lesson, std::size_t number,
                   const Judged& judged) {
  html += "<section class=\"lesson\" id=\"lesson-" + std::to_string(number) + "\"><h2>" +
          EscapeHtml(lesson.title()) + "</h2>\n";
  if (!lesson.caption.empty()) {
    html += "<p class=\"index\">" + EscapeHtml(lesson.index) + "</p>\n";
  }
  if (!lesson.loaded()) {
    html += "<p class=\"error\">Did not load: " + EscapeHtml(lesson.error) + ".</p></section>\n";
    return;
  }
  // Lessons of other working directories may have profiles of their own.
  const measures::DeliveryProfile& profile = lesson.profile.value_or(judged.profile);
  if (profile != judged.profile) {
    html += "<p>Judged by the delivery profile <b>" + EscapeHtml(measures::ProfileTitle(profile)) +
            "</b>.</p>\n";
  }
  html += "<table class=\"counts\"><thead><tr>";
  html += kCountHeads;
  html += "</tr></thead><tbody><tr>";
  CountCells(html, lesson.counts);
  html += "</tr></tbody></table>\n";
  if (std::any_of(lesson.takes.begin(), lesson.takes.end(),
                  [](const TakeRow& take) { return take.read; })) {
    AppendLevelChart(html, lesson, profile);
    AppendLengthHistogram(html, lesson);
  }
  if (lesson.takes.empty()) {
    html += "<p>No take to judge.</p>\n";
  } else {
    FlaggedTable(html, lesson);
  }
  html += "</section>\n";
}

void Totals(std::string& html, const std::vector<LessonReport>& lessons) {
  html +=
      "<section class=\"totals\"><h2>Totals</h2>\n<table class=\"totals\"><thead><tr>"
      "<th>Lesson</th>";
  html += kCountHeads;
  html += "</tr></thead><tbody>\n";
  Counts total;
  for (std::size_t i = 0; i < lessons.size(); ++i) {
    const LessonReport& lesson = lessons[i];
    html += "<tr><td class=\"lesson-name\"><a href=\"#lesson-" + std::to_string(i + 1) + "\">" +
            EscapeHtml(lesson.title()) + "</a>";
    if (!lesson.caption.empty()) {
      html += " <span class=\"index\">(" + EscapeHtml(lesson.index) + ")</span>";
    }
    html += "</td>";
    if (lesson.loaded()) {
      CountCells(html, lesson.counts);
      total += lesson.counts;
    } else {
      html +=
          "<td class=\"error\" colspan=\"5\">did not load: " + EscapeHtml(lesson.error) + "</td>";
    }
    html += "</tr>\n";
  }
  html += "</tbody><tfoot><tr><th>All " + std::to_string(lessons.size()) +
          (lessons.size() == 1 ? " lesson" : " lessons") + "</th>";
  CountCells(html, total);
  html += "</tr></tfoot></table></section>\n";
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t c = platform::DecodeUtf8(text, i);
    switch (c) {
      case U'&':
        out += "&amp;";
        break;
      case U'<':
        out += "&lt;";
        break;
      case U'>':
        out += "&gt;";
        break;
      case U'"':
        out += "&quot;";
        break;
      case U'\'':
        out += "&#39;";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          AppendUtf8Picture(out, c);
        } else if ((c >= 0x80 && c <= 0x9F) ||
                   (c == platform::kReplacementCharacter && i - start == 1)) {
          out += "\xEF\xBF\xBD";
        } else {
          out.append(text, start, i - start);
        }
    }
  }
  return out;
}

std::string RenderHtml(const std::vector<LessonReport>& lessons, const Judged& judged) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>Takes report</title>\n<style>";
  html += kStyle;
  html += "</style></head>\n<body>\n<h1>Takes report</h1>\n<p>Judged by the delivery profile <b>" +
          EscapeHtml(measures::ProfileTitle(judged.profile)) + "</b>";
  html += judged.expectedFormat ? "; formats against the template recording's, " +
                                      measures::DescribeFormat(*judged.expectedFormat) + ".</p>\n"
                                : "; formats not judged (no template recording).</p>\n";
  for (std::size_t i = 0; i < lessons.size(); ++i) {
    LessonSection(html, lessons[i], i + 1, judged);
  }
  Totals(html, lessons);
  html += "</body></html>\n";
  return html;
}

}  // namespace voxtar::report
