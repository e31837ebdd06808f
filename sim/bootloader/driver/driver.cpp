// sorbel-sim.sys: a HID minidriver that makes simulated Sorbel bootloaders
// HID devices of the system, so that the unchanged hex-upload.exe finds and
// programs them through SetupAPI and hid.dll: one board per device node, in
// the order the nodes are added. A second, private device takes the requests
// of sorbel-sim-ctl.exe (settings, injected failures, flash, log), each about
// the board it last selected.
#include "sim/bootloader/driver/kernel_headers.h"

#include <array>
#include <cstdint>
#include <new>
#include <span>
#include <string_view>

#include "sim/bootloader/model/bootloader.h"
#include "sim/bootloader/driver/control_codes.h"
#include "sim/bootloader/driver/device_store.h"
#include "sim/bootloader/driver/hid_minidriver.h"

#define SORBEL_WIDEN2(text) L##text
#define SORBEL_WIDEN(text) SORBEL_WIDEN2(text)

namespace {

namespace hid = hid_minidriver;

constexpr USHORT kVendorId = 0x16C0;
constexpr USHORT kProductId = 0x05DF;
constexpr USHORT kVersion = 0x0100;
constexpr std::wstring_view kManufacturer = SORBEL_WIDEN(SORBEL_SIM_MANUFACTURER);
constexpr std::wstring_view kDefaultProduct = L"Sorbel";
constexpr std::wstring_view kSerialNumber = L"0001";

// The collection's feature report length: the longest feature report, id 2
// with its 131 bytes. Windows refuses feature report buffers of another
// length; with strict length on, so does the simulated device.
constexpr ULONG kFeatureReportLength = 132;

constexpr hid::Descriptor kHidDescriptor = {
    sizeof(hid::Descriptor),
    0x21,
    0x0101,
    0,
    1,
    0x22,
    static_cast<USHORT>(sorbel_sim::kReportDescriptor.size())};

// The model's default member values would put the whole device, flash
// included, into the image's initialised data (megabytes of file); in a union
// it stays in zeroed memory and is constructed when the driver starts.
union ModelSlot {
  constexpr ModelSlot() {}
  char unused;
  sorbel_sim::Bootloader model;
};

// Everything one simulated board holds.
struct DeviceState {
  ModelSlot slot;
  std::array<wchar_t, sorbel_ctl::kMaxProductLength> product;
  uint32_t product_length;
  std::array<char, 4 * 1024 * 1024> log;
  size_t log_size;
  size_t log_lost;
  bool strict_length;
  bool unplugged;
  bool locked;
  uint32_t delay_ms;
};

// Guarded by one mutex: requests come from hidclass and from the control
// device on different threads.
KMUTEX lock;
DeviceState boards[sorbel_ctl::kBoards];
PDEVICE_OBJECT board_devices[sorbel_ctl::kBoards];  // the FDO of each board, as added
uint32_t selected;                                  // the board of the control requests
PDEVICE_OBJECT control_device;
uint32_t hid_devices;
// hidclass's own handlers of the requests that the control device shares.
PDRIVER_DISPATCH hidclass_dispatch[IRP_MJ_MAXIMUM_FUNCTION + 1];

struct Locked {
  Locked() { KeWaitForSingleObject(&lock, Executive, KernelMode, FALSE, nullptr); }
  ~Locked() { KeReleaseMutex(&lock, FALSE); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

uint32_t BoardNumber(const DeviceState& state) { return static_cast<uint32_t>(&state - boards); }

void AppendLog(void* context, std::string_view line) {
  DeviceState& state = *static_cast<DeviceState*>(context);
  device_store::AppendLog(BoardNumber(state), line);
  if (state.log.size() - state.log_size < line.size() + 1) {
    state.log_lost += line.size() + 1;
    return;
  }
  for (char c : line) state.log[state.log_size++] = c;
  state.log[state.log_size++] = '\n';
}

device_store::Identity Identity(const DeviceState& state) {
  return {state.product.data(), state.product_length, state.strict_length,
          state.unplugged,      state.locked,         state.delay_ms};
}

void SaveAll(const DeviceState& state) {
  device_store::SaveAll(BoardNumber(state), state.slot.model, Identity(state));
}
void SaveState(const DeviceState& state) {
  device_store::SaveState(BoardNumber(state), state.slot.model, Identity(state));
}

// The callers hold the lock and save what they changed.
void ResetDevice(DeviceState& state, const sorbel_sim::Settings& settings) {
  sorbel_sim::Reset(state.slot.model, settings);
  state.log_size = 0;
  state.log_lost = 0;
}

void SetProduct(DeviceState& state, std::wstring_view text) {
  size_t length = text.size() < state.product.size() ? text.size() : state.product.size();
  state.product_length = static_cast<uint32_t>(length);
  for (size_t i = 0; i < length; ++i) state.product[i] = text[i];
}

// The defaults: the first board plugged in, the others not, until a test
// plugs them in.
void ResetBoard(DeviceState& state) {
  ResetDevice(state, {});
  SetProduct(state, kDefaultProduct);
  state.strict_length = false;
  state.unplugged = BoardNumber(state) != 0;
  state.locked = false;
  state.delay_ms = 0;
}

// The board a device object belongs to: one of its FDOs, or the HID device
// hidclass made on top of one, whose extension (hidclass's own, of a layout
// no header gives) holds a pointer to its FDO among its first fields. The
// first board for anything else.
DeviceState& BoardOf(PDEVICE_OBJECT device) {
  constexpr int kFieldsLooked = 32;
  auto* fields = static_cast<PDEVICE_OBJECT*>(device->DeviceExtension);
  for (uint32_t i = 0; i < sorbel_ctl::kBoards; ++i) {
    PDEVICE_OBJECT fdo = board_devices[i];
    if (fdo == nullptr) continue;
    if (device == fdo) return boards[i];
    for (int k = 0; fields != nullptr && k < kFieldsLooked; ++k)
      if (fields[k] == fdo) return boards[i];
  }
  return boards[0];
}

bool Gone(const DeviceState& state) {
  return state.unplugged || sorbel_sim::Unplugged(state.slot.model);
}

size_t CopyBytes(void* destination, size_t capacity, const void* source, size_t size) {
  size_t n = size < capacity ? size : capacity;
  auto* to = static_cast<UCHAR*>(destination);
  auto* from = static_cast<const UCHAR*>(source);
  for (size_t i = 0; i < n; ++i) to[i] = from[i];
  return n;
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

// Copies a fixed answer to the request's output; a too small buffer fails.
NTSTATUS Answer(PIRP irp, ULONG capacity, const void* data, size_t size) {
  if (irp->UserBuffer == nullptr || capacity < size) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
  CopyBytes(irp->UserBuffer, capacity, data, size);
  return Complete(irp, STATUS_SUCCESS, size);
}

// Wine's hidclass asks for manufacturer, product and serial with ids 1, 2, 3;
// Windows with 14, 15, 16. The language sits in the upper 16 bits.
NTSTATUS AnswerString(DeviceState& state, PIRP irp, ULONG capacity, ULONG_PTR request) {
  std::array<wchar_t, sorbel_ctl::kMaxProductLength + 1> text{};
  size_t length = 0;
  auto take = [&](std::wstring_view source) {
    length = source.size() < text.size() - 1 ? source.size() : text.size() - 1;
    for (size_t i = 0; i < length; ++i) text[i] = source[i];
  };
  switch (request & 0xFFFF) {
    case 1:
    case 14:
      take(kManufacturer);
      break;
    case 2:
    case 15: {
      Locked locked;
      take(std::wstring_view(state.product.data(), state.product_length));
      break;
    }
    case 3:
    case 16:
      take(kSerialNumber);
      break;
    default:
      return Complete(irp, STATUS_INVALID_PARAMETER);
  }
  // The terminator goes along when it fits; a short buffer gets the start.
  size_t bytes = (length + 1) * sizeof(wchar_t);
  if (irp->UserBuffer == nullptr) return Complete(irp, STATUS_INVALID_USER_BUFFER);
  size_t copied = CopyBytes(irp->UserBuffer, capacity, text.data(), bytes);
  return Complete(irp, STATUS_SUCCESS, copied);
}

NTSTATUS TransferFeature(DeviceState& state, PIRP irp, bool get) {
  auto* packet = static_cast<hid::TransferPacket*>(irp->UserBuffer);
  if (packet == nullptr || packet->buffer == nullptr || packet->length == 0)
    return Complete(irp, STATUS_INVALID_PARAMETER);
  if (uint32_t delay = state.delay_ms; delay > 0) {
    // The time a real device takes for the report, outside the lock.
    LARGE_INTEGER interval;
    interval.QuadPart = -static_cast<LONGLONG>(delay) * 10000;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
  }
  bool ok;
  ULONG_PTR transferred;
  {
    Locked locked;
    if (get) {
      ok = sorbel_sim::GetFeature(state.slot.model,
                                  std::span<uint8_t>(packet->buffer, packet->length));
      transferred = packet->length < sorbel_sim::kInfoReportSize ? packet->length
                                                                 : sorbel_sim::kInfoReportSize;
    } else {
      std::span<const uint8_t> report(packet->buffer, packet->length);
      ok = sorbel_sim::SetFeature(state.slot.model, report);
      transferred = packet->length;
      if (ok && report[0] == sorbel_sim::kDataReportId &&
          report.size() == sorbel_sim::kDataReportSize)
        device_store::SaveBlock(BoardNumber(state), state.slot.model,
                                report[1] | uint32_t{report[2]} << 8 | uint32_t{report[3]} << 16);
      SaveState(state);
    }
  }
  return ok ? Complete(irp, STATUS_SUCCESS, transferred) : Complete(irp, STATUS_UNSUCCESSFUL);
}

void NTAPI CancelRead(PDEVICE_OBJECT, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  Complete(irp, STATUS_CANCELLED);
}

// The device has no input reports. Failing the read makes hidclass ask again
// at once, in a busy loop, so the request waits until it is cancelled.
NTSTATUS HoldRead(PIRP irp) {
  KIRQL irql;
  IoAcquireCancelSpinLock(&irql);
  if (irp->Cancel) {
    IoReleaseCancelSpinLock(irql);
    return Complete(irp, STATUS_CANCELLED);
  }
  IoMarkIrpPending(irp);
  // Under the cancel lock a plain store is enough (and needs no import).
  irp->CancelRoutine = CancelRead;
  IoReleaseCancelSpinLock(irql);
  return STATUS_PENDING;
}

NTSTATUS NTAPI HidRequest(PDEVICE_OBJECT device, PIRP irp) {
  DeviceState& state = BoardOf(device);
  auto* stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG capacity = stack->Parameters.DeviceIoControl.OutputBufferLength;
  switch (code) {
    case hid::kGetDeviceAttributes: {
      hid::Attributes attributes{};
      attributes.size = sizeof(attributes);
      attributes.vendor_id = kVendorId;
      attributes.product_id = kProductId;
      attributes.version = kVersion;
      return Answer(irp, capacity, &attributes, sizeof(attributes));
    }
    case hid::kGetDeviceDescriptor:
      return Answer(irp, capacity, &kHidDescriptor, sizeof(kHidDescriptor));
    case hid::kGetReportDescriptor:
      return Answer(irp, capacity, sorbel_sim::kReportDescriptor.data(),
                    sorbel_sim::kReportDescriptor.size());
    case hid::kGetString:
      return AnswerString(
          state, irp, capacity,
          reinterpret_cast<ULONG_PTR>(stack->Parameters.DeviceIoControl.Type3InputBuffer));
    case hid::kGetFeature:
      return TransferFeature(state, irp, true);
    case hid::kSetFeature:
      return TransferFeature(state, irp, false);
    case hid::kReadReport:
      return HoldRead(irp);
    case hid::kActivateDevice:
    case hid::kDeactivateDevice:
      return Complete(irp, STATUS_SUCCESS);
    default:
      return Complete(irp, STATUS_NOT_SUPPORTED);
  }
}

PDEVICE_OBJECT NextDevice(PDEVICE_OBJECT device) {
  return static_cast<hid::DeviceExtension*>(device->DeviceExtension)->next_device;
}

NTSTATUS NTAPI PassDown(PDEVICE_OBJECT device, PIRP irp) {
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(NextDevice(device), irp);
}

NTSTATUS NTAPI AddDevice(PDRIVER_OBJECT, PDEVICE_OBJECT device) {
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  Locked locked;
  if (hid_devices < sorbel_ctl::kBoards) board_devices[hid_devices] = device;
  ++hid_devices;
  return STATUS_SUCCESS;
}

bool ReadInput(const void* buffer, ULONG in_size, uint32_t& value) {
  if (in_size != sizeof(value)) return false;
  CopyBytes(&value, sizeof(value), buffer, sizeof(value));
  return true;
}

NTSTATUS ControlRequest(PIRP irp) {
  auto* stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL)
    return Complete(irp, STATUS_SUCCESS);  // open, clean-up and close
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG in_size = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG out_size = stack->Parameters.DeviceIoControl.OutputBufferLength;
  void* buffer = irp->AssociatedIrp.SystemBuffer;
  Locked locked;
  DeviceState& state = boards[selected];
  uint32_t value = 0;
  switch (code) {
    case sorbel_ctl::kSelect:
      if (!ReadInput(buffer, in_size, value) || value >= sorbel_ctl::kBoards)
        return Complete(irp, STATUS_INVALID_PARAMETER);
      selected = value;
      return Complete(irp, STATUS_SUCCESS);
    case sorbel_ctl::kConfig: {
      sorbel_ctl::ConfigRequest request;
      if (in_size != sizeof(request)) return Complete(irp, STATUS_INVALID_PARAMETER);
      CopyBytes(&request, sizeof(request), buffer, sizeof(request));
      ResetDevice(state, {request.page_size, request.flash_size});
      SaveAll(state);
      return Complete(irp, STATUS_SUCCESS);
    }
    case sorbel_ctl::kFailBlock:
    case sorbel_ctl::kUnplugAfter: {
      if (!ReadInput(buffer, in_size, value)) return Complete(irp, STATUS_INVALID_PARAMETER);
      auto n = static_cast<int32_t>(value);
      if (code == sorbel_ctl::kFailBlock)
        sorbel_sim::FailBlock(state.slot.model, n);
      else
        sorbel_sim::UnplugAfter(state.slot.model, n);
      SaveState(state);
      return Complete(irp, STATUS_SUCCESS);
    }
    case sorbel_ctl::kProduct: {
      if (in_size % sizeof(wchar_t) != 0 ||
          in_size / sizeof(wchar_t) > sorbel_ctl::kMaxProductLength)
        return Complete(irp, STATUS_INVALID_PARAMETER);
      SetProduct(state,
                 std::wstring_view(static_cast<const wchar_t*>(buffer), in_size / sizeof(wchar_t)));
      SaveState(state);
      return Complete(irp, STATUS_SUCCESS);
    }
    case sorbel_ctl::kFlash: {
      auto contents = sorbel_sim::Flash(state.slot.model);
      if (out_size < contents.size()) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
      return Complete(irp, STATUS_SUCCESS,
                      CopyBytes(buffer, out_size, contents.data(), contents.size()));
    }
    case sorbel_ctl::kLog:
      if (out_size < state.log_size) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
      return Complete(irp, STATUS_SUCCESS,
                      CopyBytes(buffer, out_size, state.log.data(), state.log_size));
    case sorbel_ctl::kAppearAfter:
    case sorbel_ctl::kLeaveWritten:
      if (!ReadInput(buffer, in_size, value)) return Complete(irp, STATUS_INVALID_PARAMETER);
      if (code == sorbel_ctl::kLeaveWritten) {
        sorbel_sim::LeaveWhenWritten(state.slot.model, value != 0);
      } else {
        state.unplugged = false;  // on the bus when its time comes
        sorbel_sim::AppearAfter(state.slot.model, static_cast<int>(value));
      }
      return Complete(irp, STATUS_SUCCESS);
    case sorbel_ctl::kStrictLength:
    case sorbel_ctl::kPlug:
    case sorbel_ctl::kLock:
    case sorbel_ctl::kDelay: {
      if (!ReadInput(buffer, in_size, value)) return Complete(irp, STATUS_INVALID_PARAMETER);
      if (code == sorbel_ctl::kStrictLength)
        state.strict_length = value != 0;
      else if (code == sorbel_ctl::kPlug)
        state.unplugged = value == 0;
      else if (code == sorbel_ctl::kLock)
        state.locked = value != 0;
      else
        state.delay_ms = value;
      SaveState(state);
      return Complete(irp, STATUS_SUCCESS);
    }
    case sorbel_ctl::kReset:
      for (DeviceState& board : boards) {
        ResetBoard(board);
        SaveAll(board);
      }
      return Complete(irp, STATUS_SUCCESS);
    case sorbel_ctl::kState: {
      sorbel_ctl::StateReply reply{
          static_cast<uint32_t>(sorbel_sim::Flash(state.slot.model).size()),
          static_cast<uint32_t>(state.log_size),
          static_cast<uint32_t>(state.log_lost),
          sorbel_sim::LeftBootloader(state.slot.model) ? 1u : 0u,
          hid_devices,
          state.strict_length ? 1u : 0u,
          Gone(state) ? 1u : 0u,
          state.locked ? 1u : 0u,
          state.delay_ms};
      if (out_size < sizeof(reply)) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
      return Complete(irp, STATUS_SUCCESS, CopyBytes(buffer, out_size, &reply, sizeof(reply)));
    }
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
  }
}

// What the simulated connection does to a program's request before hidclass
// sees it: an unplugged device answers nothing (Wine opens it whatever the
// driver says, so the requests after the open fail), and with strict length
// on a feature report buffer must have the collection's length. Refusals are
// completed here; STATUS_PENDING lets the request through.
NTSTATUS Intercept(PDEVICE_OBJECT device, PIRP irp) {
  auto* stack = IoGetCurrentIrpStackLocation(irp);
  Locked locked;
  DeviceState& state = BoardOf(device);
  // Each search opens the board: the model's look at the bus.
  if (stack->MajorFunction == IRP_MJ_CREATE) sorbel_sim::Look(state.slot.model);
  if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) return STATUS_PENDING;
  // A locked board is one that cannot be opened. Wine opens a device whatever
  // the driver answers the open; every request after it is refused instead,
  // which a program sees the same way: the device gives nothing.
  if (state.locked) return Complete(irp, STATUS_ACCESS_DENIED);
  if (Gone(state)) return Complete(irp, STATUS_DEVICE_NOT_CONNECTED);
  if (!state.strict_length) return STATUS_PENDING;
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  bool set = code == hid::kSetFeature;
  if (!set && code != hid::kGetFeature) return STATUS_PENDING;
  ULONG length = set ? stack->Parameters.DeviceIoControl.InputBufferLength
                     : stack->Parameters.DeviceIoControl.OutputBufferLength;
  if (length == kFeatureReportLength) return STATUS_PENDING;
  // "refused set 3 7": the request, its report type and length.
  char line[40] = "refused ";
  size_t n = 8;
  for (char c : std::string_view(set ? "set 3 " : "get 3 ")) line[n++] = c;
  n += sorbel_sim::WriteDecimal(length, line + n);
  AppendLog(&state, std::string_view(line, n));
  return Complete(irp, STATUS_INVALID_PARAMETER);
}

// hidclass owns open, close and device control of the driver object; requests
// to the control device are taken out before they reach it.
NTSTATUS NTAPI Route(PDEVICE_OBJECT device, PIRP irp) {
  if (device == control_device) return ControlRequest(irp);
  if (NTSTATUS status = Intercept(device, irp); status != STATUS_PENDING) return status;
  auto major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
  if (hidclass_dispatch[major] == nullptr) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
  return hidclass_dispatch[major](device, irp);
}

// hidclass calls this from its own unload routine.
void NTAPI Unload(PDRIVER_OBJECT) {
  if (control_device == nullptr) return;
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, sorbel_ctl::kLinkName);
  IoDeleteSymbolicLink(&link);
  IoDeleteDevice(control_device);
  control_device = nullptr;
}

NTSTATUS CreateControlDevice(PDRIVER_OBJECT driver) {
  UNICODE_STRING name, link;
  RtlInitUnicodeString(&name, sorbel_ctl::kDeviceName);
  RtlInitUnicodeString(&link, sorbel_ctl::kLinkName);
  NTSTATUS status =
      IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &control_device);
  if (!NT_SUCCESS(status)) return status;
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(control_device);
    control_device = nullptr;
    return status;
  }
  control_device->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  KeInitializeMutex(&lock, 0);
  for (DeviceState& state : boards) {
    new (&state.slot.model) sorbel_sim::Bootloader();
    state.slot.model.log = AppendLog;
    state.slot.model.log_context = &state;
    ResetBoard(state);
    device_store::Identity identity = Identity(state);
    if (device_store::Open(BoardNumber(state), state.slot.model,
                           static_cast<uint32_t>(state.product.size()), identity,
                           state.product.data())) {
      state.product_length = identity.product_length;
      state.strict_length = identity.strict_length;
      state.unplugged = identity.unplugged;
      state.locked = identity.locked;
      state.delay_ms = identity.delay_ms;
      state.log_size =
          device_store::ReadLog(BoardNumber(state), state.log.data(), state.log.size());
    } else {
      SaveAll(state);
    }
  }

  driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = HidRequest;
  driver->MajorFunction[IRP_MJ_PNP] = PassDown;
  driver->MajorFunction[IRP_MJ_POWER] = PassDown;
  driver->DriverExtension->AddDevice = AddDevice;
  driver->DriverUnload = Unload;

  hid::Registration registration{};
  registration.revision = 1;
  registration.driver = driver;
  registration.registry_path = registry_path;
  registration.device_extension_size = 0;
  registration.devices_are_polled = FALSE;
  NTSTATUS status = hid::HidRegisterMinidriver(&registration);
  if (!NT_SUCCESS(status)) return status;

  for (UCHAR major : {IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE, IRP_MJ_DEVICE_CONTROL}) {
    hidclass_dispatch[major] = driver->MajorFunction[major];
    driver->MajorFunction[major] = Route;
  }
  status = CreateControlDevice(driver);
  if (!NT_SUCCESS(status)) DbgPrint("sorbel-sim: no control device (%08lx)\n", status);
  return STATUS_SUCCESS;
}
