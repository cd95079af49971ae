#include "testmeshes.h"
#include "avatarsystem/detail/contentrules.h"

#include <OgreAnimation.h>
#include <OgreAnimationTrack.h>
#include <OgreBone.h>
#include <OgreManualObject.h>
#include <OgreMaterialManager.h>
#include <OgreMesh.h>
#include <OgreMeshManager.h>
#include <OgrePass.h>
#include <OgreRoot.h>
#include <OgreSceneManager.h>
#include <OgreSkeleton.h>
#include <OgreSkeletonManager.h>
#include <OgreSubMesh.h>
#include <OgreTechnique.h>

namespace
{
const Ogre::String& group()
{
    return Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME;
}
} // namespace

TestResources::~TestResources()
{
    for (const std::string& name : m_meshes)
        Ogre::MeshManager::getSingleton().remove(name, group());
    for (const std::string& name : m_skeletons)
        Ogre::SkeletonManager::getSingleton().remove(name, group());
    for (const std::string& name : m_materials)
        Ogre::MaterialManager::getSingleton().remove(name, group());
}

Ogre::MeshPtr TestResources::mesh(const std::string& meshName, const std::vector<std::string>& materials,
                                  const std::vector<std::string>& bones, const std::vector<std::string>& animations)
{
    Ogre::SceneManager* scene = Ogre::Root::getSingleton().getSceneManager(avatar_rules::kSceneManagerName);
    Ogre::ManualObject* manual = scene->createManualObject(meshName + "#builder");
    float x = 0.0f;
    for (std::size_t i = 0; i < materials.size(); ++i, x += 2.0f)
    {
        manual->begin("BaseWhite", Ogre::RenderOperation::OT_TRIANGLE_LIST);
        manual->position(x, 0, 0);
        manual->textureCoord(0, 0);
        manual->position(x + 1, 0, 0);
        manual->textureCoord(1, 0);
        manual->position(x, 1, 0);
        manual->textureCoord(0, 1);
        manual->triangle(0, 1, 2);
        manual->end();
    }
    Ogre::MeshPtr mesh = manual->convertToMesh(meshName, group());
    scene->destroyManualObject(manual);
    m_meshes.push_back(meshName);
    // Named after building: the builder resolves material names and would replace unknown ones.
    for (std::size_t i = 0; i < materials.size(); ++i)
        mesh->getSubMesh(static_cast<unsigned short>(i))->setMaterialName(materials[i]);

    if (!bones.empty())
    {
        const std::string skeletonName = meshName + ".skeleton";
        Ogre::SkeletonPtr skeleton = Ogre::SkeletonManager::getSingleton().create(skeletonName, group(), true);
        skeleton->load();
        m_skeletons.push_back(skeletonName);
        for (const std::string& bone : bones)
            skeleton->createBone(bone);
        for (const std::string& animation : animations)
        {
            Ogre::Animation* anim = skeleton->createAnimation(animation, 1.0f);
            anim->createNodeTrack(0, skeleton->getBone(Ogre::ushort(0)))->createNodeKeyFrame(0.0f);
        }
        skeleton->setBindingPose();
        mesh->setSkeletonName(skeletonName);
    }
    return mesh;
}

Ogre::MaterialPtr TestResources::material(const std::string& name, float red, float green, float blue)
{
    Ogre::MaterialPtr material = Ogre::MaterialManager::getSingleton().create(name, group());
    m_materials.push_back(name);
    Ogre::Pass* pass = material->getTechnique(0)->getPass(0);
    pass->setDiffuse(red, green, blue, 1.0f);
    pass->createTextureUnitState();
    return material;
}
