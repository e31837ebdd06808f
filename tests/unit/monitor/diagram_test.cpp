#include "tests/unit/monitor/fakes.h"

#include "monitor/diagram.h"
#include "monitor/state.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace port_monitor::testing {
namespace {

TEST(PinAt, Pin1CoversX249To258AndY99To108) {
  const struct {
    Point at;
    std::optional<int> pin;
  } cases[] = {
      {{254, 104}, 0},
      {{249, 99}, 0},
      {{258, 108}, 0},
      {{259, 104}, std::nullopt},
      {{254, 109}, std::nullopt},
      {{248, 104}, std::nullopt},
      {{254, 98}, std::nullopt},
      {{62, 104}, 12},
      {{246, 120}, 13},
      {{198, 120}, 16},  // pin 17, the last signal pin
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.at.x * 1000 + c.at.y);
    EXPECT_EQ(PinAt(c.at.x, c.at.y), c.pin);
  }
}

TEST(PinAt, GroundPinsAreNeverHit) {
  for (int pin = 17; pin < kPinCount; ++pin) {
    const Point centre = PinCentre(pin);
    EXPECT_EQ(PinAt(centre.x, centre.y), std::nullopt) << pin;
    EXPECT_EQ(BitBoxAt(centre.x, centre.y), std::nullopt) << pin;
  }
}

TEST(BitBoxAt, TouchingBoxesLeaveNoGapAlongARow) {
  const struct {
    int row;
    Point anchor;
  } rows[] = {{0, {126, 62}}, {1, {82, 172}}, {2, {150, 212}}};
  for (const auto& r : rows) {
    // From the left edge of bit 7 to the right edge of bit 0.
    for (int x = r.anchor.x - 8; x < r.anchor.x + 7 * 16 + 8; ++x) {
      for (const int y : {r.anchor.y - 8, r.anchor.y, r.anchor.y + 7}) {
        const auto expected_bit = 7 - (x - (r.anchor.x - 8)) / 16;
        ASSERT_EQ(BitBoxAt(x, y), static_cast<SignalCode>((r.row << 4) | expected_bit))
            << x << "," << y;
      }
    }
    EXPECT_EQ(BitBoxAt(r.anchor.x - 9, r.anchor.y), std::nullopt);
    EXPECT_EQ(BitBoxAt(r.anchor.x + 7 * 16 + 8, r.anchor.y), std::nullopt);
    EXPECT_EQ(BitBoxAt(r.anchor.x, r.anchor.y + 8), std::nullopt);
  }
}

TEST(LabelPinOf, FindsTheLowestPinIgnoringTheInvertedFlag) {
  const struct {
    SignalCode code;
    std::optional<int> pin;
  } cases[] = {
      {0x00, 1},
      {0x07, 8},
      {0x17, 10},
      {0x1F, 10},
      {0x16, 9},
      {0x13, 14},
      {0x20, 0},
      {0x28, 0},
      {0x21, 13},
      {0x22, 15},
      {0x23, 16},
      {0x10, std::nullopt},
      {0x11, std::nullopt},
      {0x12, std::nullopt},
      {0x24, std::nullopt},
      {0x27, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(LabelPinOf(c.code), c.pin) << int{c.code};
}

struct DiagramFixture : MonitorFixture {
  DiagramFixture() {
    Monitor().graphics = &graphics;
    CreateDrawingObjects();
  }
  FakeCanvas& Canvas() { return dialog.canvas; }
  const DrawingObjects& Objects() const { return Monitor().drawing; }
};

TEST(DrawingObjects, ElevenAreCreatedOnceAndAllDeletedOnce) {
  DiagramFixture d;
  ASSERT_EQ(d.graphics.made.size(), 11u);
  const auto& made = d.graphics.made;
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(made[static_cast<std::size_t>(row)].kind, "pen");
    EXPECT_EQ(made[static_cast<std::size_t>(row)].size, 1);
    EXPECT_EQ(made[static_cast<std::size_t>(row)].color, kRowColors[static_cast<std::size_t>(row)]);
    EXPECT_EQ(made[static_cast<std::size_t>(row) + 3].kind, "brush");
    EXPECT_EQ(made[static_cast<std::size_t>(row) + 3].color,
              kRowColors[static_cast<std::size_t>(row)]);
  }
  EXPECT_EQ(made[6].size, 3);
  EXPECT_EQ(made[6].color, (Color{0, 0, 0}));
  EXPECT_EQ(made[7].color, (Color{0, 0, 255}));
  EXPECT_EQ(made[8].kind, "null pen");
  EXPECT_EQ(made[9].face, "Small Fonts");
  EXPECT_EQ(made[9].size, -7);
  EXPECT_EQ(made[10].face, "Helv");
  EXPECT_EQ(made[10].size, -10);
  DeleteDrawingObjects();
  DeleteDrawingObjects();
  std::vector<DrawingObject> destroyed = d.graphics.destroyed;
  std::sort(destroyed.begin(), destroyed.end());
  EXPECT_EQ(destroyed, (std::vector<DrawingObject>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST(DrawBitBox, ShowsWrittenAndReadBackHalves) {
  const struct {
    bool written, shown;
    bool filled;
    std::vector<Point> blanked;  // triangle filled with the default brush
  } cases[] = {
      {false, false, false, {}},
      {true, true, true, {}},
      // The box C4 is (190, 204, 206, 220); the triangle lies one pixel inside.
      {false, true, true, {{191, 219}, {205, 219}, {205, 205}}},  // lower right blanked
      {true, false, true, {{191, 205}, {191, 219}, {205, 205}}},  // upper left blanked
  };
  for (const auto& c : cases) {
    DiagramFixture d;
    Monitor().written_values[2] = c.written ? 0x10 : 0x00;  // C4: no label
    Monitor().shown_values[2] = c.shown ? 0x10 : 0x00;
    DrawBitBox(d.Canvas(), 0x24);
    const auto& calls = d.Canvas().calls;
    ASSERT_EQ(calls.size(), c.blanked.empty() ? 1u : 2u);
    EXPECT_EQ(calls[0].kind, "rectangle");
    EXPECT_EQ(calls[0].box, (Rect{190, 204, 206, 220}));
    EXPECT_EQ(calls[0].brush, c.filled ? d.Objects().row_brushes[2] : kDefaultBrush);
    if (!c.blanked.empty()) {
      EXPECT_EQ(calls[1].kind, "polygon");
      EXPECT_EQ(calls[1].pen, d.Objects().null_pen);
      EXPECT_EQ(calls[1].brush, kDefaultBrush);
      EXPECT_EQ(calls[1].points, c.blanked);
    }
    EXPECT_EQ(d.Canvas().pen, kDefaultPen);  // everything restored
    EXPECT_EQ(d.Canvas().brush, kDefaultBrush);
  }
}

TEST(DrawBitBox, S7WrittenAndReadAsZeroIsBlankWithOverlinedLabel) {
  DiagramFixture d;
  DrawBitBox(d.Canvas(), 0x17);
  const auto& calls = d.Canvas().calls;
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].brush, kDefaultBrush);
  EXPECT_EQ(calls[1].kind, "clipped text");
  EXPECT_EQ(calls[1].text, "S7");
  EXPECT_EQ(calls[1].points[0], (Point{75, 166}));
  EXPECT_EQ(calls[1].box, (Rect{74, 164, 90, 180}));
  EXPECT_EQ(calls[1].advance, 7);
  EXPECT_EQ(calls[1].font, d.Objects().label_font);
  EXPECT_TRUE(calls[1].transparent);
  EXPECT_EQ(calls[2].kind, "line");
  EXPECT_EQ(calls[2].points, (std::vector<Point>{{76, 166}, {88, 166}}));
  EXPECT_FALSE(d.Canvas().transparent);
  EXPECT_EQ(d.Canvas().font, kDefaultFont);
}

TEST(DrawBitBox, UnwiredBitsCarryNoLabel) {
  for (const SignalCode code : {0x10, 0x11, 0x12, 0x24, 0x25, 0x26, 0x27}) {
    DiagramFixture d;
    DrawBitBox(d.Canvas(), code);
    EXPECT_EQ(d.Canvas().Count("clipped text"), 0) << int{code};
    EXPECT_EQ(d.Canvas().Count("line"), 0) << int{code};
  }
  DiagramFixture d;
  DrawBitBox(d.Canvas(), 0x03);
  EXPECT_EQ(d.Canvas().calls.back().text, "D3");
}

TEST(DrawPin, FilledMeansHighAtTheConnector) {
  const struct {
    int pin;
    std::uint8_t control, status;
    bool filled;
  } cases[] = {
      {10, 0x00, 0x00, true},                          // pin 11: S7 inverted, read as 0
      {10, 0x00, 0x80, false}, {0, 0x00, 0x00, true},  // pin 1: C0 inverted
      {0, 0x01, 0x00, false},  {9, 0x00, 0x40, true},  // pin 10: S6
      {9, 0x00, 0x00, false},
  };
  for (const auto& c : cases) {
    DiagramFixture d;
    Monitor().shown_values[1] = c.status;
    Monitor().shown_values[2] = c.control;
    Monitor().written_values[2] = 0x01;  // pins show the read-back only
    DrawPin(d.Canvas(), c.pin);
    ASSERT_EQ(d.Canvas().calls.size(), 1u);
    const DrawCall& call = d.Canvas().calls[0];
    EXPECT_EQ(call.box, PinSquare(c.pin));
    const std::size_t row = RowOf(kPinMap[static_cast<std::size_t>(c.pin)]);
    EXPECT_EQ(call.pen, d.Objects().row_pens[row]);
    EXPECT_EQ(call.brush, c.filled ? d.Objects().row_brushes[row] : kDefaultBrush) << c.pin;
    EXPECT_EQ(d.Canvas().pen, kDefaultPen);
    EXPECT_EQ(d.Canvas().brush, kDefaultBrush);
  }
  DiagramFixture ground;
  DrawPin(ground.Canvas(), 20);
  ASSERT_EQ(ground.Canvas().calls.size(), 1u);
  EXPECT_EQ(ground.Canvas().calls[0].pen, kDefaultPen);
  EXPECT_EQ(ground.Canvas().selects, 0);
}

TEST(PaintDiagram, DrawsOutlineLinksNumberedPinsAndRowsInOrder) {
  DiagramFixture d;
  PaintDiagram(d.Canvas());
  const auto& calls = d.Canvas().calls;
  ASSERT_EQ(calls[0].kind, "polygon");
  EXPECT_EQ(calls[0].pen, d.Objects().outline_pen);
  EXPECT_EQ(calls[0].brush, kDefaultBrush);
  EXPECT_EQ(
      calls[0].points,
      (std::vector<Point>{{266, 92}, {266, 112}, {258, 132}, {58, 132}, {50, 112}, {50, 92}}));
  for (int pin = 0; pin < 17; ++pin) {
    const DrawCall& link = calls[static_cast<std::size_t>(1 + pin)];
    ASSERT_EQ(link.kind, "line");
    EXPECT_EQ(link.pen, d.Objects().link_pen);
    const Point box = BitBoxCentre(kPinMap[static_cast<std::size_t>(pin)]);
    EXPECT_EQ(link.points, (std::vector<Point>{PinCentre(pin), Point{box.x, box.y - 8}}));
  }
  EXPECT_EQ(calls[1].points[1], (Point{262, 204}));  // pin 1 to the top of C0
  for (int pin = 0; pin < 25; ++pin) {
    const DrawCall& number = calls[static_cast<std::size_t>(18 + 2 * pin + 1)];
    ASSERT_EQ(number.kind, "text");
    EXPECT_EQ(number.text, std::to_string(pin + 1));
    EXPECT_EQ(number.points[0], (Point{PinCentre(pin).x + 2, PinCentre(pin).y - 11}));
    EXPECT_EQ(number.font, d.Objects().pin_font);
    EXPECT_TRUE(number.transparent);
  }
  EXPECT_EQ(d.Canvas().Count("rectangle"), 24);
  EXPECT_EQ(d.Canvas().Count("ellipse"), 25);
  EXPECT_EQ(calls.back().kind, "rectangle");  // C7: no label, drawn last
  EXPECT_EQ(calls.back().box, BitBoxSquare(0x27));
  EXPECT_EQ(d.Canvas().pen, kDefaultPen);
  EXPECT_EQ(d.Canvas().brush, kDefaultBrush);
  EXPECT_EQ(d.Canvas().font, kDefaultFont);
  EXPECT_FALSE(d.Canvas().transparent);
}

}  // namespace
}  // namespace port_monitor::testing
