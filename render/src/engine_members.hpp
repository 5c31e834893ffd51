// The map engine as the render library reaches it: its programmatic identifier and the
// names of the members used. The only place these names are spelled outside the engine.
#pragma once

#include <string_view>

namespace zembra::render::engine {

inline constexpr std::string_view kProgId = "Zembra.CMap";

// Properties.
inline constexpr std::string_view kInputMapFile = "InputMapFile";
inline constexpr std::string_view kInputOverlayFile = "InputOverlayFile";
inline constexpr std::string_view kConnectionString = "ConnectionString";
inline constexpr std::string_view kMinLat = "MinLat";
inline constexpr std::string_view kMaxLat = "MaxLat";
inline constexpr std::string_view kMinLon = "MinLon";
inline constexpr std::string_view kMaxLon = "MaxLon";
inline constexpr std::string_view kOutputImageType = "OutputImageType";
inline constexpr std::string_view kOutputMap = "OutputMap";
inline constexpr std::string_view kUnmatchedZips = "UnmatchedZips";
inline constexpr std::string_view kZipTable = "ZipTable";
inline constexpr std::string_view kZipField = "ZipField";
inline constexpr std::string_view kLatField = "LatField";
inline constexpr std::string_view kLonField = "LonField";
inline constexpr std::string_view kOutsidePoints = "OutsidePoints";

// Methods.
inline constexpr std::string_view kMapZips = "MapZips";
inline constexpr std::string_view kMapCoordinates = "MapCoordinates";
inline constexpr std::string_view kSaveMap = "SaveMap";
inline constexpr std::string_view kGetLatLonFromMapPoint = "GetLatLonFromMapPoint";
inline constexpr std::string_view kGetZipCodeFromMapPoint = "GetZipCodeFromMapPoint";

}  // namespace zembra::render::engine
