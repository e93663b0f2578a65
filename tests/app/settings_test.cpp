// RegRead and RegWrite over the in-memory store, and when TfMain runs them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include "app/model_window.h"
#include "app/settings.h"
#include "app/tf_main.h"
#include "support/temp_dir.h"

namespace tarnwick::test {
namespace {

class Host : public SettingsHost {
 public:
  SettingsStore& store() override { return memory; }
  Placement placement() const override { return current; }
  void setPlacement(const Placement& p) override {
    current = p;
    ++applied;
  }
  MemorySettingsStore memory;
  Placement current{Placement::kNormal, 10, 20, 370, 380, 96};
  int applied = 0;
};

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() : main(window) { main.setSettingsHost(&host); }
  ModelWindow window;
  Host host;
  TfMain main;
};

// No key: nothing changes and nothing is created; the first close writes
// every value and "Install"; a maximized close keeps the placement and the
// first "Install".
TEST_F(SettingsTest, FirstStartThenAMaximizedClose) {
  main.FormActivate();
  EXPECT_FALSE(host.memory.exists());
  EXPECT_EQ(window.text(ControlId::eAudioExt), "mpa");
  EXPECT_EQ(host.current.Width, 370);

  window.setChecked(ControlId::cbFastCheck, false);
  window.setChecked(ControlId::cbPgs, true);
  main.FormClose();
  main.FormClose();  // every close saves, and a window closes once
  EXPECT_THAT(host.memory.writes(),
              ::testing::ElementsAre("WindowState", "Top", "Left", "Width", "Height", "TreeWidth", "AudioExt",
                                     "VideoExt", "SubExt", "Workdir", "Mkvmerge", "EVOdir", "XPLdir", "Continue",
                                     "FastCheck", "CountFrames", "Details", "Pgs", "Install"));
  const auto install = std::get<std::vector<std::uint8_t>>(host.memory.values().at("Install"));
  ASSERT_EQ(install.size(), 8u);

  ModelWindow second;
  TfMain again(second);
  Host secondHost;
  secondHost.memory = host.memory;
  again.setSettingsHost(&secondHost);
  again.FormActivate();
  EXPECT_FALSE(second.checked(ControlId::cbFastCheck));
  EXPECT_TRUE(second.checked(ControlId::cbPgs));
  EXPECT_EQ(secondHost.current.Top, 10);
  secondHost.current.WindowState = Placement::kMaximized;
  secondHost.current.Width = 1920;
  again.FormClose();
  EXPECT_EQ(std::get<std::int32_t>(secondHost.memory.values().at("WindowState")), 2);
  EXPECT_EQ(std::get<std::int32_t>(secondHost.memory.values().at("Width")), 370);
  EXPECT_EQ(std::get<std::vector<std::uint8_t>>(secondHost.memory.values().at("Install")), install);
  // The closes above may share a second, where a rewrite would match: save a second later.
  RegWrite(secondHost.memory, second, again.files(), secondHost.current, localDateTimeNow() + 1.0 / 86400);
  EXPECT_EQ(std::get<std::vector<std::uint8_t>>(secondHost.memory.values().at("Install")), install);
}

// Activation loads the settings and resets the lists once: taking the focus
// back from a confirmation undoes neither the user's options nor the ticks.
TEST_F(SettingsTest, LoadedOnceAtFirstActivation) {
  host.memory.set("Details", 0);
  main.FormActivate();
  EXPECT_FALSE(window.checked(ControlId::cbDetails));
  EXPECT_EQ(window.caption(videoBox(0)), "No video stream");
  window.setChecked(ControlId::cbDetails, true);
  // A playlist's track gives audio box 3 a stream; the user unticks it.
  const TempDir dir;
  const std::string xpl = (dir.path() / "VPLST000.XPL").string();
  std::ofstream(xpl, std::ios::binary) << "<Playlist>\n<AudioAttributeItem index=\"1\" codec=\"DD\"/>\n"
                                          "<Title displayName=\"t\">\n<PrimaryAudioVideoClip src=\"FEATURE_1.MAP\">\n"
                                          "<Audio streamNumber=\"4\" mediaAttr=\"1\" description=\"x\"/>\n"
                                          "</PrimaryAudioVideoClip>\n</Title>\n</Playlist>\n";
  main.WMDropFiles({(dir.path() / "FEATURE_1.EVO").string()});
  main.WMDropFiles({xpl});
  main.bReadXPLClick();
  ASSERT_TRUE(window.checked(audioBox(3)));
  main.toggleBox(audioBox(3), false);
  main.FormActivate();
  EXPECT_TRUE(window.checked(ControlId::cbDetails));
  EXPECT_TRUE(window.enabled(audioBox(3)));
  EXPECT_FALSE(window.checked(audioBox(3)));
  EXPECT_EQ(host.applied, 1);
}

// A value of the wrong kind stops the read with the system's text; what
// came before it applies, the lists are still reset.
TEST_F(SettingsTest, WrongKindStopsTheRead) {
  host.memory.set("Height", 500);
  host.memory.set("Left", std::string("left"));
  host.memory.set("SubExt", std::string("idx"));
  try {
    main.FormActivate();
    FAIL() << "no error";
  } catch (const SettingsError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'Left'");
  }
  EXPECT_EQ(host.current.Height, 500);
  EXPECT_EQ(window.text(ControlId::eSubExt), "sup");
  EXPECT_EQ(window.caption(subBox(0)), "No subpicture");
  EXPECT_FALSE(host.memory.isOpen());
}

// 1 January 1970 is day 25569; local time is within a day of UTC.
TEST(LocalDateTime, CountsDaysFrom30December1899) {
  const double utc = 25569.0 + static_cast<double>(std::time(nullptr)) / 86400.0;
  EXPECT_NEAR(localDateTimeNow(), utc, 1.0);
}

}  // namespace
}  // namespace tarnwick::test
