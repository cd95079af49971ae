#include "referenceimage.h"

#include <OgreDataStream.h>
#include <OgreException.h>
#include <OgreImage.h>
#include <OgrePixelFormat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace render_check
{
namespace
{

int channelStep(const unsigned char* a, const unsigned char* b)
{
    return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}

/// Marks every pixel of @p from that no pixel of @p in within the reach matches.
long markUnmatched(const RgbPicture& from, const RgbPicture& in, const Tolerance& tolerance,
                   std::vector<unsigned char>& mask)
{
    long unmatched = 0;
    for (int y = 0; y < from.height; ++y)
        for (int x = 0; x < from.width; ++x)
        {
            bool matched = false;
            for (int dy = -tolerance.reach; dy <= tolerance.reach && !matched; ++dy)
                for (int dx = -tolerance.reach; dx <= tolerance.reach && !matched; ++dx)
                {
                    const int nx = x + dx, ny = y + dy;
                    if (nx >= 0 && ny >= 0 && nx < in.width && ny < in.height)
                        matched = channelStep(from.at(x, y), in.at(nx, ny)) <= tolerance.channel;
                }
            if (!matched)
            {
                unsigned char& mark = mask[static_cast<std::size_t>(y) * from.width + x];
                unmatched += mark ? 0 : 1;
                mark = 1;
            }
        }
    return unmatched;
}

} // namespace

Comparison compare(const RgbPicture& actual, const RgbPicture& reference, const Tolerance& tolerance)
{
    Comparison result;
    result.sameSize =
        actual.width == reference.width && actual.height == reference.height && actual.width > 0 && actual.height > 0;
    if (!result.sameSize)
        return result;
    result.mask.assign(static_cast<std::size_t>(actual.width) * actual.height, 0);
    // Both ways: a thin line that vanished has no counterpart in the actual picture, one that
    // appeared none in the reference.
    result.unmatched = markUnmatched(actual, reference, tolerance, result.mask);
    result.unmatched += markUnmatched(reference, actual, tolerance, result.mask);
    result.share = static_cast<double>(result.unmatched) / static_cast<double>(result.mask.size());
    for (int y = 0; y < actual.height; ++y)
        for (int x = 0; x < actual.width; ++x)
            result.largestStep = std::max(result.largestStep, channelStep(actual.at(x, y), reference.at(x, y)));
    return result;
}

RgbPicture shifted(const RgbPicture& picture, int dx, int dy)
{
    RgbPicture out = picture;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
        {
            const int sx = std::clamp(x - dx, 0, picture.width - 1), sy = std::clamp(y - dy, 0, picture.height - 1);
            std::copy_n(picture.at(sx, sy), 3, &out.rgb[(static_cast<std::size_t>(y) * picture.width + x) * 3]);
        }
    return out;
}

RgbPicture sideBySide(const RgbPicture& actual, const RgbPicture& reference, const Comparison& comparison)
{
    const int gap = 4;
    const int w = std::max(actual.width, reference.width), h = std::max(actual.height, reference.height);
    RgbPicture out;
    out.width = 3 * w + 2 * gap;
    out.height = h;
    out.rgb.assign(static_cast<std::size_t>(out.width) * out.height * 3, 255);
    auto put = [&out](int x, int y, const unsigned char* c)
    { std::copy_n(c, 3, &out.rgb[(static_cast<std::size_t>(y) * out.width + x) * 3]); };
    for (int y = 0; y < reference.height; ++y)
        for (int x = 0; x < reference.width; ++x)
            put(x, y, reference.at(x, y));
    for (int y = 0; y < actual.height; ++y)
        for (int x = 0; x < actual.width; ++x)
            put(w + gap + x, y, actual.at(x, y));
    if (!comparison.sameSize)
        return out;
    const unsigned char unmatched[3] = {255, 0, 255}, slight[3] = {255, 170, 0};
    for (int y = 0; y < actual.height; ++y)
        for (int x = 0; x < actual.width; ++x)
        {
            const unsigned char* r = reference.at(x, y);
            const unsigned char dim[3] = {static_cast<unsigned char>(r[0] / 4), static_cast<unsigned char>(r[1] / 4),
                                          static_cast<unsigned char>(r[2] / 4)};
            const bool unmatchedHere = comparison.mask[static_cast<std::size_t>(y) * actual.width + x] != 0;
            put(2 * (w + gap) + x, y, unmatchedHere ? unmatched : channelStep(actual.at(x, y), r) > 0 ? slight : dim);
        }
    return out;
}

bool loadPng(const std::string& path, RgbPicture& picture, std::string& error)
{
    try
    {
        std::ifstream file(path, std::ios::binary);
        if (!file)
        {
            error = "cannot open " + path;
            return false;
        }
        Ogre::DataStreamPtr stream(new Ogre::FileStreamDataStream(path, &file, false));
        Ogre::Image image;
        image.load(stream, "png");
        picture.width = static_cast<int>(image.getWidth());
        picture.height = static_cast<int>(image.getHeight());
        picture.rgb.assign(static_cast<std::size_t>(picture.width) * picture.height * 3, 0);
        Ogre::PixelBox rgb(picture.width, picture.height, 1, Ogre::PF_BYTE_RGB, picture.rgb.data());
        Ogre::PixelUtil::bulkPixelConversion(image.getPixelBox(), rgb);
        return true;
    }
    catch (const Ogre::Exception& e)
    {
        error = e.getDescription();
        return false;
    }
}

bool savePng(const RgbPicture& picture, const std::string& path, std::string& error)
{
    try
    {
        Ogre::Image image;
        image.loadDynamicImage(const_cast<unsigned char*>(picture.rgb.data()), picture.width, picture.height, 1,
                               Ogre::PF_BYTE_RGB);
        image.save(path);
        return true;
    }
    catch (const Ogre::Exception& e)
    {
        error = e.getDescription();
        return false;
    }
}

} // namespace render_check
