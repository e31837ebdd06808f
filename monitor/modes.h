// ECR modes (bits 7..5 of register 10) and single-byte transfers.
#pragma once

#include <array>
#include <cstdint>

namespace port_monitor {

inline constexpr int kModeCount = 8;
inline constexpr int kConfigurationMode = 7;

// Which lower controls a mode shows.
namespace mode_flag {
inline constexpr std::uint8_t kCfgAVisible = 0x01;
inline constexpr std::uint8_t kCfgAReadOnly = 0x02;  // also hides labels 118/119
inline constexpr std::uint8_t kReadButton = 0x04;
inline constexpr std::uint8_t kTargetRadios = 0x08;
inline constexpr std::uint8_t kCfgBVisible = 0x10;
inline constexpr std::uint8_t kCfgBReadOnly = 0x20;
inline constexpr std::uint8_t kOutputButton = 0x40;
inline constexpr std::uint8_t kCommandCaption = 0x80;
}  // namespace mode_flag

inline constexpr std::array<std::uint8_t, kModeCount> kModeFlags = {0x52, 0x52, 0x52, 0xDF,
                                                                    0x5F, 0x02, 0x57, 0x11};

// Start-up: the eight mode names into list 102.
void FillModeList();
// CBN_SELCHANGE of list 102: write the chosen mode into the ECR, keeping the
// written low five bits. The controls follow once the poll reads it back.
void SwitchMode(int selection);
// The ECR read back reports mode m: arrange the lower controls for it.
void ApplyMode(int mode);
// After a poll: the list shows the mode read back, also when the port
// refused a switch (the controls are not rearranged again). Not while the
// list is dropped down.
void FollowReadBackMode();
// Button 130, or the delayed write of field 169 outside mode 7.
void OutputByte();
// Button 131.
void ReadByte();

}  // namespace port_monitor
