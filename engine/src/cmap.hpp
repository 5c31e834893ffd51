// The map engine's one creatable class. Callers reach it late-bound through the
// Dispatch interface (members.cpp holds the member table); the typed methods below
// are what the table's handlers call.
//
// Every failure is raised as zembra::Error: the engine's own three errors carry
// kEngineErrorNumber and kEngineSource; conversion, arithmetic, imaging, file and
// database failures pass through with their own numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include <zembra/runtime.hpp>
#include <zembra/text.hpp>

#include "imaging.hpp"

namespace zembra::db {
class Connection;
}

namespace zembra::engine {

inline constexpr int32_t kEngineErrorNumber = err::kEngine;
inline constexpr const char* kEngineSource = "Pixam.CMap";
// Source given to arithmetic and file errors the engine raises itself.
inline constexpr const char* kRuntimeSource = "Zembra";

// An error with the engine's number and source and the given description.
Error engineError(std::string description);

class CMap final : public Dispatch {
  public:
    CMap();
    ~CMap() override;
    CMap(const CMap&) = delete;
    CMap& operator=(const CMap&) = delete;

    // Late binding (members.cpp).
    int32_t memberId(std::string_view name) const override;
    Variant invoke(int32_t id, InvokeKind kind, std::span<Variant> args) override;

    // Properties. The database texts apply (and store) their defaults when read empty.
    const std::string& inputMapFile() const { return inputMapFile_; }
    void setInputMapFile(std::string path) { inputMapFile_ = std::move(path); }
    const std::string& inputOverlayFile() const { return inputOverlayFile_; }
    void setInputOverlayFile(std::string path);
    const std::string& connectionString();
    void setConnectionString(std::string value) { connectionString_ = std::move(value); }
    const std::string& zipTable();
    void setZipTable(std::string value) { zipTable_ = std::move(value); }
    const std::string& zipField();
    void setZipField(std::string value) { zipField_ = std::move(value); }
    const std::string& latField();
    void setLatField(std::string value) { latField_ = std::move(value); }
    const std::string& lonField();
    void setLonField(std::string value) { lonField_ = std::move(value); }
    const std::string& outputImageType() const { return outputImageType_; }
    void setOutputImageType(std::string value) { outputImageType_ = std::move(value); }
    double minLat() const { return minLat_; }
    void setMinLat(double v) { minLat_ = v; }
    double minLon() const { return minLon_; }
    void setMinLon(double v) { minLon_ = v; }
    double maxLat() const { return maxLat_; }
    void setMaxLat(double v) { maxLat_ = v; }
    double maxLon() const { return maxLon_; }
    void setMaxLon(double v) { maxLon_ = v; }

    // Canvas (canvas.cpp).
    // Reloads the plain map from InputMapFile; raises "No input map supplied" when it is empty.
    bool clear();
    // The current picture encoded as OutputImageType; raises "Invalid File Type" after
    // the map was loaded and decoded.
    std::vector<uint8_t> outputMap();
    // Writes outputMap() to `path` through a temporary file renamed over it, so a failure
    // leaves whatever was at `path` untouched. Raises 76 for a missing folder, 70 without
    // permission, 75 for other file-system failures.
    void saveMap(const std::string& path);

    // Plotting (plotting.cpp). Arrays are indexed from 0 up to their upper bound.
    bool mapCoordinates(const Variant& lats, const Variant& lons);
    bool mapCoordinate(double lat, double lon);
    // Zero-based positions, in the last mapCoordinates/mapCoordinate/mapZips/mapZip call's
    // list, of the points whose marker centre fell outside the picture (so nothing or only
    // part of a marker shows). Lower bound 0.
    Variant outsidePoints() const;

    // Zip codes (ziplookup.cpp).
    bool mapZips(const Variant& zips);
    bool mapZip(const std::string& zip);
    // Texts of the codes of the last mapZips/mapZip call that found no row (lower bound 0).
    Variant unmatchedZips() const;

    // Reverse lookup (reverselookup.cpp).
    Variant getZipCodeFromMapPoint(int32_t x, int32_t y);
    void getLatLonFromMapPoint(int32_t x, int32_t y, Variant& lat, Variant& lon);

  private:
    // Canvas helpers.
    // The stored pictures, loading them first when empty (the map through clear()).
    imaging::Picture& getMapImage();
    const imaging::Picture& getOverlayImage();
    int32_t getMapWidth();
    int32_t getMapHeight();
    int32_t getOverlayWidth();
    int32_t getOverlayHeight();

    // Projection (projection.cpp).
    int32_t lonToX(double lon);
    int32_t latToY(double lat);
    double xToLon(int32_t x);
    double yToLat(int32_t y);

    // Plotting helpers.
    // Draws the marker, centred, at every point onto the map. Everything that can fail
    // happens before the first marker is drawn, so a failure leaves the map as it was.
    void composeMarkers(imaging::Picture& map, const imaging::Picture& marker,
                        const std::vector<int32_t>& columns, const std::vector<int32_t>& rows);
    int32_t markerLeft(int32_t x);
    int32_t markerTop(int32_t y);

    // Zip lookup helpers. lookupZip returns false (and 0, 0) when the table has no row.
    db::Connection openZipConnection();
    bool lookupZip(const std::string& zip, db::Connection& connection, double& lat, double& lon);

    std::string inputMapFile_;
    std::string inputOverlayFile_;
    std::string connectionString_;
    std::string zipTable_;
    std::string zipField_;
    std::string latField_;
    std::string lonField_;
    std::string outputImageType_ = "gif";
    double minLat_ = 24.0;
    double minLon_ = -125.0;
    double maxLat_ = 50.0;
    double maxLon_ = -66.4;

    // The current picture, decoded: the map with every marker plotted since the last
    // Clear; empty until the map is first loaded. Kept decoded between calls, so a
    // plotting call draws in place and an output encodes once.
    imaging::Picture mapImage_;
    imaging::Picture overlayImage_;  // emptied when InputOverlayFile is assigned
    int32_t mapWidth_ = 0;
    int32_t mapHeight_ = 0;
    int32_t overlayWidth_ = 0;
    int32_t overlayHeight_ = 0;
    std::vector<std::string> unmatchedZips_;
    std::vector<int32_t> outsidePoints_;
};

// Rounds half to even and converts to int32; raises 6 (Overflow) for a value that is
// not finite or lies outside the int32 range, checked before converting.
int32_t roundToInt32Checked(double value);

// Live CMap objects in this library (exports.cpp), for DllCanUnloadNow.
void objectCreated() noexcept;
void objectDestroyed() noexcept;

}  // namespace zembra::engine
