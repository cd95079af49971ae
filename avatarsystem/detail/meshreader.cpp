#include "avatarsystem/detail/meshreader.h"

#include "avatarsystem/detail/entityfactory.h"
#include "avatarsystem/detail/ogreguard.h"
#include "avatarsystem/tablechecker.h"

#include <OgreAnimation.h>
#include <OgreBone.h>
#include <OgreMesh.h>
#include <OgreMeshManager.h>
#include <OgreResourceGroupManager.h>
#include <OgreRoot.h>
#include <OgreSkeleton.h>

#include <atomic>
#include <stdexcept>

namespace avatar_detail
{

MeshReader::MeshReader(const std::string& directory)
{
    static std::atomic<unsigned> s_readers{0};
    m_group = "AvatarTableCheck" + std::to_string(++s_readers);
    // The host (or the tool) runs the engine; the library never starts one.
    if (!Ogre::Root::getSingletonPtr())
        return;
    m_ready = guarded("adding the table checker's mesh directory",
                      [&]
                      {
                          // Outside the global pool, so that meshes of the same name that the host
                          // or another reader loaded elsewhere are neither found nor disturbed.
                          Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
                          groups.createResourceGroup(m_group, false);
                          groups.addResourceLocation(directory, "FileSystem", m_group);
                      });
}

MeshReader::~MeshReader()
{
    guarded("removing the table checker's resources",
            [this]
            {
                Ogre::ResourceGroupManager* groups = Ogre::ResourceGroupManager::getSingletonPtr();
                if (groups && groups->resourceGroupExists(m_group))
                    groups->destroyResourceGroup(m_group);
            });
}

bool MeshReader::exists(const std::string& file) const
{
    bool found = false;
    if (m_ready && !file.empty())
        guarded("looking for a mesh",
                [&] { found = Ogre::ResourceGroupManager::getSingleton().resourceExists(m_group, file); });
    return found;
}

bool MeshReader::read(const std::string& file, avatar_check::MeshFacts& facts)
{
    if (!m_ready)
        return false;
    return guarded("reading a mesh for the table checker",
                   [&]
                   {
                       Ogre::MeshPtr mesh = Ogre::MeshManager::getSingleton().load(file, m_group);
                       // Refused at run time as if it were missing: it cannot be read for the avatars.
                       if (!skeletonCoversMesh(*mesh))
                           throw std::runtime_error(file + ": its vertices use more bones than its skeleton " +
                                                    mesh->getSkeletonName() + " has");
                       for (const auto& entry : mesh->getSubMeshNameMap())
                           facts.subEntities.insert(entry.first);
                       for (unsigned short i = 0; i < mesh->getNumAnimations(); ++i)
                           facts.animations.insert(mesh->getAnimation(i)->getName());
                       facts.skeleton = mesh->getSkeletonName();
                       // A skeleton that cannot be read leaves the mesh without one (the engine logs why).
                       const Ogre::SkeletonPtr& skeleton = mesh->getSkeleton();
                       if (facts.skeleton.empty() || !skeleton || !skeleton->isLoaded())
                           return;
                       facts.skeletonReadable = true;
                       for (const Ogre::Bone* bone : skeleton->getBones())
                           facts.bones.insert(bone->getName());
                       auto addAnimations = [&facts](const Ogre::Skeleton& source)
                       {
                           for (unsigned short i = 0; i < source.getNumAnimations(); ++i)
                               facts.animations.insert(source.getAnimation(i)->getName());
                       };
                       addAnimations(*skeleton);
                       for (const Ogre::LinkedSkeletonAnimationSource& link :
                            skeleton->getLinkedSkeletonAnimationSources())
                           if (link.pSkeleton && link.pSkeleton->isLoaded())
                               addAnimations(*link.pSkeleton);
                   });
}

} // namespace avatar_detail
