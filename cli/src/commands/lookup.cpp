#include <zembra/runtime.hpp>

#include "commands/commands.hpp"

namespace zembra::cli {

int runLookup(const LookupOptions& options, Io& io) {
    const ResolvedMap resolved = resolveMap(options.map);
    Object map = createMap({resolved.map, {}, resolved.bounds, options.map.connection});

    std::vector<Variant> point{Variant(int32_t{options.x}), Variant(int32_t{options.y}), Variant(),
                               Variant()};
    map.call("GetLatLonFromMapPoint", point);
    const double lat = point[2].toDouble();
    const double lon = point[3].toDouble();

    std::vector<Variant> pixel{Variant(int32_t{options.x}), Variant(int32_t{options.y})};
    const Variant zip = map.call("GetZipCodeFromMapPoint", pixel);

    io.out << (zip.isNull() ? std::string("none") : zip.toString()) << ' ' << formatNumber(lat)
           << ' ' << formatNumber(lon) << '\n';
    return 0;
}

}  // namespace zembra::cli
