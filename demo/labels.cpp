#include "labels.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <sys/stat.h>

namespace
{

const char* const kFonts[] = {
    "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
    "/usr/share/fonts/truetype/freefont/FreeSans.ttf",
};

bool exists(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0;
}

} // namespace

TextPainter::~TextPainter()
{
    if (m_face)
        FT_Done_Face(m_face);
    if (m_library)
        FT_Done_FreeType(m_library);
}

bool TextPainter::open(std::string& error)
{
    if (!m_library && FT_Init_FreeType(&m_library) != 0)
    {
        m_library = nullptr;
        error = "FreeType cannot start";
        return false;
    }
    for (const char* path : kFonts)
        if (exists(path) && FT_New_Face(m_library, path, 0, &m_face) == 0)
            return true;
    m_face = nullptr;
    error = "no font found (install fonts-dejavu-core)";
    return false;
}

int TextPainter::width(const std::string& text, int size)
{
    if (!m_face || FT_Set_Pixel_Sizes(m_face, 0, static_cast<FT_UInt>(size)) != 0)
        return 0;
    long advance = 0;
    for (unsigned char c : text)
        if (FT_Load_Char(m_face, c, FT_LOAD_DEFAULT) == 0)
            advance += m_face->glyph->advance.x;
    return static_cast<int>(advance >> 6);
}

void TextPainter::draw(Picture& picture, int x, int top, const std::string& text, int size,
                       const unsigned char colour[3])
{
    if (!m_face || FT_Set_Pixel_Sizes(m_face, 0, static_cast<FT_UInt>(size)) != 0)
        return;
    const int baseline = top + static_cast<int>(m_face->size->metrics.ascender >> 6);
    long penX = static_cast<long>(x) << 6;
    for (unsigned char c : text)
    {
        if (FT_Load_Char(m_face, c, FT_LOAD_RENDER) != 0)
            continue;
        const FT_GlyphSlot slot = m_face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        const int left = static_cast<int>(penX >> 6) + slot->bitmap_left;
        const int rowTop = baseline - slot->bitmap_top;
        for (unsigned row = 0; row < bitmap.rows; ++row)
            for (unsigned col = 0; col < bitmap.width; ++col)
            {
                const int px = left + static_cast<int>(col), py = rowTop + static_cast<int>(row);
                if (px < 0 || py < 0 || px >= picture.width || py >= picture.height)
                    continue;
                const int coverage = bitmap.buffer[row * bitmap.pitch + col];
                unsigned char* out = &picture.rgb[(static_cast<std::size_t>(py) * picture.width + px) * 3];
                for (int k = 0; k < 3; ++k)
                    out[k] = static_cast<unsigned char>((colour[k] * coverage + out[k] * (255 - coverage)) / 255);
            }
        penX += slot->advance.x;
    }
}

int TextPainter::labelWidth(const std::vector<std::string>& lines, int size)
{
    int widest = 0;
    for (const std::string& line : lines)
        widest = std::max(widest, width(line, size));
    return widest + 2 * std::max(2, size / 4);
}

void TextPainter::label(Picture& picture, int centreX, int top, const std::vector<std::string>& lines, int size,
                        const unsigned char colour[3])
{
    if (!m_face || lines.empty())
        return;
    const int lineHeight = size + size / 4;
    // The band: the picture darkened to a third behind the text.
    const int bandWidth = labelWidth(lines, size);
    const int x0 = std::max(0, centreX - bandWidth / 2), x1 = std::min(picture.width, centreX + bandWidth / 2);
    const int y0 = std::max(0, top - 1), y1 = std::min(picture.height, top - 1 + labelHeight(lines.size(), size));
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            for (int k = 0; k < 3; ++k)
            {
                unsigned char& v = picture.rgb[(static_cast<std::size_t>(y) * picture.width + x) * 3 + k];
                v = static_cast<unsigned char>(v / 3);
            }
    for (std::size_t i = 0; i < lines.size(); ++i)
        draw(picture, centreX - width(lines[i], size) / 2, top + lineHeight * static_cast<int>(i), lines[i], size,
             colour);
}
