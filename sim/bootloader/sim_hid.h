// The HID platform of hex-upload-sim: the bootloader model as the only
// bootloader device, listed after a device of another kind that the search
// must pass over.
#pragma once

#include <string>

#include "bootloader_model.h"
#include "hid_platform.h"

namespace sorbel_sim {

class SimHid final : public hex_upload::HidPlatform {
public:
    // present = false: only the other device is there.
    SimHid(Bootloader& device, bool present, std::u16string manufacturer);

    bool begin_device_list() override;
    bool list_device(unsigned index, hex_upload::HidListedDevice& device) override;
    void end_device_list() override;

    hex_upload::HidOpenResult open(const char* path, hex_upload::HidHandle& handle) override;
    void close(hex_upload::HidHandle handle) override;

    bool get_attributes(hex_upload::HidHandle handle, uint16_t& vendor_id, uint16_t& product_id) override;
    bool get_manufacturer_string(hex_upload::HidHandle handle, std::span<char16_t> text) override;
    bool get_product_string(hex_upload::HidHandle handle, std::span<char16_t> text) override;

    bool get_feature(hex_upload::HidHandle handle, std::span<uint8_t> report) override;
    bool set_feature(hex_upload::HidHandle handle, std::span<const uint8_t> report) override;
    bool read(hex_upload::HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) override;
    bool write(hex_upload::HidHandle handle, std::span<const uint8_t> report) override;

    void sleep_ms(unsigned milliseconds) override;

    int open_count() const { return open_count_; }

private:
    struct SimDevice {
        const char* path;
        uint16_t vendor_id;
        uint16_t product_id;
        std::u16string manufacturer;
        std::u16string product;
        Bootloader* bootloader;
    };
    SimDevice& of(hex_upload::HidHandle handle) { return *static_cast<SimDevice*>(handle); }

    SimDevice devices_[2];
    unsigned device_count_;
    int open_count_ = 0;
};

// UTF-8 to UTF-16 (invalid sequences become U+FFFD).
std::u16string utf16_from_utf8(std::string_view text);

}  // namespace sorbel_sim
