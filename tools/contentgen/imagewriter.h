#pragma once

#include <cstdint>
#include <string>

/// An opaque RGB colour of a generated texture.
struct Rgb
{
    std::uint8_t r, g, b;
};

/// A clearly distinguishable colour derived from @p name, stable across runs.
Rgb colourForName(const std::string& name);

/// Writes a square uncompressed 32-bit DDS texture of @p size pixels: @p fill
/// with a darker one-pixel border so box faces stay readable. Returns false
/// when the file cannot be written.
bool writeDds(const std::string& path, unsigned size, Rgb fill);

/// Writes a square DDS texture of @p size pixels: @p fill brightest in the middle and fading
/// to black at the edges (for additive effect billboards).
bool writeDdsGlow(const std::string& path, unsigned size, Rgb fill);

/// Writes a 24-bit BMP of @p size pixels in one colour. Returns false when
/// the file cannot be written.
bool writeBmp(const std::string& path, unsigned size, Rgb fill);
