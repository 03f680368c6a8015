#include "aspi_units.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace test_aspi {
namespace {

// A whole decimal number within [low, high], or -1.
int parse_number(std::string_view text, int low, int high) {
    if (text.empty() || text.size() > 6) return -1;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value >= low && value <= high ? value : -1;
}

// "ha:target:lun=unit"
std::variant<Unit, std::string> parse_unit(std::string_view text) {
    auto bad = [&](const char* why) { return "TEST_ASPI_DEVICES entry \"" + std::string(text) + "\": " + why; };
    std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) return bad("expected ha:target:lun=unit");
    std::string_view address = text.substr(0, equals);
    std::string_view what = text.substr(equals + 1);
    std::size_t first = address.find(':');
    std::size_t second = first == std::string_view::npos ? first : address.find(':', first + 1);
    if (second == std::string_view::npos) return bad("expected ha:target:lun=unit");
    Unit unit;
    unit.host_adapter = parse_number(address.substr(0, first), 0, 7);
    unit.target = parse_number(address.substr(first + 1, second - first - 1), 0, 7);
    unit.lun = parse_number(address.substr(second + 1), 0, 7);
    if (unit.host_adapter < 0 || unit.target < 0 || unit.lun < 0) return bad("address out of range 0 to 7");
    if (what.empty()) return bad("no unit after '='");
    if (what == "disk") {
        unit.kind = UnitKind::disk;
    } else if (what == "stall") {
        unit.kind = UnitKind::stall;
    } else {
        unit.kind = UnitKind::drive;
        unit.drive = disc_image::EmulatedDrive::from_entry(std::string(what));
    }
    return unit;
}

std::string_view address_of(std::string_view entry) { return entry.substr(0, entry.find('=')); }

}  // namespace

std::variant<Config, std::string> parse_config(const char* devices, const char* adapters, const char* host_id,
                                               const char* pending) {
    Config config;
    int highest_adapter = 0;
    std::string_view rest = devices ? devices : "";
    while (!rest.empty()) {
        std::size_t end = rest.find(';');
        std::string_view entry = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (entry.empty()) continue;
        auto unit = parse_unit(entry);
        if (auto* error = std::get_if<std::string>(&unit)) return *error;
        Unit& parsed = std::get<Unit>(unit);
        for (const Unit& other : config.units)
            if (other.host_adapter == parsed.host_adapter && other.target == parsed.target && other.lun == parsed.lun)
                return "TEST_ASPI_DEVICES: two units at " + std::string(address_of(entry));
        if (parsed.host_adapter > highest_adapter) highest_adapter = parsed.host_adapter;
        config.units.push_back(std::move(parsed));
    }
    config.adapter_count = highest_adapter + 1;
    if (adapters) {
        config.adapter_count = parse_number(adapters, 0, 8);
        if (config.adapter_count < 0) return "TEST_ASPI_ADAPTERS: expected 0 to 8";
    }
    if (host_id) {
        config.host_id = parse_number(host_id, 0, 7);
        if (config.host_id < 0) return "TEST_ASPI_HOST_ID: expected 0 to 7";
    }
    if (pending) {
        config.pending_delay_ms = parse_number(pending, 0, 10000);
        if (config.pending_delay_ms < 0) return "TEST_ASPI_PENDING: expected milliseconds, 0 to 10000";
    }
    return config;
}

Config& config() {
    static Config current = [] {
        auto parsed = parse_config(std::getenv("TEST_ASPI_DEVICES"), std::getenv("TEST_ASPI_ADAPTERS"),
                                   std::getenv("TEST_ASPI_HOST_ID"), std::getenv("TEST_ASPI_PENDING"));
        if (auto* error = std::get_if<std::string>(&parsed)) {
            std::fprintf(stderr, "test ASPI layer: %s\n", error->c_str());
            return Config{};
        }
        return std::move(std::get<Config>(parsed));
    }();
    return current;
}

Unit* find_unit(int host_adapter, int target, int lun) {
    for (Unit& unit : config().units)
        if (unit.host_adapter == host_adapter && unit.target == target && unit.lun == lun) return &unit;
    return nullptr;
}

}  // namespace test_aspi
