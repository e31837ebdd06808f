// The HID platform over hidapi's hidraw backend. The device list tells each
// device's ids and strings without opening it.
#pragma once

#include <string>

#include "hid_platform.h"

struct hid_device_info;

namespace hex_upload {

class LinuxHid final : public HidPlatform {
public:
    LinuxHid();
    ~LinuxHid();
    LinuxHid(const LinuxHid&) = delete;
    LinuxHid& operator=(const LinuxHid&) = delete;

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
    hid_device_info* devices_ = nullptr;
    std::u16string manufacturer_;  // strings of the last listed device
    std::u16string product_;
};

}  // namespace hex_upload
