// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/html_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace voxtar::report {
namespace {

using measures::Problem;

TakeRow Take(int number, std::string name, std::string text, double loudness,
             std::vector<measures::Finding> findings = {}) {
  TakeRow take;
  take.number = number;
  take.name = std::move(name);
  take.text = std::move(text);
  take.read = true;
  take.measures.durationMs = 2000 + 100 * static_cast<std::uint32_t>(number);
  take.measures.loudnessLufs = loudness;
  take.measures.truePeakDbtp = loudness + 12;
  take.judgement.findings = std::move(findings);
  return take;
}

TakeRow Unreadable(int number, std::string name, std::string error) {
  TakeRow take;
  take.number = number;
  take.name = std::move(name);
  take.error = std::move(error);
  return take;
}

TakeRow Missing(int number, std::string name, std::string text) {
  TakeRow take;
  take.number = number;
  take.name = std::move(name);
  take.text = std::move(text);
  take.missing = true;
  return take;
}

LessonReport Lesson(std::string index, Counts counts, std::vector<TakeRow> takes) {
  LessonReport lesson;
  lesson.index = std::move(index);
  lesson.counts = counts;
  lesson.takes = std::move(takes);
  return lesson;
}

// The number in the attribute `name` of the first element that starts with `start`.
double Attribute(const std::string& html, const std::string& start, const std::string& name) {
  const std::size_t element = html.find(start);
  const std::size_t at = html.find(" " + name + "=\"", element);
  if (element == std::string::npos || at == std::string::npos) {
    ADD_FAILURE() << start << " " << name;
    return 0;
  }
  return std::stod(html.substr(at + name.size() + 3));
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST(EscapeHtml, NothingUntrustedBecomesMarkupOrVanishes) {
  const std::pair<std::string, std::string> cases[] = {
      {"<script>alert('x')</script>", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
      {"a & b=\"c\"", "a &amp; b=&quot;c&quot;"},
      {"\x1b[2J\t\x7f", "\u241b[2J\u2409\u2421"},                // controls shown as their pictures
      {"\xff\xc0\xaf x\xc2\x85", "\ufffd\ufffd\ufffd x\ufffd"},  // not UTF-8, overlong, C1
      {"caf\xc3\xa9 \xe6\x97\xa5 \xef\xbf\xbd", "caf\xc3\xa9 \xe6\x97\xa5 \xef\xbf\xbd"},
  };
  for (const auto& [text, escaped] : cases) {
    EXPECT_EQ(EscapeHtml(text), escaped) << text;
  }
}

TEST(RenderHtml, OneTitledMarkPerReadTakeAndUntrustedTextStaysText) {
  const LessonReport lesson =
      Lesson("ini/<b>.idx", {5, 4, 1, 2, 2},
             {Take(1, "a&b.wav", "<script>alert(1)</script>", -20),
              Take(2, "\"q\".wav", "<img src=x onerror=alert(1)>", -30,
                   {{Problem::TooQuiet, "too quiet (peak -34.0 dB)"}}),
              Take(3, "ok.wav", "Fine", -21), Unreadable(5, "<i>.wav", "The file <x> is broken")});
  LessonReport failed;
  failed.index = "ini/\xff<u>.idx";
  failed.error = "file not found";
  const std::string html =
      RenderHtml({lesson, failed}, {*measures::BuiltInProfile("course"), std::nullopt});

  EXPECT_EQ(Count(html, "<g class=\"take-mark"), 3u);
  EXPECT_NE(html.find("<g class=\"take-mark\"><title>1 a&amp;b.wav: loudness -20.0 LUFS, true "
                      "peak -8.0 dBTP; passes</title>"),
            std::string::npos);
  EXPECT_NE(html.find("<g class=\"take-mark flagged\"><title>2 &quot;q&quot;.wav: loudness "
                      "-30.0 LUFS, true peak -18.0 dBTP; too quiet (peak -34.0 dB)</title>"),
            std::string::npos);
  for (const char* raw : {"<script", "<img", "<b>.idx", "<i>.wav", "<u>.idx", "<x>", "\xff"}) {
    EXPECT_EQ(html.find(raw), std::string::npos) << raw;
  }
  EXPECT_NE(html.find("<td class=\"text\">&lt;img src=x onerror=alert(1)&gt;</td>"),
            std::string::npos);
  EXPECT_EQ(Count(html, "<tr class=\"bad\">") + Count(html, "<tr class=\"warning\">"), 2u);
  EXPECT_NE(html.find("cannot be read: The file &lt;x&gt; is broken"), std::string::npos);
  EXPECT_NE(html.find("Did not load: file not found"), std::string::npos);
  EXPECT_NE(html.find("<tfoot><tr><th>All 2 lessons</th><td class=\"n\">5</td><td class=\"n\">4"
                      "</td><td class=\"n\">1</td><td class=\"n\">2</td><td class=\"n\">2</td>"),
            std::string::npos);
}

// The profile's band is drawn on the marks' own scale: a take at the target lies inside it, a
// take 7 LU below lies under it.
TEST(RenderHtml, TheLoudnessBandIsOnTheScaleOfTheMarks) {
  const LessonReport lesson =
      Lesson("l.idx", {2, 2, 0, 1, 1},
             {Take(1, "in.wav", "At the target", -23),
              Take(2, "out.wav", "Too quiet", -30, {{Problem::Loudness, "loudness"}})});
  const std::string html =
      RenderHtml({lesson}, {*measures::BuiltInProfile("ebu-r128"), std::nullopt});
  const double top = Attribute(html, "<rect class=\"band\" ", "y");
  const double bottom = top + Attribute(html, "<rect class=\"band\" ", "height");
  const double in = Attribute(html, "<circle class=\"loudness\"", "cy");
  const double out = Attribute(html, "<rect class=\"loudness\"", "y") +
                     Attribute(html, "<rect class=\"loudness\"", "height") / 2;
  EXPECT_GT(in, top);
  EXPECT_LT(in, bottom);
  EXPECT_GT(out, bottom);  // below: further down the page
}

// A profile file may hold any finite number: it is written out, and drawn on the chart's edge.
TEST(RenderHtml, NumbersBeyondEveryChartStayReadable) {
  measures::DeliveryProfile profile = *measures::BuiltInProfile("ebu-r128");
  profile.loudnessLufs = 1e300;
  profile.maxTruePeakDbtp = -1e300;
  const std::string html =
      RenderHtml({Lesson("l.idx", {1, 1, 0, 0, 1}, {Take(1, "a.wav", "Hello there", -23)})},
                 {profile, std::nullopt});
  EXPECT_EQ(html.find('\0'), std::string::npos);
  EXPECT_NE(html.find("<title>the loudness target 1e+300 LUFS"), std::string::npos);
  EXPECT_NE(html.find("<title>true-peak limit -1e+300 dBTP"), std::string::npos);
}

// A producer reads each lesson under its caption, with every prompt still to record named in the
// table beside the flagged takes; a profile file is named as the file, with the built-in it
// starts from.
TEST(RenderHtml, LessonsUnderTheirCaptionsWithTheirMissingPromptsNamed) {
  LessonReport first =
      Lesson("Ini/unit01.idx", {5, 3, 2, 1, 2},
             {Take(1, "a.wav", "Hello", -20), Missing(2, "b.wav", "Good <morning>"),
              Take(3, "c.wav", "Bye", -30, {{Problem::CutEnd, "cut at the end"}}),
              Unreadable(4, "d.wav", "broken"), Missing(5, "e.wav", "> Edited")});
  first.caption = "Unit 1. <Greetings>";
  const LessonReport second = Lesson("Ini/u2.idx", {1, 1, 0, 1, 0}, {Take(1, "a.wav", "Hi", -20)});
  // Takes checked against their texts show how well each fits it.
  TakeRow wrong = Take(1, "w.wav", "Hi", -20, {{Problem::TextMismatch, "does not match (0.12)"}});
  wrong.textMatch = 0.123;
  const LessonReport third = Lesson("Ini/u3.idx", {1, 1, 0, 0, 1}, {wrong});
  measures::DeliveryProfile profile = *measures::BuiltInProfile("acx");
  profile.file = "/course/delivery.ini";
  const std::string html = RenderHtml({first, second, third}, {profile, std::nullopt});

  const std::pair<std::string, std::size_t> expected[] = {
      {"Judged by the delivery profile <b>/course/delivery.ini (based on acx)</b>", 1},
      {"<h2>Unit 1. &lt;Greetings&gt;</h2>\n<p class=\"index\">Ini/unit01.idx</p>", 1},
      {"<title>Loudness and true peak of the takes of Unit 1. &lt;Greetings&gt;</title>", 1},
      {"<h3>Flagged and missing takes</h3>", 1},
      {"<tr class=\"missing\"><td class=\"n\">2</td><td class=\"name\">b.wav</td><td "
       "class=\"text\">Good &lt;morning&gt;</td><td class=\"problems\">missing</td></tr>",
       1},
      {"<tr class=\"missing\">", 2},       // an edited prompt without a take too
      {"<h2>Ini/u2.idx</h2>\n<table", 1},  // no caption: the index heads it, once
      {"<p>No take is flagged.</p>", 1},
      {"#lesson-1\">Unit 1. &lt;Greetings&gt;</a> <span class=\"index\">(Ini/unit01.idx)</span>",
       1},
      {"#lesson-2\">Ini/u2.idx</a></td>", 1},
      {"<g class=\"take-mark", 4},  // read takes only
      {"<th class=\"n\">Text match</th>", 1},
      {"<td class=\"n\">0.12</td><td class=\"problems\">does not match (0.12)</td>", 1},
  };
  for (const auto& [part, times] : expected) {
    EXPECT_EQ(Count(html, part), times) << part;
  }
}

// Takes far from the rest (a near-silent one, one that peaks above full scale) are drawn on the
// chart's edge with an arrow out of it, so that the band and the takes' small differences keep
// their room.
TEST(RenderHtml, OutliersAreDrawnOnTheEdgeAndLeaveTheBandItsRoom) {
  TakeRow loud = Take(5, "loud.wav", "Loud", -20.5, {{Problem::TruePeak, "true peak 6.0 dBTP"}});
  loud.measures.truePeakDbtp = 6;
  const LessonReport lesson = Lesson(
      "l.idx", {6, 6, 0, 3, 3},
      {Take(1, "a.wav", "One", -20), Take(2, "b.wav", "Two", -21), Take(3, "c.wav", "Three", -19),
       Take(4, "quiet.wav", "Quiet", -65, {{Problem::Loudness, "loudness -65.0 LUFS"}}), loud,
       Take(6, "in.wav", "In the band", -23)});
  const std::string html =
      RenderHtml({lesson}, {*measures::BuiltInProfile("ebu-r128"), std::nullopt});

  // 2 LU of a plot 222 units high: at least a twentieth of it.
  EXPECT_GT(Attribute(html, "<rect class=\"band\" ", "height"), 11.0);
  EXPECT_EQ(Count(html, "<path class=\"beyond\""), 3u);  // quiet: loudness and true peak; loud
  EXPECT_EQ(Count(html, " (beyond the chart: drawn on its edge)</title>"), 2u);
  EXPECT_NE(html.find("Arrows on an edge: a figure beyond the chart"), std::string::npos);
  // The take in the band is drawn in it.
  const double top = Attribute(html, "<rect class=\"band\" ", "y");
  const double in = Attribute(html, "<g class=\"take-mark\"><title>6 ", "cy");
  EXPECT_GT(in, top);
  EXPECT_LT(in, top + Attribute(html, "<rect class=\"band\" ", "height"));
}

}  // namespace
}  // namespace voxtar::report
