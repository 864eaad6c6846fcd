#include "session/session_settings.h"

#include <gtest/gtest.h>
#include <QString>
#include <string>

#include "tests/support/temp_dir.h"

namespace voxtar::testing {
namespace {

// What a settings file mended by hand may hold: whatever cannot be read is its default.
TEST(SessionSettings, ReadsWhatItCanAndFallsBackToTheDefaultsForTheRest) {
  struct Case {
    const char* file;
    SessionSettings expected;
  } const cases[] = {
      {"", {}},
      {"[view]\nwaveform=false\n[recording]\npreRollMs=500\npostRollMs=250\nautoAdvance=true\n"
       "autoPlay=1\n",
       {false, 500, 250, true, true}},
      // Another margin than the menu's is kept when an input can hold it.
      {"[recording]\npreRollMs=300\npostRollMs=10000\n", {true, 300, 10000, false, false}},
      {"[view]\nwaveform=maybe\n[recording]\npreRollMs=-250\npostRollMs=10001\n"
       "autoAdvance=yes please\nautoPlay=\n",
       {}},
      {"[recording]\npreRollMs=1e3\npostRollMs=99999999999999999999\n", {}},
      {"\xff\xfe garbage without sections \x01\n", {}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteBytes(dir / "voxtar.conf", c.file);
    const QString file = QString::fromStdString((dir / "voxtar.conf").string());
    EXPECT_EQ(SessionSettings::Load(file), c.expected) << c.file;
  }
  EXPECT_EQ(SessionSettings::Load({}), SessionSettings{});
}

TEST(SessionSettings, WhatIsSavedLoadsBackBesideOtherSettings) {
  TempDir dir;
  WriteBytes(dir / "voxtar.conf", "[sound]\ninputDevice=mic\n");
  const QString file = QString::fromStdString((dir / "voxtar.conf").string());
  const SessionSettings chosen{false, 1000, 500, true, false};
  chosen.Save(file);
  EXPECT_EQ(SessionSettings::Load(file), chosen);
  EXPECT_NE(ReadBytes(dir / "voxtar.conf").find("inputDevice=mic"), std::string::npos);
}

}  // namespace
}  // namespace voxtar::testing
