#include "pictures.h"

#include <Ogre.h>

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace
{

/// 3 by 5 dots a character, one row of 3 bits per entry, top row first.
struct Glyph
{
    char c;
    unsigned char rows[5];
};

const Glyph kGlyphs[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}}, {'3', {7, 1, 7, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}}, {'7', {7, 1, 1, 1, 1}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'.', {0, 0, 0, 0, 2}}, {':', {0, 2, 0, 2, 0}},
    {'s', {3, 4, 2, 1, 6}}, {'t', {2, 7, 2, 2, 3}}, {'=', {0, 7, 0, 7, 0}},
};

const Glyph* glyph(char c)
{
    for (const Glyph& g : kGlyphs)
        if (g.c == c)
            return &g;
    return nullptr;
}

void fill(Picture& picture, int x, int y, int w, int h, const unsigned char colour[3])
{
    for (int row = std::max(0, y); row < std::min(picture.height, y + h); ++row)
        for (int col = std::max(0, x); col < std::min(picture.width, x + w); ++col)
            std::memcpy(&picture.rgb[(static_cast<std::size_t>(row) * picture.width + col) * 3], colour, 3);
}

} // namespace

void rowsCovering(const Ogre::Camera& camera, const Ogre::AxisAlignedBox& box, int height, float margin, int& top,
                  int& bottom)
{
    top = 0;
    bottom = height;
    if (!box.isFinite())
        return;
    const Ogre::Matrix4 viewProj = camera.getProjectionMatrix() * camera.getViewMatrix();
    float minY = 1.0f, maxY = -1.0f;
    for (const Ogre::Vector3& corner : box.getAllCorners())
    {
        const float y = (viewProj * corner).y;
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    const float widen = (maxY - minY) * margin;
    auto row = [height](float y) { return static_cast<int>((1.0f - y) * 0.5f * static_cast<float>(height)); };
    top = std::max(0, row(maxY + widen));
    bottom = std::min(height, row(minY - widen));
    if (bottom - top < 2)
    {
        top = 0;
        bottom = height;
    }
    // Even heights halve cleanly.
    if ((bottom - top) % 2)
    {
        if (bottom < height)
            ++bottom;
        else
            --bottom;
    }
}

Picture grabRows(Ogre::RenderTarget& target, int top, int bottom)
{
    const int width = static_cast<int>(target.getWidth());
    const int height = static_cast<int>(target.getHeight());
    std::vector<unsigned char> all(static_cast<std::size_t>(width) * height * 3);
    Ogre::PixelBox box(width, height, 1, Ogre::PF_BYTE_RGB, all.data());
    target.copyContentsToMemory(box, box);
    Picture picture;
    picture.width = width;
    picture.height = bottom - top;
    picture.rgb.assign(all.begin() + static_cast<std::ptrdiff_t>(top) * width * 3,
                       all.begin() + static_cast<std::ptrdiff_t>(bottom) * width * 3);
    return picture;
}

Picture halve(const Picture& picture)
{
    Picture half;
    half.width = picture.width / 2;
    half.height = picture.height / 2;
    half.rgb.resize(static_cast<std::size_t>(half.width) * half.height * 3);
    for (int y = 0; y < half.height; ++y)
        for (int x = 0; x < half.width; ++x)
            for (int c = 0; c < 3; ++c)
            {
                auto at = [&](int dx, int dy)
                { return picture.rgb[(static_cast<std::size_t>(2 * y + dy) * picture.width + 2 * x + dx) * 3 + c]; };
                half.rgb[(static_cast<std::size_t>(y) * half.width + x) * 3 + c] =
                    static_cast<unsigned char>((at(0, 0) + at(1, 0) + at(0, 1) + at(1, 1) + 2) / 4);
            }
    return half;
}

void drawText(Picture& picture, int x, int y, const std::string& text, int scale, const unsigned char colour[3])
{
    for (char c : text)
    {
        if (const Glyph* g = glyph(c))
            for (int row = 0; row < 5; ++row)
                for (int col = 0; col < 3; ++col)
                    if (g->rows[row] & (4 >> col))
                        fill(picture, x + col * scale, y + row * scale, scale, scale, colour);
        x += 4 * scale;
    }
}

Picture tile(const std::vector<Picture>& pictures, int columns, int gap, const unsigned char background[3])
{
    Picture sheet;
    if (pictures.empty() || columns < 1)
        return sheet;
    const int w = pictures[0].width, h = pictures[0].height;
    const int rows = (static_cast<int>(pictures.size()) + columns - 1) / columns;
    columns = std::min(columns, static_cast<int>(pictures.size()));
    sheet.width = columns * (w + gap) + gap;
    sheet.height = rows * (h + gap) + gap;
    sheet.rgb.resize(static_cast<std::size_t>(sheet.width) * sheet.height * 3);
    fill(sheet, 0, 0, sheet.width, sheet.height, background);
    for (std::size_t i = 0; i < pictures.size(); ++i)
    {
        const int left = gap + static_cast<int>(i) % columns * (w + gap);
        const int top = gap + static_cast<int>(i) / columns * (h + gap);
        for (int y = 0; y < h; ++y)
            std::memcpy(&sheet.rgb[(static_cast<std::size_t>(top + y) * sheet.width + left) * 3],
                        &pictures[i].rgb[static_cast<std::size_t>(y) * w * 3], static_cast<std::size_t>(w) * 3);
    }
    return sheet;
}

bool savePicture(const Picture& picture, const std::string& path, std::string& error)
{
    try
    {
        Ogre::Image image;
        image.loadDynamicImage(const_cast<unsigned char*>(picture.rgb.data()), picture.width, picture.height, 1,
                               Ogre::PF_BYTE_RGB, false);
        image.save(path);
        return true;
    }
    catch (const Ogre::Exception& e)
    {
        error = e.getDescription();
        return false;
    }
}

bool saveGif(const std::vector<Picture>& frames, int delayCentiseconds, const std::string& path, std::string& error)
{
    if (frames.empty())
    {
        error = "no frames";
        return false;
    }
    const int w = frames[0].width, h = frames[0].height;
    // One palette for every frame, so that colours do not flicker: the frames stacked into one
    // tall picture and reduced to 256 colours together (median cut).
    const std::size_t pixels = static_cast<std::size_t>(w) * h;
    std::vector<GifByteType> red(pixels * frames.size()), green(red.size()), blue(red.size()), index(red.size());
    for (std::size_t f = 0; f < frames.size(); ++f)
    {
        if (frames[f].width != w || frames[f].height != h)
        {
            error = "frames of different sizes";
            return false;
        }
        for (std::size_t p = 0; p < pixels; ++p)
        {
            red[f * pixels + p] = frames[f].rgb[p * 3];
            green[f * pixels + p] = frames[f].rgb[p * 3 + 1];
            blue[f * pixels + p] = frames[f].rgb[p * 3 + 2];
        }
    }
    GifColorType colours[256] = {};
    int colourCount = 256;
    if (GifQuantizeBuffer(static_cast<unsigned>(w), static_cast<unsigned>(h * frames.size()), &colourCount, red.data(),
                          green.data(), blue.data(), index.data(), colours) == GIF_ERROR)
    {
        error = "the frames cannot be reduced to 256 colours";
        return false;
    }

    int code = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &code);
    if (!gif)
    {
        error = GifErrorString(code);
        return false;
    }
    ColorMapObject* palette = GifMakeMapObject(256, colours);
    // Extensions (the loop and the frame delays) need the 89a version of the format.
    EGifSetGifVersion(gif, true);
    bool ok = palette && EGifPutScreenDesc(gif, w, h, 8, 0, palette) == GIF_OK;
    // The application extension that makes viewers play the frames in a loop (0: for ever).
    const unsigned char loop[3] = {1, 0, 0};
    ok = ok && EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_OK && EGifPutExtensionBlock(gif, 3, loop) == GIF_OK &&
         EGifPutExtensionTrailer(gif) == GIF_OK;
    for (std::size_t f = 0; ok && f < frames.size(); ++f)
    {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_DO_NOT;
        control.UserInputFlag = false;
        control.DelayTime = delayCentiseconds;
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        GifByteType block[4];
        const std::size_t length = EGifGCBToExtension(&control, block);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), block) == GIF_OK &&
             EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
        for (int y = 0; ok && y < h; ++y)
            ok = EGifPutLine(gif, &index[f * pixels + static_cast<std::size_t>(y) * w], w) == GIF_OK;
    }
    if (!ok)
        error = GifErrorString(gif->Error);
    GifFreeMapObject(palette);
    if (EGifCloseFile(gif, &code) == GIF_ERROR && ok)
    {
        error = GifErrorString(code);
        ok = false;
    }
    // giflib creates the file readable by its owner only; give it the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(path.c_str(), 0666 & ~mask);
    return ok;
}
