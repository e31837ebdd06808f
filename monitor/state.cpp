#include "monitor/state.h"

namespace port_monitor {

namespace {
MonitorState g_monitor;
}

MonitorState& Monitor() { return g_monitor; }

void ResetMonitor() { g_monitor = MonitorState{}; }

}  // namespace port_monitor
