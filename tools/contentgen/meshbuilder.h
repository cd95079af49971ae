#pragma once

#include <OgreMesh.h>
#include <OgreVector.h>

#include <string>
#include <vector>

/// Collects boxes into named sub-meshes and turns them into an OGRE mesh.
/// Each vertex carries position, normal and one texture coordinate, and is
/// bound with full weight to one bone when the mesh has a skeleton.
class MeshBuilder
{
public:
    /// No bone: the vertex is not bound (meshes without skeleton).
    static const int s_noBone = -1;

    /// Starts a new sub-mesh; later boxes go into it. @p subMeshName may be
    /// empty for an unnamed sub-mesh.
    void beginSection(const std::string& subMeshName, const std::string& material);

    /// Adds an axis-aligned box to the current section. Vertices at or above
    /// the centre are bound to @p topBone, the others to @p bottomBone, so a
    /// box spanning a joint bends with both bones.
    void addBox(const Ogre::Vector3& centre, const Ogre::Vector3& halfSize, int topBone, int bottomBone);

    /// Shorthand for a box bound rigidly to one bone.
    void addBox(const Ogre::Vector3& centre, const Ogre::Vector3& halfSize, int bone)
    {
        addBox(centre, halfSize, bone, bone);
    }

    /// Creates the mesh @p meshName in @p group from the collected sections.
    /// @p skeletonName may be empty. Throws Ogre::Exception when a section is
    /// empty or the mesh already exists.
    Ogre::MeshPtr build(const std::string& meshName, const std::string& group, const std::string& skeletonName) const;

private:
    struct Vertex
    {
        Ogre::Vector3 position;
        Ogre::Vector3 normal;
        Ogre::Vector2 uv;
        int bone;
    };
    struct Section
    {
        std::string name;
        std::string material;
        std::vector<Vertex> vertices;
        std::vector<Ogre::uint16> indices;
    };

    std::vector<Section> m_sections;
};
