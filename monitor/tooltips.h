// Signal tooltips over the connector diagram.
#pragma once

#include "monitor/platform.h"

#include <cstddef>

namespace port_monitor {

inline constexpr std::size_t kTooltipTextSize = 80;

// The tooltip's top edge stays this many pixels below the cursor's hot spot,
// more than an element is high: a tooltip under the pointer would take the
// clicks and cursor messages meant for the element it names.
inline constexpr int kTooltipGap = 20;

// Where the tooltip is tracked for a cursor at `hot_spot` (screen), given
// the tooltip window's height.
Point TooltipTrackPoint(Point hot_spot, int tooltip_height);

// WM_SETCURSOR: the cursor at `screen` (GetMessagePos), `client` the same
// point in client coordinates. Sets the hand cursor and returns true over a
// pin or bit box; moves and (de)activates the tooltip only when the element
// under the cursor changes.
bool TrackHover(Point screen, Point client);

// TTN_GETDISPINFOA: the name of the hovered signal for the selected mode,
// NUL-terminated, into a buffer of kTooltipTextSize characters.
void GetTooltipText(char* buffer);

}  // namespace port_monitor
