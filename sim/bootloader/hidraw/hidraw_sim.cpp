// libsorbel-hidraw-sim.so: preloaded into the Linux hex-upload, it makes
// simulated bootloader nodes appear. It lists them first in /sys/class/hidraw,
// answers the libudev device lookups for them, and open, fstat, ioctl and
// close of their files; everything else goes on to the real libudev and libc.
// Settings come from the environment:
//   SORBEL_SIM_PAGE_SIZE, SORBEL_SIM_FLASH_SIZE, SORBEL_SIM_FAIL_BLOCK,
//   SORBEL_SIM_FLASH_OUT, SORBEL_SIM_LOG, SORBEL_SIM_ABSENT=1 as for
//   hex-upload-sim; SORBEL_SIM_DENY=1 (opening a node fails with EACCES);
//   SORBEL_SIM_EXTRA=<product> (a device with the same ids and this product
//   string, at 9-3, listed before the bootloaders); SORBEL_SIM_FAULTS=
//   <fault>,... (a node that looks like the bootloader for each of silent,
//   vanishing and not-hidraw, at 9-5 and on, listed after the extra device
//   and before the bootloaders); SORBEL_SIM_KEYBOARD=1 (a keyboard at 9-2,
//   listed first, that complains on stderr whenever it is opened);
//   SORBEL_SIM_DEVICES, SORBEL_SIM_LOCKED (at
//   9-4), SORBEL_SIM_REPORT_DELAY and each bootloader's own settings as for
//   hex-upload-sim. Bootloader k sits at 9-1.k. flock on a node's file locks
//   the node within the process, or, with SORBEL_SIM_LOCK_DIR=<folder>,
//   across the processes that name that folder (through a file per node in
//   it), as the kernel locks a device node for every program.
//   SORBEL_SIM_APPEAR_AFTER=<n>: each bootloader is plugged in only at the
//   n-th listing; SORBEL_SIM_LEAVE_WRITTEN=1: a bootloader that got its
//   closing report leaves the bus at the next listing, as a board that
//   starts its program does (SORBEL_SIM_REPLUG_AFTER then brings the next).
// The program's threads may write several devices at once: the tables are
// guarded by one lock, each model by its own, and a report's delay holds
// neither.
#undef _FORTIFY_SOURCE  // the checked inline variants of open would clash with ours

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <mutex>
#include <string>

#include "sim/bootloader/hidraw/hidraw_nodes.h"
#include "sim/bootloader/hex-upload-sim/sim_environment.h"
#include "upload/upload.h"

#define SORBEL_EXPORT extern "C" __attribute__((visibility("default")))

namespace sorbel_sim::hidraw {
namespace {

constexpr char kProgram[] = "libsorbel-hidraw-sim";
constexpr int kMaxOpenFiles = 16;
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
  int lock_fd = -1;  // the node's lock file in SORBEL_SIM_LOCK_DIR, once locked
};

struct Board {
  Bootloader device;
  SimBootloader setup;
  std::FILE* log = nullptr;
  int searches_unplugged = 0;  // listings since it was pulled out
  std::mutex lock;
};

struct Simulation {
  bool ready = false;
  bool deny = false;
  bool leave_written = false;  // each board leaves the bus once written
  const char* lock_dir = nullptr;
  SimEnvironment environment;
  int lock_holders[kMaxNodes];  // the file that holds each node's lock, or -1
  Board boards[kMaxSimBootloaders];
  std::mutex node_locks[kMaxNodes];
  std::mutex lock;  // the tables of open files and listings
  NodeTable table;
  FakeDevice devices[kMaxNodes][kLevelCount];
  Listing listings[kMaxListings];
  OpenFile files[kMaxOpenFiles];
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

// -1 before the simulation starts: until then the table holds only zeros.
int NodeOfFile(int fd) {
  if (!simulation.ready || fd < 0) return -1;
  std::lock_guard<std::mutex> locked(simulation.lock);
  for (auto& file : simulation.files)
    if (file.fd == fd) return file.node;
  return -1;
}

// The time a real device needs for a report, then the model under its lock.
int DeviceIoctl(int node, unsigned long request, void* argument) {
  constexpr unsigned long kFeatureRequests[] = {HIDIOCGFEATURE(0), HIDIOCSFEATURE(0)};
  constexpr unsigned long kSizeBits = static_cast<unsigned long>(_IOC_SIZEMASK) << _IOC_SIZESHIFT;
  unsigned delay = simulation.environment.report_delay_ms;
  for (unsigned long feature : kFeatureRequests) {
    if (delay > 0 && (request & ~kSizeBits) == (feature & ~kSizeBits)) {
      timespec pause{static_cast<time_t>(delay / 1000), static_cast<long>(delay % 1000) * 1000000L};
      while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
      }
    }
  }
  int error = 0;
  std::lock_guard<std::mutex> locked(simulation.node_locks[node]);
  int result = Ioctl(simulation.table.nodes[node], request, argument, error);
  if (result < 0) errno = error;
  return result;
}

// The node of a file that answers as hidraw; a node that is not hidraw leaves
// its requests to the real file it opened.
int HidrawNodeOf(int fd) {
  int node = NodeOfFile(fd);
  if (node < 0 || simulation.table.nodes[node].fault == Fault::kNotHidraw) return -1;
  return node;
}

void Start() {
  Simulation& s = simulation;
  s.environment = ReadSimEnvironment(kProgram);
  s.deny = FlagSetting("SORBEL_SIM_DENY");
  s.lock_dir = TextSetting("SORBEL_SIM_LOCK_DIR");
  s.leave_written = FlagSetting("SORBEL_SIM_LEAVE_WRITTEN");
  int appear_after = static_cast<int>(NumberSetting(kProgram, "SORBEL_SIM_APPEAR_AFTER", 0));
  for (int& holder : s.lock_holders) holder = -1;
  std::string_view manufacturer = hex_upload::kManufacturer;
  if (FlagSetting("SORBEL_SIM_KEYBOARD"))
    AddNode(s.table, "9-2", "Keyboard maker", "Keyboard", nullptr, 0x046D, 0xC31C);
  if (const char* extra = TextSetting("SORBEL_SIM_EXTRA")) {
    if (std::strlen(extra) >= sizeof(Node::product)) {
      std::fprintf(stderr, "%s: ignoring SORBEL_SIM_EXTRA (at most %zu bytes)\n", kProgram,
                   sizeof(Node::product) - 1);
    } else {
      AddNode(s.table, "9-3", manufacturer, extra, nullptr);
    }
  }
  if (const char* faults = TextSetting("SORBEL_SIM_FAULTS")) {
    if (!AddFaultyNodes(s.table, manufacturer, hex_upload::kProduct, faults))
      std::fprintf(stderr, "%s: ignoring part of SORBEL_SIM_FAULTS=%s\n", kProgram, faults);
  }
  for (int k = 1; k <= s.environment.bootloaders; ++k) {
    Board& board = s.boards[k - 1];
    board.setup = ReadSimBootloader(kProgram, s.environment, k);
    ApplySimBootloader(board.device, board.setup);
    if (appear_after > 0) AppearAfter(board.device, appear_after);
    LeaveWhenWritten(board.device, s.leave_written);
    if (!board.setup.log_path.empty()) {
      board.log = StartReportLog(board.device, board.setup.log_path.c_str());
      if (board.log == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s\n", kProgram, board.setup.log_path.c_str());
        _exit(1);
      }
    }
    char port[16];
    std::snprintf(port, sizeof port, "9-1.%d", k);
    if (s.environment.present)
      AddNode(s.table, port, manufacturer, hex_upload::kProduct, &board.device);
  }
  if (s.environment.locked && AddNode(s.table, "9-4", manufacturer, hex_upload::kProduct, nullptr))
    s.table.nodes[s.table.count - 1].locked = true;
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
  for (int k = 0; k < s.environment.bootloaders; ++k) {
    Board& board = s.boards[k];
    if (board.log != nullptr) std::fclose(board.log);
    const std::string& flash_out = board.setup.flash_out;
    if (!flash_out.empty() && !WriteFlash(board.device, flash_out.c_str())) {
      std::fprintf(stderr, "%s: cannot write %s\n", kProgram, flash_out.c_str());
      failed = true;
    }
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
  const Node& opened = simulation.table.nodes[node];
  // Its first open would power a real keyboard up and start it.
  if (opened.vendor_id != kBootloaderVendorId || opened.product_id != kBootloaderProductId)
    std::fprintf(stderr, "%s: %s, a keyboard, opened\n", kProgram, opened.devnode.data());
  if (simulation.deny || simulation.table.nodes[node].locked) {
    errno = EACCES;
    return -1;
  }
  std::lock_guard<std::mutex> locked(simulation.lock);
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

// A real kernel locks the device node, whichever open file asks.
int LockNode(int fd, int node, int operation) {
  Simulation& s = simulation;
  std::lock_guard<std::mutex> locked(s.lock);
  OpenFile* file = nullptr;
  for (auto& candidate : s.files)
    if (candidate.fd == fd) file = &candidate;
  if (file == nullptr) {
    errno = EBADF;
    return -1;
  }
  if (s.lock_dir != nullptr) {
    if (file->lock_fd < 0) {
      std::string path = std::string(s.lock_dir) + "/" + std::string(NodeName(s.table.nodes[node]));
      file->lock_fd = REAL(open)(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (file->lock_fd < 0) return -1;
    }
    return REAL(flock)(file->lock_fd, operation);
  }
  int& holder = s.lock_holders[node];
  if ((operation & LOCK_UN) != 0) {
    if (holder == fd) holder = -1;
    return 0;
  }
  if (holder >= 0 && holder != fd) {
    errno = EWOULDBLOCK;
    return -1;
  }
  holder = fd;
  return 0;
}

// Each listing of the hidraw class is a search: a board pulled out comes
// back as another board once its number of searches has passed.
void PlugInBoards() {
  Simulation& s = simulation;
  for (int k = 0; k < s.environment.bootloaders; ++k) {
    Board& board = s.boards[k];
    for (int node = 0; node < s.table.count; ++node) {
      if (s.table.nodes[node].bootloader != &board.device) continue;
      std::lock_guard<std::mutex> locked(s.node_locks[node]);
      if (!Look(board.device)) continue;
      if (board.setup.replug_after <= 0 || !Unplugged(board.device)) continue;
      if (++board.searches_unplugged < board.setup.replug_after) continue;
      board.searches_unplugged = 0;
      PlugInAnother(board.device);
    }
  }
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
  if (simulation.ready && fd >= 0) {
    std::lock_guard<std::mutex> locked(simulation.lock);
    for (auto& file : simulation.files) {
      if (file.fd != fd) continue;
      if (file.lock_fd >= 0) REAL(close)(file.lock_fd);
      if (simulation.lock_holders[file.node] == fd) simulation.lock_holders[file.node] = -1;
      file = OpenFile{};
    }
  }
  return REAL(close)(fd);
}

SORBEL_EXPORT int flock(int fd, int operation) __THROW {
  int node = HidrawNodeOf(fd);
  if (node < 0) return REAL(flock)(fd, operation);
  return LockNode(fd, node, operation);
}

SORBEL_EXPORT int fstat(int fd, struct stat* status) __THROW {
  int node = HidrawNodeOf(fd);
  if (node < 0) return REAL(fstat)(fd, status);
  *status = {};
  status->st_mode = S_IFCHR | 0660;
  status->st_rdev = DeviceNumber(node);
  status->st_blksize = 4096;
  return 0;
}

SORBEL_EXPORT int ioctl(int fd, unsigned long request, ...) __THROW {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  int node = HidrawNodeOf(fd);
  if (node < 0) return REAL(ioctl)(fd, request, argument);
  return DeviceIoctl(node, request, argument);
}

SORBEL_EXPORT DIR* opendir(const char* path) {
  if (!simulation.ready || simulation.table.count == 0 || std::strcmp(path, kHidrawClass) != 0)
    return REAL(opendir)(path);
  PlugInBoards();
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
         !Present(simulation.table.nodes[listing->next_node]))
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
