#include "sim/usbip/usb_device.h"

#include <array>
#include <charconv>

#include "sim/adapter/model/requests.h"

namespace usbip_sim {
namespace {

constexpr std::uint16_t kLanguageEnglishUs = 0x0409;

// Standard requests and descriptor types.
constexpr std::uint8_t kGetStatus = 0x00;
constexpr std::uint8_t kClearFeature = 0x01;
constexpr std::uint8_t kSetFeature = 0x03;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kGetConfiguration = 0x08;
constexpr std::uint8_t kSetConfiguration = 0x09;
constexpr std::uint8_t kGetInterface = 0x0A;
constexpr std::uint8_t kSetInterface = 0x0B;
constexpr std::uint8_t kDeviceDescriptor = 1;
constexpr std::uint8_t kConfigurationDescriptor = 2;
constexpr std::uint8_t kStringDescriptor = 3;
constexpr std::uint8_t kHidDescriptor = 0x21;
constexpr std::uint8_t kReportDescriptor = 0x22;
// HID class requests.
constexpr std::uint8_t kGetReport = 0x01;
constexpr std::uint8_t kGetIdle = 0x02;
constexpr std::uint8_t kSetReport = 0x09;
constexpr std::uint8_t kSetIdle = 0x0A;
constexpr std::uint8_t kSetProtocol = 0x0B;
constexpr std::uint8_t kFeatureReportType = 3;

constexpr std::uint8_t kDirectionIn = 0x80;
constexpr std::uint8_t kTypeMask = 0x60;
constexpr std::uint8_t kTypeStandard = 0x00;
constexpr std::uint8_t kTypeClass = 0x20;

// Low speed, 8-byte control packets, one configuration.
constexpr std::array<std::uint8_t, 18> kSorbelDevice = {
    18, kDeviceDescriptor, 0x10, 0x01, 0, 0, 0, 8, 0xC0, 0x16, 0xDF, 0x05, 0x00, 0x01, 1, 2, 0, 1};

// Interface 0 of class HID with its HID descriptor and an interrupt-in
// endpoint (the HID class requires one; the bootloader never sends on it).
constexpr std::array<std::uint8_t, 34> kSorbelConfiguration = {
    9,
    kConfigurationDescriptor,
    34,
    0,
    1,
    1,
    0,
    0x80,
    50,  // configuration 1, bus-powered
    9,
    0x04,
    0,
    0,
    1,
    0x03,
    0,
    0,
    0,  // interface 0, HID
    9,
    kHidDescriptor,
    0x01,
    0x01,
    0,
    1,
    kReportDescriptor,
    static_cast<std::uint8_t>(sorbel_sim::kReportDescriptor.size()),
    0,  // HID 1.01
    7,
    0x05,
    0x81,
    0x03,
    8,
    0,
    100,  // 0x81 interrupt in, 8 bytes
};

// Full speed, the adapter's ids, interface 0 (vendor class) with bulk out 1
// (commands) and bulk in 1 (answers).
constexpr std::array<std::uint8_t, 18> kAdapterDevice = {
    18, kDeviceDescriptor, 0x10, 0x01, 0, 0, 0, 64, 0x09, 0x12, 0x01, 0x7A, 0x00, 0x01, 1, 2, 0, 1};
constexpr std::array<std::uint8_t, 32> kAdapterConfiguration = {
    9,    kConfigurationDescriptor,
    32,   0,
    1,    1,
    0,    0x80,
    50,  // configuration 1
    9,    0x04,
    0,    0,
    2,    0xFF,
    0,    0,
    0,  // interface 0, vendor class
    7,    0x05,
    0x01, 0x02,
    64,   0,
    0,  // 0x01 bulk out
    7,    0x05,
    0x81, 0x02,
    64,   0,
    0,  // 0x81 bulk in
};

Reply Stall() { return Reply{}; }

Reply With(Outcome outcome) {
  Reply reply;
  reply.outcome = outcome;
  return reply;
}

Reply Answer(std::span<const std::uint8_t> bytes, std::uint16_t length) {
  Reply reply;
  reply.outcome = Outcome::kDone;
  reply.data.assign(bytes.begin(), bytes.begin() + (bytes.size() < length ? bytes.size() : length));
  return reply;
}

Reply Accepted(std::size_t count) {
  Reply reply;
  reply.outcome = Outcome::kDone;
  reply.accepted = static_cast<std::uint32_t>(count);
  return reply;
}

// A string descriptor from UTF-8 text: UTF-16LE, at most 126 code units.
std::vector<std::uint8_t> StringDescriptor(std::string_view text) {
  std::vector<std::uint8_t> out = {0, kStringDescriptor};
  auto unit = [&out](std::uint32_t u) {
    if (out.size() + 2 > 254) return;
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  };
  for (std::size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    std::uint32_t code = byte;
    std::size_t extra = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : 0;
    if (extra > 0) code = byte & (0x3F >> extra);
    if (i + extra >= text.size()) extra = text.size() - i - 1;  // a cut-off sequence
    for (std::size_t k = 1; k <= extra; ++k)
      code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      unit(0xD800 | (code >> 10));
      unit(0xDC00 | (code & 0x3FF));
    } else {
      unit(code);
    }
  }
  out[0] = static_cast<std::uint8_t>(out.size());
  return out;
}

bool Picks(const RequestFault& fault, Target target, int count) {
  return fault.target == target && (fault.nth == 0 || fault.nth == count);
}

// Stall or hang chosen for this request, or kDone when neither.
Outcome FaultFor(const Faults& faults, Target target, int count) {
  if (Picks(faults.hang, target, count)) return Outcome::kNever;
  if (Picks(faults.stall, target, count)) return Outcome::kStall;
  return Outcome::kDone;
}

Reply StandardRequest(const UsbDevice& device, const Setup& setup) {
  const bool sorbel = device.spec.kind == Kind::kBootloader;
  const bool in = (setup.request_type & kDirectionIn) != 0;
  switch (setup.request) {
    case kGetDescriptor: {
      if (!in) return Stall();
      const auto type = static_cast<std::uint8_t>(setup.value >> 8);
      const auto index = static_cast<std::uint8_t>(setup.value);
      if ((setup.request_type & 0x1F) == 1) {  // to the interface: the HID class descriptors
        if (!sorbel || setup.index != 0) return Stall();
        if (type == kReportDescriptor) return Answer(sorbel_sim::kReportDescriptor, setup.length);
        if (type == kHidDescriptor)
          return Answer(std::span(kSorbelConfiguration).subspan(18, 9), setup.length);
        return Stall();
      }
      if (type == kDeviceDescriptor)
        return sorbel ? Answer(kSorbelDevice, setup.length) : Answer(kAdapterDevice, setup.length);
      if (type == kConfigurationDescriptor && index == 0)
        return sorbel ? Answer(kSorbelConfiguration, setup.length)
                      : Answer(kAdapterConfiguration, setup.length);
      if (type == kStringDescriptor) {
        if (index == 0) {
          const std::array<std::uint8_t, 4> languages = {
              4, kStringDescriptor, kLanguageEnglishUs & 0xFF, kLanguageEnglishUs >> 8};
          return Answer(languages, setup.length);
        }
        std::string_view text;
        if (index == 1) text = sorbel ? std::string_view(device.manufacturer) : "Tarnel";
        if (index == 2) text = sorbel ? "Sorbel" : "Tarnel";
        if (text.empty()) return Stall();
        return Answer(StringDescriptor(text), setup.length);
      }
      return Stall();
    }
    case kGetStatus: {
      const std::array<std::uint8_t, 2> status = {0, 0};
      return in ? Answer(status, setup.length) : Stall();
    }
    case kGetConfiguration: {
      const std::array<std::uint8_t, 1> configuration = {1};
      return in ? Answer(configuration, setup.length) : Stall();
    }
    case kGetInterface: {
      const std::array<std::uint8_t, 1> alternate = {0};
      return in ? Answer(alternate, setup.length) : Stall();
    }
    case kSetConfiguration:
    case kSetInterface:
    case kClearFeature:
    case kSetFeature:
      return in ? Stall() : Accepted(0);
    default:
      return Stall();
  }
}

Reply GetFeatureReport(UsbDevice& device, const Setup& setup) {
  sorbel_sim::Bootloader& model = *device.bootloader;
  const auto id = static_cast<std::uint8_t>(setup.value);
  const Faults& faults = device.spec.faults;
  Target target = id == sorbel_sim::kInfoReportId ? Target::kInfo : Target::kNone;
  if (target == Target::kInfo) ++device.infos;
  const Outcome fault = FaultFor(faults, target, device.infos);
  if (fault != Outcome::kDone) return With(fault);
  // The host asks with the length it expects; the device answers with as
  // many bytes as its report has (or, as a fault, another count).
  std::array<std::uint8_t, sorbel_sim::kDataReportSize> buffer{};
  buffer[0] = id;
  if (!sorbel_sim::GetFeature(model, buffer)) return Stall();
  std::size_t size = sorbel_sim::kInfoReportSize;
  if (faults.info_length >= 0) size = static_cast<std::size_t>(faults.info_length);
  if (size > buffer.size()) size = buffer.size();
  Reply reply = Answer(std::span(buffer).first(size), setup.length);
  reply.delay_ms = faults.delay_ms;
  return reply;
}

Reply SetFeatureReport(UsbDevice& device, const Setup& setup, std::span<const std::uint8_t> out) {
  sorbel_sim::Bootloader& model = *device.bootloader;
  const auto id = static_cast<std::uint8_t>(setup.value);
  if (out.empty() || out[0] != id) return Stall();
  Target target = Target::kNone;
  int count = 0;
  if (id == sorbel_sim::kDataReportId) {
    target = Target::kBlock;
    count = ++device.blocks;
  } else if (id == sorbel_sim::kInfoReportId) {
    target = Target::kClose;
    count = ++device.closings;
  }
  const Outcome fault = FaultFor(device.spec.faults, target, count);
  if (fault != Outcome::kDone) return With(fault);
  if (!sorbel_sim::SetFeature(model, out)) return Stall();
  Reply reply = Accepted(out.size());
  reply.delay_ms = device.spec.faults.delay_ms;
  if (target == Target::kBlock) {
    reply.flash_changed = true;
    reply.flash_address = static_cast<std::uint32_t>(out[1] | out[2] << 8 | out[3] << 16);
  }
  if (sorbel_sim::Unplugged(model)) {
    // Pulled out while the block was on its way: it is in the flash, but
    // no answer comes back.
    reply.outcome = Outcome::kGone;
    device.gone = true;
  } else if (sorbel_sim::LeftBootloader(model)) {
    reply.leave_bus = true;  // the device starts the application
  }
  return reply;
}

Reply ClassRequest(UsbDevice& device, const Setup& setup, std::span<const std::uint8_t> out) {
  if (device.spec.kind != Kind::kBootloader || (setup.request_type & 0x1F) != 1 || setup.index != 0)
    return Stall();
  const bool in = (setup.request_type & kDirectionIn) != 0;
  const auto report_type = static_cast<std::uint8_t>(setup.value >> 8);
  switch (setup.request) {
    case kGetReport:
      if (!in || report_type != kFeatureReportType) return Stall();
      return GetFeatureReport(device, setup);
    case kSetReport:
      if (in || report_type != kFeatureReportType) return Stall();
      return SetFeatureReport(device, setup, out);
    case kSetIdle:
    case kSetProtocol:
      return in ? Stall() : Accepted(0);
    case kGetIdle:
    default:
      return Stall();
  }
}

bool ParseNumber(std::string_view text, int& value) {
  if (text.empty()) return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && value >= 0;
}

bool ParseRequestFault(Kind kind, std::string_view text, RequestFault& fault) {
  const std::size_t at = text.find('@');
  const std::string_view what = text.substr(0, at);
  if (at != std::string_view::npos &&
      (!ParseNumber(text.substr(at + 1), fault.nth) || fault.nth == 0))
    return false;
  struct Name {
    std::string_view name;
    Kind kind;
    Target target;
  };
  constexpr std::array<Name, 5> kNames = {{{"info", Kind::kBootloader, Target::kInfo},
                                           {"block", Kind::kBootloader, Target::kBlock},
                                           {"close", Kind::kBootloader, Target::kClose},
                                           {"command", Kind::kAdapter, Target::kCommand},
                                           {"answer", Kind::kAdapter, Target::kAnswer}}};
  for (const Name& name : kNames) {
    if (name.name == what && name.kind == kind) {
      fault.target = name.target;
      return true;
    }
  }
  return false;
}

}  // namespace

bool ParseDeviceSpec(std::string_view text, DeviceSpec& spec, std::string& error) {
  spec = DeviceSpec{};
  std::size_t end = text.find_first_of(":,");
  const std::string_view kind = text.substr(0, end);
  if (kind == "bootloader") {
    spec.kind = Kind::kBootloader;
  } else if (kind == "adapter") {
    spec.kind = Kind::kAdapter;
  } else {
    error = "unknown device \"" + std::string(kind) + "\" (bootloader or adapter)";
    return false;
  }
  while (end != std::string_view::npos) {
    text.remove_prefix(end + 1);
    end = text.find_first_of(":,");
    const std::string_view item = text.substr(0, end);
    const std::size_t equals = item.find('=');
    const std::string_view name = item.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
    Faults& faults = spec.faults;
    const bool sorbel = spec.kind == Kind::kBootloader;
    int number = 0;
    bool ok = false;
    if (name == "unplug") {
      ok = ParseNumber(value, faults.unplug_after) && faults.unplug_after > 0;
    } else if (name == "stall") {
      ok = ParseRequestFault(spec.kind, value, faults.stall);
    } else if (name == "hang") {
      ok = ParseRequestFault(spec.kind, value, faults.hang);
    } else if (name == "info-length" && sorbel) {
      ok = ParseNumber(value, faults.info_length) &&
           faults.info_length <= static_cast<int>(sorbel_sim::kDataReportSize);
    } else if (name == "delay") {
      ok = ParseNumber(value, number) && number <= 60000;
      faults.delay_ms = static_cast<unsigned>(number);
    } else if (name == "fail-block" && sorbel) {
      ok = ParseNumber(value, faults.fail_block) && faults.fail_block > 0;
    }
    if (!ok) {
      error = "unusable fault \"" + std::string(item) + "\" for the " +
              (sorbel ? "bootloader" : "adapter");
      return false;
    }
  }
  return true;
}

Setup ParseSetup(std::span<const std::uint8_t, 8> bytes) {
  return Setup{bytes[0], bytes[1], static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8),
               static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8),
               static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8)};
}

std::unique_ptr<UsbDevice> MakeDevice(const DeviceSpec& spec, std::string_view manufacturer) {
  auto device = std::make_unique<UsbDevice>();
  device->spec = spec;
  device->manufacturer = manufacturer;
  if (spec.kind == Kind::kBootloader) {
    device->bootloader = std::make_unique<sorbel_sim::Bootloader>();
    sorbel_sim::Reset(*device->bootloader, sorbel_sim::Settings{});
    sorbel_sim::FailBlock(*device->bootloader, spec.faults.fail_block);
    sorbel_sim::UnplugAfter(*device->bootloader, spec.faults.unplug_after);
  } else {
    tarnel_sim::PowerOn(device->adapter);
  }
  return device;
}

DeviceFacts Facts(Kind kind) {
  if (kind == Kind::kBootloader) return DeviceFacts{1, 0x16C0, 0x05DF, 0x0100, 0x03};
  return DeviceFacts{2, 0x1209, 0x7A01, 0x0100, 0xFF};
}

Reply Control(UsbDevice& device, const Setup& setup, std::span<const std::uint8_t> out) {
  if (device.gone) return With(Outcome::kGone);
  if (setup.request_type == kDirectionIn && setup.request == kGetDescriptor &&
      setup.value >> 8 == kDeviceDescriptor) {
    ++device.descriptor_asks;
    if (device.spec.kind == Kind::kAdapter) tarnel_sim::BusReset(device.adapter);
  }
  switch (setup.request_type & kTypeMask) {
    case kTypeStandard:
      return StandardRequest(device, setup);
    case kTypeClass:
      return ClassRequest(device, setup, out);
    default:
      return Stall();
  }
}

Reply Transfer(UsbDevice& device, unsigned endpoint, bool in, std::span<const std::uint8_t> out,
               std::uint32_t in_length) {
  if (device.gone) return With(Outcome::kGone);
  const Faults& faults = device.spec.faults;
  if (device.spec.kind == Kind::kBootloader) {
    // The interrupt-in endpoint: the bootloader has nothing to send.
    if (in && endpoint == 1) return With(Outcome::kPending);
    return Stall();
  }
  if (endpoint != 1) return Stall();
  const std::array<std::uint8_t, 4> command_pipe = {tarnel_sim::kEzusbCommandPipe, 0, 0, 0};
  const std::array<std::uint8_t, 4> answer_pipe = {tarnel_sim::kEzusbAnswerPipe, 0, 0, 0};
  if (!in) {
    const Outcome fault = FaultFor(faults, Target::kCommand, ++device.commands);
    if (fault != Outcome::kDone) return With(fault);
    // The bus carries whole commands; a buffer of the request is writable.
    std::array<std::uint8_t, 64> bytes{};
    if (out.size() > bytes.size()) return Stall();
    std::copy(out.begin(), out.end(), bytes.begin());
    const tarnel_sim::RequestResult result = tarnel_sim::HandleRequest(
        device.adapter, tarnel_sim::DeviceKind::kEzusb, tarnel_sim::kEzusbBulkWrite,
        {command_pipe, std::span(bytes).first(out.size())});
    if (result.status != tarnel_sim::RequestStatus::kSuccess) return Stall();
    Reply reply = Accepted(out.size());
    reply.delay_ms = faults.delay_ms;
    if (faults.unplug_after > 0 && device.commands >= faults.unplug_after) {
      reply.outcome = Outcome::kGone;
      device.gone = true;
    }
    return reply;
  }
  // An answer waits until a read command has produced one (the device NAKs).
  if (!device.adapter.answer_pending) return With(Outcome::kPending);
  const Outcome fault = FaultFor(faults, Target::kAnswer, ++device.answers);
  if (fault != Outcome::kDone) return With(fault);
  std::array<std::uint8_t, 1> answer{};
  const tarnel_sim::RequestResult result =
      tarnel_sim::HandleRequest(device.adapter, tarnel_sim::DeviceKind::kEzusb,
                                tarnel_sim::kEzusbBulkRead, {answer_pipe, answer});
  if (result.status != tarnel_sim::RequestStatus::kSuccess || in_length == 0) return Stall();
  return Answer(std::span(answer).first(result.bytes_returned),
                static_cast<std::uint16_t>(in_length));
}

}  // namespace usbip_sim
