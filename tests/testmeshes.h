#pragma once

#include <OgrePrerequisites.h>

#include <string>
#include <vector>

/// Meshes, skeletons and materials built in code for one test, removed again by the destructor.
/// Build them before counting OGRE objects and destroy every entity using them before this object.
class TestResources
{
public:
    TestResources() = default;
    ~TestResources();
    TestResources(const TestResources&) = delete;
    TestResources& operator=(const TestResources&) = delete;

    /// A mesh with one triangle per entry of materials (sub-mesh i names materials[i], which
    /// need not exist). With bones, a skeleton "<meshName>.skeleton" holds them, each bound to
    /// nothing, and one animation of 1 second per entry of animations.
    Ogre::MeshPtr mesh(const std::string& meshName, const std::vector<std::string>& materials,
                       const std::vector<std::string>& bones = {}, const std::vector<std::string>& animations = {});

    /// A material with one pass holding one texture unit without texture; diffuse as given.
    Ogre::MaterialPtr material(const std::string& name, float red = 0.5f, float green = 0.5f, float blue = 0.5f);

private:
    std::vector<std::string> m_meshes;
    std::vector<std::string> m_skeletons;
    std::vector<std::string> m_materials;
};
