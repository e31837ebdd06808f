// The simulated hidraw nodes: what udev tells about them (paths, device
// numbers, the attributes of their HID and USB parents) and how their ioctls
// are answered. A bootloader node is a model; the extra node has the same
// ids and another product string and answers no reports; a locked node
// refuses to be opened; a faulty node looks like the bootloader but fails as
// a real system may once it is open.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/bootloader/model/bootloader.h"

namespace sorbel_sim::hidraw {

// The extra node, eight bootloaders, the locked one, three faulty ones, a
// keyboard.
inline constexpr int kMaxNodes = 14;
inline constexpr uint16_t kBootloaderVendorId = 0x16C0;
inline constexpr uint16_t kBootloaderProductId = 0x05DF;
inline constexpr unsigned kFirstMinor = 100;  // /dev/hidraw100 on
inline constexpr unsigned kMajor = 4000;      // no real driver has it

// The udev devices above a hidraw node, nearest first.
enum class Level { kHidraw, kHid, kUsbInterface, kUsbDevice };
inline constexpr int kLevelCount = 4;

enum class Fault {
  kNone,
  kSilent,     // answers no request
  kVanishes,   // its device goes away right after the open
  kNotHidraw,  // opens a file that is no hidraw device
};

// The names SORBEL_SIM_FAULTS lists them by.
struct FaultName {
  std::string_view name;
  Fault fault;
};
inline constexpr FaultName kFaultNames[] = {
    {"silent", Fault::kSilent},
    {"vanishing", Fault::kVanishes},
    {"not-hidraw", Fault::kNotHidraw},
};

struct Node {
  std::array<char, 24> devnode;
  std::array<char, 16> port;  // the USB port path, as "9-1.2"
  std::array<char, 128> manufacturer;
  std::array<char, 128> product;
  std::array<char, 128> syspaths[kLevelCount];
  std::array<char, 512> uevent;  // of the HID parent
  uint16_t vendor_id;
  uint16_t product_id;
  std::array<char, 8> vendor_text;  // as sysfs tells them: "16c0"
  std::array<char, 8> product_text;
  Bootloader* bootloader;  // null: answers no reports
  bool locked;             // every open is refused
  Fault fault;
  bool gone;  // no longer listed nor found; its open files refuse every request
};

struct NodeTable {
  std::array<Node, kMaxNodes> nodes;
  int count = 0;
};

// Adds a node listed after those already there, its USB device at the port
// path (such as "9-1.2"); false when the table is full.
bool AddNode(NodeTable& table, std::string_view port, std::string_view manufacturer,
             std::string_view product, Bootloader* bootloader,
             uint16_t vendor_id = kBootloaderVendorId, uint16_t product_id = kBootloaderProductId);

// Still there: not gone, and its bootloader not pulled out.
bool Present(const Node& node);

// One node per fault in a comma-separated list of fault names, each with the
// given strings, at the ports 9-5, 9-6 and on; false when a name is unknown
// or the table is full.
bool AddFaultyNodes(NodeTable& table, std::string_view manufacturer, std::string_view product,
                    std::string_view faults);

// What the node's open does to it.
void Opened(Node& node);

dev_t DeviceNumber(int node);

// hidraw100 for /dev/hidraw100: its name in the hidraw class folder.
std::string_view NodeName(const Node& node);

// The present node with this path, device number or hidraw syspath (its own
// or the class folder's link); -1 for none or a gone one.
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
