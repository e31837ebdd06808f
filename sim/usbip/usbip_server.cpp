// sorbel-usbip: the simulated devices on the USB wire, as a USB/IP server.
// The kernel's USB/IP host controller (vhci-hcd) imports each device, and
// the kernel's own drivers (usbhid, hidraw, usbfs) talk to it as to a device
// on a USB port. Tests only; nothing here is shipped.
//
//   sorbel-usbip [--port N] [--bus B] [--out DIR] [--ready FILE] DEVICE...
//
// Device k (1 on) is offered under the bus id "B-k", the place the host
// gives it when it is attached to port k of bus B; its flash (bootloaders)
// goes to DIR/B-k.bin after every block, its report log to DIR/B-k.log; the
// adapter's DIR/B-k.log tells its control requests, commands, answers,
// unlinked transfers and bus resets.
// DEVICE is usbip_sim::ParseDeviceSpec's text ("bootloader:unplug=40").
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/usbip/usb_device.h"

#ifndef SORBEL_SIM_MANUFACTURER
#define SORBEL_SIM_MANUFACTURER "Tarnel Tools"
#endif

namespace {

using usbip_sim::Outcome;
using usbip_sim::Reply;

constexpr std::uint16_t kVersion = 0x0111;
constexpr std::uint16_t kReqDevlist = 0x8005;
constexpr std::uint16_t kRepDevlist = 0x0005;
constexpr std::uint16_t kReqImport = 0x8003;
constexpr std::uint16_t kRepImport = 0x0003;
constexpr std::uint32_t kCmdSubmit = 1;
constexpr std::uint32_t kCmdUnlink = 2;
constexpr std::uint32_t kRetSubmit = 3;
constexpr std::uint32_t kRetUnlink = 4;
constexpr std::int32_t kErrorPipe = -32;        // -EPIPE: a stall
constexpr std::int32_t kErrorConnReset = -104;  // -ECONNRESET: unlinked
constexpr std::uint32_t kMaxTransfer = 64 * 1024;

struct Slot {
  std::string busid;
  std::unique_ptr<usbip_sim::UsbDevice> device;
  int devnum = 0;
  bool imported = false;
  std::FILE* log = nullptr;
  int flash_fd = -1;
};

std::mutex slots_lock;  // guards `imported`
std::vector<Slot> slots;
unsigned bus = 1;

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v >> 16);
  Put16(out, v & 0xFFFF);
}
std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

bool ReadAll(int fd, std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t got = read(fd, data, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// The usb_device part of the device list and of the import answer.
void PutDevice(std::vector<std::uint8_t>& out, const Slot& slot) {
  const usbip_sim::DeviceFacts facts = usbip_sim::Facts(slot.device->spec.kind);
  std::array<char, 256> path{};
  std::snprintf(path.data(), path.size(), "/sys/devices/sorbel-usbip/%s", slot.busid.c_str());
  out.insert(out.end(), path.begin(), path.end());
  std::array<char, 32> busid{};
  std::snprintf(busid.data(), busid.size(), "%s", slot.busid.c_str());
  out.insert(out.end(), busid.begin(), busid.end());
  Put32(out, bus);
  Put32(out, static_cast<std::uint32_t>(slot.devnum));
  Put32(out, facts.speed);
  Put16(out, facts.vendor);
  Put16(out, facts.product);
  Put16(out, facts.release);
  out.insert(out.end(),
             {0, 0, 0, 1, 1, 1});  // class, subclass, protocol, config, configs, interfaces
}

void LogLine(void* context, std::string_view line) {
  auto* file = static_cast<std::FILE*>(context);
  std::fwrite(line.data(), 1, line.size(), file);
  std::fputc('\n', file);
  std::fflush(file);
}

void WriteFlash(const Slot& slot, std::uint32_t address, std::uint32_t size) {
  if (slot.flash_fd < 0) return;
  const auto flash = sorbel_sim::Flash(*slot.device->bootloader);
  if (address >= flash.size()) return;
  if (size > flash.size() - address) size = static_cast<std::uint32_t>(flash.size() - address);
  if (pwrite(slot.flash_fd, flash.data() + address, size, address) != static_cast<ssize_t>(size))
    std::fprintf(stderr, "sorbel-usbip: %s: the flash file cannot be written\n",
                 slot.busid.c_str());
}

struct Pending {
  std::uint32_t seqnum = 0;
  std::uint32_t endpoint = 0;
  bool in = false;
  std::uint32_t length = 0;
  bool never = false;  // withheld for good: only the host's unlink ends it
};

std::vector<std::uint8_t> RetSubmit(std::uint32_t seqnum, std::int32_t status,
                                    std::span<const std::uint8_t> data, std::uint32_t accepted) {
  std::vector<std::uint8_t> out;
  Put32(out, kRetSubmit);
  Put32(out, seqnum);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, static_cast<std::uint32_t>(status));
  Put32(out, data.empty() ? accepted : static_cast<std::uint32_t>(data.size()));
  Put32(out, 0);  // start frame
  Put32(out, 0);  // packets (not isochronous)
  Put32(out, 0);  // errors
  out.insert(out.end(), 8, 0);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// A line of the adapter's log (a bootloader's log is its model's).
void AdapterLog(const Slot& slot, const char* what, std::span<const std::uint8_t> bytes) {
  if (slot.log == nullptr || slot.device->spec.kind != usbip_sim::Kind::kAdapter) return;
  std::string line = what;
  for (const std::uint8_t byte : bytes) {
    std::array<char, 4> hex{};
    std::snprintf(hex.data(), hex.size(), " %02x", byte);
    line += hex.data();
  }
  LogLine(slot.log, line);
}

// The URB traffic of one imported device, until the host lets it go or the
// device leaves the bus.
void Serve(int fd, Slot& slot) {
  usbip_sim::UsbDevice& device = *slot.device;
  std::list<Pending> waiting;  // transfers without an answer yet
  std::vector<std::uint8_t> out_data;
  for (;;) {
    std::array<std::uint8_t, 48> header{};
    if (!ReadAll(fd, header.data(), header.size())) break;
    const std::uint32_t command = Get32(&header[0]);
    const std::uint32_t seqnum = Get32(&header[4]);
    if (command == kCmdUnlink) {
      const std::uint32_t victim = Get32(&header[20]);
      std::int32_t status = 0;  // already answered
      for (auto it = waiting.begin(); it != waiting.end(); ++it) {
        if (it->seqnum == victim) {
          waiting.erase(it);
          AdapterLog(slot, "unlink", {});
          status = kErrorConnReset;
          break;
        }
      }
      std::vector<std::uint8_t> out;
      Put32(out, kRetUnlink);
      Put32(out, seqnum);
      Put32(out, 0);
      Put32(out, 0);
      Put32(out, 0);
      Put32(out, static_cast<std::uint32_t>(status));
      out.insert(out.end(), 24, 0);
      if (!WriteAll(fd, out)) break;
      continue;
    }
    if (command != kCmdSubmit) {
      std::fprintf(stderr, "sorbel-usbip: %s: unknown command %u, connection ended\n",
                   slot.busid.c_str(), command);
      break;
    }
    const bool in = Get32(&header[12]) == 1;
    const std::uint32_t endpoint = Get32(&header[16]);
    const std::uint32_t length = Get32(&header[24]);
    if (length > kMaxTransfer || endpoint > 15) {
      std::fprintf(stderr, "sorbel-usbip: %s: transfer of %u bytes to endpoint %u refused\n",
                   slot.busid.c_str(), length, endpoint);
      break;
    }
    out_data.assign(in ? 0 : length, 0);
    if (!in && !ReadAll(fd, out_data.data(), out_data.size())) break;
    Reply reply;
    if (endpoint == 0) {
      const usbip_sim::Setup setup =
          usbip_sim::ParseSetup(std::span<const std::uint8_t, 8>(&header[40], 8));
      const int asks = device.descriptor_asks;
      AdapterLog(slot, "control", std::span<const std::uint8_t>(&header[40], 8));
      reply = usbip_sim::Control(device, setup, out_data);
      if (device.descriptor_asks != asks) AdapterLog(slot, "reset", {});
    } else {
      reply = usbip_sim::Transfer(device, endpoint, in, out_data, length);
      if (!in) AdapterLog(slot, "command", out_data);
      if (in && reply.outcome == Outcome::kDone) AdapterLog(slot, "answer", reply.data);
      if (in && reply.outcome == Outcome::kNever) AdapterLog(slot, "answer withheld", {});
    }
    if (reply.flash_changed) WriteFlash(slot, reply.flash_address, sorbel_sim::kBlockSize);
    if (reply.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.delay_ms));
    if (reply.outcome == Outcome::kGone) break;
    if (reply.outcome == Outcome::kPending || reply.outcome == Outcome::kNever) {
      waiting.push_back({seqnum, endpoint, in, length, reply.outcome == Outcome::kNever});
      continue;
    }
    if (reply.data.size() > length) reply.data.resize(length);
    if (!WriteAll(fd, RetSubmit(seqnum, reply.outcome == Outcome::kStall ? kErrorPipe : 0,
                                reply.data, reply.accepted)))
      break;
    if (reply.leave_bus) {
      device.gone = true;
      break;
    }
    // A command may have produced the answer that a waiting bulk in wants.
    if (!in && endpoint != 0) {
      for (auto it = waiting.begin(); it != waiting.end(); ++it) {
        if (!it->in || it->endpoint != endpoint || it->never) continue;
        Reply answer = usbip_sim::Transfer(device, it->endpoint, true, {}, it->length);
        if (answer.outcome == Outcome::kNever) {
          AdapterLog(slot, "answer withheld", {});
          it->never = true;
          continue;
        }
        if (answer.outcome == Outcome::kDone) AdapterLog(slot, "answer", answer.data);
        if (answer.outcome == Outcome::kDone || answer.outcome == Outcome::kStall) {
          if (!WriteAll(fd,
                        RetSubmit(it->seqnum, answer.outcome == Outcome::kStall ? kErrorPipe : 0,
                                  answer.data, 0)))
            device.gone = true;
          waiting.erase(it);
        }
        break;
      }
    }
  }
  shutdown(fd, SHUT_RDWR);
  close(fd);
  std::lock_guard<std::mutex> hold(slots_lock);
  slot.imported = false;
  if (device.gone) std::printf("sorbel-usbip: %s left the bus\n", slot.busid.c_str());
  std::fflush(stdout);
}

void Welcome(int fd) {
  std::array<std::uint8_t, 8> header{};
  if (!ReadAll(fd, header.data(), header.size())) {
    close(fd);
    return;
  }
  const std::uint16_t code = static_cast<std::uint16_t>(header[2] << 8 | header[3]);
  std::vector<std::uint8_t> out;
  if (code == kReqDevlist) {
    std::lock_guard<std::mutex> hold(slots_lock);
    Put16(out, kVersion);
    Put16(out, kRepDevlist);
    Put32(out, 0);
    std::uint32_t count = 0;
    for (const Slot& slot : slots) count += slot.device->gone ? 0 : 1;
    Put32(out, count);
    for (const Slot& slot : slots) {
      if (slot.device->gone) continue;
      PutDevice(out, slot);
      const usbip_sim::DeviceFacts facts = usbip_sim::Facts(slot.device->spec.kind);
      out.insert(out.end(), {facts.interface_class, 0, 0, 0});
    }
    WriteAll(fd, out);
    close(fd);
    return;
  }
  std::array<std::uint8_t, 32> busid{};
  if (code != kReqImport || !ReadAll(fd, busid.data(), busid.size())) {
    close(fd);
    return;
  }
  busid.back() = 0;
  const std::string wanted(reinterpret_cast<const char*>(busid.data()));
  Slot* chosen = nullptr;
  {
    std::lock_guard<std::mutex> hold(slots_lock);
    for (Slot& slot : slots) {
      if (slot.busid == wanted && !slot.imported && !slot.device->gone) {
        chosen = &slot;
        slot.imported = true;
      }
    }
  }
  Put16(out, kVersion);
  Put16(out, kRepImport);
  Put32(out, chosen == nullptr ? 1 : 0);
  if (chosen != nullptr) PutDevice(out, *chosen);
  if (!WriteAll(fd, out) || chosen == nullptr) {
    if (chosen != nullptr) {
      std::lock_guard<std::mutex> hold(slots_lock);
      chosen->imported = false;
    }
    close(fd);
    return;
  }
  std::printf("sorbel-usbip: %s imported\n", chosen->busid.c_str());
  std::fflush(stdout);
  std::thread(Serve, fd, std::ref(*chosen)).detach();
}

int Usage(const char* why) {
  std::fprintf(stderr,
               "sorbel-usbip: %s\nusage: sorbel-usbip [--port N] [--bus B] [--out DIR] "
               "[--ready FILE] DEVICE...\n",
               why);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 3240;
  std::string out_dir;
  std::string ready;
  std::vector<usbip_sim::DeviceSpec> specs;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--port" && has_value) {
      port = std::atoi(argv[++i]);
    } else if (arg == "--bus" && has_value) {
      bus = static_cast<unsigned>(std::atoi(argv[++i]));
    } else if (arg == "--out" && has_value) {
      out_dir = argv[++i];
    } else if (arg == "--ready" && has_value) {
      ready = argv[++i];
    } else {
      usbip_sim::DeviceSpec spec;
      std::string error;
      if (!usbip_sim::ParseDeviceSpec(arg, spec, error)) return Usage(error.c_str());
      specs.push_back(spec);
    }
  }
  if (specs.empty()) return Usage("no device");
  if (port <= 0 || port > 65535 || bus == 0 || bus > 127) return Usage("unusable port or bus");
  slots.resize(specs.size());
  for (std::size_t k = 0; k < specs.size(); ++k) {
    Slot& slot = slots[k];
    slot.busid = std::to_string(bus) + "-" + std::to_string(k + 1);
    slot.devnum = static_cast<int>(k + 2);
    slot.device = usbip_sim::MakeDevice(specs[k], SORBEL_SIM_MANUFACTURER);
    if (out_dir.empty()) continue;
    const std::string base = out_dir + "/" + slot.busid;
    slot.log = std::fopen((base + ".log").c_str(), "w");
    if (specs[k].kind != usbip_sim::Kind::kBootloader) {
      if (slot.log != nullptr) continue;
      std::fprintf(stderr, "sorbel-usbip: cannot write %s.log\n", base.c_str());
      return 1;
    }
    if (slot.log != nullptr) {
      slot.device->bootloader->log = LogLine;
      slot.device->bootloader->log_context = slot.log;
    }
    slot.flash_fd = open((base + ".bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (slot.log == nullptr || slot.flash_fd < 0) {
      std::fprintf(stderr, "sorbel-usbip: cannot write %s.bin and .log\n", base.c_str());
      return 1;
    }
    WriteFlash(slot, 0, sorbel_sim::kMaxFlashSize);  // erased
  }

  signal(SIGPIPE, SIG_IGN);
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0) {
    std::fprintf(stderr, "sorbel-usbip: cannot listen on 127.0.0.1:%d: %s\n", port,
                 std::strerror(errno));
    return 1;
  }
  std::printf("sorbel-usbip: %zu device(s) on 127.0.0.1:%d\n", slots.size(), port);
  std::fflush(stdout);
  if (!ready.empty()) {
    if (std::FILE* file = std::fopen(ready.c_str(), "w")) std::fclose(file);
  }
  for (;;) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "sorbel-usbip: accept: %s\n", std::strerror(errno));
      return 1;
    }
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Welcome(fd);
  }
}
