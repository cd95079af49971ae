#pragma once

#include <OgreCommon.h>
#include <OgrePrerequisites.h>

#include <string>
#include <vector>

namespace avatar_detail
{

/// Above this opacity an avatar is drawn opaque. The float opacity is widened before comparing,
/// so a float 0.98 (0.98000002) counts as opaque.
inline bool isOpaque(float alpha)
{
    return static_cast<double>(alpha) > 0.98;
}

/// Translucent avatars cast shadows only from this opacity on.
inline bool castsShadow(float alpha)
{
    return static_cast<double>(alpha) >= 0.1;
}

/// How the see-through and opaque looks differ between the kinds of avatar.
struct OpacityStyle
{
    bool lightingWhenTranslucent; ///< switch lighting on in the translucent look too
    bool drawBothFacesWhenOpaque; ///< pass 0 culls nothing in the opaque look
};

/// Writes the opaque or see-through settings into technique 0 of a material (blending, diffuse,
/// depth writing, lighting) and pass 0 (alpha rejection, culling). Nothing without technique 0.
void applyOpacity(const Ogre::MaterialPtr& material, float alpha, OpacityStyle style);

/// The filtering of a texture filter level: 0 trilinear; 1 to 4 anisotropic 2, 4, 8, 16;
/// anything else anisotropic 2.
struct TextureFilter
{
    Ogre::TextureFilterOptions filter;
    unsigned anisotropy;
};
TextureFilter textureFilterForLevel(int level);

/// Applies a filter to every texture unit of a material; the anisotropy only for anisotropic filtering.
void applyTextureFilter(const Ogre::MaterialPtr& material, TextureFilter filter);

/// The material of that name in any group, or null. A missing one is noted in the log as what was
/// asked for, where, with the material that stands in for it (if any).
Ogre::MaterialPtr findMaterial(const std::string& name, const char* where, const char* standIn = nullptr);

/// Writes the opacity into each material of a list (an avatar's own copies, each once).
void applyOpacity(const std::vector<Ogre::MaterialPtr>& materials, float alpha, OpacityStyle style);
/// Applies the filter to each material of a list.
void applyTextureFilter(const std::vector<Ogre::MaterialPtr>& materials, TextureFilter filter);
/// Removes each material of a list from the material manager, unless it was removed already (a
/// material the host made under that name since is left alone), and empties the list.
void removeMaterials(std::vector<Ogre::MaterialPtr>& materials, const char* where);

/// Whether the material manager still holds this very material: a host may remove a material
/// (to reload it, say) while entities still point at the old object.
bool isHeld(const Ogre::MaterialPtr& material);

/// Writes the opacity into the current material of every sub-entity of entity, in index order.
/// With owned given, only materials whose names it holds change: a material shared with other
/// entities stays as it is. Throws what the engine throws; callers guard.
void applyOpacity(Ogre::Entity& entity, float alpha, OpacityStyle style,
                  const std::vector<std::string>* owned = nullptr);

/// Applies the filter to the current material of every sub-entity of entity, in index order;
/// with owned given, only to materials whose names it holds. Throws what the engine throws.
void applyTextureFilter(Ogre::Entity& entity, TextureFilter filter, const std::vector<std::string>* owned = nullptr);

} // namespace avatar_detail
