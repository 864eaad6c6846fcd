// SPDX-License-Identifier: GPL-3.0-or-later
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
    session::SessionSettings expected;
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
      {"[recording]\nhandsFree=true\nendSilenceMs=1200\nwaitForVoiceS=30\nendTick=1\n"
       "[view]\ntextZoom=150\n",
       {true, 0, 0, false, false, true, 1200, 30, true, 150}},
      // Outside what a sitting can use: an end-silence that cuts words, no wait at all, a zoom
      // that hides the text.
      {"[recording]\nendSilenceMs=100\nwaitForVoiceS=0\n[view]\ntextZoom=1000\n", {}},
      {"[recording]\nendSilenceMs=5001\nwaitForVoiceS=601\n[view]\ntextZoom=49\n", {}},
      {"\xff\xfe garbage without sections \x01\n", {}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteBytes(dir / "voxtar.conf", c.file);
    const QString file = QString::fromStdString((dir / "voxtar.conf").string());
    EXPECT_EQ(session::SessionSettings::Load(file), c.expected) << c.file;
  }
  EXPECT_EQ(session::SessionSettings::Load({}), session::SessionSettings{});
}

TEST(SessionSettings, WhatIsSavedLoadsBackBesideOtherSettings) {
  TempDir dir;
  WriteBytes(dir / "voxtar.conf", "[sound]\ninputDevice=mic\n");
  const QString file = QString::fromStdString((dir / "voxtar.conf").string());
  const session::SessionSettings chosen{false, 1000, 500, true, false, true, 2000, 5, true, 200};
  chosen.Save(file);
  EXPECT_EQ(session::SessionSettings::Load(file), chosen);
  EXPECT_NE(ReadBytes(dir / "voxtar.conf").find("inputDevice=mic"), std::string::npos);
}

}  // namespace
}  // namespace voxtar::testing
