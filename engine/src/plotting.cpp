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
    // Sized by the elements the arrays hold, not by their upper bound: with a lower
    // bound above 0 the loop fails at index 0 before anything is drawn.
    const size_t size = lats.lowerBound() <= 0 && lons.lowerBound() <= 0 ? count : 0;
    std::vector<int32_t> columns;
    std::vector<int32_t> rows;
    columns.reserve(size);
    rows.reserve(size);
    for (size_t i = 0; i < count; ++i) {
        const auto index = static_cast<int32_t>(i);
        columns.push_back(lonToX(lons.at(index).toDouble()));
        rows.push_back(latToY(lats.at(index).toDouble()));
    }

    imaging::Picture& map = getMapImage();
    composeMarkers(map, getOverlayImage(), columns, rows);

    std::vector<int32_t> outside;
    const int32_t width = getMapWidth();
    const int32_t height = getMapHeight();
    for (size_t i = 0; i < columns.size(); ++i) {
        if (columns[i] < 0 || columns[i] >= width || rows[i] < 0 || rows[i] >= height) {
            outside.push_back(static_cast<int32_t>(i));
        }
    }
    outsidePoints_ = std::move(outside);
    return true;
}

Variant CMap::outsidePoints() const {
    std::vector<Variant> positions;
    positions.reserve(outsidePoints_.size());
    for (const int32_t i : outsidePoints_) positions.emplace_back(i);
    return Variant::array(std::move(positions), 0);
}

bool CMap::mapCoordinate(double lat, double lon) {
    return mapCoordinates(Variant(std::vector<Variant>{Variant(lat)}),
                          Variant(std::vector<Variant>{Variant(lon)}));
}

void CMap::composeMarkers(imaging::Picture& map, const imaging::Picture& marker,
                          const std::vector<int32_t>& columns, const std::vector<int32_t>& rows) {
    // Every marker edge is computed and the marker prepared before anything is drawn,
    // so an overflow or a failed allocation ends the call with the map untouched.
    std::vector<int32_t> lefts(columns.size());
    std::vector<int32_t> tops(rows.size());
    for (size_t i = 0; i < columns.size(); ++i) {
        lefts[i] = markerLeft(columns[i]);
        tops[i] = markerTop(rows[i]);
    }
    // White pixels of the marker leave the map visible; later points are drawn over
    // earlier ones.
    const imaging::Stamp stamp(marker, imaging::kWhite);
    for (size_t i = 0; i < lefts.size(); ++i) stamp.drawOnto(map, lefts[i], tops[i]);
}

int32_t CMap::markerLeft(int32_t x) {
    return roundToInt32Checked(static_cast<double>(x) - getOverlayWidth() / 2.0);
}

int32_t CMap::markerTop(int32_t y) {
    return roundToInt32Checked(static_cast<double>(y) - getOverlayHeight() / 2.0);
}

}  // namespace zembra::engine
