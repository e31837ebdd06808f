#include "tests/unit/monitor/fakes.h"

#include "monitor/diagram.h"
#include "monitor/state.h"
#include "monitor/tooltips.h"

#include <gtest/gtest.h>

#include <cstring>

namespace port_monitor::testing {
namespace {

struct Hovering : MonitorFixture {
  Hovering() { Monitor().dialog = &dialog; }
  // The text shown after the cursor rests on `client`, with list selection `mode`.
  std::string TextAt(Point client, int mode) {
    dialog.selection = mode;
    TrackHover(client, client);
    char buffer[kTooltipTextSize];
    std::memset(buffer, 'x', sizeof buffer);
    GetTooltipText(buffer);
    return buffer;
  }
};

Point Pin(int number) { return PinCentre(number - 1); }
Point Box(SignalCode code) { return BitBoxCentre(code); }

TEST(GetTooltipText, NamesTheSignalForTheSelectedMode) {
  const struct {
    Point at;
    int mode;
    const char* text;
  } cases[] = {
      {Pin(11), 0,
       "BUSY (besch\xE4"
       "ftigt)"},  // inverted pin loses the slash
      {Box(0x17), 0,
       "/BUSY (besch\xE4"
       "ftigt)"},
      {Pin(1), 0, "/STB (Strobe)"},  // inverted pin gets a slash
      {Pin(1), 2, "/HostClk"},
      {Pin(1), 4, "/Write"},
      {Box(0x20), 0, "STB (Strobe)"},
      {Box(0x20), 2, "HostClk"},
      {Box(0x20), 4, "Write"},
      {Pin(14), 3, "/HostAck"},
      {Box(0x10), 4, "Timeout"},
      {Box(0x10), 0, ""},                             // the default status list has six entries
      {Box(0x12), 3, "/IRQ (Interruptanforderung)"},  // falls back to the default list
      {Box(0x24), 4, "IRQEN (Interruptfreigabe)"},
      {Pin(2), 0, "Data 0"},
      {Pin(9), 3, "Data 7"},
      {Box(0x05), 4, "Data 5"},
      {Pin(16), 0,
       "/INI (Init, R\xFC"
       "cksetzen)"},  // not inverted: as listed
      {Pin(17), 3, "/1284Active"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.at.x) + "," + std::to_string(c.at.y) + " mode " +
                 std::to_string(c.mode));
    Hovering h;
    EXPECT_EQ(h.TextAt(c.at, c.mode), c.text);
  }
}

TEST(GetTooltipText, ControlBits6And7AreNamelessInEveryMode) {
  for (int mode = -1; mode < 8; ++mode) {
    Hovering h;
    EXPECT_EQ(h.TextAt(Box(0x26), mode), "") << mode;
    EXPECT_EQ(h.TextAt(Box(0x27), mode), "") << mode;
  }
}

TEST(GetTooltipText, EveryOtherSelectionUsesTheDefaultLists) {
  for (const int mode : {-1, 0, 1, 5, 6, 7}) {
    Hovering h;
    EXPECT_EQ(h.TextAt(Box(0x13), mode), "/ERR (Fehler)") << mode;
    EXPECT_EQ(h.TextAt(Pin(14), mode), "/AF (AutoFeed)") << mode;
  }
}

TEST(GetTooltipText, EmptyWhenNothingIsHovered) {
  Hovering h;
  char buffer[kTooltipTextSize] = "stale";
  GetTooltipText(buffer);  // the initial hover id 0 names no element
  EXPECT_STREQ(buffer, "");
  std::strcpy(buffer, "stale");
  TrackHover({0, 0}, {0, 0});
  GetTooltipText(buffer);
  EXPECT_STREQ(buffer, "");
}

TEST(TrackHover, MovesTheTooltipOnlyWhenTheElementChanges) {
  Hovering h;
  FakeDialog& d = h.dialog;
  d.tooltip_height = 19;
  EXPECT_EQ(Monitor().hover_id, 0);

  // Tracked below the hot spot: the top edge is 20 pixels below it even
  // when the tooltip is centred on the track point.
  EXPECT_TRUE(TrackHover({1254, 604}, Pin(1)));
  EXPECT_EQ(Monitor().hover_id, 0x00FF);
  EXPECT_EQ(d.tooltip_activations, 1);
  EXPECT_EQ(d.tooltip_positions, (std::vector<Point>{{1254, 604 + 20 + 9}}));
  EXPECT_EQ(d.hand_cursors, 1);

  EXPECT_TRUE(TrackHover({1256, 606}, Point{256, 106}));  // same pin
  EXPECT_EQ(d.tooltip_activations, 1);
  EXPECT_EQ(d.tooltip_positions.size(), 1u);
  EXPECT_EQ(d.hand_cursors, 2);

  EXPECT_TRUE(TrackHover({1082, 672}, Box(0x17)));  // another element
  EXPECT_EQ(Monitor().hover_id, 0xFF17);
  EXPECT_EQ(d.tooltip_activations, 2);
  EXPECT_EQ(d.tooltip_positions.back(), (Point{1082, 672 + 29}));

  EXPECT_FALSE(TrackHover({1000, 500}, {0, 0}));  // leaving the diagram
  EXPECT_FALSE(TrackHover({1001, 501}, {1, 1}));
  EXPECT_FALSE(TrackHover({1002, 502}, {150, 150}));
  EXPECT_EQ(d.tooltip_deactivations, 1);
  EXPECT_EQ(Monitor().hover_id, kNoHover);
  EXPECT_EQ(d.hand_cursors, 3);
}

TEST(TrackHover, FirstMessageOutsideTheDiagramEndsTheInitialId) {
  Hovering h;
  EXPECT_FALSE(TrackHover({0, 0}, {0, 0}));
  EXPECT_EQ(Monitor().hover_id, kNoHover);
  EXPECT_EQ(h.dialog.tooltip_deactivations, 1);
  EXPECT_FALSE(TrackHover({0, 0}, {0, 0}));
  EXPECT_EQ(h.dialog.tooltip_deactivations, 1);
}

TEST(TrackHover, AGroundPinIsNoElement) {
  Hovering h;
  EXPECT_FALSE(TrackHover(Pin(20), Pin(20)));
  EXPECT_EQ(h.dialog.hand_cursors, 0);
  EXPECT_EQ(h.dialog.tooltip_activations, 0);
}

}  // namespace
}  // namespace port_monitor::testing
