// The boundary data shipped with the program (share/zembra/boundaries): US states and
// counties, the world's countries and North America's lakes, as TopoJSON and compiled from
// it by the build (name.ztopo beside name.json, read in its place). Found from the
// running program's own location, so a copy moved to another folder still finds it.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <zembra/draw/basemap.hpp>
#include <zembra/draw/topojson.hpp>

namespace zembra::draw {

// <program folder>/<bin to data>/boundaries.
std::filesystem::path defaultBoundaryDirectory();

// A state, district or territory of the census outlines.
struct StateInfo {
    std::string_view fips;    // the outlines' feature id, "34"
    std::string_view postal;  // "NJ"
    std::string_view name;    // "New Jersey"
    bool fitArea;             // one of the 50 states, DC, PR and VI
};

// Every state, district and territory the outlines hold, in FIPS order.
std::span<const StateInfo> states() noexcept;

// The state named by its postal code or name, ignoring case and surrounding blanks.
const StateInfo* findState(std::string_view codeOrName) noexcept;

// The topologies of one folder, each read on first use and then kept.
class BoundaryData {
  public:
    explicit BoundaryData(std::filesystem::path folder = defaultBoundaryDirectory());

    const std::filesystem::path& folder() const { return folder_; }
    const Topology& states();    // object "states"
    const Topology& counties();  // objects "counties", "states", "nation"
    const Topology& world();     // object "countries"
    const Topology& lakes();     // object "lakes"

    // The layers of the shipped maps' look, built once.
    const MapLayers& layers(UsLand source = UsLand::States);

    // Only a map of these bounds will be drawn: the world and lake outlines read from
    // now on keep their detail near them alone (see Topology::parse). Data read
    // earlier stays whole; the states are always whole, since regions are found in them.
    void drawOnlyWithin(const Bounds& bounds);

  private:
    const Topology& get(std::optional<Topology>& slot, std::string_view file,
                        const std::optional<Bounds>& detailWithin = std::nullopt);

    std::filesystem::path folder_;
    std::optional<Topology> states_, counties_, world_, lakes_;
    std::optional<MapLayers> stateLayers_, countryLayers_;
    std::optional<Bounds> detailWithin_;
};

}  // namespace zembra::draw
