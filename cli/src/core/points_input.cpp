#include "core/points_input.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <zembra/runtime.hpp>

#include "core/text.hpp"
#include "core/usage_error.hpp"

namespace zembra::cli {

namespace {

bool tryParsePoint(std::string_view text, render::LatLon& point, std::string& problem) {
    const auto comma = text.find(',');
    if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos) {
        problem = "expected LAT,LON";
        return false;
    }
    const auto lat = trim(text.substr(0, comma));
    const auto lon = trim(text.substr(comma + 1));
    for (const auto part : {lat, lon}) {
        if (!isNumericText(part) || !std::isfinite(parseNumber(part))) {
            problem = std::string("'").append(part) + "' is not a number";
            return false;
        }
    }
    point = {parseNumber(lat), parseNumber(lon)};
    if (point.lat < -90 || point.lat > 90) {
        problem = "latitude " + std::string(lat) + " is outside -90..90";
        return false;
    }
    return true;
}

}  // namespace

render::LatLon parsePoint(std::string_view text) {
    render::LatLon point;
    std::string problem;
    if (!tryParsePoint(text, point, problem)) {
        throw UsageError("point '" + std::string(text) + "': " + problem);
    }
    return point;
}

void readPoints(render::RecordSource& in, std::vector<render::LatLon>& points) {
    std::vector<std::string> fields;
    bool firstPair = true;
    while (in.next(fields)) {
        std::string line;
        for (size_t i = 0; i < fields.size(); ++i) line += (i == 0 ? "" : ",") + fields[i];
        const auto text = trim(line);
        if (text.empty()) continue;
        render::LatLon point;
        std::string problem;
        if (tryParsePoint(text, point, problem)) {
            points.push_back(point);
        } else if (!firstPair || std::any_of(text.begin(), text.end(), [](unsigned char c) {
                       return std::isdigit(c) != 0;
                   })) {
            throw UsageError(in.name() + ", " + in.position() + ": " + problem);
        }
        firstPair = false;
    }
}

}  // namespace zembra::cli
