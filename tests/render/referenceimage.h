#pragma once

// Reference pictures of the rendered checks: RGB pictures read from and written to PNG files,
// compared within a tolerance that forgives an edge moved by one pixel but not a changed colour
// over an area, and the side-by-side picture a failed comparison leaves for a person to look at.

#include <string>
#include <vector>

namespace render_check
{

/// An RGB picture, rows from the top, 3 bytes a pixel.
struct RgbPicture
{
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;

    const unsigned char* at(int x, int y) const { return &rgb[(static_cast<std::size_t>(y) * width + x) * 3]; }
};

/// How far two pictures may differ and still count as the same.
struct Tolerance
{
    /// A pixel matches when some pixel within this many pixels of its place in the other picture
    /// differs from it by at most `channel` in each of red, green and blue.
    int reach = 1;
    int channel = 16;
    /// The share of pixels, of either picture, that may find no match.
    double share = 0.001;
};

/// The outcome of a comparison.
struct Comparison
{
    bool sameSize = false;
    long unmatched = 0;              ///< pixels of either picture without a match in the other
    double share = 0.0;              ///< unmatched / pixels of one picture
    int largestStep = 0;             ///< the largest per-channel difference between pixels at the same place
    std::vector<unsigned char> mask; ///< per pixel: 1 where a pixel of either picture found no match

    bool passes(const Tolerance& tolerance) const { return sameSize && share <= tolerance.share; }
};

Comparison compare(const RgbPicture& actual, const RgbPicture& reference, const Tolerance& tolerance);

/// The picture moved by (@p dx, @p dy) pixels, the uncovered border repeating the nearest edge.
RgbPicture shifted(const RgbPicture& picture, int dx, int dy);

/// Reference, actual and difference side by side (the difference shows the reference dimmed,
/// pixels that differ a little in amber and those without a match in magenta).
RgbPicture sideBySide(const RgbPicture& actual, const RgbPicture& reference, const Comparison& comparison);

/// PNG files through the engine's image codecs (a codec plugin must be loaded). Return false with
/// @p error set when they cannot.
bool loadPng(const std::string& path, RgbPicture& picture, std::string& error);
bool savePng(const RgbPicture& picture, const std::string& path, std::string& error);

} // namespace render_check
