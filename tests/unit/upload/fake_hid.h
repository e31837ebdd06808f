// A scripted HID platform for the uploader's tests: a list of devices with
// their ids, strings and faults; a Sorbel bootloader model answers the
// feature reports of the device that has one.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bootloader_model.h"
#include "hid_platform.h"
#include "sim_hid.h"
#include "output.h"

namespace fake {

struct Device {
    std::string path;
    uint16_t vendor_id = 0x16C0;
    uint16_t product_id = 0x05DF;
    std::u16string manufacturer;
    std::u16string product = u"Sorbel";
    hex_upload::HidOpenResult open_result = hex_upload::HidOpenResult::opened;
    bool listed_identity = false;  // the list tells ids and strings (as on Linux)
    bool attributes_fail = false;
    bool manufacturer_fails = false;
    bool product_fails = false;
    bool closing_report_fails = false;
    std::vector<uint8_t> input_report;  // what a read gives
    sorbel_sim::Bootloader* bootloader = nullptr;
};

class Hid final : public hex_upload::HidPlatform {
public:
    std::vector<Device> devices;
    int hidden_searches = 0;     // the next searches list no device at all
    std::vector<std::string> events;  // "list", "open <path>", "close <path>", "sleep <ms>"
    int list_count = 0;
    std::vector<std::string> written;  // output reports, as hex

    bool begin_device_list() override {
        ++list_count;
        events.push_back("list");
        hidden_ = hidden_searches > 0;
        if (hidden_)
            --hidden_searches;
        return true;
    }
    bool list_device(unsigned index, hex_upload::HidListedDevice& listed) override {
        if (hidden_ || index >= devices.size())
            return false;
        const Device& device = devices[index];
        listed.path = device.path.c_str();
        listed.identity_known = device.listed_identity;
        listed.vendor_id = device.vendor_id;
        listed.product_id = device.product_id;
        listed.manufacturer = device.manufacturer.c_str();
        listed.product = device.product.c_str();
        return true;
    }
    void end_device_list() override {}

    hex_upload::HidOpenResult open(const char* path, hex_upload::HidHandle& handle) override {
        for (Device& device : devices) {
            if (device.path != path)
                continue;
            if (device.open_result != hex_upload::HidOpenResult::opened)
                return device.open_result;
            events.push_back("open " + device.path);
            handle = &device;
            return hex_upload::HidOpenResult::opened;
        }
        return hex_upload::HidOpenResult::failed;
    }
    void close(hex_upload::HidHandle handle) override { events.push_back("close " + of(handle).path); }

    bool get_attributes(hex_upload::HidHandle handle, uint16_t& vendor_id, uint16_t& product_id) override {
        const Device& device = of(handle);
        vendor_id = device.vendor_id;
        product_id = device.product_id;
        return !device.attributes_fail;
    }
    bool get_manufacturer_string(hex_upload::HidHandle handle, std::span<char16_t> text) override {
        return copy(of(handle).manufacturer, of(handle).manufacturer_fails, text);
    }
    bool get_product_string(hex_upload::HidHandle handle, std::span<char16_t> text) override {
        return copy(of(handle).product, of(handle).product_fails, text);
    }
    bool get_feature(hex_upload::HidHandle handle, std::span<uint8_t> report) override {
        auto* model = of(handle).bootloader;
        return model != nullptr && sorbel_sim::get_feature(*model, report);
    }
    bool set_feature(hex_upload::HidHandle handle, std::span<const uint8_t> report) override {
        Device& device = of(handle);
        if (device.bootloader == nullptr)
            return false;
        bool sent = sorbel_sim::set_feature(*device.bootloader, report);
        return sent && !(report.size() == 7 && device.closing_report_fails);
    }
    bool read(hex_upload::HidHandle handle, std::span<uint8_t> report, size_t& bytes_read) override {
        const auto& input = of(handle).input_report;
        bytes_read = std::min(input.size(), report.size());
        std::copy_n(input.begin(), bytes_read, report.begin());
        return true;
    }
    bool write(hex_upload::HidHandle, std::span<const uint8_t> report) override {
        written.emplace_back(report.begin(), report.end());
        return true;
    }
    void sleep_ms(unsigned milliseconds) override { events.push_back("sleep " + std::to_string(milliseconds)); }

private:
    static Device& of(hex_upload::HidHandle handle) { return *static_cast<Device*>(handle); }
    static bool copy(const std::u16string& from, bool fails, std::span<char16_t> text) {
        if (fails)
            return false;
        size_t n = std::min(from.size(), text.size() - 1);
        std::copy_n(from.begin(), n, text.begin());
        text[n] = 0;
        return true;
    }
    bool hidden_ = false;
};

struct CapturedOutput final : hex_upload::Output {
    std::string text;
    void write(std::string_view part) override { text += part; }
};

// A bootloader model with a log of the reports it received and sent.
struct LoggedBootloader {
    std::unique_ptr<sorbel_sim::Bootloader> model = std::make_unique<sorbel_sim::Bootloader>();
    std::vector<std::string> log;

    explicit LoggedBootloader(sorbel_sim::Settings settings = {}) {
        model->log = [](void* context, std::string_view line) {
            static_cast<std::vector<std::string>*>(context)->emplace_back(line);
        };
        model->log_context = &log;
        sorbel_sim::reset(*model, settings);
    }
    // Addresses of the data block reports received, in order.
    std::vector<unsigned> block_addresses() const {
        std::vector<unsigned> addresses;
        for (const auto& line : log) {
            if (line.rfind("set 3 132 02 ", 0) != 0)
                continue;
            unsigned low = std::stoul(line.substr(13, 2), nullptr, 16);
            unsigned middle = std::stoul(line.substr(16, 2), nullptr, 16);
            unsigned high = std::stoul(line.substr(19, 2), nullptr, 16);
            addresses.push_back(low | middle << 8 | high << 16);
        }
        return addresses;
    }
};

// The device hex-upload looks for, as the build names its manufacturer.
inline Device sorbel_device(sorbel_sim::Bootloader* model, std::string path = "sorbel") {
    Device device;
    device.path = std::move(path);
    device.manufacturer = sorbel_sim::utf16_from_utf8(HEX_UPLOAD_MANUFACTURER);
    device.bootloader = model;
    return device;
}

}  // namespace fake
