#include "imagewriter.h"

#include <OgreColourValue.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

namespace
{
void put32(std::vector<char>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void put16(std::vector<char>& out, std::uint16_t v)
{
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}

bool writeFile(const std::string& path, const std::vector<char>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}
} // namespace

Rgb colourForName(const std::string& name)
{
    // FNV-1a spreads similar names (hair_1_0_M, hair_1_1_M) over distant hues.
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : name)
        hash = (hash ^ c) * 16777619u;
    Ogre::ColourValue colour;
    colour.setHSB((hash % 360) / 360.0f, 0.55f + (hash >> 9) % 40 / 100.0f, 0.6f + (hash >> 17) % 40 / 100.0f);
    return Rgb{static_cast<std::uint8_t>(colour.r * 255), static_cast<std::uint8_t>(colour.g * 255),
               static_cast<std::uint8_t>(colour.b * 255)};
}

namespace
{
void putDdsHeader(std::vector<char>& out, unsigned size)
{
    out.insert(out.end(), {'D', 'D', 'S', ' '});
    put32(out, 124);                            // header size
    put32(out, 0x1 | 0x2 | 0x4 | 0x1000 | 0x8); // caps, height, width, pixel format, pitch
    put32(out, size);                           // height
    put32(out, size);                           // width
    put32(out, size * 4);                       // pitch
    put32(out, 0);                              // depth
    put32(out, 0);                              // mip maps
    for (int i = 0; i < 11; ++i)
        put32(out, 0);      // reserved
    put32(out, 32);         // pixel format size
    put32(out, 0x40 | 0x1); // RGB with alpha
    put32(out, 0);          // no FourCC
    put32(out, 32);         // bits per pixel
    put32(out, 0x00ff0000); // red mask
    put32(out, 0x0000ff00); // green mask
    put32(out, 0x000000ff); // blue mask
    put32(out, 0xff000000); // alpha mask
    put32(out, 0x1000);     // texture
    for (int i = 0; i < 4; ++i)
        put32(out, 0); // caps2..4, reserved
}

void putPixel(std::vector<char>& out, Rgb colour, float scale)
{
    out.push_back(static_cast<char>(static_cast<int>(colour.b * scale)));
    out.push_back(static_cast<char>(static_cast<int>(colour.g * scale)));
    out.push_back(static_cast<char>(static_cast<int>(colour.r * scale)));
    out.push_back(static_cast<char>(0xff));
}
} // namespace

bool writeDds(const std::string& path, unsigned size, Rgb fill)
{
    std::vector<char> out;
    putDdsHeader(out, size);
    for (unsigned y = 0; y < size; ++y)
        for (unsigned x = 0; x < size; ++x)
        {
            const bool border = x == 0 || y == 0 || x + 1 == size || y + 1 == size;
            putPixel(out, fill, border ? 0.5f : 1.0f);
        }
    return writeFile(path, out);
}

bool writeDdsGlow(const std::string& path, unsigned size, Rgb fill)
{
    std::vector<char> out;
    putDdsHeader(out, size);
    const float centre = 0.5f * static_cast<float>(size - 1);
    for (unsigned y = 0; y < size; ++y)
        for (unsigned x = 0; x < size; ++x)
        {
            const float dx = (static_cast<float>(x) - centre) / centre;
            const float dy = (static_cast<float>(y) - centre) / centre;
            const float falloff = std::max(0.0f, 1.0f - std::sqrt(dx * dx + dy * dy));
            putPixel(out, fill, falloff * falloff);
        }
    return writeFile(path, out);
}

bool writeBmp(const std::string& path, unsigned size, Rgb fill)
{
    const std::uint32_t rowBytes = (size * 3 + 3) & ~3u;
    const std::uint32_t pixelBytes = rowBytes * size;
    std::vector<char> out;
    out.insert(out.end(), {'B', 'M'});
    put32(out, 54 + pixelBytes);
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, size);
    put32(out, size);
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);
    put32(out, pixelBytes);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (unsigned y = 0; y < size; ++y)
    {
        for (unsigned x = 0; x < size; ++x)
            out.insert(out.end(), {static_cast<char>(fill.b), static_cast<char>(fill.g), static_cast<char>(fill.r)});
        out.insert(out.end(), rowBytes - size * 3, 0);
    }
    return writeFile(path, out);
}
