#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace avatar_detail
{

/// The longest name an avatar gives a material copy of its own.
constexpr std::size_t kMaxMaterialCopyName = 254;

/// FNV-1a over the bytes of text: stable across runs and builds, unlike std::hash.
inline std::uint64_t stableHash(const std::string& text) noexcept
{
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text)
    {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

/// The name of an instance's copy of a material: "<material>_<id>_<index>", the ID printed
/// as a signed 32-bit number. A name that would exceed kMaxMaterialCopyName keeps as much of
/// the material name as fits and marks the cut with "~" and a hash of the whole material
/// name, so two long names sharing a prefix still get different copies.
inline std::string instanceMaterialName(const std::string& material, unsigned uniqueID, unsigned index)
{
    char suffix[32];
    std::snprintf(suffix, sizeof(suffix), "_%d_%d", static_cast<int>(uniqueID), static_cast<int>(index));
    if (material.size() + std::string(suffix).size() <= kMaxMaterialCopyName)
        return material + suffix;

    char mark[24];
    std::snprintf(mark, sizeof(mark), "~%016llx", static_cast<unsigned long long>(stableHash(material)));
    const std::size_t keep = kMaxMaterialCopyName - std::string(mark).size() - std::string(suffix).size();
    return material.substr(0, keep) + mark + suffix;
}

} // namespace avatar_detail
