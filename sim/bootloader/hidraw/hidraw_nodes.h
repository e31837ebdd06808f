// The simulated hidraw nodes: what udev tells about them (paths, device
// numbers, the attributes of their HID and USB parents) and how their ioctls
// are answered. A bootloader node is a model; the extra node has the same
// ids and another product string and answers no reports; a locked node
// refuses to be opened.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/bootloader/model/bootloader.h"

namespace sorbel_sim::hidraw {

inline constexpr int kMaxNodes = 10;          // the extra node, eight bootloaders, the locked one
inline constexpr unsigned kFirstMinor = 100;  // /dev/hidraw100 on
inline constexpr unsigned kMajor = 4000;      // no real driver has it

// The udev devices above a hidraw node, nearest first.
enum class Level { kHidraw, kHid, kUsbInterface, kUsbDevice };
inline constexpr int kLevelCount = 4;

struct Node {
  std::array<char, 24> devnode;
  std::array<char, 16> port;  // the USB port path, as "9-1.2"
  std::array<char, 128> manufacturer;
  std::array<char, 128> product;
  std::array<char, 128> syspaths[kLevelCount];
  std::array<char, 512> uevent;  // of the HID parent
  Bootloader* bootloader;        // null: answers no reports
  bool locked;                   // every open is refused
};

struct NodeTable {
  std::array<Node, kMaxNodes> nodes;
  int count = 0;
};

// Adds a node listed after those already there, its USB device at the port
// path (such as "9-1.2"); false when the table is full.
bool AddNode(NodeTable& table, std::string_view port, std::string_view manufacturer,
             std::string_view product, Bootloader* bootloader);

// Still plugged in: a node whose bootloader was pulled out is gone.
bool Present(const Node& node);

dev_t DeviceNumber(int node);

// hidraw100 for /dev/hidraw100: its name in the hidraw class folder.
std::string_view NodeName(const Node& node);

// The present node with this path, device number or hidraw syspath (its own
// or the class folder's link); -1 for none.
int NodeOfDevnode(const NodeTable& table, const char* path);
int NodeOfDeviceNumber(const NodeTable& table, dev_t number);
int NodeOfSyspath(const NodeTable& table, const char* path);

// The nearest level above `level` that udev's parent search for this
// subsystem and devtype (null: any) finds; false when there is none.
bool ParentLevel(Level level, const char* subsystem, const char* devtype, Level& parent);

// A sysfs attribute of one level of a node, or null.
const char* Attribute(const Node& node, Level level, const char* name);

// An ioctl on the node's open file: the result, or -1 with `error` set.
int Ioctl(Node& node, unsigned long request, void* argument, int& error);

}  // namespace sorbel_sim::hidraw
