// libsorbel-hidraw-sim.so: preloaded into the Linux hex-upload, it makes
// simulated bootloader nodes appear. It lists them first in /sys/class/hidraw,
// answers the libudev device lookups for them, and open, fstat, ioctl and
// close of their files; everything else goes on to the real libudev and libc.
// Settings come from the environment:
//   SORBEL_SIM_PAGE_SIZE, SORBEL_SIM_FLASH_SIZE, SORBEL_SIM_FAIL_BLOCK,
//   SORBEL_SIM_FLASH_OUT, SORBEL_SIM_LOG, SORBEL_SIM_ABSENT=1 as for
//   hex-upload-sim; SORBEL_SIM_DENY=1 (opening a node fails with EACCES);
//   SORBEL_SIM_EXTRA=<product> (a device with the same ids and this product
//   string, listed before the bootloader); SORBEL_SIM_FAULTS=<fault>,... (a
//   node that looks like the bootloader for each of silent, vanishing and
//   not-hidraw, listed after the extra device and before the bootloader).
// The program is single-threaded, and so is this library.
#undef _FORTIFY_SOURCE  // the checked inline variants of open would clash with ours

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <libudev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "sim/bootloader/hidraw/hidraw_nodes.h"
#include "sim/bootloader/hex-upload-sim/sim_environment.h"
#include "upload/upload.h"

#define SORBEL_EXPORT extern "C" __attribute__((visibility("default")))

namespace sorbel_sim::hidraw {
namespace {

constexpr char kProgram[] = "libsorbel-hidraw-sim";
constexpr int kMaxOpenFiles = 8;
constexpr int kMaxListings = 4;
constexpr char kHidrawClass[] = "/sys/class/hidraw";

// A udev device object of ours: one level of one node.
struct FakeDevice {
  int node;
  Level level;
};

// A listing of the hidraw class folder that starts with our nodes and goes on
// with the real folder, if there is one. The descriptor comes first, where
// the C library's dirfd looks for it.
struct Listing {
  int fd = -1;
  bool used = false;
  DIR* real = nullptr;
  int next_node = 0;
  dirent entry{};
};

struct OpenFile {
  int fd = -1;
  int node = -1;
};

struct Simulation {
  bool ready = false;
  bool deny = false;
  SimEnvironment environment;
  Bootloader device;
  NodeTable table;
  FakeDevice devices[kMaxNodes][kLevelCount];
  Listing listings[kMaxListings];
  OpenFile files[kMaxOpenFiles];
  std::FILE* log = nullptr;
};

Simulation simulation;

// The next definition after ours: libc's or libudev's (or a sanitizer's, when
// its runtime was preloaded first).
template <typename Function>
Function* Real(Function* /*ours*/, const char* name) {
  return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}
#define REAL(function)                              \
  ([] {                                             \
    static auto* real = Real(&function, #function); \
    return real;                                    \
  }())

FakeDevice* AsFake(udev_device* device) {
  auto* address = reinterpret_cast<FakeDevice*>(device);
  FakeDevice* first = &simulation.devices[0][0];
  if (address < first || address >= first + kMaxNodes * kLevelCount) return nullptr;
  return address;
}

udev_device* AsUdev(int node, Level level) {
  return reinterpret_cast<udev_device*>(&simulation.devices[node][static_cast<int>(level)]);
}

Listing* AsListing(DIR* folder) {
  for (auto& candidate : simulation.listings)
    if (reinterpret_cast<DIR*>(&candidate) == folder && candidate.used) return &candidate;
  return nullptr;
}

// Null before the simulation starts: until then the table holds only zeros.
OpenFile* FileOf(int fd) {
  if (!simulation.ready) return nullptr;
  for (auto& file : simulation.files)
    if (file.fd == fd && fd >= 0) return &file;
  return nullptr;
}

// The file of a node that answers as hidraw; a node that is not hidraw leaves
// its requests to the real file it opened.
OpenFile* HidrawFileOf(int fd) {
  OpenFile* file = FileOf(fd);
  if (file == nullptr || simulation.table.nodes[file->node].fault == Fault::kNotHidraw)
    return nullptr;
  return file;
}

void Start() {
  Simulation& s = simulation;
  s.environment = ReadSimEnvironment(kProgram);
  ApplySimEnvironment(s.device, s.environment);
  s.deny = FlagSetting("SORBEL_SIM_DENY");
  if (s.environment.log_path != nullptr) {
    s.log = StartReportLog(s.device, s.environment.log_path);
    if (s.log == nullptr) {
      std::fprintf(stderr, "%s: cannot write %s\n", kProgram, s.environment.log_path);
      _exit(1);
    }
  }
  std::string_view manufacturer = hex_upload::kManufacturer;
  if (const char* extra = TextSetting("SORBEL_SIM_EXTRA")) {
    if (std::strlen(extra) >= sizeof(Node::product)) {
      std::fprintf(stderr, "%s: ignoring SORBEL_SIM_EXTRA (at most %zu bytes)\n", kProgram,
                   sizeof(Node::product) - 1);
    } else {
      AddNode(s.table, manufacturer, extra, nullptr);
    }
  }
  if (const char* faults = TextSetting("SORBEL_SIM_FAULTS")) {
    if (!AddFaultyNodes(s.table, manufacturer, hex_upload::kProduct, faults))
      std::fprintf(stderr, "%s: ignoring part of SORBEL_SIM_FAULTS=%s\n", kProgram, faults);
  }
  if (s.environment.present) AddNode(s.table, manufacturer, hex_upload::kProduct, &s.device);
  for (int node = 0; node < kMaxNodes; ++node)
    for (int level = 0; level < kLevelCount; ++level)
      s.devices[node][level] = FakeDevice{node, static_cast<Level>(level)};
  s.ready = true;
}

void Finish() {
  Simulation& s = simulation;
  if (!s.ready) return;
  s.ready = false;
  bool failed = false;
  for (const OpenFile& file : s.files) {
    if (file.fd >= 0) {
      std::fprintf(stderr, "%s: %s still open at exit\n", kProgram,
                   s.table.nodes[file.node].devnode.data());
      failed = true;
    }
  }
  if (s.log != nullptr) std::fclose(s.log);
  if (s.environment.flash_out != nullptr && !WriteFlash(s.device, s.environment.flash_out)) {
    std::fprintf(stderr, "%s: cannot write %s\n", kProgram, s.environment.flash_out);
    failed = true;
  }
  if (failed) _exit(1);
}

// After `simulation` in this file, so that it runs once that is initialised.
struct Lifetime {
  Lifetime() { Start(); }
  ~Lifetime() { Finish(); }
  Lifetime(const Lifetime&) = delete;
  Lifetime& operator=(const Lifetime&) = delete;
} lifetime;

int OpenNode(int node) {
  if (simulation.deny) {
    errno = EACCES;
    return -1;
  }
  OpenFile* slot = nullptr;
  for (auto& file : simulation.files) {
    if (file.fd < 0) {
      slot = &file;
      break;
    }
  }
  if (slot == nullptr) {
    errno = EMFILE;
    return -1;
  }
  // A real descriptor keeps the number unique and harmless for calls we pass on.
  int fd = REAL(open)("/dev/null", O_RDWR | O_CLOEXEC);
  if (fd < 0) return -1;
  *slot = OpenFile{fd, node};
  Opened(simulation.table.nodes[node]);
  return fd;
}

bool TakesMode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

int OpenPath(int (*real)(const char*, int, ...), const char* path, int flags, mode_t mode) {
  int node = simulation.ready ? NodeOfDevnode(simulation.table, path) : -1;
  return node >= 0 ? OpenNode(node) : real(path, flags, mode);
}

}  // namespace
}  // namespace sorbel_sim::hidraw

using namespace sorbel_sim::hidraw;

// ---- libc ----

SORBEL_EXPORT int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = TakesMode(flags) ? va_arg(arguments, mode_t) : 0;
  va_end(arguments);
  return OpenPath(REAL(open), path, flags, mode);
}

SORBEL_EXPORT int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = TakesMode(flags) ? va_arg(arguments, mode_t) : 0;
  va_end(arguments);
  return OpenPath(REAL(open64), path, flags, mode);
}

SORBEL_EXPORT int close(int fd) {
  if (OpenFile* file = FileOf(fd)) *file = OpenFile{};
  return REAL(close)(fd);
}

SORBEL_EXPORT int fstat(int fd, struct stat* status) __THROW {
  OpenFile* file = HidrawFileOf(fd);
  if (file == nullptr) return REAL(fstat)(fd, status);
  *status = {};
  status->st_mode = S_IFCHR | 0660;
  status->st_rdev = DeviceNumber(file->node);
  status->st_blksize = 4096;
  return 0;
}

SORBEL_EXPORT int ioctl(int fd, unsigned long request, ...) __THROW {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  OpenFile* file = HidrawFileOf(fd);
  if (file == nullptr) return REAL(ioctl)(fd, request, argument);
  int error = 0;
  int result = Ioctl(simulation.table.nodes[file->node], request, argument, error);
  if (result < 0) errno = error;
  return result;
}

SORBEL_EXPORT DIR* opendir(const char* path) {
  if (!simulation.ready || simulation.table.count == 0 || std::strcmp(path, kHidrawClass) != 0)
    return REAL(opendir)(path);
  for (auto& listing : simulation.listings) {
    if (listing.used) continue;
    listing = Listing{};
    listing.used = true;
    listing.real = REAL(opendir)(path);  // none where no hidraw driver is loaded
    listing.fd = listing.real != nullptr ? dirfd(listing.real) : -1;
    return reinterpret_cast<DIR*>(&listing);
  }
  errno = EMFILE;
  return nullptr;
}

SORBEL_EXPORT dirent* readdir(DIR* folder) {
  Listing* listing = AsListing(folder);
  if (listing == nullptr) return REAL(readdir)(folder);
  while (listing->next_node < simulation.table.count &&
         simulation.table.nodes[listing->next_node].gone)
    ++listing->next_node;
  if (listing->next_node == simulation.table.count)
    return listing->real != nullptr ? REAL(readdir)(listing->real) : nullptr;
  std::string_view name = NodeName(simulation.table.nodes[listing->next_node++]);
  dirent& entry = listing->entry;
  entry = dirent{};
  entry.d_type = DT_LNK;
  entry.d_reclen = sizeof entry;
  std::snprintf(entry.d_name, sizeof entry.d_name, "%.*s", static_cast<int>(name.size()),
                name.data());
  return &entry;
}

SORBEL_EXPORT int closedir(DIR* folder) {
  Listing* listing = AsListing(folder);
  if (listing == nullptr) return REAL(closedir)(folder);
  int result = listing->real != nullptr ? REAL(closedir)(listing->real) : 0;
  *listing = Listing{};
  return result;
}

// ---- libudev ----

SORBEL_EXPORT udev_device* udev_device_new_from_syspath(udev* context, const char* syspath) {
  int node = simulation.ready ? NodeOfSyspath(simulation.table, syspath) : -1;
  if (node < 0) return REAL(udev_device_new_from_syspath)(context, syspath);
  return AsUdev(node, Level::kHidraw);
}

SORBEL_EXPORT udev_device* udev_device_new_from_devnum(udev* context, char type, dev_t devnum) {
  int node = simulation.ready && type == 'c' ? NodeOfDeviceNumber(simulation.table, devnum) : -1;
  if (node < 0) return REAL(udev_device_new_from_devnum)(context, type, devnum);
  return AsUdev(node, Level::kHidraw);
}

// Ours live as long as the library.
SORBEL_EXPORT udev_device* udev_device_unref(udev_device* device) {
  if (AsFake(device) != nullptr) return nullptr;
  return REAL(udev_device_unref)(device);
}

SORBEL_EXPORT udev_device* udev_device_ref(udev_device* device) {
  if (AsFake(device) != nullptr) return device;
  return REAL(udev_device_ref)(device);
}

SORBEL_EXPORT udev_device* udev_device_get_parent_with_subsystem_devtype(udev_device* device,
                                                                         const char* subsystem,
                                                                         const char* devtype) {
  FakeDevice* fake = AsFake(device);
  if (fake == nullptr)
    return REAL(udev_device_get_parent_with_subsystem_devtype)(device, subsystem, devtype);
  Level parent;
  if (!ParentLevel(fake->level, subsystem, devtype, parent)) return nullptr;
  return AsUdev(fake->node, parent);
}

SORBEL_EXPORT const char* udev_device_get_syspath(udev_device* device) {
  FakeDevice* fake = AsFake(device);
  if (fake == nullptr) return REAL(udev_device_get_syspath)(device);
  return simulation.table.nodes[fake->node].syspaths[static_cast<int>(fake->level)].data();
}

SORBEL_EXPORT const char* udev_device_get_devnode(udev_device* device) {
  FakeDevice* fake = AsFake(device);
  if (fake == nullptr) return REAL(udev_device_get_devnode)(device);
  return fake->level == Level::kHidraw ? simulation.table.nodes[fake->node].devnode.data()
                                       : nullptr;
}

SORBEL_EXPORT const char* udev_device_get_sysattr_value(udev_device* device, const char* name) {
  FakeDevice* fake = AsFake(device);
  if (fake == nullptr) return REAL(udev_device_get_sysattr_value)(device, name);
  return Attribute(simulation.table.nodes[fake->node], fake->level, name);
}
