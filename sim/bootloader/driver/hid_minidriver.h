// What a HID minidriver exchanges with hidclass.sys. mingw-w64 has no header
// for it and some request codes in its ddk/hidclass.h are wrong, so the driver
// declares them here. Plain layout: pointers and ULONGs at their natural
// alignment give the right structures on i686 and on x86_64 alike.
#pragma once

#include "sim/bootloader/driver/kernel_headers.h"

namespace hid_minidriver {

struct Registration {
  ULONG revision;
  PDRIVER_OBJECT driver;
  PUNICODE_STRING registry_path;
  ULONG device_extension_size;
  BOOLEAN devices_are_polled;
  UCHAR reserved[3];
};

// What hidclass puts at the start of every FDO's extension.
struct DeviceExtension {
  PDEVICE_OBJECT physical_device;
  PDEVICE_OBJECT next_device;
  PVOID minidriver_extension;
};

struct Attributes {
  ULONG size;
  USHORT vendor_id;
  USHORT product_id;
  USHORT version;
  USHORT reserved[11];
};

#pragma pack(push, 1)
struct Descriptor {
  UCHAR length;
  UCHAR descriptor_type;
  USHORT hid_version;
  UCHAR country;
  UCHAR descriptor_count;
  UCHAR report_descriptor_type;
  USHORT report_descriptor_length;
};
#pragma pack(pop)

// Get and set feature: Irp->UserBuffer points at one of these.
struct TransferPacket {
  PUCHAR buffer;
  ULONG length;
  UCHAR report_id;
};

static_assert(sizeof(Descriptor) == 9);
static_assert(sizeof(Attributes) == 32);
static_assert(sizeof(Registration) == (sizeof(void*) == 8 ? 32 : 20));
static_assert(sizeof(TransferPacket) == (sizeof(void*) == 8 ? 16 : 12));

constexpr ULONG KeyboardCode(ULONG function, ULONG method) {
  return 0x0Bu << 16 | function << 2 | method;
}
inline constexpr ULONG kMethodNeither = 3, kMethodInDirect = 1, kMethodOutDirect = 2;

inline constexpr ULONG kGetDeviceDescriptor = KeyboardCode(0, kMethodNeither);
inline constexpr ULONG kGetReportDescriptor = KeyboardCode(1, kMethodNeither);
inline constexpr ULONG kReadReport = KeyboardCode(2, kMethodNeither);
inline constexpr ULONG kWriteReport = KeyboardCode(3, kMethodNeither);
inline constexpr ULONG kGetString = KeyboardCode(4, kMethodNeither);
inline constexpr ULONG kActivateDevice = KeyboardCode(7, kMethodNeither);
inline constexpr ULONG kDeactivateDevice = KeyboardCode(8, kMethodNeither);
inline constexpr ULONG kGetDeviceAttributes = KeyboardCode(9, kMethodNeither);
inline constexpr ULONG kGetFeature = KeyboardCode(100, kMethodOutDirect);
inline constexpr ULONG kSetFeature = KeyboardCode(100, kMethodInDirect);

extern "C" NTSTATUS NTAPI HidRegisterMinidriver(Registration* registration);

}  // namespace hid_minidriver
