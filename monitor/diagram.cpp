#include "monitor/diagram.h"

#include "monitor/state.h"

#include <cstddef>

namespace port_monitor {

namespace {

constexpr std::array<Point, 3> kRowAnchors = {Point{126, 62}, Point{82, 172}, Point{150, 212}};
constexpr std::array<Point, 6> kOutline = {Point{266, 92}, Point{266, 112}, Point{258, 132},
                                           Point{58, 132}, Point{50, 112},  Point{50, 92}};
constexpr int kPinHalf = 5;
constexpr int kBoxHalf = 8;

constexpr Rect SquareAround(Point centre, int half) {
  return {centre.x - half, centre.y - half, centre.x + half, centre.y + half};
}

constexpr bool Contains(const Rect& r, int x, int y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

constexpr std::size_t RowSlot(SignalCode code) { return static_cast<std::size_t>(RowOf(code) % 3); }

bool BitSet(std::uint8_t value, int bit) { return ((value >> bit) & 1) != 0; }

// Small decimal text without the C library's formatting.
struct SmallText {
  char text[12];
  std::size_t length;
  std::string_view View() const { return {text, length}; }
};

SmallText Decimal(unsigned number) {
  SmallText result{};
  char digits[10];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  while (count > 0) result.text[result.length++] = digits[--count];
  return result;
}

}  // namespace

Point PinCentre(int pin_index) {
  return pin_index <= 12 ? Point{254 - 16 * pin_index, 104} : Point{454 - 16 * pin_index, 120};
}

Rect PinSquare(int pin_index) { return SquareAround(PinCentre(pin_index), kPinHalf); }

Point BitBoxCentre(SignalCode code) {
  const Point anchor = kRowAnchors[RowSlot(code)];
  return {anchor.x + 16 * (7 - BitOf(code)), anchor.y};
}

Rect BitBoxSquare(SignalCode code) { return SquareAround(BitBoxCentre(code), kBoxHalf); }

void CreateDrawingObjects() {
  MonitorState& state = Monitor();
  Graphics& graphics = *state.graphics;
  DrawingObjects& objects = state.drawing;
  for (std::size_t row = 0; row < 3; ++row)
    objects.row_pens[row] = graphics.MakePen(1, kRowColors[row]);
  for (std::size_t row = 0; row < 3; ++row)
    objects.row_brushes[row] = graphics.MakeBrush(kRowColors[row]);
  objects.outline_pen = graphics.MakePen(3, kOutlineColor);
  objects.link_pen = graphics.MakePen(1, kLinkColor);
  objects.null_pen = graphics.MakeNullPen();
  objects.pin_font = graphics.MakeFont(-7, "Small Fonts");
  objects.label_font = graphics.MakeFont(-10, "Helv");
}

void DeleteDrawingObjects() {
  MonitorState& state = Monitor();
  if (state.graphics == nullptr) return;
  DrawingObjects& objects = state.drawing;
  const auto destroy = [&](DrawingObject& object) {
    if (object != 0) state.graphics->Destroy(object);
    object = 0;
  };
  for (auto& pen : objects.row_pens) destroy(pen);
  for (auto& brush : objects.row_brushes) destroy(brush);
  destroy(objects.outline_pen);
  destroy(objects.link_pen);
  destroy(objects.null_pen);
  destroy(objects.pin_font);
  destroy(objects.label_font);
}

void PaintDiagram(Canvas& canvas) {
  const DrawingObjects& objects = Monitor().drawing;

  DrawingObject previous = canvas.Select(objects.outline_pen);
  canvas.DrawPolygon(kOutline);
  canvas.Select(previous);

  previous = canvas.Select(objects.link_pen);
  for (int pin = 0; pin < kSignalPinCount; ++pin) {
    const Point box = BitBoxCentre(kPinMap[static_cast<std::size_t>(pin)]);
    canvas.DrawLine(PinCentre(pin), Point{box.x, box.y - kBoxHalf});
  }
  canvas.Select(previous);

  previous = canvas.Select(objects.pin_font);
  canvas.SetTransparentBackground(true);
  for (int pin = 0; pin < kPinCount; ++pin) {
    DrawPin(canvas, pin);
    const Point centre = PinCentre(pin);
    canvas.WriteText(Point{centre.x + 2, centre.y - 11},
                     Decimal(static_cast<unsigned>(pin + 1)).View());
  }
  canvas.SetTransparentBackground(false);
  canvas.Select(previous);

  for (int row = 0; row < 3; ++row) DrawRow(canvas, row);
}

void DrawPin(Canvas& canvas, int pin_index) {
  const MonitorState& state = Monitor();
  const SignalCode code = kPinMap[static_cast<std::size_t>(pin_index)];
  const Rect square = PinSquare(pin_index);
  if (code == kGroundPin) {
    canvas.DrawEllipse(square);
    return;
  }
  const std::size_t row = RowSlot(code);
  const bool level = BitSet(state.shown_values[row], BitOf(code)) != IsInverted(code);
  const DrawingObject old_pen = canvas.Select(state.drawing.row_pens[row]);
  const DrawingObject old_brush = level ? canvas.Select(state.drawing.row_brushes[row]) : 0;
  canvas.DrawEllipse(square);
  if (level) canvas.Select(old_brush);
  canvas.Select(old_pen);
}

void DrawBitBox(Canvas& canvas, SignalCode code) {
  const MonitorState& state = Monitor();
  const std::size_t row = RowSlot(code);
  const int bit = BitOf(code);
  const Rect square = BitBoxSquare(code);
  const bool written = BitSet(state.written_values[row], bit);
  const bool shown = BitSet(state.shown_values[row], bit);

  const DrawingObject old_brush =
      (written || shown) ? canvas.Select(state.drawing.row_brushes[row]) : 0;
  canvas.DrawRectangle(square);
  if (written || shown) canvas.Select(old_brush);

  if (written != shown) {
    // Blank out the half that does not carry the set bit.
    const DrawingObject old_pen = canvas.Select(state.drawing.null_pen);
    const Rect in{square.left + 1, square.top + 1, square.right - 1, square.bottom - 1};
    if (shown) {
      const std::array<Point, 3> lower_right = {
          Point{in.left, in.bottom}, Point{in.right, in.bottom}, Point{in.right, in.top}};
      canvas.DrawPolygon(lower_right);
    } else {
      const std::array<Point, 3> upper_left = {Point{in.left, in.top}, Point{in.left, in.bottom},
                                               Point{in.right, in.top}};
      canvas.DrawPolygon(upper_left);
    }
    canvas.Select(old_pen);
  }

  const std::optional<int> pin = LabelPinOf(code);
  if (!pin) return;  // S0..S2 and C4..C7 are wired to no pin
  const SignalCode pin_code = kPinMap[static_cast<std::size_t>(*pin)];
  const char label[2] = {kRowLetters[RowSlot(pin_code)], static_cast<char>('0' + BitOf(pin_code))};
  const DrawingObject old_font = canvas.Select(state.drawing.label_font);
  canvas.SetTransparentBackground(true);
  canvas.WriteClippedText(Point{square.left + 1, square.top + 2}, square,
                          std::string_view(label, 2), 7);
  canvas.SetTransparentBackground(false);
  canvas.Select(old_font);
  if (IsInverted(pin_code)) {  // overline: active-low signal
    canvas.DrawLine(Point{square.left + 2, square.top + 2},
                    Point{square.right - 2, square.top + 2});
  }
}

void DrawRow(Canvas& canvas, int row) {
  for (int bit = 0; bit < 8; ++bit) {
    DrawBitBox(canvas, static_cast<SignalCode>((row << 4) | bit));
  }
}

void RedrawRow(int row) {
  Dialog& dialog = *Monitor().dialog;
  Canvas& canvas = dialog.AcquireCanvas();
  DrawRow(canvas, row);
  dialog.ReleaseCanvas(canvas);
}

std::optional<int> PinAt(int x, int y) {
  for (int pin = 0; pin < kSignalPinCount; ++pin) {
    if (Contains(PinSquare(pin), x, y)) return pin;
  }
  return std::nullopt;
}

std::optional<SignalCode> BitBoxAt(int x, int y) {
  for (int row = 0; row < 3; ++row) {
    for (int bit = 0; bit < 8; ++bit) {
      const auto code = static_cast<SignalCode>((row << 4) | bit);
      if (Contains(BitBoxSquare(code), x, y)) return code;
    }
  }
  return std::nullopt;
}

std::optional<int> LabelPinOf(SignalCode code) {
  const auto wanted = static_cast<SignalCode>(code & ~kInvertedFlag);
  for (int pin = 0; pin < kPinCount; ++pin) {
    const SignalCode pin_code = kPinMap[static_cast<std::size_t>(pin)];
    if (pin_code != kGroundPin && (pin_code & ~kInvertedFlag) == wanted) return pin;
  }
  return std::nullopt;
}

}  // namespace port_monitor
