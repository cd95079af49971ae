#pragma once

// What a host can see of the avatars in OGRE, counted so that "nothing of ours is left" is one
// comparison. Header-only: the soak, the interface fuzzer and its replay test share it.

#include "avatarsystem/characterinstance.h"
#include "effects/effectmanager.h"

#include <OgreAnimationState.h>
#include <OgreEntity.h>
#include <OgreMaterialManager.h>
#include <OgreMesh.h>
#include <OgreRoot.h>
#include <OgreSceneManager.h>
#include <OgreSceneNode.h>
#include <OgreSkeletonInstance.h>
#include <OgreSubEntity.h>
#include <OgreSubMesh.h>

#include <map>
#include <set>
#include <string>
#include <vector>

/// The objects of the scene manager by type, its scene nodes, the names of every material and
/// the live effects.
struct WorldCensus
{
    std::map<std::string, std::size_t> movables;
    std::size_t sceneNodes = 0;
    std::set<std::string> materials;
    std::size_t effects = 0;
    /// Blend masks on the animation states of the scene's entities.
    std::size_t blendMasks = 0;

    static WorldCensus take(Ogre::SceneManager* scene)
    {
        WorldCensus census;
        if (scene)
        {
            for (const auto& factory : Ogre::Root::getSingleton().getMovableObjectFactories())
                census.movables[factory.first] = scene->getMovableObjects(factory.first).size();
            census.sceneNodes = sceneNodeCount(*scene);
            for (const auto& entry : scene->getMovableObjects("Entity"))
            {
                const auto* entity = static_cast<const Ogre::Entity*>(entry.second);
                if (const Ogre::AnimationStateSet* states = entity->getAllAnimationStates())
                    for (const auto& state : states->getAnimationStates())
                        census.blendMasks += state.second->hasBlendMask() ? 1 : 0;
            }
        }
        auto it = Ogre::MaterialManager::getSingleton().getResourceIterator();
        for (; it.hasMoreElements(); it.moveNext())
            census.materials.insert(it.peekNextValue()->getName());
        census.effects = EffectManager::getSingletonPtr()->getNumEffects();
        return census;
    }

    /// One line per difference from an earlier census; empty when the world is as it was.
    std::vector<std::string> differencesFrom(const WorldCensus& before) const
    {
        std::vector<std::string> lines;
        for (const auto& entry : movables)
        {
            const auto old = before.movables.find(entry.first);
            const std::size_t was = old == before.movables.end() ? 0 : old->second;
            if (entry.second != was)
                lines.push_back(entry.first + ": " + std::to_string(was) + " -> " + std::to_string(entry.second));
        }
        if (sceneNodes != before.sceneNodes)
            lines.push_back("scene nodes: " + std::to_string(before.sceneNodes) + " -> " + std::to_string(sceneNodes));
        for (const std::string& name : materials)
            if (!before.materials.count(name))
                lines.push_back("material left: " + name);
        for (const std::string& name : before.materials)
            if (!materials.count(name))
                lines.push_back("material gone: " + name);
        if (blendMasks != before.blendMasks)
            lines.push_back("blend masks: " + std::to_string(before.blendMasks) + " -> " + std::to_string(blendMasks));
        if (effects != before.effects)
            lines.push_back("effects: " + std::to_string(before.effects) + " -> " + std::to_string(effects));
        return lines;
    }

private:
    // Every scene node the manager made, attached or not (the engine offers no count of its own).
    struct NodeAccess : Ogre::SceneManager
    {
        static constexpr SceneNodeList Ogre::SceneManager::*nodes = &NodeAccess::mSceneNodes;
    };
    static std::size_t sceneNodeCount(Ogre::SceneManager& scene) { return (scene.*NodeAccess::nodes).size(); }
};

/// What a body entity waiting in a pool must not carry from the avatar that gave it back: enabled
/// or masked animation states, a cumulative skeleton, objects on its bones, a parent node, or a
/// material other than its mesh's own. One line per problem.
inline std::vector<std::string> pooledBodyProblems(Ogre::Entity* body)
{
    std::vector<std::string> problems;
    const std::string name = body->getName();
    if (body->isAttached())
        problems.push_back(name + " hangs on a node");
    if (!body->getAttachedObjects().empty())
        problems.push_back(name + " carries " + std::to_string(body->getAttachedObjects().size()) +
                           " objects on its bones");
    if (body->hasSkeleton())
    {
        if (body->getSkeleton()->getBlendMode() != Ogre::ANIMBLEND_AVERAGE)
            problems.push_back(name + " keeps a cumulative skeleton");
        if (Ogre::AnimationStateSet* states = body->getAllAnimationStates())
            for (const auto& entry : states->getAnimationStates())
            {
                if (entry.second->getEnabled())
                    problems.push_back(name + " keeps " + entry.first + " enabled");
                if (entry.second->hasBlendMask())
                    problems.push_back(name + " keeps a blend mask on " + entry.first);
            }
    }
    Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
    for (unsigned i = 0; i < body->getNumSubEntities(); ++i)
    {
        Ogre::SubEntity* sub = body->getSubEntity(i);
        const std::string& own = sub->getSubMesh()->getMaterialName();
        if (materials.resourceExists(own, Ogre::RGN_AUTODETECT) && sub->getMaterialName() != own)
            problems.push_back(name + " sub-entity " + std::to_string(i) + " wears " + sub->getMaterialName());
    }
    return problems;
}

/// The problems of every body waiting in the two pools.
inline std::vector<std::string> pooledBodiesProblems()
{
    std::vector<std::string> problems;
    for (const std::vector<Ogre::Entity*>* pool :
         {&CharacterInstance::s_maleEntityPool, &CharacterInstance::s_femaleEntityPool})
        for (Ogre::Entity* body : *pool)
            for (const std::string& problem : pooledBodyProblems(body))
                problems.push_back(problem);
    return problems;
}
