// The HID platform over SetupAPI and hid.dll.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include "hid_platform.h"

namespace hex_upload {

class Win32Hid final : public HidPlatform {
public:
    ~Win32Hid();

    bool begin_device_list() override;
    bool list_device(unsigned index, HidListedDevice& device) override;
    void end_device_list() override;

    HidOpenResult open(const char* path, HidHandle& handle) override;
    void close(HidHandle handle) override;

    bool get_attributes(HidHandle handle, uint16_t& vendor_id, uint16_t& product_id) override;
    bool get_manufacturer_string(HidHandle handle, std::span<char16_t> text) override;
    bool get_product_string(HidHandle handle, std::span<char16_t> text) override;

    bool get_feature(HidHandle handle, std::span<uint8_t> report) override;
    bool set_feature(HidHandle handle, std::span<const uint8_t> report) override;
    bool read(HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) override;
    bool write(HidHandle handle, std::span<const uint8_t> report) override;

    void sleep_ms(unsigned milliseconds) override;

private:
    GUID hid_class_{};
    HDEVINFO devices_ = INVALID_HANDLE_VALUE;
    SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail_ = nullptr;  // the path of the last listed interface
};

}  // namespace hex_upload
