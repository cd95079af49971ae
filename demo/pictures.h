#pragma once

// The demo's pictures beyond the lineup: frames read back from the window, tiled into a contact
// sheet (PNG through the engine's image codec) and played as an animated GIF (giflib).

#include <OgrePrerequisites.h>

#include <string>
#include <vector>

/// An RGB picture, rows from the top, 3 bytes a pixel.
struct Picture
{
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
};

/// The rows of the screen, from the top, that the world box @p box covers as @p camera sees it on
/// a target @p height pixels high, widened by @p margin of their height on each side.
void rowsCovering(const Ogre::Camera& camera, const Ogre::AxisAlignedBox& box, int height, float margin, int& top,
                  int& bottom);

/// Rows [@p top, @p bottom) of what @p target shows now.
Picture grabRows(Ogre::RenderTarget& target, int top, int bottom);

/// Half the width and height, each pixel the mean of four.
Picture halve(const Picture& picture);

/// Writes @p text (digits, '.', ':', 's', 't', '=' and spaces) at (@p x, @p y) in a small block font
/// @p scale pixels a dot; other characters leave a gap.
void drawText(Picture& picture, int x, int y, const std::string& text, int scale, const unsigned char colour[3]);

/// The pictures, all of one size, in rows of @p columns, left to right, with @p gap pixels of
/// @p background between and around them.
Picture tile(const std::vector<Picture>& pictures, int columns, int gap, const unsigned char background[3]);

/// Saves through the engine's image codecs (the file name's extension chooses the format).
/// Returns false with @p error set when it cannot.
bool savePicture(const Picture& picture, const std::string& path, std::string& error);

/// Writes an animated GIF that loops for ever: the frames, all of one size, on one 256-colour
/// palette, each shown for @p delayCentiseconds. Returns false with @p error set when it cannot.
bool saveGif(const std::vector<Picture>& frames, int delayCentiseconds, const std::string& path, std::string& error);
