// Designed window geometry is given in twips; the client draws at 15 twips per pixel.
#pragma once

#include <QRect>
#include <QSize>

namespace zembra::client {

inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

inline QRect twipsRect(int left, int top, int width, int height) {
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

inline QSize twipsSize(int width, int height) {
    return {twipsToPixels(width), twipsToPixels(height)};
}

// Positions on a tab page are designed relative to the whole tab control, tab strip
// included; a Qt tab page starts below its tab bar, so they move up by the strip.
inline constexpr int kTabStripTwips = 330;

inline QRect pageTwipsRect(int left, int top, int width, int height) {
    return twipsRect(left, top - kTabStripTwips, width, height);
}

}  // namespace zembra::client
