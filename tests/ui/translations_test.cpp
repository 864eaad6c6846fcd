// SPDX-License-Identifier: GPL-3.0-or-later
// The window's translations: every text of the window has a translation, its placeholders are
// the source's, and the translation files are what lupdate makes of the sources today. Then the
// window itself in Russian, and in English without a translation.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include <sndfile.h>

#include <filesystem>

#include "history/take_history.h"
#include "measures/delivery_profile.h"
#include "measures/judgement.h"
#include "platform/save_file.h"
#include "platform/utf8.h"
#include "session/failure_texts.h"
#include "testing/synthetic_take.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/main_dialog_fixture.h"
#include "ui/judgement_texts.h"
#include "ui/language.h"
#include "ui/operator_boxes.h"
#include "ui/voxtar_dlg.h"

namespace voxtar::ui {
namespace {

using measures::Finding;
using measures::FindingForm;
using measures::Problem;
using testing::FakeWindowServices;
using testing::QuietEngine;
using testing::Text;

struct Message {
  QString context;
  QString source;
  QString comment;
  QString type;              // of the translation: "unfinished", "vanished", "obsolete" or ""
  QStringList translations;  // one, or the plural forms
};

std::vector<Message> ReadTs(const QString& path) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  QXmlStreamReader xml(&file);
  std::vector<Message> messages;
  QString context;
  while (!xml.atEnd()) {
    xml.readNext();
    if (!xml.isStartElement()) {
      continue;
    }
    const auto name = xml.name();
    if (name == u"name") {
      context = xml.readElementText();
    } else if (name == u"message") {
      messages.push_back({context, {}, {}, {}, {}});
    } else if (name == u"source") {
      messages.back().source = xml.readElementText();
    } else if (name == u"comment") {
      messages.back().comment = xml.readElementText();
    } else if (name == u"translation") {
      messages.back().type = xml.attributes().value(QStringLiteral("type")).toString();
      if (xml.readNext() == QXmlStreamReader::Characters && !xml.isWhitespace()) {
        messages.back().translations << xml.text().toString();
      }
    } else if (name == u"numerusform") {
      messages.back().translations << xml.readElementText();
    }
  }
  EXPECT_FALSE(xml.hasError()) << path.toStdString() << ": " << xml.errorString().toStdString();
  return messages;
}

// %1..%9 (QString::arg, %L1 the same), %n (a count): what a text takes in.
QStringList Placeholders(const QString& text) {
  static const QRegularExpression kPlaceholder(QStringLiteral("%L?([1-9]|n)"));
  QStringList found;
  for (const QRegularExpressionMatch& match : kPlaceholder.globalMatch(text)) {
    found << match.captured(1);
  }
  found.sort();
  return found;
}

QStringList TsFiles() {
  return QString::fromUtf8(VOXTAR_TS_FILES).split(u'|', Qt::SkipEmptyParts);
}

TEST(Translations, EveryTextIsTranslatedWithTheSourcePlaceholders) {
  ASSERT_FALSE(TsFiles().isEmpty());
  for (const QString& ts : TsFiles()) {
    const std::vector<Message> messages = ReadTs(ts);
    EXPECT_GT(messages.size(), 100u) << ts.toStdString();
    for (const Message& message : messages) {
      const std::string where = (message.context + u' ' + message.source).toStdString();
      EXPECT_TRUE(message.type.isEmpty()) << where << " is " << message.type.toStdString();
      ASSERT_FALSE(message.translations.isEmpty()) << where;
      for (const QString& translation : message.translations) {
        EXPECT_FALSE(translation.trimmed().isEmpty()) << where;
        EXPECT_EQ(Placeholders(translation), Placeholders(message.source))
            << where << " -> " << translation.toStdString();
        // An accelerator stays an accelerator: one & (&& is a plain ampersand).
        EXPECT_EQ(QString(translation).remove(QStringLiteral("&&")).count(u'&'),
                  QString(message.source).remove(QStringLiteral("&&")).count(u'&'))
            << where << " -> " << translation.toStdString();
      }
    }
  }
}

// lupdate over today's sources finds exactly the texts the translation files hold: none is new
// (untranslated in the window), none is gone (a translation of nothing).
TEST(Translations, TheFilesHoldTheTextsOfTodaysSources) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString fresh = dir.filePath(QStringLiteral("fresh.ts"));
  QStringList arguments = QString::fromUtf8(VOXTAR_TRANSLATED_SOURCES).split(u'|');
  // The source root, where the window classes' headers say their namespace.
  arguments << QStringLiteral("-I") << QStringLiteral(VOXTAR_SOURCE_DIR)
            << QStringLiteral("-locations") << QStringLiteral("none") << QStringLiteral("-ts")
            << fresh;
  QProcess lupdate;
  lupdate.start(QStringLiteral(VOXTAR_LUPDATE), arguments);
  ASSERT_TRUE(lupdate.waitForFinished(60000));
  ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAllStandardError().toStdString();
  const auto keys = [](const std::vector<Message>& messages) {
    std::vector<std::string> list;
    list.reserve(messages.size());
    for (const Message& message : messages) {
      list.push_back(
          (message.context + u'|' + message.source + u'|' + message.comment).toStdString());
    }
    std::sort(list.begin(), list.end());
    return list;
  };
  for (const QString& ts : TsFiles()) {
    const std::vector<std::string> inSources = keys(ReadTs(fresh));
    const std::vector<std::string> inFile = keys(ReadTs(ts));
    std::vector<std::string> added;
    std::vector<std::string> gone;
    std::set_difference(inSources.begin(), inSources.end(), inFile.begin(), inFile.end(),
                        std::back_inserter(added));
    std::set_difference(inFile.begin(), inFile.end(), inSources.begin(), inSources.end(),
                        std::back_inserter(gone));
    EXPECT_EQ(added, std::vector<std::string>{})
        << ts.toStdString() << " lacks texts: build the target update_translations";
    EXPECT_EQ(gone, std::vector<std::string>{}) << ts.toStdString() << " holds texts no more used";
  }
}

// Installs the translations for a locale for one test; without a translation, none at all.
class Language {
 public:
  explicit Language(const QLocale& locale)
      : installed_(InstallTranslations(*QCoreApplication::instance(), locale)) {}
  ~Language() {
    // A translator takes itself out of the application when it goes.
    qDeleteAll(QCoreApplication::instance()->findChildren<QTranslator*>());
  }
  Language(const Language&) = delete;
  Language& operator=(const Language&) = delete;
  bool installed() const { return installed_; }

 private:
  bool installed_;
};

// The window in each locale: Russian where there is a translation, else today's English, and
// then without any translator (nor Qt's German buttons beside an English window).
TEST(Translations, TheWindowInRussianAndInEnglish) {
  const QStringList english{"Play",        "Record",          "List", "Open", "Goto",
                            "Statistics:", "&About Voxtar..."};
  const QStringList russian{
      "Слушать", "Запись", "Список", "Открыть", "Перейти", "Сведения:", "О про&грамме Voxtar…"};
  const struct {
    QLocale locale;
    const QStringList& captions;  // Play, Record, List, Open, Goto, the label, the About item
  } cases[] = {
      {QLocale::c(), english},
      {QLocale(QLocale::English, QLocale::UnitedStates), english},
      {QLocale(QLocale::German, QLocale::Germany), english},
      {QLocale(QLocale::Russian, QLocale::Russia), russian},
      {QLocale(QLocale::Russian, QLocale::Ukraine), russian},
  };
  for (const auto& c : cases) {
    const Language language(c.locale);
    const bool translated = &c.captions == &russian;
    EXPECT_EQ(language.installed(), translated) << c.locale.name().toStdString();
    EXPECT_EQ(QCoreApplication::instance()->findChildren<QTranslator*>().isEmpty(), !translated)
        << c.locale.name().toStdString();
    FakeWindowServices services;
    ui::CVoxtarDlg dialog{QuietEngine(), services};
    const QStringList shown{Text(dialog, ui::ids::kPlay),      Text(dialog, ui::ids::kRecord),
                            Text(dialog, ui::ids::kList),      Text(dialog, ui::ids::kOpen),
                            Text(dialog, ui::ids::kGoto),      dialog.findChild<QLabel*>()->text(),
                            ui::CVoxtarDlg::tr(kAboutItemText)};
    EXPECT_EQ(shown, c.captions) << c.locale.name().toStdString();
  }
}

// Without a translation a finding reads as the judgement's English words, for every form.
TEST(JudgementTexts, EnglishIsTheJudgementsOwnWords) {
  const std::vector<Finding> findings = {
      {Problem::Silent, {}, FindingForm::Name, {}},
      {Problem::Clipped, {}, FindingForm::Samples, {"1"}},
      {Problem::Clipped, {}, FindingForm::Samples, {"4294967296"}},
      {Problem::TooQuiet, {}, FindingForm::PeakDb, {"-34.0"}},
      {Problem::TooLoud, {}, FindingForm::RmsDb, {"-8.96"}},
      {Problem::Noisy, {}, FindingForm::FloorDb, {"-52.1"}},
      {Problem::Noisy, {}, FindingForm::SnrDb, {"21.0"}},
      {Problem::HeadLong, {}, FindingForm::Seconds, {"1.3"}},
      {Problem::Loudness, {}, FindingForm::Lufs, {"-27.4"}},
      {Problem::TruePeak, {}, FindingForm::Dbtp, {"-0.4"}},
      {Problem::InconsistentLoudness, {}, FindingForm::LouderLu, {"4.1"}},
      {Problem::InconsistentLoudness, {}, FindingForm::QuieterLu, {"3.0"}},
      {Problem::InconsistentRate, {}, FindingForm::FasterPercent, {"31"}},
      {Problem::InconsistentRate, {}, FindingForm::SlowerPercent, {"25"}},
      {Problem::Format,
       {},
       FindingForm::Formats,
       {"48000 Hz, stereo, PCM 24", "44100 Hz, mono, PCM 16"}},
  };
  for (const Finding& finding : findings) {
    EXPECT_EQ(FindingText(finding).toStdString(), measures::FindingWords(finding));
  }
  measures::Judgement ok;
  ok.figures = {"-6.2", "2.4"};
  EXPECT_EQ(JudgementText(ok), QStringLiteral("ok, peak -6.2 dB, 2.4 s"));
}

TEST(JudgementTexts, RussianWithCountsAndDecimalCommas) {
  const Language russian(QLocale(QLocale::Russian, QLocale::Russia));
  const struct {
    Finding finding;
    const char* text;
  } cases[] = {
      {{Problem::Clipped, {}, FindingForm::Samples, {"1"}}, "перегрузка (1 отсчёт)"},
      {{Problem::Clipped, {}, FindingForm::Samples, {"3"}}, "перегрузка (3 отсчёта)"},
      {{Problem::Clipped, {}, FindingForm::Samples, {"11"}}, "перегрузка (11 отсчётов)"},
      {{Problem::Clipped, {}, FindingForm::Samples, {"21"}}, "перегрузка (21 отсчёт)"},
      {{Problem::Clipped, {}, FindingForm::Samples, {"4294967302"}},
       "перегрузка (4294967302 отсчёта)"},
      {{Problem::TooQuiet, {}, FindingForm::PeakDb, {"-34.0"}}, "слишком тихо (пик -34,0 дБ)"},
      {{Problem::InconsistentRate, {}, FindingForm::FasterPercent, {"31"}},
       "на 31 % быстрее урока"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindingText(c.finding), QString::fromUtf8(c.text));
  }
  measures::Judgement ok;
  ok.figures = {"-6.2", "2.4"};
  EXPECT_EQ(JudgementText(ok), QStringLiteral("в порядке, пик -6,2 дБ, 2,4 с"));
}

// The rooms' failures and the boxes worded from their figures: under C exactly the rooms' own
// English, in Russian another text that still holds every figure.
TEST(FailureTexts, TheRoomsEnglishUnderCAndRussianWithTheFigures) {
  namespace fs = std::filesystem;
  const testing::TempDir dir;
  fs::create_directories(dir / "Prompt/d.wav");
  testing::WriteBytes(dir / "Prompt/ro.wav", "RIFF");
  fs::permissions(dir / "Prompt/ro.wav", fs::perms::owner_read);
  const auto wide = [&dir](const char* name) { return platform::FromUtf8((dir / name).string()); };
  const std::string promptDir = (dir / "Prompt").string();
  const history::TakeHistory history(platform::FromUtf8(promptDir), dir.wide());
  platform::SaveFile readOnly(wide("Prompt/ro.wav"));
  platform::SaveFile directory(wide("Prompt/d.wav"));
  readOnly.Open();
  directory.Open();
  measures::ProfileError badNumber;
  measures::ProfileError outOfOrder;
  measures::ParseProfile("max-rms = loud", "delivery.ini", &badNumber);
  measures::ParseProfile("min-rms = -10\nmax-rms = -20", "delivery.ini", &outOfOrder);
  const history::Result noSuchTake = history.Restore(u"a.wav", 3);
  const history::Result notWritten =
      history.Save(u"ro.wav", audio::SilentTake(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 0.1));
  FakeWindowServices services;
  OperatorBoxes boxes(services, nullptr, [] { return std::u16string(); });
  platform::LockFile::Holder holder;
  holder.host = "studio-2";
  holder.pid = 4711;
  holder.user = "anna";
  holder.since = "2026-12-07T22:41:05+0100";
  const lesson::OverlongLine overlong{2, lesson::LineLimit::TextTooLong, 2000};
  const struct Case {
    std::function<QString()> shown;
    std::string english;
    std::vector<std::string> figures;
  } cases[] = {
      {[&] { return session::OperatorText(readOnly.failure()); },
       readOnly.error(),
       {promptDir + "/ro.wav"}},
      {[&] { return session::OperatorText(directory.failure()); },
       directory.error(),
       {promptDir + "/d.wav"}},
      {[&] { return session::OperatorText(badNumber); },
       badNumber.Text(),
       {"delivery.ini:1: max-rms: ", "loud"}},
      {[&] { return session::OperatorText(outOfOrder); },
       outOfOrder.Text(),
       {"delivery.ini:2: max-rms: ", "-20", "min-rms", "-10"}},
      {[&] { return session::OperatorText(noSuchTake); }, noSuchTake.error, {"3", "a.wav"}},
      {[&] { return session::OperatorText(notWritten); },
       notWritten.error,
       {promptDir + "/ro.wav"}},
      {[&] {
         boxes.AskAboutHeldLesson(u"unit.idx", holder, false);
         return services.choiceBoxes.back().text;
       },
       "unit.idx is open in another window: " + lesson::DescribeHolder(holder) +
           ".\n\nRead-only, its takes can be played, but nothing can be recorded, changed or "
           "saved.",
       {"anna", "studio-2", "4711", "2026-12-07T22:41:05+0100"}},
      {[&] {
         boxes.TellLinesBeyondLimits(u"unit.idx", overlong, 1);
         return services.boxes.back().text.section(u'.', 0, 1);
       },
       "unit.idx:2: " + overlong.Text(),
       {"unit.idx:2: ", "2000", "511"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.english);
    EXPECT_EQ(c.shown().toStdString(), c.english);
    const Language russian(QLocale(QLocale::Russian, QLocale::Russia));
    const QString text = c.shown();
    EXPECT_NE(text.toStdString(), c.english);
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("[а-яё]{3}"))))
        << text.toStdString();
    for (const std::string& figure : c.figures) {
      EXPECT_TRUE(text.contains(QString::fromStdString(figure))) << text.toStdString();
    }
  }
}

// Under C every save failure and every profile fault reads as the room's own English.
TEST(FailureTexts, EveryCodeReadsAsTheRoomsEnglishUnderC) {
  using Kind = platform::SaveFailure::Kind;
  for (int kind = static_cast<int>(Kind::IsSymbolicLink); kind <= static_cast<int>(Kind::Replace);
       ++kind) {
    const platform::SaveFailure failure{static_cast<Kind>(kind), "/w/Ini/unit.idx",
                                        "/elsewhere/unit.idx",
                                        std::error_code(ENOSPC, std::system_category())};
    EXPECT_EQ(session::OperatorText(failure).toStdString(), platform::SaveFailureText(failure));
  }
  namespace fs = std::filesystem;
  const testing::TempDir dir;
  fs::create_directory(dir / "dir.ini");
  fs::create_symlink("nowhere.ini", dir / "gone.ini");
  testing::WriteBytes(dir / "large.ini", std::string(std::size_t{100} * 1024, '#'));
  std::vector<measures::ProfileError> errors;
  for (const char* choice : {"nope", "dir.ini", "gone.ini", "large.ini"}) {
    measures::ChooseProfile(choice, platform::FromUtf8(dir.path().string()),
                            &errors.emplace_back());
  }
  for (const char* text :
       {"x", "loud = 1", "max-rms = 1\nmax-rms = 2", "profile = radio", "check-text = maybe",
        "voice = ?", "max-rms = loud", "min-tail = -0.1", "max-peak = 5",
        "min-head = 2\nmax-head = 1", "max-tail = 1\n\nmin-tail = 3",
        "profile = acx\nmax-head = 0.3", "max-peak = -40"}) {
    measures::ParseProfile(text, "delivery.ini", &errors.emplace_back());
  }
  for (const measures::ProfileError& error : errors) {
    EXPECT_NE(error.fault, measures::ProfileFault::None) << error.Text();
    EXPECT_EQ(session::OperatorText(error).toStdString(), error.Text());
  }
}

}  // namespace
}  // namespace voxtar::ui
