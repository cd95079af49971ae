#pragma once

// Labels in the demo's pictures: text drawn with FreeType from a font of the system (DejaVu Sans,
// Debian's fonts-dejavu-core), blended into the picture by the glyphs' coverage.

#include "pictures.h"

#include <string>
#include <vector>

typedef struct FT_LibraryRec_* FT_Library;
typedef struct FT_FaceRec_* FT_Face;

class TextPainter
{
public:
    TextPainter() = default;
    ~TextPainter();
    TextPainter(const TextPainter&) = delete;
    TextPainter& operator=(const TextPainter&) = delete;

    /// Opens the first font found among the usual places. Returns false with @p error set when
    /// there is none: the pictures are then written without labels.
    bool open(std::string& error);
    bool isOpen() const { return m_face != nullptr; }

    /// The width in pixels of @p text at @p size pixels a line.
    int width(const std::string& text, int size);

    /// The size of the band that label() draws for @p lines.
    int labelWidth(const std::vector<std::string>& lines, int size);
    static int labelHeight(std::size_t lines, int size) { return static_cast<int>(lines) * (size + size / 4) + 2; }

    /// Lines of text, each centred on @p centreX, the first with its top at @p top, on a darkened
    /// band that keeps them readable over anything; nothing without a font.
    void label(Picture& picture, int centreX, int top, const std::vector<std::string>& lines, int size,
               const unsigned char colour[3]);

private:
    /// Draws @p text with its top-left corner at (@p x, @p top).
    void draw(Picture& picture, int x, int top, const std::string& text, int size, const unsigned char colour[3]);

    FT_Library m_library = nullptr;
    FT_Face m_face = nullptr;
};
