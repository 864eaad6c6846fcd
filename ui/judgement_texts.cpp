// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/judgement_texts.h"

#include <QCoreApplication>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>

namespace voxtar::ui {

namespace {

using measures::FindingForm;
using measures::Problem;

QString Tr(const char* text) {
  return QCoreApplication::translate("JudgementText", text);
}

// In the order of measures::Problem; the English words are measures::ProblemName's.
constexpr std::array<const char*, measures::kProblemCount> kNames = {
    QT_TRANSLATE_NOOP("JudgementText", "clipped"),
    QT_TRANSLATE_NOOP("JudgementText", "too quiet"),
    QT_TRANSLATE_NOOP("JudgementText", "too loud"),
    QT_TRANSLATE_NOOP("JudgementText", "silent"),
    QT_TRANSLATE_NOOP("JudgementText", "cut at the start"),
    QT_TRANSLATE_NOOP("JudgementText", "cut at the end"),
    QT_TRANSLATE_NOOP("JudgementText", "long silence at the start"),
    QT_TRANSLATE_NOOP("JudgementText", "long silence at the end"),
    QT_TRANSLATE_NOOP("JudgementText", "noisy"),
    QT_TRANSLATE_NOOP("JudgementText", "loudness off target"),
    QT_TRANSLATE_NOOP("JudgementText", "true peak too high"),
    QT_TRANSLATE_NOOP("JudgementText", "format mismatch"),
    QT_TRANSLATE_NOOP("JudgementText", "loudness unlike the lesson"),
    QT_TRANSLATE_NOOP("JudgementText", "pace unlike the lesson"),
    QT_TRANSLATE_NOOP("JudgementText", "does not match its text"),
    QT_TRANSLATE_NOOP("JudgementText", "incomplete"),
    QT_TRANSLATE_NOOP("JudgementText", "extra speech"),
};

// A figure as the judgement wrote it ("-34.0"), with the decimal separator of the translation.
QString Figure(QString figure) {
  return figure.replace(u'.',
                        QCoreApplication::translate("JudgementText", ".", "decimal separator"));
}

}  // namespace

QString FindingText(const measures::Finding& finding) {
  QString name = Tr(kNames[static_cast<std::size_t>(finding.problem)]);
  const auto text = [&finding](std::size_t i) {
    return i < finding.figures.size() ? QString::fromStdString(finding.figures[i]) : QString();
  };
  const auto figure = [&text](std::size_t i) { return Figure(text(i)); };
  switch (finding.form) {
    case FindingForm::Name:
      break;
    case FindingForm::Samples: {
      if (finding.figures.empty() || finding.figures[0] == "1") {
        return QCoreApplication::translate("JudgementText", "%1 (1 sample)").arg(name);
      }
      // The count is shown as written (it may exceed an int); its plural form follows its last
      // two digits.
      const std::string& count = finding.figures[0];
      const int lastDigits =
          100 +
          std::atoi(count.substr(count.size() - std::min<std::size_t>(count.size(), 2)).c_str());
      return QCoreApplication::translate("JudgementText", "%1 (%2 samples)", nullptr, lastDigits)
          .arg(name, figure(0));
    }
    case FindingForm::PeakDb:
      return QCoreApplication::translate("JudgementText", "%1 (peak %2 dB)").arg(name, figure(0));
    case FindingForm::RmsDb:
      return QCoreApplication::translate("JudgementText", "%1 (RMS %2 dB)").arg(name, figure(0));
    case FindingForm::FloorDb:
      return QCoreApplication::translate("JudgementText", "%1 (floor %2 dB)").arg(name, figure(0));
    case FindingForm::SnrDb:
      return QCoreApplication::translate("JudgementText", "%1 (SNR %2 dB)").arg(name, figure(0));
    case FindingForm::Seconds:
      return QCoreApplication::translate("JudgementText", "%1 (%2 s)").arg(name, figure(0));
    case FindingForm::Lufs:
      return QCoreApplication::translate("JudgementText", "loudness %1 LUFS").arg(figure(0));
    case FindingForm::Dbtp:
      return QCoreApplication::translate("JudgementText", "true peak %1 dBTP").arg(figure(0));
    case FindingForm::LouderLu:
      return QCoreApplication::translate("JudgementText", "%1 LU louder than the lesson")
          .arg(figure(0));
    case FindingForm::QuieterLu:
      return QCoreApplication::translate("JudgementText", "%1 LU quieter than the lesson")
          .arg(figure(0));
    case FindingForm::FasterPercent:
      return QCoreApplication::translate("JudgementText", "%1 % faster than the lesson")
          .arg(figure(0));
    case FindingForm::SlowerPercent:
      return QCoreApplication::translate("JudgementText", "%1 % slower than the lesson")
          .arg(figure(0));
    case FindingForm::Formats:
      // The formats' own words ("44100 Hz, mono, PCM 16") are technical names, as in a mixer.
      return QCoreApplication::translate("JudgementText", "%1 (%2, not %3)")
          .arg(name, text(0), text(1));
    case FindingForm::TextMatch:
      return QCoreApplication::translate("JudgementText", "does not match its text (match %1)")
          .arg(figure(0));
    case FindingForm::TextSaidPercent:
      return QCoreApplication::translate("JudgementText",
                                         "does not match its text (%1 % of it said)")
          .arg(figure(0));
    case FindingForm::TextMoreSaid:
      return QCoreApplication::translate("JudgementText",
                                         "does not match its text (more was said)");
  }
  return name;
}

QString JudgementText(const measures::Judgement& judgement) {
  if (judgement.findings.empty()) {
    if (judgement.figures.size() < 2) {
      return QString::fromStdString(judgement.summary);
    }
    return QCoreApplication::translate("JudgementText", "ok, peak %1 dB, %2 s")
        .arg(Figure(QString::fromStdString(judgement.figures[0])),
             Figure(QString::fromStdString(judgement.figures[1])));
  }
  QString text;
  for (const measures::Finding& finding : judgement.findings) {
    if (!text.isEmpty()) {
      text += QStringLiteral(", ");
    }
    text += FindingText(finding);
  }
  return text;
}

}  // namespace voxtar::ui
