// Which of the codes plotted on a picture lies under one of its pixels: the code whose
// marker covers the pixel, so that a click on a marker names that marker's own code rather
// than whichever code of the whole table happens to lie nearest.
#pragma once

#include <optional>
#include <string>
#include <vector>
#include <zembra/render/render.hpp>

namespace zembra::render {

struct PlottedCode {
    std::string zip;
    LatLon position;  // where it was plotted
    std::string city;
    std::string state;
};

// Of `codes` (those a render plotted), the one whose marker of `markerWidth` x
// `markerHeight` pixels, centred on its position, covers the request's pixel; the one
// nearest the pixel when several do. Codes without an area of their own count at their
// post-office town, as they were plotted. Nothing when no marker covers the pixel.
// Database errors raise zembra::Error unchanged.
std::optional<PlottedCode> plottedCodeAt(const LookupRequest& request, int markerWidth,
                                         int markerHeight, const std::vector<std::string>& codes);

}  // namespace zembra::render
