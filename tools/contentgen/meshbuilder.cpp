#include "meshbuilder.h"

#include <OgreException.h>
#include <OgreHardwareBufferManager.h>
#include <OgreMeshManager.h>
#include <OgreSubMesh.h>
#include <OgreVertexBoneAssignment.h>

#include <algorithm>

namespace
{
struct Face
{
    Ogre::Vector3 normal;
    Ogre::Vector3 u;
    Ogre::Vector3 v;
};

// u x v equals the normal, so (-u,-v) (u,-v) (u,v) (-u,v) is counter-clockwise seen from outside.
const Face s_faces[6] = {
    {Ogre::Vector3::UNIT_X, Ogre::Vector3::UNIT_Y, Ogre::Vector3::UNIT_Z},
    {Ogre::Vector3::NEGATIVE_UNIT_X, Ogre::Vector3::UNIT_Z, Ogre::Vector3::UNIT_Y},
    {Ogre::Vector3::UNIT_Y, Ogre::Vector3::UNIT_Z, Ogre::Vector3::UNIT_X},
    {Ogre::Vector3::NEGATIVE_UNIT_Y, Ogre::Vector3::UNIT_X, Ogre::Vector3::UNIT_Z},
    {Ogre::Vector3::UNIT_Z, Ogre::Vector3::UNIT_X, Ogre::Vector3::UNIT_Y},
    {Ogre::Vector3::NEGATIVE_UNIT_Z, Ogre::Vector3::UNIT_Y, Ogre::Vector3::UNIT_X},
};
} // namespace

void MeshBuilder::beginSection(const std::string& subMeshName, const std::string& material)
{
    m_sections.push_back(Section{subMeshName, material, {}, {}});
}

void MeshBuilder::addBox(const Ogre::Vector3& centre, const Ogre::Vector3& halfSize, int topBone, int bottomBone)
{
    if (m_sections.empty())
        OGRE_EXCEPT(Ogre::Exception::ERR_INVALID_STATE, "addBox before beginSection", "MeshBuilder::addBox");
    Section& section = m_sections.back();
    static const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (const Face& face : s_faces)
    {
        const Ogre::Vector3 faceCentre = centre + face.normal * halfSize;
        const auto base = static_cast<Ogre::uint16>(section.vertices.size());
        for (const auto& c : corners)
        {
            Vertex vertex;
            vertex.position = faceCentre + face.u * halfSize * c[0] + face.v * halfSize * c[1];
            vertex.normal = face.normal;
            vertex.uv = Ogre::Vector2((c[0] + 1) * 0.5f, (1 - c[1]) * 0.5f);
            vertex.bone = vertex.position.y >= centre.y ? topBone : bottomBone;
            section.vertices.push_back(vertex);
        }
        for (Ogre::uint16 i : {0, 1, 2, 0, 2, 3})
            section.indices.push_back(static_cast<Ogre::uint16>(base + i));
    }
}

Ogre::MeshPtr MeshBuilder::build(const std::string& meshName, const std::string& group,
                                 const std::string& skeletonName) const
{
    Ogre::MeshPtr mesh = Ogre::MeshManager::getSingleton().createManual(meshName, group);
    Ogre::AxisAlignedBox bounds;
    Ogre::HardwareBufferManager& buffers = Ogre::HardwareBufferManager::getSingleton();

    for (const Section& section : m_sections)
    {
        if (section.vertices.empty())
            OGRE_EXCEPT(Ogre::Exception::ERR_INVALIDPARAMS, "empty section " + section.name + " in " + meshName,
                        "MeshBuilder::build");
        Ogre::SubMesh* sub = section.name.empty() ? mesh->createSubMesh() : mesh->createSubMesh(section.name);
        sub->useSharedVertices = false;
        sub->setMaterialName(section.material, group);

        sub->vertexData = new Ogre::VertexData();
        // Positions and normals in one buffer, texture coordinates in another: the engine skins on
        // the CPU into copies of the buffer that holds the positions without copying its other
        // contents, so coordinates sharing that buffer would be read from uninitialised memory
        // (an item or body part then shows a random part of its texture, differently every run).
        Ogre::VertexDeclaration* decl = sub->vertexData->vertexDeclaration;
        size_t offset = 0;
        offset += decl->addElement(0, offset, Ogre::VET_FLOAT3, Ogre::VES_POSITION).getSize();
        offset += decl->addElement(0, offset, Ogre::VET_FLOAT3, Ogre::VES_NORMAL).getSize();
        const size_t uvSize = decl->addElement(1, 0, Ogre::VET_FLOAT2, Ogre::VES_TEXTURE_COORDINATES, 0).getSize();

        std::vector<float> shape, uvs;
        shape.reserve(section.vertices.size() * 6);
        uvs.reserve(section.vertices.size() * 2);
        for (const Vertex& v : section.vertices)
        {
            shape.insert(shape.end(), {v.position.x, v.position.y, v.position.z, v.normal.x, v.normal.y, v.normal.z});
            uvs.insert(uvs.end(), {v.uv.x, v.uv.y});
            bounds.merge(v.position);
        }
        const std::pair<size_t, const std::vector<float>*> sources[2] = {{offset, &shape}, {uvSize, &uvs}};
        for (unsigned short source = 0; source < 2; ++source)
        {
            Ogre::HardwareVertexBufferSharedPtr vbuf = buffers.createVertexBuffer(
                sources[source].first, section.vertices.size(), Ogre::HardwareBuffer::HBU_STATIC_WRITE_ONLY);
            vbuf->writeData(0, vbuf->getSizeInBytes(), sources[source].second->data(), true);
            sub->vertexData->vertexBufferBinding->setBinding(source, vbuf);
        }
        sub->vertexData->vertexStart = 0;
        sub->vertexData->vertexCount = section.vertices.size();

        Ogre::HardwareIndexBufferSharedPtr ibuf = buffers.createIndexBuffer(
            Ogre::HardwareIndexBuffer::IT_16BIT, section.indices.size(), Ogre::HardwareBuffer::HBU_STATIC_WRITE_ONLY);
        ibuf->writeData(0, ibuf->getSizeInBytes(), section.indices.data(), true);
        sub->indexData->indexBuffer = ibuf;
        sub->indexData->indexStart = 0;
        sub->indexData->indexCount = section.indices.size();

        if (!skeletonName.empty())
        {
            for (size_t i = 0; i < section.vertices.size(); ++i)
            {
                const int bone = std::max(section.vertices[i].bone, 0);
                sub->addBoneAssignment(
                    Ogre::VertexBoneAssignment{static_cast<unsigned int>(i), static_cast<unsigned short>(bone), 1.0f});
            }
        }
    }

    mesh->_setBounds(bounds, true);
    mesh->_setBoundingSphereRadius(std::max(bounds.getMaximum().length(), bounds.getMinimum().length()));
    if (!skeletonName.empty())
        mesh->setSkeletonName(skeletonName);
    // A manual mesh that never counts as loaded keeps its sub-meshes when it is destroyed.
    mesh->load();
    return mesh;
}
