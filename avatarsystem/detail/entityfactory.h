#pragma once

#include "avatarsystem/detail/ogreguard.h"

#include <OgreEntity.h>
#include <OgreMesh.h>
#include <OgreMeshManager.h>
#include <OgreSceneManager.h>
#include <OgreSkeleton.h>
#include <OgreSubMesh.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace avatar_detail
{

/// name itself when the scene has no entity of that name, else name#2, name#3... whichever is
/// free first (two avatars' names can form the same text).
inline std::string freeEntityName(Ogre::SceneManager& scene, const std::string& name)
{
    std::string candidate = name;
    for (unsigned n = 2; scene.hasEntity(candidate); ++n)
        candidate = name + "#" + std::to_string(n);
    return candidate;
}

/// Whether the vertices of a loaded mesh use only bones its skeleton has: a truncated skeleton
/// file leaves fewer, and the engine would read past its bone array when it animates the mesh.
inline bool skeletonCoversMesh(const Ogre::Mesh& mesh)
{
    const Ogre::SkeletonPtr& skeleton = mesh.getSkeleton();
    if (!skeleton)
        return true;
    const unsigned short bones = skeleton->getNumBones();
    const auto covers = [bones](const Ogre::Mesh::IndexMap& used)
    { return std::all_of(used.begin(), used.end(), [bones](unsigned short bone) { return bone < bones; }); };
    if (!covers(mesh.sharedBlendIndexToBoneIndexMap))
        return false;
    for (const Ogre::SubMesh* sub : mesh.getSubMeshes())
        if (!covers(sub->blendIndexToBoneIndexMap))
            return false;
    return true;
}

/// Who notes a mesh that cannot be loaded in the log: createEntityOrNull, or its caller in words of its own.
enum class MeshFailure
{
    Logged,
    CallerLogs
};

/// Creates the entity name from mesh in scene; null instead of an exception when the name is
/// taken or the mesh cannot be loaded. A failed load leaves OGRE's mesh manager as it was:
/// OGRE keeps an empty, unloaded mesh of that name otherwise, which would shadow a mesh made later.
/// A mesh that cannot be loaded is noted as a missing mesh unless the caller notes it; so is a
/// mesh whose vertices use more bones than its skeleton has, which is refused.
inline Ogre::Entity* createEntityOrNull(Ogre::SceneManager* scene, const std::string& name, const std::string& mesh,
                                        const char* where, MeshFailure report = MeshFailure::Logged) noexcept
{
    Ogre::Entity* entity = nullptr;
    // Ask first: a taken name throws ItemIdentityException.
    if (!scene || mesh.empty() || scene->hasEntity(name))
        return nullptr;
    bool meshExisted = true;
    guarded(where, [&] { meshExisted = Ogre::MeshManager::getSingleton().resourceExists(mesh, Ogre::RGN_AUTODETECT); });
    const auto create = [&]
    {
        const Ogre::MeshPtr loaded = Ogre::MeshManager::getSingleton().load(mesh, Ogre::RGN_AUTODETECT);
        if (!skeletonCoversMesh(*loaded))
            throw std::runtime_error("its vertices use more bones than its skeleton " + loaded->getSkeletonName() +
                                     " has");
        entity = scene->createEntity(name, mesh);
    };
    if (report == MeshFailure::Logged ? guarded(where, Missing{"mesh", mesh, std::string()}, create)
                                      : guarded(where, create))
        return entity;
    if (!meshExisted)
        guarded(where,
                [&]
                {
                    Ogre::MeshManager& meshes = Ogre::MeshManager::getSingleton();
                    Ogre::MeshPtr left = meshes.getByName(mesh, Ogre::RGN_AUTODETECT);
                    if (left && !left->isLoaded())
                        meshes.remove(left);
                });
    return nullptr;
}

} // namespace avatar_detail
