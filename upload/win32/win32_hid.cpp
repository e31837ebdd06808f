#include "win32_hid.h"

#include <cstdlib>

extern "C" {
#include <hidsdi.h>
}

namespace hex_upload {
namespace {

HANDLE as_handle(HidHandle handle) {
    return static_cast<HANDLE>(handle);
}

}  // namespace

Win32Hid::~Win32Hid() {
    end_device_list();
}

bool Win32Hid::begin_device_list() {
    end_device_list();
    HidD_GetHidGuid(&hid_class_);
    devices_ = SetupDiGetClassDevsA(&hid_class_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    return devices_ != INVALID_HANDLE_VALUE;
}

bool Win32Hid::list_device(unsigned index, HidListedDevice& device) {
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = sizeof interface_data;
    if (!SetupDiEnumDeviceInterfaces(devices_, nullptr, &hid_class_, index, &interface_data))
        return false;
    std::free(detail_);
    detail_ = nullptr;
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(devices_, &interface_data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        size = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    detail_ = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, size));
    if (detail_ == nullptr)
        return false;
    detail_->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    // A path that cannot be had is left empty; opening it then fails.
    SetupDiGetDeviceInterfaceDetailA(devices_, &interface_data, detail_, size, nullptr, nullptr);
    device = HidListedDevice{};
    device.path = detail_->DevicePath;
    return true;
}

void Win32Hid::end_device_list() {
    if (devices_ != INVALID_HANDLE_VALUE)
        SetupDiDestroyDeviceInfoList(devices_);
    devices_ = INVALID_HANDLE_VALUE;
    std::free(detail_);
    detail_ = nullptr;
}

HidOpenResult Win32Hid::open(const char* path, HidHandle& handle) {
    HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_ACCESS_DENIED ? HidOpenResult::access_denied : HidOpenResult::failed;
    handle = device;
    return HidOpenResult::opened;
}

void Win32Hid::close(HidHandle handle) {
    CloseHandle(as_handle(handle));
}

bool Win32Hid::get_attributes(HidHandle handle, uint16_t& vendor_id, uint16_t& product_id) {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(as_handle(handle), &attributes))
        return false;
    vendor_id = attributes.VendorID;
    product_id = attributes.ProductID;
    return true;
}

bool Win32Hid::get_manufacturer_string(HidHandle handle, std::span<char16_t> text) {
    return HidD_GetManufacturerString(as_handle(handle), text.data(),
                                      static_cast<ULONG>(text.size_bytes()));
}

bool Win32Hid::get_product_string(HidHandle handle, std::span<char16_t> text) {
    return HidD_GetProductString(as_handle(handle), text.data(), static_cast<ULONG>(text.size_bytes()));
}

bool Win32Hid::get_feature(HidHandle handle, std::span<uint8_t> report) {
    return HidD_GetFeature(as_handle(handle), report.data(), static_cast<ULONG>(report.size()));
}

bool Win32Hid::set_feature(HidHandle handle, std::span<const uint8_t> report) {
    // The call does not write to the buffer; its declaration just lacks the const.
    return HidD_SetFeature(as_handle(handle), const_cast<uint8_t*>(report.data()),
                           static_cast<ULONG>(report.size()));
}

bool Win32Hid::read(HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) {
    DWORD count = 0;
    if (!ReadFile(as_handle(handle), report.data(), static_cast<DWORD>(report.size()), &count, nullptr))
        return false;
    bytes_read = count;
    return true;
}

bool Win32Hid::write(HidHandle handle, std::span<const uint8_t> report) {
    DWORD count = 0;
    return WriteFile(as_handle(handle), report.data(), static_cast<DWORD>(report.size()), &count, nullptr);
}

void Win32Hid::sleep_ms(unsigned milliseconds) {
    Sleep(milliseconds);
}

}  // namespace hex_upload
