#include "avatarsystem/detail/materialstate.h"

#include "avatarsystem/detail/ogreguard.h"

#include <OgreEntity.h>
#include <OgreMaterial.h>
#include <OgreMaterialManager.h>
#include <OgrePass.h>
#include <OgreSubEntity.h>
#include <OgreTechnique.h>

#include <algorithm>

namespace avatar_detail
{

Ogre::MaterialPtr findMaterial(const std::string& name, const char* where, const char* standIn)
{
    Ogre::MaterialPtr material = Ogre::MaterialManager::getSingleton().getByName(name, Ogre::RGN_AUTODETECT);
    if (!material)
        logFailure(where, Missing{"material", name, standIn ? std::string("\"") + standIn + "\" stands in" : ""});
    return material;
}

bool isHeld(const Ogre::MaterialPtr& material)
{
    // By handle: a look-up by name would search every resource group.
    return material && Ogre::MaterialManager::getSingleton().getByHandle(material->getHandle()) == material;
}

void applyOpacity(const Ogre::MaterialPtr& material, float alpha, OpacityStyle style)
{
    if (!material || material->getNumTechniques() == 0)
        return;
    Ogre::Technique* technique = material->getTechnique(0);
    Ogre::Pass* pass = technique->getNumPasses() > 0 ? technique->getPass(0) : nullptr;
    if (isOpaque(alpha))
    {
        technique->setLightingEnabled(true);
        technique->setSceneBlending(Ogre::SBT_REPLACE);
        technique->setDiffuse(1.0f, 1.0f, 1.0f, 1.0f);
        technique->setDepthWriteEnabled(true);
        if (pass)
        {
            pass->setAlphaRejectSettings(Ogre::CMPF_GREATER, 125);
            if (style.drawBothFacesWhenOpaque)
                pass->setCullingMode(Ogre::CULL_NONE);
        }
    }
    else
    {
        if (style.lightingWhenTranslucent)
            technique->setLightingEnabled(true);
        technique->setSceneBlending(Ogre::SBT_TRANSPARENT_ALPHA);
        technique->setDiffuse(1.0f, 1.0f, 1.0f, alpha);
        technique->setDepthWriteEnabled(false);
        if (pass)
            pass->setAlphaRejectSettings(Ogre::CMPF_GREATER, 0);
    }
}

TextureFilter textureFilterForLevel(int level)
{
    switch (level)
    {
    case 0:
        return {Ogre::TFO_TRILINEAR, 0};
    case 2:
        return {Ogre::TFO_ANISOTROPIC, 4};
    case 3:
        return {Ogre::TFO_ANISOTROPIC, 8};
    case 4:
        return {Ogre::TFO_ANISOTROPIC, 16};
    default:
        return {Ogre::TFO_ANISOTROPIC, 2};
    }
}

void applyTextureFilter(const Ogre::MaterialPtr& material, TextureFilter filter)
{
    if (!material)
        return;
    material->setTextureFiltering(filter.filter);
    if (filter.filter == Ogre::TFO_ANISOTROPIC)
        material->setTextureAnisotropy(filter.anisotropy);
}

void applyOpacity(const std::vector<Ogre::MaterialPtr>& materials, float alpha, OpacityStyle style)
{
    for (const Ogre::MaterialPtr& material : materials)
        applyOpacity(material, alpha, style);
}

void applyTextureFilter(const std::vector<Ogre::MaterialPtr>& materials, TextureFilter filter)
{
    for (const Ogre::MaterialPtr& material : materials)
        applyTextureFilter(material, filter);
}

void removeMaterials(std::vector<Ogre::MaterialPtr>& materials, const char* where)
{
    Ogre::MaterialManager& manager = Ogre::MaterialManager::getSingleton();
    for (const Ogre::MaterialPtr& material : materials)
        guarded(where,
                [&]
                {
                    // By handle: a name the host reused since would be removed in its place.
                    if (material && manager.getByHandle(material->getHandle()) == material)
                        manager.remove(material);
                });
    materials.clear();
}

namespace
{
/// Calls fn with the current material of each sub-entity that the owned names allow.
template <class Fn> void forEachMaterial(Ogre::Entity& entity, const std::vector<std::string>* owned, Fn&& fn)
{
    for (unsigned i = 0; i < entity.getNumSubEntities(); ++i)
    {
        const Ogre::MaterialPtr& material = entity.getSubEntity(i)->getMaterial();
        if (!material)
            continue;
        if (owned && std::find(owned->begin(), owned->end(), material->getName()) == owned->end())
            continue;
        fn(material);
    }
}
} // namespace

void applyOpacity(Ogre::Entity& entity, float alpha, OpacityStyle style, const std::vector<std::string>* owned)
{
    forEachMaterial(entity, owned, [&](const Ogre::MaterialPtr& material) { applyOpacity(material, alpha, style); });
}

void applyTextureFilter(Ogre::Entity& entity, TextureFilter filter, const std::vector<std::string>* owned)
{
    forEachMaterial(entity, owned, [&](const Ogre::MaterialPtr& material) { applyTextureFilter(material, filter); });
}

} // namespace avatar_detail
