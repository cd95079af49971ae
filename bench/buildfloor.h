#pragma once

#include <OgrePrerequisites.h>

#include <string>
#include <vector>

class IInstance;

/// What building one avatar left in the engine, recorded from a real build so that the same
/// result can be made again with direct engine calls: the floor a build is measured against.
struct BuildRecipe
{
    struct Hung
    {
        std::string kind; ///< effect kind, as given to EffectManager::addEffect
        std::string bone;
    };
    struct Part
    {
        bool visible = false;
        int material = -1;   ///< index into materials, -1 for a material the build did not copy
        std::string texture; ///< the texture of its first unit, set again as the build sets it
    };
    struct Carried
    {
        std::string mesh;
        std::string bone;
        std::vector<int> materials; ///< per sub-entity, into the recipe's materials
        std::vector<Hung> effects;
    };

    std::string mesh;
    Ogre::uint8 renderQueueGroup = 0;
    std::vector<Part> parts;
    std::vector<Carried> carried;
    std::vector<Hung> effects;
    /// Clones of the materials the build left, made while it stood: the floor copies these.
    std::vector<std::string> materials;

    /// Records a built avatar (a character's carried models included). Call before it is destroyed.
    static BuildRecipe record(IInstance& avatar);
    /// Removes the recorded materials.
    void forget();
};

/// One avatar made from a recipe with direct engine calls, and taken down again.
class FloorBuild
{
public:
    /// body: the entity to dress (a pooled body), or null to create one from the recipe's mesh.
    FloorBuild(Ogre::SceneManager& scene, const BuildRecipe& recipe, Ogre::Entity* body = nullptr);
    ~FloorBuild();
    FloorBuild(const FloorBuild&) = delete;
    FloorBuild& operator=(const FloorBuild&) = delete;

private:
    Ogre::SceneManager& m_scene;
    Ogre::Entity* m_body;
    bool m_ownBody;
    std::vector<Ogre::Entity*> m_carried;
    std::vector<Ogre::MovableObject*> m_effects;
    std::vector<Ogre::MaterialPtr> m_copies;
};
