// Plotting: latitude/longitude pairs become pixels and the marker is stamped,
// centred, at each of them on the stored map.
#include "cmap.hpp"
#include "imaging.hpp"

namespace zembra::engine {

bool CMap::mapCoordinates(const Variant& lats, const Variant& lons) {
    // Raises 13 when either argument is not an array.
    if (lats.upperBound() != lons.upperBound()) {
        throw engineError("Latitude and Longitude arrays must be equal size");
    }
    const int32_t upper = lons.upperBound();
    if (upper < 0) throw Error::standard(err::kSubscript, kRuntimeSource);

    // Index 0 is always the first point, whatever the arrays' lower bounds.
    const auto count = static_cast<size_t>(upper) + 1;
    std::vector<int32_t> columns(count);
    std::vector<int32_t> rows(count);
    for (size_t i = 0; i < count; ++i) {
        const auto index = static_cast<int32_t>(i);
        columns[i] = lonToX(lons.at(index).toDouble());
        rows[i] = latToY(lats.at(index).toDouble());
    }

    const std::vector<uint8_t>& map = getMapImage();
    std::vector<uint8_t> plotted = composeMarkers(map, getOverlayImage(), columns, rows);
    mapImage_ = std::move(plotted);
    return true;
}

bool CMap::mapCoordinate(double lat, double lon) {
    return mapCoordinates(Variant(std::vector<Variant>{Variant(lat)}),
                          Variant(std::vector<Variant>{Variant(lon)}));
}

std::vector<uint8_t> CMap::composeMarkers(const std::vector<uint8_t>& map,
                                          const std::vector<uint8_t>& marker,
                                          const std::vector<int32_t>& columns,
                                          const std::vector<int32_t>& rows) {
    // Every marker edge is computed before anything is decoded or drawn, so an overflow
    // ends the call with nothing done.
    std::vector<int32_t> lefts(columns.size());
    std::vector<int32_t> tops(rows.size());
    for (size_t i = 0; i < columns.size(); ++i) {
        lefts[i] = markerLeft(columns[i]);
        tops[i] = markerTop(rows[i]);
    }
    // One decode of the map and one encode of the result, however many points; the
    // imaging instance decodes the marker bytes at the first draw and reuses them.
    imaging::Imaging image;
    image.loadFromBytes("png", map);
    image.transparentColor("ffffff");
    image.useTransparency(true);
    for (size_t i = 0; i < lefts.size(); ++i) image.drawFromBytes(marker, "png", lefts[i], tops[i]);
    return image.pngBytes();
}

int32_t CMap::markerLeft(int32_t x) {
    return roundToInt32Checked(static_cast<double>(x) - getOverlayWidth() / 2.0);
}

int32_t CMap::markerTop(int32_t y) {
    return roundToInt32Checked(static_cast<double>(y) - getOverlayHeight() / 2.0);
}

}  // namespace zembra::engine
