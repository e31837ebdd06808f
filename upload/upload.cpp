#include "upload/upload.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <new>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "upload/hid_device.h"
#include "upload/sha256.h"

namespace hex_upload {
namespace {

constexpr uint8_t kInfoReportId = 1;
constexpr uint8_t kDataReportId = 2;
constexpr uint8_t kClosingReportId = 1;

// One device's run of attempts: its own resume point and flags, the image
// shared with every other device's run.
struct DeviceRun {
  const FirmwareImage* image;
  int32_t start_address;
  int32_t end_address;
  bool device_seen = false;
  bool info_shown = false;
  const char* product = kProduct;  // the product string the device must report
  // Only the device at this place; null: the first found, whose place every
  // later attempt then keeps to.
  const char* place = nullptr;
  std::array<char, kMaxPlaceSize> found_place{};
  int32_t first_address = 0;  // where the file's data begin
  // Writing several at once: one line at each tenth of the range instead of
  // a line that every block overwrites.
  bool tenths = false;
  int32_t range_start = 0;
  int32_t range_end = 0;
  int tenths_shown = 0;
};

// The search and the close hold the platform's lock: the list and the
// opening are shared by the threads of a run over several devices.
struct Locked {
  HidPlatform& hid;
  HidPlatform::Guarded guarded;
  explicit Locked(HidPlatform& platform, HidPlatform::Guarded what = HidPlatform::kDevices)
      : hid(platform), guarded(what) {
    hid.Lock(guarded);
  }
  ~Locked() { hid.Unlock(guarded); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

int Search(HidPlatform& hid, HidHandle& device, const char* product, const char* place,
           std::span<char> found_place = {}) {
  Locked locked(hid);
  return OpenBootDevice(hid, device, kVendorId, kManufacturer, kProductId, product, place,
                        found_place);
}

void Close(HidPlatform& hid, HidHandle device) {
  Locked locked(hid);
  CloseBootDevice(hid, device);
}

// The opened device for this run alone: another program's writes would mix
// with ours in the bootloader.
int ClaimDevice(DeviceRun& run, HidPlatform& hid, Output& out, HidHandle device) {
  const char* place = run.found_place[0] != 0 ? run.found_place.data() : nullptr;
  HidClaimResult claim;
  {
    Locked locked(hid);
    claim = hid.Claim(device, place);
  }
  // A system that cannot lock at all leaves the device as it always was.
  if (claim != HidClaimResult::kBusy) return kUsbSuccess;
  Close(hid, device);
  Print(out, "The Sorbel device at %s is in use by another program\n",
        place != nullptr ? place : "-");
  return kUsbDeviceBusy;
}

int OpenDevice(DeviceRun& run, HidPlatform& hid, Output& out, HidHandle& device) {
  for (int opens = 1;; ++opens) {
    int result = Search(hid, device, run.product, run.place, run.found_place);
    if (result == kUsbSuccess) {
      // Once a board is opened, every later attempt looks only at its place:
      // another board must never get the rest of this one's image.
      if (run.place == nullptr && run.found_place[0] != 0) run.place = run.found_place.data();
      return ClaimDevice(run, hid, out, device);
    }
    // A board cannot be told from another by its answers: once the place
    // was empty, the board there may be another, so the image goes again
    // from its first block. The bootloader writes whole pages.
    if (result == kUsbDeviceNotFound && run.device_seen) {
      run.start_address = run.first_address;
      run.tenths_shown = 0;
    }
    Print(out, "Error opening Sorbel device: %s\n", UsbErrorText(result));
    // Without a device seen yet the attempts follow each other at once;
    // once seen, it gets one more chance, as it may be re-enumerating.
    if (!run.device_seen || opens == 2) return result;
    hid.SleepMs(kReopenPauseMs);
  }
}

// Bytes of the image from address on; past the image's end blocks carry 0xFF.
void FillBlock(const FirmwareImage& image, int32_t address, std::span<uint8_t> block) {
  for (size_t i = 0; i < block.size(); ++i) {
    int64_t at = int64_t{address} + static_cast<int64_t>(i);
    block[i] = at >= 0 && at < kImageSize ? image[static_cast<size_t>(at)] : 0xFF;
  }
}

void ShowTenths(DeviceRun& run, Output& out) {
  // Within the image and its last page: no product here leaves 32 bits.
  int32_t range = run.range_end - run.range_start;
  if (range <= 0) return;
  int tenth = (run.start_address - run.range_start) * kProgressSteps / range;
  if (tenth <= run.tenths_shown) return;
  run.tenths_shown = tenth;
  Print(out, "%3d%% written, up to 0x%05x\n", tenth * 100 / kProgressSteps,
        static_cast<unsigned>(run.start_address));
}

int SendBlocks(DeviceRun& run, int32_t end, HidPlatform& hid, Output& out, HidHandle device,
               std::array<uint8_t, kDataReportSize>& buffer) {
  while (run.start_address < end) {
    auto address = static_cast<uint32_t>(run.start_address);
    buffer[0] = kDataReportId;
    buffer[1] = static_cast<uint8_t>(address);
    buffer[2] = static_cast<uint8_t>(address >> 8);
    buffer[3] = static_cast<uint8_t>(address >> 16);
    FillBlock(*run.image, run.start_address, std::span(buffer).subspan(4));
    if (!run.tenths)
      Print(out, "\r0x%05x ... 0x%05x", static_cast<unsigned>(address),
            static_cast<unsigned>(address + kBlockSize));
    int result = SendReport(hid, device, kFeatureReport, buffer);
    if (result != kUsbSuccess) {
      if (run.tenths)
        Print(out, "Error uploading data block 0x%05x: %s\n", static_cast<unsigned>(address),
              UsbErrorText(result));
      else
        Print(out, " Error uploading data block: %s\n", UsbErrorText(result));
      return result;
    }
    run.start_address += kBlockSize;
    if (run.tenths) ShowTenths(run, out);
  }
  return kUsbSuccess;
}

// Everything after the open; the caller closes the device.
int UploadTo(DeviceRun& run, HidPlatform& hid, Output& out, HidHandle device) {
  std::array<uint8_t, kDataReportSize> buffer{};
  size_t length = buffer.size();
  int result = ReceiveReport(hid, device, kFeatureReport, kInfoReportId, buffer, length);
  if (result != kUsbSuccess) {
    Print(out, "Error reading page size: %s\n", UsbErrorText(result));
    return result;
  }
  if (length < kMinInfoReportSize) {
    Print(out, "Not enough bytes in device info report (%d instead of %d)\n",
          static_cast<int>(length), static_cast<int>(kMinInfoReportSize));
    return kUploadRuledOut;
  }
  int32_t page_size = buffer[1] | buffer[2] << 8;
  auto flash_size = static_cast<int32_t>(buffer[3] | buffer[4] << 8 | buffer[5] << 16 |
                                         static_cast<uint32_t>(buffer[6]) << 24);
  // Compared in 64 bits: a flash size near the bottom of the int range must
  // not wrap round to a large remainder.
  int64_t remaining = int64_t{flash_size} - kBootloaderReserve;
  if (!run.info_shown) {
    Print(out, "Page size   = %d (0x%x)\n", page_size, static_cast<unsigned>(page_size));
    Print(out, "Device size = %d (0x%x); %d bytes remaining\n", flash_size,
          static_cast<unsigned>(flash_size),
          static_cast<int32_t>(static_cast<uint32_t>(flash_size) - kBootloaderReserve));
  }
  // The file's own end, not one an earlier attempt rounded: a device that
  // answers another page size now must not be held to the old pages.
  if (run.end_address > remaining) {
    Print(out, "Data (%d bytes) exceeds remaining flash size!\n", run.end_address);
    return kUploadRuledOut;
  }
  if (page_size >= kBlockSize && (page_size & (page_size - 1)) != 0) {
    // Its mask would not be a page: blocks would go off every page boundary.
    Print(out, "Page size (%d bytes) is not a power of two!\n", page_size);
    return kUploadRuledOut;
  }
  int32_t mask = page_size >= kBlockSize ? page_size - 1 : kBlockSize - 1;
  int32_t end = (run.end_address + mask) & ~mask;
  // Rounded up to a page, the data may reach into the bootloader's own area.
  if (end > remaining) {
    Print(out, "Data (%d bytes) exceeds remaining flash size!\n", end);
    return kUploadRuledOut;
  }
  run.start_address &= ~mask;
  if (!run.info_shown) {
    int32_t size = end - run.start_address;
    Print(out, "Uploading %d (0x%x) bytes starting at %d (0x%x)\n", size,
          static_cast<unsigned>(size), run.start_address, static_cast<unsigned>(run.start_address));
    run.info_shown = true;
    run.range_start = run.start_address;
    run.range_end = end;
  }
  result = SendBlocks(run, end, hid, out, device, buffer);
  if (result != kUsbSuccess) return result;
  if (!run.tenths) out.Write("\n");
  // The closing report's bytes 1..6 are what the last block left in the
  // buffer; the device only looks at the id. Its fate does not matter.
  buffer[0] = kClosingReportId;
  SendReport(hid, device, kFeatureReport, std::span(buffer).first(kClosingReportSize));
  return kUsbSuccess;
}

int Attempt(DeviceRun& run, HidPlatform& hid, Output& out) {
  HidHandle device = nullptr;
  int result = OpenDevice(run, hid, out, device);
  if (result != kUsbSuccess) return result;
  run.device_seen = true;
  result = UploadTo(run, hid, out, device);
  Close(hid, device);
  return result;
}

// Up to kMaxAttempts; kUsbSuccess when one succeeded and said so, else the
// last attempt's result. A device that another program holds ends the run at
// once: retrying would only race that program.
int RunAttempts(DeviceRun& run, HidPlatform& hid, Output& out, int* attempts = nullptr) {
  int result = kUsbDeviceNotFound;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    if (attempts != nullptr) *attempts = attempt + 1;
    result = Attempt(run, hid, out);
    if (result == kUsbSuccess) {
      Print(out, "The firmware is written successfully after %i retries.\n", attempt);
      break;
    }
    if (result == kUsbDeviceBusy) break;
  }
  return result;
}

int SearchDevice(HidPlatform& hid, const char* product, const char* place) {
  HidHandle device = nullptr;
  int result = Search(hid, device, product, place);
  if (result == kUsbSuccess) Close(hid, device);
  return result;
}

size_t Survey(HidPlatform& hid, const char* product, std::span<SurveyedDevice> devices) {
  Locked locked(hid);
  return SurveyDevices(hid, kVendorId, kManufacturer, kProductId, product, devices);
}

// What --list says of each DeviceCheck, in its order.
constexpr const char* kCheckTexts[] = {
    "ready",
    "other manufacturer",
    "other product",
    "strings unreadable",
#ifdef __linux__
    "no access: the udev rule 70-sorbel-bootloader.rules is missing (see the README)",
#else
    "no access",
#endif
    "cannot be opened",
};

// With several bootloaders attached, says which one the run writes.
void NoteSeveral(HidPlatform& hid, Output& out, const char* product) {
  std::array<SurveyedDevice, kMaxSurveyed> devices;
  size_t count = Survey(hid, product, devices);
  int wanted = 0;
  const SurveyedDevice* first_ready = nullptr;
  for (size_t i = 0; i < count; ++i) {
    wanted += IsWanted(devices[i].check);
    if (first_ready == nullptr && devices[i].check == DeviceCheck::kReady)
      first_ready = &devices[i];
  }
  if (wanted < 2 || first_ready == nullptr) return;
  Print(out,
        "Note: %d Sorbel devices are attached; writing the one at %s "
        "(--list lists them, -d PLACE picks one)\n",
        wanted, first_ready->place.data());
}

// The surveyed Sorbel bootloaders, each place once, moved to the front;
// returns their count. A place is a device: one listed twice is one board.
size_t SorbelPlaces(std::span<SurveyedDevice> devices) {
  size_t count = 0;
  for (const SurveyedDevice& device : devices) {
    if (!IsWanted(device.check)) continue;
    bool taken = false;
    for (size_t j = 0; j < count; ++j)
      taken = taken || std::strcmp(devices[j].place.data(), device.place.data()) == 0;
    if (!taken) devices[count++] = device;
  }
  return count;
}

// After the attempts found nothing at the place: where Sorbel devices are.
void NameAttachedPlaces(HidPlatform& hid, Output& out, const DeviceRun& run) {
  std::array<SurveyedDevice, kMaxSurveyed> devices;
  size_t count = SorbelPlaces(std::span(devices).first(Survey(hid, run.product, devices)));
  Print(out, "No Sorbel device is at %s; ", run.place);
  for (size_t i = 0; i < count; ++i)
    Print(out, "%s%s", i > 0 ? ", " : "attached: ", devices[i].place.data());
  out.Write(count > 0 ? "\n" : "none is attached\n");
}

// Lines of one device's run, each given its place in front and written
// whole, so that the threads' lines do not mix.
class PlaceOutput final : public Output {
 public:
  PlaceOutput(HidPlatform& hid, Output& out, const char* place)
      : hid_(hid), out_(out), place_(place) {}

  void Write(std::string_view text) override {
    for (char c : text) {
      if (c != '\n') {
        if (length_ < line_.size() - 1) line_[length_++] = c;
        continue;
      }
      line_[length_] = 0;
      last_line_ = line_;
      {
        // A lock of their own: a slow output must not hold up the devices.
        Locked locked(hid_, HidPlatform::kLines);
        Print(out_, "%s: %s\n", place_, line_.data());
      }
      length_ = 0;
    }
  }
  const char* LastLine() const { return last_line_.data(); }

 private:
  HidPlatform& hid_;
  Output& out_;
  const char* place_;
  std::array<char, 256> line_{};
  size_t length_ = 0;
  std::array<char, 256> last_line_{};
};

struct AllRun {
  HidPlatform* hid;
  Output* out;
  const FirmwareImage* image;
  int32_t start_address;
  int32_t end_address;
  const char* product;
  std::span<const SurveyedDevice> devices;
  std::array<bool, kMaxSurveyed> written;
  std::array<std::array<char, 256>, kMaxSurveyed> last_error;
};

void WriteOne(void* context, unsigned index) {
  auto& all = *static_cast<AllRun*>(context);
  const char* place = all.devices[index].place.data();
  DeviceRun run{.image = all.image,
                .start_address = all.start_address,
                .end_address = all.end_address,
                .product = all.product,
                .place = place,
                .first_address = all.start_address,
                .tenths = true};
  PlaceOutput out(*all.hid, *all.out, place);
  all.written[index] = RunAttempts(run, *all.hid, out) == kUsbSuccess;
  std::copy_n(out.LastLine(), all.last_error[index].size(), all.last_error[index].begin());
}

// Every attached bootloader at once, one thread each, all from one image.
int WriteAll(HidPlatform& hid, Output& out, const Upload& upload) {
  std::array<SurveyedDevice, kMaxSurveyed> devices;
  size_t count = SorbelPlaces(std::span(devices).first(Survey(hid, upload.product, devices)));
  if (count == 0) {
    out.Write("No Sorbel device is attached.\n");
    return 1;
  }
  Print(out, "Writing %d Sorbel devices at once\n", static_cast<int>(count));
  AllRun all{&hid,
             &out,
             &upload.image,
             upload.start_address,
             upload.end_address,
             upload.product,
             std::span<const SurveyedDevice>(devices.data(), count),
             {},
             {}};
  hid.RunTogether(static_cast<unsigned>(count), WriteOne, &all);
  int written = 0;
  for (size_t i = 0; i < count; ++i) written += all.written[i];
  Print(out, "Summary: %d of %d written\n", written, static_cast<int>(count));
  for (size_t i = 0; i < count; ++i)
    Print(out, "%s: %s\n", devices[i].place.data(),
          all.written[i] ? "written" : all.last_error[i].data());
  return written == static_cast<int>(count) ? 0 : 1;
}

// --watch: boards taken as they appear, each once, until Ctrl+C or --count.

constexpr int kMaxWatchPlaces = 16;  // -d given at most this often
constexpr size_t kMaxPlaceTotals = 64;
constexpr int kNotReadyPolls = 8;  // searches a bootloader may stay unopenable before it is tried

enum class BoardState {
  kFree,      // no board at this slot
  kNotReady,  // a bootloader this program cannot open yet (its rights may be on their way)
  kWriting,   // its thread runs
  kEnded,     // its thread has ended; the watch has not reported it yet
  kDone,      // reported; the board stays marked until it leaves the bus
  kCutOff,    // still writing when a second Ctrl+C ended the watch: never reported
};

struct WatchedBoard {
  std::array<char, 64> place{};
  BoardState state = BoardState::kFree;
  int polls = 0;
  bool starting = false;  // taken by this search, its thread not started yet
  bool written = false;
  int attempts = 0;
  uint64_t started_ms = 0;
  uint64_t ended_ms = 0;
  std::array<char, 256> last_line{};
};

struct PlaceTotal {
  std::array<char, 64> place{};
  int written = 0;
  int failed = 0;
};

struct WatchOptions {
  int count = 0;  // boards to write; 0: until Ctrl+C
  const char* log = nullptr;
  int places = 0;
  std::array<std::array<char, kMaxPlaceSize>, kMaxWatchPlaces> place{};
};

void PrintUsage(Output& out, int argc, const char* const* argv) {
  const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "hex-upload";
  Print(out, "usage: %s [-r] <intel-hexfile>\n", program);
}

// Short: every byte counts in the Windows program. The --watch lines only
// where the system can watch.
constexpr const char* kHelp =
    "Options (before the file name, any order):\n"
    "  -r          no effect\n"
    "  -w          wait for the Sorbel device\n"
    "  -d PLACE    only the device at USB port PLACE (--device)\n"
    "  --all       all attached Sorbel devices at once\n"
    "  --list      list place, path, product, state (tab-separated)\n";
constexpr const char* kHelpWatch =
    "  --watch     write each Sorbel device that appears, until Ctrl+C;\n"
    "              -d may be given several times\n"
    "  --count N   with --watch: end after N devices\n"
    "  --log FILE  with --watch: append a CSV line per device\n";
constexpr const char* kHelpEnd =
    "  --          the file name follows\n"
    "  -h, --help  this text\n"
    "Exit codes:\n"
    "  0  written (every device with --all or --watch), no data,\n"
    "     --list found one\n"
    "  1  usage, a bad file, 10 failed attempts (any device), no device\n";

struct Options {
  bool help = false;
  bool wait = false;
  bool all = false;
  bool list = false;
  bool watch = false;
  const char* place = nullptr;  // the last of watching.place
  const char* path = nullptr;
  WatchOptions watching;
};

// A whole number from 1 to 1000000; 0 for anything else.
int Count(const char* text) {
  int value = 0;
  for (const char* c = text; *c != 0; ++c) {
    if (*c < '0' || *c > '9' || value > 100000) return 0;
    value = value * 10 + (*c - '0');
  }
  return value <= 1000000 ? value : 0;
}

bool Is(const char* argument, const char* option) { return std::strcmp(argument, option) == 0; }

// Options come before the file name, in any order; false for a bad one.
bool ParseOptions(int argc, const char* const* argv, Options& options) {
  int next = 1;
  for (; next < argc; ++next) {
    const char* argument = argv[next];
    if (Is(argument, "-h") || Is(argument, "--help")) {
      options.help = true;
      return true;
    }
    if (Is(argument, "-w")) {
      options.wait = true;
    } else if (Is(argument, "--all")) {
      options.all = true;
    } else if (Is(argument, "--list")) {
      options.list = true;
    } else if (Is(argument, "--watch")) {
      options.watch = true;
    } else if (Is(argument, "--count")) {
      if (++next == argc || (options.watching.count = Count(argv[next])) == 0) return false;
    } else if (Is(argument, "--log")) {
      if (++next == argc || argv[next][0] == 0) return false;
      options.watching.log = argv[next];
    } else if (Is(argument, "-d") || Is(argument, "--device")) {
      WatchOptions& watching = options.watching;
      if (++next == argc || watching.places == kMaxWatchPlaces ||
          !NormalizePlace(argv[next], watching.place[static_cast<size_t>(watching.places)]))
        return false;
      options.place = watching.place[static_cast<size_t>(watching.places++)].data();
    } else if (Is(argument, "--")) {
      ++next;
      break;
    } else if (argument[0] == '-' && argument[1] != 0 && !Is(argument, "-r")) {
      return false;  // unknown option
    } else if (!Is(argument, "-r")) {
      break;
    }
  }
  if (options.all && (options.place != nullptr || options.wait)) return false;
  // Several places, a count and a log belong to watching only.
  if (options.watch ? options.all || options.list || options.wait
                    : options.watching.places > 1 || options.watching.count > 0 ||
                          options.watching.log != nullptr)
    return false;
  if (next < argc) options.path = argv[next];
  return options.list || options.path != nullptr;
}

// The file read into a reset upload: -1 when there are data to write, else
// the exit code.
int Load(Upload& upload, const char* path, Output& out, OpenFileFn open_file) {
  Reset(upload);
  if (LoadHexImage(path, upload.image, upload.start_address, upload.end_address, out, open_file) !=
      kHexRead)
    return 1;
  if (upload.start_address < upload.end_address) return -1;
  out.Write("No data in input file, exiting.\n");
  return 0;
}

// On the heap (too large for the stack of every system): the threads use it
// until they end, or until a second Ctrl+C ends the process under them.
struct WatchRun {
  HidPlatform* hid;
  Output* out;
  WatchSystem* system;
  Upload upload;
  std::array<WatchedBoard, kMaxSurveyed> boards;
  std::array<PlaceTotal, kMaxPlaceTotals> totals;
  size_t places_counted;
  int written;
  int failed;
};

void WatchOne(void* context, unsigned index) {
  auto& watch = *static_cast<WatchRun*>(context);
  WatchedBoard& board = watch.boards[index];
  DeviceRun run{.image = &watch.upload.image,
                .start_address = watch.upload.start_address,
                .end_address = watch.upload.end_address,
                .product = watch.upload.product,
                .place = board.place.data(),
                .first_address = watch.upload.start_address,
                .tenths = true};
  PlaceOutput out(*watch.hid, *watch.out, board.place.data());
  int attempts = 0;
  bool written = RunAttempts(run, *watch.hid, out, &attempts) == kUsbSuccess;
  uint64_t ended = watch.system->NowMs();
  Locked locked(*watch.hid, HidPlatform::kLines);
  board.written = written;
  board.attempts = attempts;
  board.ended_ms = ended;
  std::copy_n(out.LastLine(), board.last_line.size(), board.last_line.begin());
  if (board.state == BoardState::kWriting) board.state = BoardState::kEnded;
}

// A CSV field: quoted when it holds a comma, a quote or a line end.
void CsvField(Output& out, const char* text) {
  if (std::strpbrk(text, ",\"\r\n") == nullptr) {
    out.Write(text);
    return;
  }
  out.Write("\"");
  for (const char* c = text; *c != 0; ++c) out.Write(*c == '"' ? "\"\"" : std::string_view(c, 1));
  out.Write("\"");
}

// Collects a text in a buffer, cut to fit.
class TextOutput final : public Output {
 public:
  void Write(std::string_view text) override {
    for (char c : text)
      if (length_ < text_.size()) text_[length_++] = c;
  }
  std::string_view Text() const { return {text_.data(), length_}; }

 private:
  std::array<char, 1024> text_{};
  size_t length_ = 0;
};

bool IsWatched(const WatchOptions& options, const char* place) {
  if (options.places == 0) return true;
  for (int i = 0; i < options.places; ++i)
    if (std::strcmp(options.place[static_cast<size_t>(i)].data(), place) == 0) return true;
  return false;
}

PlaceTotal* TotalOf(WatchRun& watch, const char* place) {
  for (size_t i = 0; i < watch.places_counted; ++i)
    if (std::strcmp(watch.totals[i].place.data(), place) == 0) return &watch.totals[i];
  if (watch.places_counted == watch.totals.size()) return nullptr;
  PlaceTotal& total = watch.totals[watch.places_counted++];
  std::copy_n(place, total.place.size() - 1, total.place.begin());
  return &total;
}

}  // namespace

// No 64-bit arithmetic, whose division routines would take room in the
// Windows program.
int UtcOffsetMinutes(const TimeOfDay& local, const TimeOfDay& utc) {
  auto date = [](const TimeOfDay& t) { return (t.year * 16 + t.month) * 32 + t.day; };
  int day = date(local) > date(utc) ? 1440 : date(local) < date(utc) ? -1440 : 0;
  return day + (local.hour - utc.hour) * 60 + local.minute - utc.minute;
}

namespace {

void PrintClock(Output& out, const TimeOfDay& time) {
  Print(out, "%02d:%02d:%02d ", time.hour, time.minute, time.second);
}

// The end of one board: its line, the totals, its line in the log.
void ReportBoard(WatchRun& watch, WatchedBoard& board, const char* file, const char* digest,
                 bool log) {
  Output& out = *watch.out;
  // In 32 bits (a board takes less than 49 days): a 64-bit division would
  // bring its runtime routines into the Windows program.
  unsigned tenths = (static_cast<uint32_t>(board.ended_ms - board.started_ms) + 50) / 100;
  unsigned whole = tenths / 10;
  unsigned tenth = tenths % 10;
  TimeOfDay now = watch.system->Now();
  const char* result = board.written ? "written" : "failed";
  PrintClock(out, now);
  Print(out, "%s: %s, %d attempt%s, %u.%u s", board.place.data(), result, board.attempts,
        board.attempts == 1 ? "" : "s", whole, tenth);
  if (!board.written && board.last_line[0] != 0) Print(out, " (%s)", board.last_line.data());
  out.Write("\n");
  (board.written ? watch.written : watch.failed) += 1;
  if (PlaceTotal* total = TotalOf(watch, board.place.data()))
    (board.written ? total->written : total->failed) += 1;
  Print(out, "%d written, %d failed\n", watch.written, watch.failed);
  if (!log) return;
  TextOutput line;
  int offset = now.utc_offset_minutes < 0 ? -now.utc_offset_minutes : now.utc_offset_minutes;
  Print(line, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d,", now.year, now.month, now.day, now.hour,
        now.minute, now.second, now.utc_offset_minutes < 0 ? '-' : '+', offset / 60, offset % 60);
  CsvField(line, board.place.data());
  line.Write(",");
  CsvField(line, file);
  Print(line, ",%s,%s,%d,%u.%u\n", digest, result, board.attempts, whole, tenth);
  if (!watch.system->AppendLog(line.Text())) out.Write("Cannot write to the log file\n");
}

// The file's SHA-256 as hex; false when it cannot be read.
bool FileDigest(const char* path, OpenFileFn open_file, std::span<char, 65> hex) {
  std::FILE* file = open_file(path);
  if (file == nullptr) return false;
#ifdef _WIN32
  _setmode(_fileno(file), _O_BINARY);  // the bytes as they are on the disk
#endif
  Sha256 hash;
  Begin(hash);
  std::array<uint8_t, 4096> buffer;
  size_t count;
  while ((count = std::fread(buffer.data(), 1, buffer.size(), file)) > 0)
    Add(hash, std::span(buffer).first(count));
  bool read = std::ferror(file) == 0;
  std::fclose(file);
  FinishHex(hash, hex);
  return read;
}

// The boards being written; with cut_off, they are cut off as they are
// counted, so that none of them is reported when its thread ends after all.
int Writing(WatchRun& watch, bool cut_off = false) {
  Locked locked(*watch.hid, HidPlatform::kLines);
  int writing = 0;
  for (WatchedBoard& board : watch.boards) {
    if (board.state != BoardState::kWriting) continue;
    ++writing;
    if (cut_off) board.state = BoardState::kCutOff;
  }
  return writing;
}

// Reports the boards whose threads ended; returns how many.
int ReportEnded(WatchRun& watch, const char* file, const char* digest, bool log) {
  int ended = 0;
  for (WatchedBoard& board : watch.boards) {
    {
      Locked locked(*watch.hid, HidPlatform::kLines);
      if (board.state != BoardState::kEnded) continue;
      board.state = BoardState::kDone;
    }
    ReportBoard(watch, board, file, digest, log);
    ++ended;
  }
  return ended;
}

// One search: frees the slots of boards that left, takes the new ones.
int TakeNewBoards(WatchRun& watch, const WatchOptions& options, int may_take) {
  std::array<SurveyedDevice, kMaxSurveyed> devices;
  size_t count =
      SorbelPlaces(std::span(devices).first(Survey(*watch.hid, watch.upload.product, devices)));
  Locked locked(*watch.hid, HidPlatform::kLines);
  for (WatchedBoard& board : watch.boards) {
    if (board.state != BoardState::kDone && board.state != BoardState::kNotReady) continue;
    bool present = false;
    for (size_t i = 0; i < count; ++i)
      present = present || std::strcmp(devices[i].place.data(), board.place.data()) == 0;
    if (!present) board.state = BoardState::kFree;
  }
  int taken = 0;
  for (size_t i = 0; i < count && taken < may_take; ++i) {
    const SurveyedDevice& device = devices[i];
    if (device.place[0] == 0 || !IsWatched(options, device.place.data())) continue;
    WatchedBoard* slot = nullptr;
    WatchedBoard* free = nullptr;
    for (WatchedBoard& board : watch.boards) {
      if (board.state == BoardState::kFree) {
        if (free == nullptr) free = &board;
      } else if (std::strcmp(board.place.data(), device.place.data()) == 0) {
        slot = &board;
      }
    }
    if (slot == nullptr && free == nullptr) continue;
    if (slot == nullptr) {
      slot = free;
      slot->place = device.place;
      slot->state = BoardState::kNotReady;
      slot->polls = 0;
    }
    if (slot->state != BoardState::kNotReady) continue;
    // A bootloader whose rights are still being set up gets a few searches'
    // time; one that stays unopenable is tried, so that its error shows.
    if (device.check != DeviceCheck::kReady && ++slot->polls < kNotReadyPolls) continue;
    slot->state = BoardState::kWriting;
    slot->started_ms = watch.system->NowMs();
    slot->last_line[0] = 0;
    slot->starting = true;
    ++taken;
  }
  return taken;
}

void StartTaken(WatchRun& watch, int taken) {
  for (unsigned i = 0; i < watch.boards.size() && taken > 0; ++i) {
    WatchedBoard& board = watch.boards[i];
    if (!board.starting) continue;
    board.starting = false;
    board.attempts = 0;
    --taken;
    PrintClock(*watch.out, watch.system->Now());
    Print(*watch.out, "%s: writing\n", board.place.data());
    watch.system->Start(WatchOne, &watch, i);
  }
}

int Watch(HidPlatform& hid, Output& out, WatchSystem& system, const char* path,
          OpenFileFn open_file, const char* product, const WatchOptions& options) {
  // malloc, not new: the Windows program would get the C++ runtime's
  // exception support with it.
  void* memory = std::malloc(sizeof(WatchRun));
  auto* watch = memory != nullptr ? new (memory) WatchRun{} : nullptr;
  if (watch == nullptr) {
    out.Write("Out of memory\n");
    return 1;
  }
  watch->hid = &hid;
  watch->out = &out;
  watch->system = &system;
  int exit_code = Load(watch->upload, path, out, open_file);
  std::array<char, 65> digest{};
  if (exit_code < 0 && !FileDigest(path, open_file, digest)) {
    Print(out, "Error reading file %s\n", path);
    exit_code = 1;
  }
  bool is_new = false;
  if (exit_code < 0 && options.log != nullptr && !system.OpenLog(options.log, is_new)) {
    Print(out, "Cannot open the log file %s\n", options.log);
    exit_code = 1;
  }
  if (exit_code >= 0) {
    std::free(watch);
    return exit_code;
  }
  if (is_new && !system.AppendLog("time,place,file,sha256,result,attempts,seconds\n"))
    out.Write("Cannot write to the log file\n");
  watch->upload.product = product;
  bool log = options.log != nullptr;
  Print(out, "Watching for Sorbel devices");
  for (int i = 0; i < options.places; ++i)
    Print(out, "%s%s", i == 0 ? " at " : ", ", options.place[static_cast<size_t>(i)].data());
  out.Write(" (press Ctrl+C to stop) ...\n");
  bool stopping = false;
  int taken_total = 0;
  int reported = 0;
  for (;;) {
    int interrupts = system.Interrupts();
    if (interrupts >= 2) {
      // Every board that ended gets its lines and its line in the log first
      // (each on the disk as it is written); only the writes still going on
      // are lost.
      int cut = Writing(*watch, true);
      ReportEnded(*watch, path, digest.data(), log);
      Print(out, "Stopped at once; %d write%s cut off\n", cut, cut == 1 ? "" : "s");
      // The threads still writing keep their run until the process ends,
      // which the system does at once, without waiting for them.
      system.EndNow(1);
      std::free(watch);  // only a stand-in returns, and runs none of them again
      return 1;
    }
    reported += ReportEnded(*watch, path, digest.data(), log);
    if (interrupts == 1 && !stopping) {
      stopping = true;
      int writing = Writing(*watch);
      if (writing > 0)
        Print(out,
              "Taking no new board; waiting for %d write%s to finish "
              "(Ctrl+C again stops at once)\n",
              writing, writing == 1 ? "" : "s");
    }
    bool done = options.count > 0 && reported >= options.count;
    if ((stopping || done) && Writing(*watch) == 0) break;
    if (!stopping) {
      int may_take = options.count > 0 ? options.count - taken_total : kMaxSurveyed;
      int taken = may_take > 0 ? TakeNewBoards(*watch, options, may_take) : 0;
      taken_total += taken;
      StartTaken(*watch, taken);
    }
    hid.SleepMs(kWaitPollMs);
  }
  Print(out, "Summary: %d written, %d failed\n", watch->written, watch->failed);
  for (size_t i = 0; i < watch->places_counted; ++i)
    Print(out, "%s: %d written, %d failed\n", watch->totals[i].place.data(),
          watch->totals[i].written, watch->totals[i].failed);
  exit_code = watch->failed == 0 ? 0 : 1;
  std::free(watch);
  return exit_code;
}

}  // namespace

void Reset(Upload& upload) {
  upload.image.fill(0xFF);
  upload.start_address = kImageSize;
  upload.end_address = 0;
  upload.device_seen = false;
  upload.info_shown = false;
}

bool NormalizePlace(std::string_view text, std::span<char> place) {
  // Index loops: string_view's checked substr would bring exceptions into the
  // Windows program, which counts every byte.
  auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && space(text[begin])) ++begin;
  while (end > begin && (space(text[end - 1]) || text[end - 1] == '/')) --end;
  // A sysfs path names the USB device by its port path in its last part.
  for (size_t i = begin; i < end; ++i)
    if (text[i] == '/') begin = i + 1;
  // An interface of the device, "9-1.2:1.0": configuration.interface.
  bool digits = false;
  bool dot = false;
  for (size_t at = end; at > begin;) {
    char c = text[--at];
    if (c >= '0' && c <= '9') {
      digits = true;
      continue;
    }
    if (digits && !dot && c == '.') {
      dot = true;
      digits = false;
      continue;
    }
    if (digits && dot && c == ':') end = at;
    break;
  }
  if (begin == end || end - begin >= place.size()) return false;
  std::copy(text.begin() + begin, text.begin() + end, place.begin());
  place[end - begin] = 0;
  return true;
}

int UploadAttempt(Upload& upload, HidPlatform& hid, Output& out) {
  DeviceRun run{.image = &upload.image,
                .start_address = upload.start_address,
                .end_address = upload.end_address,
                .device_seen = upload.device_seen,
                .info_shown = upload.info_shown,
                .product = upload.product};
  int result = Attempt(run, hid, out);
  upload.start_address = run.start_address;
  upload.device_seen = run.device_seen;
  upload.info_shown = run.info_shown;
  return result;
}

int WaitForDevice(HidPlatform& hid, Output& out, const char* product, const char* place) {
  int result = SearchDevice(hid, product, place);
  if (result != kUsbDeviceNotFound) return result;
  Print(out, "Waiting for the Sorbel device%s%s (press Ctrl+C to stop) ...",
        place != nullptr ? " at " : "", place != nullptr ? place : "");
  // Any other answer than "not found" (access denied, say) ends the wait too,
  // so that the attempts report it instead of waiting in silence.
  while (result == kUsbDeviceNotFound) {
    hid.SleepMs(kWaitPollMs);
    result = SearchDevice(hid, product, place);
  }
  out.Write("\n");
  return result;
}

int ListDevices(HidPlatform& hid, Output& out, const char* product) {
  std::array<SurveyedDevice, kMaxSurveyed> devices;
  size_t count = Survey(hid, product, devices);
  bool any = false;
  for (size_t i = 0; i < count; ++i) {
    const SurveyedDevice& device = devices[i];
    Print(out, "%s\t%s\t%s\t%s\n", device.place[0] != 0 ? device.place.data() : "-",
          device.path.data(), device.product[0] != 0 ? device.product.data() : "-",
          kCheckTexts[static_cast<int>(device.check)]);
    any = any || IsWanted(device.check);
  }
  if (any) return 0;
  out.Write("No Sorbel device is attached.\n");
  return 1;
}

int UploadFile(HidPlatform& hid, Output& out, const char* path, OpenFileFn open_file,
               const char* product, const char* place, bool wait) {
  Upload upload;  // 64 KiB on the stack: static storage would put its bytes in the .exe
  if (int exit_code = Load(upload, path, out, open_file); exit_code >= 0) return exit_code;
  if (wait) WaitForDevice(hid, out, product, place);
  if (place == nullptr) NoteSeveral(hid, out, product);
  DeviceRun run{.image = &upload.image,
                .start_address = upload.start_address,
                .end_address = upload.end_address,
                .product = product,
                .place = place,
                .first_address = upload.start_address};
  int result = RunAttempts(run, hid, out);
  if (result == kUsbSuccess) return 0;
  if (result == kUsbDeviceNotFound && run.place != nullptr) NameAttachedPlaces(hid, out, run);
  return 1;
}

int RunHexUpload(int argc, const char* const* argv, HidPlatform& hid, Output& out,
                 OpenFileFn open_file, const char* product, WatchSystem* watch_system) {
  Options options;
  if (!ParseOptions(argc, argv, options) || (options.watch && watch_system == nullptr)) {
    PrintUsage(out, argc, argv);
    return 1;
  }
  if (options.help) {
    PrintUsage(out, argc, argv);
    out.Write(kHelp);
    if (watch_system != nullptr) out.Write(kHelpWatch);
    out.Write(kHelpEnd);
    return 1;
  }
  if (options.list) return ListDevices(hid, out, product);
  if (options.watch)
    return Watch(hid, out, *watch_system, options.path, open_file, product, options.watching);
  if (!options.all)
    return UploadFile(hid, out, options.path, open_file, product, options.place, options.wait);
  Upload upload;
  if (int exit_code = Load(upload, options.path, out, open_file); exit_code >= 0) return exit_code;
  upload.product = product;
  return WriteAll(hid, out, upload);
}

}  // namespace hex_upload
