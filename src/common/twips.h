#pragma once

// The unit the screen is designed in: 1440 twips to the inch, so 15 to a pixel at 96 dots per
// inch. Every place that turns designed twips into pixels or back uses this one factor.
namespace tavrolin {

inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips) {
    return twips / kTwipsPerPixel;
}
constexpr int pixelsToTwips(int pixels) {
    return pixels * kTwipsPerPixel;
}

}  // namespace tavrolin
