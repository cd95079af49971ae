#include "avatarsystem/detail/materialstate.h"

#include <OgreMaterial.h>
#include <OgrePass.h>
#include <OgreTechnique.h>

namespace avatar_detail
{

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

} // namespace avatar_detail
