// Checks the generated sample content pack against the names the tables and the character code use.

#include "avatarsystem/animationdb.h"
#include "avatarsystem/detail/contentrules.h"
#include "avatarsystem/detail/tablefile.h"
#include "avatarsystem/creaturedb.h"
#include "avatarsystem/ewchardb.h"
#include "avatarsystem/tablechecker.h"

#include <gtest/gtest.h>

#include <OgreBone.h>
#include <OgreDDSCodec.h>
#include <OgreEntity.h>
#include <OgreImage.h>
#include <OgreMaterialManager.h>
#include <OgreMesh.h>
#include <OgreMeshManager.h>
#include <OgrePass.h>
#include <OgreResourceGroupManager.h>
#include <OgreRoot.h>
#include <OgreSceneManager.h>
#include <OgreSkeleton.h>
#include <OgreSkeletonInstance.h>
#include <OgreSubEntity.h>
#include <OgreSubMesh.h>
#include <OgreTechnique.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#ifndef AVATARSYSTEM_CONTENT_DIR
#error "AVATARSYSTEM_CONTENT_DIR must name the generated content pack"
#endif

namespace
{
using Row = std::vector<std::string>;

const char* const s_group = "ContentPackTest";

// Reads a pack table with the tables' own reader: "//" lines are titles, a line of 0 or 1 bytes ends it.
std::vector<Row> readTable(const std::string& fileName)
{
    using Line = avatar_detail::TableFileReader::Line;
    std::vector<Row> rows;
    avatar_detail::TableFileReader reader;
    if (!reader.load(std::string(AVATARSYSTEM_CONTENT_DIR) + "/" + fileName))
        return rows;
    char* line = nullptr;
    std::size_t length = 0;
    for (Line kind = reader.next(line, length); kind != Line::EndOfFile && kind != Line::EndMark;
         kind = reader.next(line, length))
    {
        if (kind != Line::Row)
            continue;
        Record record;
        avatar_detail::splitTableLine(line, length, record);
        Row row;
        for (unsigned i = 0; i < record.getNumFields(); ++i)
            row.push_back(record.getString(i));
        rows.push_back(row);
    }
    return rows;
}

template <class Table> std::vector<Row> readTable()
{
    return readTable(Table::layout().fileName);
}

Record toRecord(const Row& row)
{
    Record record;
    for (const std::string& field : row)
        record.record_push_back(field);
    return record;
}

unsigned toUInt(const std::string& text)
{
    return static_cast<unsigned>(std::stoul(text));
}

class ContentPack : public ::testing::Test
{
protected:
    // One group for the whole suite, outside the global pool so that other tests may load the pack too.
    static void SetUpTestSuite()
    {
        Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
        groups.createResourceGroup(s_group, false);
        groups.addResourceLocation(AVATARSYSTEM_CONTENT_DIR, "FileSystem", s_group);
        groups.initialiseResourceGroup(s_group);
    }

    static void TearDownTestSuite() { Ogre::ResourceGroupManager::getSingleton().destroyResourceGroup(s_group); }

    static Ogre::SceneManager* scene()
    {
        return Ogre::Root::getSingleton().getSceneManager(avatar_rules::kSceneManagerName);
    }

    static Ogre::MeshPtr mesh(const std::string& name) { return Ogre::MeshManager::getSingleton().load(name, s_group); }

    // Every sub-entity name the character code and the tables expect in a body mesh.
    static std::vector<std::string> bodySubEntityNames()
    {
        std::vector<std::string> names = {"body_new_0",  "lowArm_new_0", "lowLeg_new_0",
                                          "upLeg_new_0", "face_new_0",   "hair_0_0"};
        for (const Row& row : readTable<EWCharHairGeoDB>())
            names.push_back(row.at(EWCharHairGeoDB::Submesh1));
        for (const Row& row : readTable<EWWearingDB>())
            if (!row.at(EWWearingDB::outModel).empty())
                names.push_back(row.at(EWWearingDB::outModel));
        return names;
    }
};

TEST_F(ContentPack, everyTableHasItsColumnCountAndRows)
{
    for (const TableLayout& layout : avatar_check::knownTables())
    {
        const std::vector<Row> rows = readTable(layout.fileName);
        EXPECT_FALSE(rows.empty()) << layout.fileName;
        for (const Row& row : rows)
            EXPECT_EQ(row.size(), layout.numFields()) << layout.fileName << " row " << row.at(0);
    }
}

TEST_F(ContentPack, racesAreListedByIdInOrderWithNames)
{
    const std::vector<Row> races = readTable<EWCharRacesDB>();
    ASSERT_EQ(races.size(), 3u);
    for (size_t i = 0; i < races.size(); ++i)
    {
        EXPECT_EQ(toUInt(races[i].at(EWCharRacesDB::RaceID)), i + 1);
        EXPECT_FALSE(races[i].at(EWCharRacesDB::Name).empty());
    }
}

TEST_F(ContentPack, appearanceRowsCarryThePackedKeyOfTheirColumns)
{
    for (const Row& row : readTable<EWCharSectionsDB>())
    {
        EXPECT_EQ(toUInt(row.at(0)), EWCharSectionsDB::layout().packKey(toRecord(row)));
        EXPECT_FALSE(row.at(EWCharSectionsDB::Tex1).empty()) << "section row " << row.at(0) << " has no texture";
    }
    for (const Row& row : readTable<EWCharHairGeoDB>())
        EXPECT_EQ(toUInt(row.at(0)), EWCharHairGeoDB::layout().packKey(toRecord(row)));
}

TEST_F(ContentPack, everyMeshLoadsAndMakesAnEntity)
{
    Ogre::StringVectorPtr meshes = Ogre::ResourceGroupManager::getSingleton().findResourceNames(s_group, "*.mesh");
    ASSERT_GE(meshes->size(), 10u);
    for (const std::string& name : *meshes)
    {
        SCOPED_TRACE(name);
        Ogre::MeshPtr m;
        ASSERT_NO_THROW(m = mesh(name));
        EXPECT_GT(m->getNumSubMeshes(), 0u);
        Ogre::Entity* entity = nullptr;
        ASSERT_NO_THROW(entity = scene()->createEntity(mesh(name)));
        for (size_t i = 0; i < entity->getNumSubEntities(); ++i)
            EXPECT_TRUE(entity->getSubEntity(i)->getMaterial()) << "sub-entity " << i;
        scene()->destroyEntity(entity);
    }
}

// The engine skins on the CPU into copies of the buffer that holds the positions and fills in
// only positions and normals: anything else in that buffer would be read uninitialised (a part
// then shows a random spot of its texture, differently from run to run).
TEST_F(ContentPack, skinnedMeshesKeepTextureCoordinatesOutOfThePositionBuffer)
{
    Ogre::StringVectorPtr meshes = Ogre::ResourceGroupManager::getSingleton().findResourceNames(s_group, "*.mesh");
    int skinned = 0;
    for (const std::string& name : *meshes)
    {
        Ogre::MeshPtr m = mesh(name);
        if (!m->hasSkeleton())
            continue;
        ++skinned;
        for (unsigned i = 0; i < m->getNumSubMeshes(); ++i)
        {
            const Ogre::VertexData* data =
                m->getSubMesh(i)->useSharedVertices ? m->sharedVertexData : m->getSubMesh(i)->vertexData;
            const Ogre::VertexDeclaration* decl = data->vertexDeclaration;
            const unsigned short positions = decl->findElementBySemantic(Ogre::VES_POSITION)->getSource();
            for (const Ogre::VertexElement& element : decl->getElements())
                EXPECT_TRUE(element.getSource() != positions || element.getSemantic() == Ogre::VES_POSITION ||
                            element.getSemantic() == Ogre::VES_NORMAL)
                    << name << " sub-mesh " << i << ": semantic " << element.getSemantic();
        }
    }
    EXPECT_GE(skinned, 3);
}

TEST_F(ContentPack, bodiesHaveEverySubEntityAndAttachmentBone)
{
    const char* const bones[] = {"helm",  "shoulder_l", "shoulder_r", "weapon_l", "weapon_r", "shield",  "back1",
                                 "back2", "back3",      "back4",      "back5",    "lumber_l", "lumber_r"};
    for (const char* body : {"HumanMale.mesh", "HumanFemale.mesh"})
    {
        SCOPED_TRACE(body);
        Ogre::Entity* entity = scene()->createEntity(mesh(body));
        for (const std::string& name : bodySubEntityNames())
            EXPECT_NO_THROW(entity->getSubEntity(name)) << name;
        ASSERT_TRUE(entity->hasSkeleton());
        Ogre::SkeletonInstance* skeleton = entity->getSkeleton();
        for (const char* bone : bones)
            EXPECT_TRUE(skeleton->hasBone(bone)) << bone;
        // Without bone assignments the animations would leave the body standing still.
        for (const Ogre::SubMesh* sub : entity->getMesh()->getSubMeshes())
            EXPECT_FALSE(sub->getBoneAssignments().empty());
        scene()->destroyEntity(entity);
    }
}

TEST_F(ContentPack, upperAndLowerBodyBonesAreDistinctSubtrees)
{
    Ogre::SkeletonPtr skeleton = mesh("HumanMale.mesh")->getSkeleton();
    ASSERT_TRUE(skeleton);
    auto under = [&](const char* bone, const char* ancestor)
    {
        for (Ogre::Node* node = skeleton->getBone(bone); node; node = node->getParent())
            if (node->getName() == ancestor)
                return true;
        return false;
    };
    for (const char* upper : {"helm", "shoulder_l", "weapon_r", "shield", "back1", "back5"})
        EXPECT_TRUE(under(upper, "spine")) << upper;
    for (const char* lower : {"lumber_l", "lumber_r", "foot_l", "foot_r"})
    {
        EXPECT_TRUE(under(lower, "pelvis")) << lower;
        EXPECT_FALSE(under(lower, "spine")) << lower;
    }
}

TEST_F(ContentPack, everyAnimationOfTheTableExistsInBothBodies)
{
    const std::vector<Row> anims = readTable<AnimationDB>();
    std::set<unsigned> playTypes, blendTypes;
    for (const Row& row : anims)
    {
        playTypes.insert(toUInt(row.at(AnimationDB::PlayType)));
        blendTypes.insert(toUInt(row.at(AnimationDB::BlendType)));
    }
    EXPECT_EQ(playTypes, (std::set<unsigned>{0, 1, 2})) << "loop, once and pose rows";
    EXPECT_EQ(blendTypes, (std::set<unsigned>{0, 1, 2})) << "whole, lower and upper body rows";

    for (const char* body : {"HumanMale.mesh", "HumanFemale.mesh"})
    {
        Ogre::SkeletonPtr skeleton = mesh(body)->getSkeleton();
        ASSERT_TRUE(skeleton) << body;
        for (const Row& row : anims)
        {
            const std::string& name = row.at(AnimationDB::AnimName);
            ASSERT_TRUE(skeleton->hasAnimation(name)) << body << " lacks " << name;
            EXPECT_GT(skeleton->getAnimation(name)->getNumNodeTracks(), 0u) << name;
        }
    }
}

TEST_F(ContentPack, creatureNpcAndObjectMeshesCarryTheFiveEffectBones)
{
    Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
    bool missingMeshRow = false;
    static_assert(CreatureDB::FileName == ObjectDB::FileName, "one mesh column for the three tables");
    for (const TableLayout* table : {&CreatureDB::layout(), &NpcDB::layout(), &ObjectDB::layout()})
    {
        for (const Row& row : readTable(table->fileName))
        {
            const std::string& file = row.at(CreatureDB::FileName);
            if (!groups.resourceExists(s_group, file))
            {
                missingMeshRow = true; // built from the fallback mesh
                continue;
            }
            Ogre::SkeletonPtr skeleton = mesh(file)->getSkeleton();
            ASSERT_TRUE(skeleton) << file;
            for (const char* bone : {"effect_1", "effect_2", "effect_3", "effect_4", "effect_5"})
                EXPECT_TRUE(skeleton->hasBone(bone)) << file << " " << bone;
            EXPECT_TRUE(skeleton->hasAnimation("Stand")) << file;
        }
    }
    EXPECT_TRUE(missingMeshRow) << "one creature row should exercise the fallback mesh";
    EXPECT_TRUE(groups.resourceExists(s_group, "G_jiaoren_women.mesh"));
}

TEST_F(ContentPack, itemRowsNameExistingMeshes)
{
    Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
    for (const Row& row : readTable<EWItemDB>())
    {
        // Helms (type 1) are worn as ModelFile_M.mesh or ModelFile_F.mesh.
        const std::string& model = row.at(EWItemDB::ModelFile);
        if (row.at(EWItemDB::Type) == "1")
        {
            EXPECT_TRUE(groups.resourceExists(s_group, model + "_M.mesh")) << model;
            EXPECT_TRUE(groups.resourceExists(s_group, model + "_F.mesh")) << model;
            continue;
        }
        for (unsigned column : {EWItemDB::ModelFile, EWItemDB::ModelFile2})
        {
            if (row.at(column).empty())
                continue;
            EXPECT_TRUE(groups.resourceExists(s_group, row.at(column) + ".mesh")) << row.at(column);
        }
    }
}

TEST_F(ContentPack, requiredMaterialsHaveATextureUnit)
{
    std::vector<std::string> names = {"c_body", "body_new_M", "col"};
    for (const Row& row : readTable<EWWearingDB>())
        for (unsigned column : {EWWearingDB::material, EWWearingDB::MatHand, EWWearingDB::MatBody,
                                EWWearingDB::MatPants, EWWearingDB::MatFoot})
            if (!row.at(column).empty())
                names.push_back(row.at(column));
    for (const std::string& name : names)
    {
        Ogre::MaterialPtr material = Ogre::MaterialManager::getSingleton().getByName(name, s_group);
        ASSERT_TRUE(material) << name;
        ASSERT_GT(material->getNumTechniques(), 0u) << name;
        ASSERT_GT(material->getTechnique(0)->getNumPasses(), 0u) << name;
        EXPECT_GT(material->getTechnique(0)->getPass(0)->getNumTextureUnitStates(), 0u) << name;
    }
}

TEST_F(ContentPack, defaultSectionTexturesAreReadableDdsFiles)
{
    Ogre::DDSCodec::startup(); // part of OgreMain; registering twice is harmless
    Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
    for (const char* gender : {"M", "F"})
    {
        for (const std::string stem : {"hair_", "lowarm_new_", "body_new_", "upleg_new_", "lowLeg_new_", "Face_1_"})
        {
            const std::string name = stem + gender + ".dds";
            ASSERT_TRUE(groups.resourceExists(s_group, name)) << name;
            Ogre::Image image;
            ASSERT_NO_THROW(image.load(groups.openResource(name, s_group), "dds")) << name;
            EXPECT_EQ(image.getWidth(), 16u) << name;
        }
    }
    EXPECT_TRUE(groups.resourceExists(s_group, "white.bmp"));
}
} // namespace
