#include "monitor/tooltips.h"

#include "monitor/diagram.h"
#include "monitor/modes.h"
#include "monitor/resource_ids.h"
#include "monitor/state.h"
#include "monitor/texts.h"

#include <cstring>
#include <optional>
#include <string_view>

namespace port_monitor {

namespace {

struct NameLists {
  const char* status;
  const char* control;
};

constexpr NameLists kDefaultLists{kDefaultStatusNames, kDefaultControlNames};

NameLists ListsForSelection(int selection) {
  switch (selection) {
    case 2:
      return {kAutoStrobeStatusNames, kAutoStrobeControlNames};
    case 3:
      return {kEcpStatusNames, kEcpControlNames};
    case 4:
      return {kEppStatusNames, kEppControlNames};
    default:
      return kDefaultLists;
  }
}

// Entry of a list, or of the default list when the list ends before it.
std::string_view EntryOrDefault(const char* list, const char* default_list, int index) {
  std::string_view name = NameListEntry(list, index);
  if (name.empty()) name = NameListEntry(default_list, index);
  return name;
}

void CopyText(char* buffer, std::size_t size, std::string_view text) {
  const std::size_t length = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

}  // namespace

Point TooltipTrackPoint(Point hot_spot, int tooltip_height) {
  // Half the height more, in case the common controls centre the tooltip
  // vertically on the track point as well.
  return {hot_spot.x, hot_spot.y + kTooltipGap + tooltip_height / 2};
}

bool TrackHover(Point screen, Point client) {
  MonitorState& state = Monitor();
  Dialog& dialog = *state.dialog;
  std::uint16_t id = kNoHover;
  if (const std::optional<int> pin = PinAt(client.x, client.y)) {
    id = static_cast<std::uint16_t>((*pin << 8) | 0xFF);
  } else if (const std::optional<SignalCode> box = BitBoxAt(client.x, client.y)) {
    id = static_cast<std::uint16_t>(0xFF00 | *box);
  }
  if (id == kNoHover) {
    if (state.hover_id != kNoHover) {
      state.hover_id = kNoHover;
      dialog.ActivateTooltip(false);
    }
    return false;
  }
  dialog.SetHandCursor();
  if (id != state.hover_id) {
    state.hover_id = id;
    dialog.ActivateTooltip(true);
    dialog.PositionTooltip(TooltipTrackPoint(screen, dialog.TooltipHeight()));
  }
  return true;
}

void GetTooltipText(char* buffer) {
  const MonitorState& state = Monitor();
  buffer[0] = '\0';
  if (state.hover_id == kNoHover) return;
  const NameLists lists = ListsForSelection(state.dialog->GetListSelection(IDC_MODE_LIST));

  SignalCode code = 0;
  bool inverted = false;
  if ((state.hover_id & 0xFF) == 0xFF) {
    const std::size_t pin = state.hover_id >> 8;
    if (pin >= kSignalPinCount) return;  // names no signal pin
    code = kPinMap[pin];
    inverted = IsInverted(code);
    code = static_cast<SignalCode>(code & ~kInvertedFlag);
  } else if ((state.hover_id >> 8) == 0xFF) {
    code = static_cast<SignalCode>(state.hover_id & 0xFF);
  } else {
    return;  // the initial 0 names no element
  }

  std::string_view name;
  switch (RowOf(code)) {
    case 0: {
      // "Data %u" with the bit number.
      char text[8] = {'D', 'a', 't', 'a', ' ', static_cast<char>('0' + BitOf(code)), '\0'};
      CopyText(buffer, kTooltipTextSize, text);
      return;
    }
    case 1:
      name = EntryOrDefault(lists.status, kDefaultLists.status, 7 - BitOf(code));
      break;
    case 2:
      name = EntryOrDefault(lists.control, kDefaultLists.control, BitOf(code));
      break;
    default:
      return;
  }
  if (name.empty()) return;
  if (!inverted) {
    CopyText(buffer, kTooltipTextSize, name);
  } else if (name.front() == '/') {
    CopyText(buffer, kTooltipTextSize, name.substr(1));
  } else {
    // A pin shows the line's polarity: the inverted register bit gets "/".
    buffer[0] = '/';
    CopyText(buffer + 1, kTooltipTextSize - 1, name);
  }
}

}  // namespace port_monitor
