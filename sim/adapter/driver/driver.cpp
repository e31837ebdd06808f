// tarnel-sim.sys: the simulated Tarnel adapter as a Windows kernel driver, for
// tests under Wine. It only translates I/O requests into the model's buffers;
// every rule lives in the model (sim/adapter/model).
//
// Devices (all reach the one model):
//   \\.\LPTn          the adapter's printer-port device (n set by the control
//                     device, default 2; none when 0)
//   \\.\EZUSB-0       the EZ-USB general-purpose driver's bulk pipes
//   \\.\ZLPORTIO      the port-I/O driver
//   \\.\TarnelSimCtl  private control requests (see requests.h)
//
// Wine ends the driver's host process whenever its wineserver shuts down (a
// few seconds after the last program ended) and starts it again with the
// next one (the service starts automatically). So that the adapter keeps its
// state meanwhile, like a device that stays plugged in, the driver saves the
// state in its service key ("State") after every change and reads it back
// when it starts.
// The kernel headers define these two themselves; keep the compiler's
// intrinsic header from defining them a second time.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>

#include "sim/adapter/model/requests.h"

namespace {

using tarnel_sim::DeviceKind;

constinit tarnel_sim::Adapter g_adapter{};
KMUTEX g_lock;  // requests may come from several threads

struct DeviceExtension {
  DeviceKind kind;
};

struct DeviceNames {
  DeviceKind kind;
  const wchar_t* device;
  const wchar_t* dos_name;  // nullptr: the LPT name, which changes at run time
  bool direct_io;
};

constexpr DeviceNames kDeviceNames[] = {
    {DeviceKind::kLpt, L"\\Device\\TarnelSimLpt", nullptr, true},
    {DeviceKind::kEzusb, L"\\Device\\TarnelSimEzUsb", L"\\DosDevices\\EZUSB-0", true},
    {DeviceKind::kPortIo, L"\\Device\\TarnelSimPortIo", L"\\DosDevices\\ZLPORTIO", false},
    {DeviceKind::kControl, L"\\Device\\TarnelSimCtl", L"\\DosDevices\\TarnelSimCtl", false},
};
constexpr unsigned kDeviceCount = sizeof(kDeviceNames) / sizeof(kDeviceNames[0]);

PDEVICE_OBJECT g_devices[kDeviceCount];
HANDLE g_service_key;  // nullptr: the state is not kept
tarnel_sim::SavedState g_saved_state;
bool g_links[kDeviceCount];

// "\DosDevices\LPT<n>" for n in 1..255, built without any runtime library.
struct LptName {
  wchar_t text[24];
};
LptName LptDosName(unsigned number) {
  LptName name{};
  const wchar_t prefix[] = L"\\DosDevices\\LPT";
  unsigned at = 0;
  for (; prefix[at] != 0; ++at) name.text[at] = prefix[at];
  wchar_t digits[3];
  unsigned count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + number % 10);
    number /= 10;
  } while (number != 0 && count < 3);
  while (count != 0) name.text[at++] = digits[--count];
  name.text[at] = 0;
  return name;
}

NTSTATUS CreateLink(unsigned device, const wchar_t* dos_name) {
  UNICODE_STRING link;
  UNICODE_STRING target;
  RtlInitUnicodeString(&link, dos_name);
  RtlInitUnicodeString(&target, kDeviceNames[device].device);
  const NTSTATUS status = IoCreateSymbolicLink(&link, &target);
  g_links[device] = NT_SUCCESS(status);
  return status;
}

void DeleteLink(unsigned device, const wchar_t* dos_name) {
  if (!g_links[device]) return;
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, dos_name);
  IoDeleteSymbolicLink(&link);
  g_links[device] = false;
}

NTSTATUS CreateLptLink(unsigned number) {
  if (number == 0) return STATUS_SUCCESS;
  const LptName name = LptDosName(number);
  return CreateLink(0, name.text);
}

void DeleteLptLink(unsigned number) {
  if (number == 0) return;
  const LptName name = LptDosName(number);
  DeleteLink(0, name.text);
}

// Moves the printer-port device to its new LPT name; on failure it stays
// where it was.
NTSTATUS MoveLptLink(unsigned old_number, unsigned new_number) {
  DeleteLptLink(old_number);
  const NTSTATUS status = CreateLptLink(new_number);
  if (!NT_SUCCESS(status)) {
    g_adapter.lpt_number = static_cast<std::uint8_t>(old_number);
    CreateLptLink(old_number);
  }
  return status;
}

constexpr wchar_t kStateValueName[] = L"State";

void OpenServiceKey(PUNICODE_STRING registry_path) {
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, registry_path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                             nullptr, nullptr);
  if (!NT_SUCCESS(ZwOpenKey(&g_service_key, KEY_QUERY_VALUE | KEY_SET_VALUE, &attributes)))
    g_service_key = nullptr;
}

void LoadState() {
  if (g_service_key != nullptr) {
    struct {
      KEY_VALUE_PARTIAL_INFORMATION info;
      UCHAR room[tarnel_sim::kSavedStateSize];
    } value;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, kStateValueName);
    ULONG length = 0;
    if (NT_SUCCESS(ZwQueryValueKey(g_service_key, &name, KeyValuePartialInformation, &value,
                                   sizeof(value), &length)) &&
        value.info.Type == REG_BINARY)
      tarnel_sim::RestoreState(g_adapter, {value.info.Data, value.info.DataLength});
  }
  g_saved_state = tarnel_sim::SaveState(g_adapter);
}

void StoreState() {
  const tarnel_sim::SavedState state = tarnel_sim::SaveState(g_adapter);
  bool changed = false;
  for (unsigned i = 0; i < state.size(); ++i) changed |= state[i] != g_saved_state[i];
  if (!changed || g_service_key == nullptr) return;
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, kStateValueName);
  if (NT_SUCCESS(ZwSetValueKey(g_service_key, &name, 0, REG_BINARY,
                               const_cast<std::uint8_t*>(state.data()), state.size())))
    g_saved_state = state;
}

// A millisecond clock for the animated input lines (it may wrap).
std::uint32_t NowMs() {
  LARGE_INTEGER frequency;
  const LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
  const LONGLONG ticks_per_ms = frequency.QuadPart / 1000;
  return ticks_per_ms > 0 ? static_cast<std::uint32_t>(counter.QuadPart / ticks_per_ms) : 0;
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS StatusOf(tarnel_sim::RequestStatus status) {
  switch (status) {
    case tarnel_sim::RequestStatus::kSuccess:
      return STATUS_SUCCESS;
    case tarnel_sim::RequestStatus::kInvalidParameter:
      return STATUS_INVALID_PARAMETER;
    case tarnel_sim::RequestStatus::kInvalidRequest:
      return STATUS_INVALID_DEVICE_REQUEST;
    case tarnel_sim::RequestStatus::kDeviceError:
      return STATUS_IO_DEVICE_ERROR;
  }
  return STATUS_INVALID_DEVICE_REQUEST;
}

NTSTATUS NTAPI DeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  const auto* extension = static_cast<const DeviceExtension*>(device->DeviceExtension);
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG input_length = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG output_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
  auto* system_buffer = static_cast<std::uint8_t*>(irp->AssociatedIrp.SystemBuffer);

  tarnel_sim::RequestBuffers buffers;
  switch (code & 3) {
    case METHOD_BUFFERED:
      if (system_buffer != nullptr) {
        buffers.input = {system_buffer, input_length};
        buffers.output = {system_buffer, output_length};
      }
      break;
    case METHOD_IN_DIRECT:
    case METHOD_OUT_DIRECT:
      if (system_buffer != nullptr) buffers.input = {system_buffer, input_length};
      if (irp->MdlAddress != nullptr) {
        auto* direct = static_cast<std::uint8_t*>(
            MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
        if (direct == nullptr) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        buffers.output = {direct, MmGetMdlByteCount(irp->MdlAddress)};
      }
      break;
    default:  // METHOD_NEITHER: no request of ours uses it
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }

  KeWaitForSingleObject(&g_lock, Executive, KernelMode, FALSE, nullptr);
  const unsigned old_lpt = g_adapter.lpt_number;
  tarnel_sim::AdvanceAnimation(g_adapter, NowMs());
  const tarnel_sim::RequestResult result =
      tarnel_sim::HandleRequest(g_adapter, extension->kind, code, buffers);
  tarnel_sim::AdvanceAnimation(g_adapter, NowMs());  // a clock just switched on starts now
  NTSTATUS status = StatusOf(result.status);
  if (NT_SUCCESS(status) && g_adapter.lpt_number != old_lpt)
    status = MoveLptLink(old_lpt, g_adapter.lpt_number);
  StoreState();
  KeReleaseMutex(&g_lock, FALSE);
  return Complete(irp, status, NT_SUCCESS(status) ? result.bytes_returned : 0);
}

NTSTATUS NTAPI CreateClose(PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS, 0); }

void RemoveDevices() {
  DeleteLptLink(g_adapter.lpt_number);
  for (unsigned i = 0; i < kDeviceCount; ++i) {
    if (kDeviceNames[i].dos_name != nullptr) DeleteLink(i, kDeviceNames[i].dos_name);
    if (g_devices[i] != nullptr) IoDeleteDevice(g_devices[i]);
    g_devices[i] = nullptr;
  }
}

void NTAPI Unload(PDRIVER_OBJECT) {
  RemoveDevices();
  if (g_service_key != nullptr) ZwClose(g_service_key);
  g_service_key = nullptr;
}

NTSTATUS CreateDevices(PDRIVER_OBJECT driver) {
  for (unsigned i = 0; i < kDeviceCount; ++i) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, kDeviceNames[i].device);
    NTSTATUS status = IoCreateDevice(driver, sizeof(DeviceExtension), &name, FILE_DEVICE_UNKNOWN, 0,
                                     FALSE, &g_devices[i]);
    if (!NT_SUCCESS(status)) return status;
    static_cast<DeviceExtension*>(g_devices[i]->DeviceExtension)->kind = kDeviceNames[i].kind;
    if (kDeviceNames[i].direct_io) g_devices[i]->Flags |= DO_DIRECT_IO;
    g_devices[i]->Flags &= ~DO_DEVICE_INITIALIZING;
    status = kDeviceNames[i].dos_name != nullptr ? CreateLink(i, kDeviceNames[i].dos_name)
                                                 : CreateLptLink(g_adapter.lpt_number);
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
  KeInitializeMutex(&g_lock, 0);
  OpenServiceKey(registry_path);
  LoadState();
  driver->MajorFunction[IRP_MJ_CREATE] = CreateClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = CreateClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = CreateClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
  driver->DriverUnload = Unload;
  const NTSTATUS status = CreateDevices(driver);
  if (!NT_SUCCESS(status)) Unload(driver);
  return status;
}
