#pragma once

#include "avatarsystem/detail/ogreguard.h"

#include <OgreEntity.h>
#include <OgreMesh.h>
#include <OgreMeshManager.h>
#include <OgreSceneManager.h>

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

/// Who notes a mesh that cannot be loaded in the log: createEntityOrNull, or its caller in words of its own.
enum class MeshFailure
{
    Logged,
    CallerLogs
};

/// Creates the entity name from mesh in scene; null instead of an exception when the name is
/// taken or the mesh cannot be loaded. A failed load leaves OGRE's mesh manager as it was:
/// OGRE keeps an empty, unloaded mesh of that name otherwise, which would shadow a mesh made later.
/// A mesh that cannot be loaded is noted as a missing mesh unless the caller notes it.
inline Ogre::Entity* createEntityOrNull(Ogre::SceneManager* scene, const std::string& name, const std::string& mesh,
                                        const char* where, MeshFailure report = MeshFailure::Logged) noexcept
{
    Ogre::Entity* entity = nullptr;
    // Ask first: a taken name throws ItemIdentityException.
    if (!scene || mesh.empty() || scene->hasEntity(name))
        return nullptr;
    bool meshExisted = true;
    guarded(where, [&] { meshExisted = Ogre::MeshManager::getSingleton().resourceExists(mesh, Ogre::RGN_AUTODETECT); });
    const auto create = [&] { entity = scene->createEntity(name, mesh); };
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
