// Signal tooltips over the connector diagram.
#pragma once

#include "monitor/platform.h"

#include <cstddef>

namespace port_monitor {

inline constexpr std::size_t kTooltipTextSize = 80;

// WM_SETCURSOR: the cursor at `screen` (GetMessagePos), `client` the same
// point in client coordinates. Sets the hand cursor and returns true over a
// pin or bit box; moves and (de)activates the tooltip only when the element
// under the cursor changes.
bool TrackHover(Point screen, Point client);

// TTN_GETDISPINFOA: the name of the hovered signal for the selected mode,
// NUL-terminated, into a buffer of kTooltipTextSize characters.
void GetTooltipText(char* buffer);

}  // namespace port_monitor
