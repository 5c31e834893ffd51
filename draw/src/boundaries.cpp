#include <array>
#include <system_error>
#include <zembra/draw/boundaries.hpp>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

#ifndef ZEMBRA_REL_BIN_TO_DATA
#error "ZEMBRA_REL_BIN_TO_DATA must name the data folder relative to the bin folder"
#endif

namespace zembra::draw {

namespace fs = std::filesystem;

namespace {

constexpr std::array<StateInfo, 56> kStates{{
    {"01", "AL", "Alabama", true},
    {"02", "AK", "Alaska", true},
    {"04", "AZ", "Arizona", true},
    {"05", "AR", "Arkansas", true},
    {"06", "CA", "California", true},
    {"08", "CO", "Colorado", true},
    {"09", "CT", "Connecticut", true},
    {"10", "DE", "Delaware", true},
    {"11", "DC", "District of Columbia", true},
    {"12", "FL", "Florida", true},
    {"13", "GA", "Georgia", true},
    {"15", "HI", "Hawaii", true},
    {"16", "ID", "Idaho", true},
    {"17", "IL", "Illinois", true},
    {"18", "IN", "Indiana", true},
    {"19", "IA", "Iowa", true},
    {"20", "KS", "Kansas", true},
    {"21", "KY", "Kentucky", true},
    {"22", "LA", "Louisiana", true},
    {"23", "ME", "Maine", true},
    {"24", "MD", "Maryland", true},
    {"25", "MA", "Massachusetts", true},
    {"26", "MI", "Michigan", true},
    {"27", "MN", "Minnesota", true},
    {"28", "MS", "Mississippi", true},
    {"29", "MO", "Missouri", true},
    {"30", "MT", "Montana", true},
    {"31", "NE", "Nebraska", true},
    {"32", "NV", "Nevada", true},
    {"33", "NH", "New Hampshire", true},
    {"34", "NJ", "New Jersey", true},
    {"35", "NM", "New Mexico", true},
    {"36", "NY", "New York", true},
    {"37", "NC", "North Carolina", true},
    {"38", "ND", "North Dakota", true},
    {"39", "OH", "Ohio", true},
    {"40", "OK", "Oklahoma", true},
    {"41", "OR", "Oregon", true},
    {"42", "PA", "Pennsylvania", true},
    {"44", "RI", "Rhode Island", true},
    {"45", "SC", "South Carolina", true},
    {"46", "SD", "South Dakota", true},
    {"47", "TN", "Tennessee", true},
    {"48", "TX", "Texas", true},
    {"49", "UT", "Utah", true},
    {"50", "VT", "Vermont", true},
    {"51", "VA", "Virginia", true},
    {"53", "WA", "Washington", true},
    {"54", "WV", "West Virginia", true},
    {"55", "WI", "Wisconsin", true},
    {"56", "WY", "Wyoming", true},
    {"60", "AS", "American Samoa", false},
    {"66", "GU", "Guam", false},
    {"69", "MP", "Northern Mariana Islands", false},
    {"72", "PR", "Puerto Rico", true},
    {"78", "VI", "United States Virgin Islands", true},
}};

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

fs::path defaultBoundaryDirectory() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) throw Error::standard(err::kPathNotFound, std::string(kSource), "/proc/self/exe");
    return (exe.parent_path() / ZEMBRA_REL_BIN_TO_DATA / "boundaries").lexically_normal();
}

std::span<const StateInfo> states() noexcept { return kStates; }

const StateInfo* findState(std::string_view codeOrName) noexcept {
    const std::string_view wanted = trimmed(codeOrName);
    for (const StateInfo& s : kStates) {
        if (equalsIgnoreCase(wanted, s.postal) || equalsIgnoreCase(wanted, s.name)) return &s;
    }
    if (equalsIgnoreCase(wanted, "Virgin Islands")) return &kStates.back();
    return nullptr;
}

BoundaryData::BoundaryData(fs::path folder) : folder_(std::move(folder)) {}

const Topology& BoundaryData::get(std::optional<Topology>& slot, std::string_view file,
                                  const std::optional<Bounds>& detailWithin) {
    if (slot) return *slot;
    // The compiled form the build makes beside the text, when there is one: it reads in
    // a fraction of the time and gives the same topology.
    fs::path path = folder_ / file;
    fs::path compiled = fs::path(path).replace_extension(".ztopo");
    std::error_code ec;
    if (fs::is_regular_file(compiled, ec))
        slot = Topology::loadCompiled(compiled, detailWithin);
    else
        slot = Topology::load(path, detailWithin);
    return *slot;
}

void BoundaryData::drawOnlyWithin(const Bounds& bounds) {
    // Strokes and anti-aliasing reach a few pixels past the edge; a tenth of the span
    // and half a degree spare is far more than that.
    const double lat = 0.5 + (bounds.maxLat - bounds.minLat) / 10;
    const double lon = 0.5 + (bounds.maxLon - bounds.minLon) / 10;
    detailWithin_ =
        Bounds{bounds.minLat - lat, bounds.maxLat + lat, bounds.minLon - lon, bounds.maxLon + lon};
}

const Topology& BoundaryData::states() { return get(states_, "states-10m.json"); }
const Topology& BoundaryData::counties() { return get(counties_, "counties-10m.json"); }
const Topology& BoundaryData::world() { return get(world_, "countries-10m.json", detailWithin_); }
const Topology& BoundaryData::lakes() {
    return get(lakes_, "north-america_50m.json", detailWithin_);
}

const MapLayers& BoundaryData::layers(UsLand source) {
    auto& slot = source == UsLand::States ? stateLayers_ : countryLayers_;
    if (!slot) slot = buildLayers(states(), world(), &lakes(), source);
    return *slot;
}

}  // namespace zembra::draw
