#include "sim/bootloader/hidraw/hidraw_nodes.h"

#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <span>

namespace sorbel_sim::hidraw {
namespace {

// One vendor-defined collection with the two feature reports: id 1 (6 bytes
// of device info, or the closing report) and id 2 (131 bytes, a data block).
inline constexpr uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF,  // usage page (vendor 0xFF00)
    0x09, 0x01,        // usage 1
    0xA1, 0x01,        // collection (application)
    0x15, 0x00,        //   logical minimum 0
    0x26, 0xFF, 0x00,  //   logical maximum 255
    0x75, 0x08,        //   report size 8
    0x85, 0x01,        //   report id 1
    0x95, 0x06,        //   report count 6
    0x09, 0x00,        //   usage 0
    0xB2, 0x02, 0x01,  //   feature (data, variable, absolute, buffered bytes)
    0x85, 0x02,        //   report id 2
    0x96, 0x83, 0x00,  //   report count 131
    0x09, 0x00,        //   usage 0
    0xB2, 0x02, 0x01,  //   feature (data, variable, absolute, buffered bytes)
    0xC0,              // end collection
};

// The request with its size field cleared, for the requests that carry a length.
unsigned long WithoutSize(unsigned long request) {
  return request & ~(static_cast<unsigned long>(_IOC_SIZEMASK) << _IOC_SIZESHIFT);
}

template <size_t N>
void Format(std::array<char, N>& text, const char* format, auto... values) {
  std::snprintf(text.data(), N, format, values...);
}

int Refuse(int& error, int code) {
  error = code;
  return -1;
}

}  // namespace

bool AddNode(NodeTable& table, std::string_view port, std::string_view manufacturer,
             std::string_view product, Bootloader* bootloader, uint16_t vendor_id,
             uint16_t product_id) {
  if (table.count == kMaxNodes || port.size() >= sizeof(Node::port)) return false;
  int index = table.count++;
  Node& node = table.nodes[index];
  unsigned minor_number = kFirstMinor + static_cast<unsigned>(index);
  unsigned number = static_cast<unsigned>(index) + 1;
  int port_size = static_cast<int>(port.size());
  const char* port_text = port.data();
  int manufacturer_size = static_cast<int>(manufacturer.size());
  int product_size = static_cast<int>(product.size());
  // Each text from the arguments alone: the compiler cannot tell the node's
  // arrays apart as sources and destinations.
  auto& paths = node.syspaths;
  Format(node.devnode, "/dev/hidraw%u", minor_number);
  Format(node.port, "%.*s", port_size, port_text);
  Format(node.manufacturer, "%.*s", manufacturer_size, manufacturer.data());
  Format(node.product, "%.*s", product_size, product.data());
  Format(paths[static_cast<int>(Level::kUsbDevice)], "/sys/devices/sorbel-sim/usb9/%.*s", port_size,
         port_text);
  Format(paths[static_cast<int>(Level::kUsbInterface)],
         "/sys/devices/sorbel-sim/usb9/%.*s/%.*s:1.0", port_size, port_text, port_size, port_text);
  Format(paths[static_cast<int>(Level::kHid)],
         "/sys/devices/sorbel-sim/usb9/%.*s/%.*s:1.0/0003:%04X:%04X.%04X", port_size, port_text,
         port_size, port_text, vendor_id, product_id, number);
  Format(paths[static_cast<int>(Level::kHidraw)],
         "/sys/devices/sorbel-sim/usb9/%.*s/%.*s:1.0/0003:%04X:%04X.%04X/hidraw/hidraw%u",
         port_size, port_text, port_size, port_text, vendor_id, product_id, number, minor_number);
  Format(
      node.uevent,
      "DRIVER=hid-generic\nHID_ID=0003:%08X:%08X\nHID_NAME=%.*s %.*s\nHID_PHYS=usb-sorbel-sim-%.*s/"
      "input0\nHID_UNIQ=\nMODALIAS=hid:b0003g0001v%08Xp%08X\n",
      vendor_id, product_id, manufacturer_size, manufacturer.data(), product_size, product.data(),
      port_size, port_text, vendor_id, product_id);
  node.vendor_id = vendor_id;
  node.product_id = product_id;
  Format(node.vendor_text, "%04x", vendor_id);
  Format(node.product_text, "%04x", product_id);
  node.bootloader = bootloader;
  node.locked = false;
  node.fault = Fault::kNone;
  node.gone = false;
  return true;
}

bool Present(const Node& node) {
  return !node.gone && (node.bootloader == nullptr || !Unplugged(*node.bootloader));
}

bool AddFaultyNodes(NodeTable& table, std::string_view manufacturer, std::string_view product,
                    std::string_view faults) {
  for (unsigned port = 5; !faults.empty(); ++port) {
    std::string_view name = faults.substr(0, faults.find(','));
    faults.remove_prefix(std::min(name.size() + 1, faults.size()));
    auto known = std::ranges::find(kFaultNames, name, &FaultName::name);
    std::array<char, 16> path;
    Format(path, "9-%u", port);
    if (known == std::end(kFaultNames) ||
        !AddNode(table, path.data(), manufacturer, product, nullptr))
      return false;
    table.nodes[table.count - 1].fault = known->fault;
  }
  return true;
}

void Opened(Node& node) {
  if (node.fault == Fault::kVanishes) node.gone = true;
}

dev_t DeviceNumber(int node) { return makedev(kMajor, kFirstMinor + static_cast<unsigned>(node)); }

std::string_view NodeName(const Node& node) { return std::strrchr(node.devnode.data(), '/') + 1; }

int NodeOfDevnode(const NodeTable& table, const char* path) {
  for (int i = 0; path != nullptr && i < table.count; ++i)
    if (Present(table.nodes[i]) && std::strcmp(table.nodes[i].devnode.data(), path) == 0) return i;
  return -1;
}

int NodeOfDeviceNumber(const NodeTable& table, dev_t number) {
  for (int i = 0; i < table.count; ++i)
    if (Present(table.nodes[i]) && DeviceNumber(i) == number) return i;
  return -1;
}

int NodeOfSyspath(const NodeTable& table, const char* path) {
  constexpr std::string_view kClass = "/sys/class/hidraw/";
  for (int i = 0; path != nullptr && i < table.count; ++i) {
    const Node& node = table.nodes[i];
    if (!Present(node)) continue;
    std::string_view wanted = path;
    if (wanted == node.syspaths[static_cast<int>(Level::kHidraw)].data() ||
        (wanted.starts_with(kClass) && wanted.substr(kClass.size()) == NodeName(node)))
      return i;
  }
  return -1;
}

bool ParentLevel(Level level, const char* subsystem, const char* devtype, Level& parent) {
  if (subsystem == nullptr) return false;
  std::string_view wanted_subsystem = subsystem;
  std::string_view wanted_type = devtype != nullptr ? devtype : "";
  for (int i = static_cast<int>(level) + 1; i < kLevelCount; ++i) {
    auto candidate = static_cast<Level>(i);
    bool is_usb = candidate != Level::kHid;
    std::string_view type = candidate == Level::kUsbInterface ? "usb_interface"
                            : candidate == Level::kUsbDevice  ? "usb_device"
                                                              : "";
    if (wanted_subsystem != (is_usb ? "usb" : "hid")) continue;
    if (devtype != nullptr && wanted_type != type) continue;
    parent = candidate;
    return true;
  }
  return false;
}

const char* Attribute(const Node& node, Level level, const char* name) {
  if (name == nullptr) return nullptr;
  std::string_view key = name;
  switch (level) {
    case Level::kHid:
      return key == "uevent" ? node.uevent.data() : nullptr;
    case Level::kUsbInterface:
      return key == "bInterfaceNumber" ? "00" : key == "bInterfaceClass" ? "03" : nullptr;
    case Level::kUsbDevice:
      if (key == "manufacturer") return node.manufacturer.data();
      if (key == "product") return node.product.data();
      if (key == "idVendor") return node.vendor_text.data();
      if (key == "idProduct") return node.product_text.data();
      if (key == "bcdDevice") return "0100";
      return nullptr;
    case Level::kHidraw:
      return nullptr;
  }
  return nullptr;
}

int Ioctl(Node& node, unsigned long request, void* argument, int& error) {
  if (node.gone) return Refuse(error, ENODEV);
  if (node.fault == Fault::kSilent) return Refuse(error, EIO);
  if (argument == nullptr) return Refuse(error, EFAULT);
  if (request == HIDIOCGRDESCSIZE) {
    *static_cast<int*>(argument) = sizeof kReportDescriptor;
    return 0;
  }
  if (request == HIDIOCGRDESC) {
    auto* descriptor = static_cast<hidraw_report_descriptor*>(argument);
    if (descriptor->size > HID_MAX_DESCRIPTOR_SIZE) return Refuse(error, EINVAL);
    size_t size = std::min<size_t>(descriptor->size, sizeof kReportDescriptor);
    std::memcpy(descriptor->value, kReportDescriptor, size);
    return 0;
  }
  if (request == HIDIOCGRAWINFO) {
    auto* info = static_cast<hidraw_devinfo*>(argument);
    info->bustype = BUS_USB;
    info->vendor = static_cast<int16_t>(node.vendor_id);
    info->product = static_cast<int16_t>(node.product_id);
    return 0;
  }
  size_t length = _IOC_SIZE(request);
  std::span<uint8_t> buffer(static_cast<uint8_t*>(argument), length);
  // EIO rather than the stall's EPIPE, which the library answers by sending again.
  if (WithoutSize(request) == WithoutSize(HIDIOCGFEATURE(0))) {
    if (node.bootloader == nullptr || length == 0 || !GetFeature(*node.bootloader, buffer))
      return Refuse(error, EIO);
    return static_cast<int>(InfoReportLength(*node.bootloader));
  }
  if (WithoutSize(request) == WithoutSize(HIDIOCSFEATURE(0))) {
    if (node.bootloader == nullptr || length == 0 || !SetFeature(*node.bootloader, buffer))
      return Refuse(error, EIO);
    return static_cast<int>(length);
  }
  return Refuse(error, ENOTTY);
}

}  // namespace sorbel_sim::hidraw
