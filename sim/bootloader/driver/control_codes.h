// Requests of the private control device that sorbel-sim.sys creates beside its
// HID device; shared by the driver and sorbel-sim-ctl.exe.
#pragma once

#include <cstdint>

namespace sorbel_ctl {

// NT name and the Win32 name the control program opens.
inline constexpr wchar_t kDeviceName[] = L"\\Device\\SorbelSim";
inline constexpr wchar_t kLinkName[] = L"\\DosDevices\\SorbelSim";
inline constexpr char kWin32Name[] = "\\\\.\\SorbelSim";
inline constexpr char kServiceName[] = "sorbelsim";
// Where the driver keeps the first board's state between Wine sessions;
// without this file it starts from the defaults.
inline constexpr char kStateFile[] = "C:\\windows\\sorbel-sim\\state.bin";
// Device nodes, each a board of its own at a place of its own. The first is
// plugged in from the start, the others only when a test plugs them in.
inline constexpr uint32_t kBoards = 4;

// CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS)
constexpr uint32_t ControlCode(uint32_t function) { return 0x22u << 16 | function << 2; }

inline constexpr uint32_t kConfig = ControlCode(0x900);        // in: ConfigRequest
inline constexpr uint32_t kFailBlock = ControlCode(0x901);     // in: int32 n
inline constexpr uint32_t kProduct = ControlCode(0x902);       // in: UTF-16 text, no terminator
inline constexpr uint32_t kFlash = ControlCode(0x903);         // out: the flash contents
inline constexpr uint32_t kLog = ControlCode(0x904);           // out: the log text
inline constexpr uint32_t kReset = ControlCode(0x905);         // no data
inline constexpr uint32_t kState = ControlCode(0x906);         // out: StateReply
inline constexpr uint32_t kStrictLength = ControlCode(0x907);  // in: uint32 0 off, 1 on
inline constexpr uint32_t kPlug = ControlCode(0x908);          // in: uint32 0 unplug, 1 plug
// The board (0 to kBoards - 1) that the requests after this one are about;
// every other request but kReset concerns one board.
inline constexpr uint32_t kSelect = ControlCode(0x909);       // in: uint32 board
inline constexpr uint32_t kLock = ControlCode(0x90A);         // in: uint32 1 refuse opens, 0 not
inline constexpr uint32_t kDelay = ControlCode(0x90B);        // in: uint32 ms per feature report
inline constexpr uint32_t kUnplugAfter = ControlCode(0x90C);  // in: int32 accepted blocks
// Plugged in at a program's n-th open of the board from now (each search
// opens it once), as a board an operator plugs in later.
inline constexpr uint32_t kAppearAfter = ControlCode(0x90D);  // in: uint32 opens
// Once written, the board leaves the bus at the next open: 1 on, 0 off.
inline constexpr uint32_t kLeaveWritten = ControlCode(0x90E);  // in: uint32

struct ConfigRequest {
  uint32_t page_size;
  uint32_t flash_size;
};

struct StateReply {
  uint32_t flash_size;
  uint32_t log_size;  // bytes of log text held by the driver
  uint32_t log_lost;  // bytes of log text dropped because the buffer was full
  uint32_t left_bootloader;
  uint32_t hid_devices;    // HID devices hidclass has added since the driver loaded
  uint32_t strict_length;  // feature reports of another length than 132 bytes are refused
  uint32_t unplugged;      // the HID device answers no request
  uint32_t locked;         // opening the HID device is refused
  uint32_t delay_ms;       // each feature report takes this long
};

// Longest product string the device reports, in UTF-16 code units.
inline constexpr uint32_t kMaxProductLength = 126;

}  // namespace sorbel_ctl
