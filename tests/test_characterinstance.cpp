// Player avatars on the generated content pack: body entities and their pools, per-avatar
// materials, body assembly from the appearance and item tables, section textures.

#include "avatarsystem/characterinstance.h"
#include "avatarsystem/ewchardb.h"

#include "headlessogre.h"

#include <gtest/gtest.h>

#include <OgreAnimationState.h>
#include <OgreEntity.h>
#include <OgreMaterialManager.h>
#include <OgreMesh.h>
#include <OgreMeshManager.h>
#include <OgrePass.h>
#include <OgreResourceGroupManager.h>
#include <OgreSceneManager.h>
#include <OgreSkeletonManager.h>
#include <OgreSubEntity.h>
#include <OgreSubMesh.h>
#include <OgreTechnique.h>
#include <OgreTextureUnitState.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

#ifdef AVATARSYSTEM_CONTENT_DIR
const char* const s_contentDir = AVATARSYSTEM_CONTENT_DIR;
#else
const char* const s_contentDir = nullptr;
#endif
const char* const s_group = "CharacterContent";

AvatarSystemManager& manager()
{
    IAvatarSystem::getSingletonPtr();
    return AvatarSystemManager::getSingleton();
}

Ogre::SceneManager& scene()
{
    return *HeadlessOgre::sceneManager();
}

/// Makes a directory the current one for its lifetime (the tables are read by bare file name).
class ScopedChdir
{
public:
    explicit ScopedChdir(const std::string& dir)
    {
        char cwd[4096];
        if (getcwd(cwd, sizeof(cwd)))
            m_previous = cwd;
        m_ok = chdir(dir.c_str()) == 0;
    }
    ~ScopedChdir()
    {
        if (!m_previous.empty() && chdir(m_previous.c_str()) != 0)
            std::abort();
    }
    bool ok() const { return m_ok; }

private:
    std::string m_previous;
    bool m_ok = false;
};

std::string sectionRow(unsigned race, unsigned gender, unsigned type, unsigned section, unsigned colour,
                       const std::string& tex)
{
    return std::to_string(EWCharSectionsDB::makeKey(race, gender, type, section, colour)) + "," + std::to_string(race) +
           "," + std::to_string(gender) + "," + std::to_string(type) + "," + std::to_string(section) + "," +
           std::to_string(colour) + "," + tex + ",,,0\n";
}

std::string hairGeoRow(unsigned race, unsigned gender, unsigned section, const std::string& submesh)
{
    return std::to_string(EWCharHairGeoDB::makeKey(race, gender, section)) + "," + std::to_string(race) + "," +
           std::to_string(gender) + "," + std::to_string(section) + "," + submesh + ",,0\n";
}

/// A head item: only HideHair, HideHead and flag matter to assembly.
std::string itemRow(unsigned id, unsigned hideHair, unsigned hideHead)
{
    return std::to_string(id) + ",Helm,1,helm_01,," + std::to_string(hideHair) + "," + std::to_string(hideHead) +
           ",,,,2\n";
}

/// A worn item: ItemID,Name,Type,TexPath,outModel,material,TexHand,MatHand,TexBody,MatBody,TexPants,MatPants,
/// TexFoot,MatFoot,Flag,HideBody.
std::string wornRow(unsigned id, const std::string& texPath, const std::string& texHand, const std::string& texBody,
                    const std::string& texPants, const std::string& texFoot, unsigned flag)
{
    return std::to_string(id) + ",Worn,4," + texPath + ",,," + texHand + ",," + texBody + ",," + texPants + ",," +
           texFoot + ",," + std::to_string(flag) + ",0\n";
}

/// Small tables written into a scratch directory, for cases the pack does not hold.
struct Tables
{
    std::string races = "1,HU,Human,Renlei,1.0,0,0\n2,EL,,Jingling,1.0,0,0\n";
    std::string sections;
    std::string hairGeo;
    std::string items;
    std::string worn;

    void writeTo(const ScopedTempDir& dir) const
    {
        dir.write("EWRaces.csv", "//RaceID,ShortName,Name,ChineseName,scale,Special1,Special2\n" + races);
        dir.write("EWCharSections.csv", "//SectonID,Race,Gender,Type,Section,Color,Tex1,Tex2,Tex3,IsNPC\n" + sections);
        dir.write("EWCharHairGeo.csv", "//CharHairGeosetID,Race,Gender,Section,Submesh1,Submesh2,Flags\n" + hairGeo);
        dir.write("ItemDisplay.csv", "//ItemID,Name,Type,ModelFile,ModelFile2,HideHair,HideHead,Effect1,Effect2,"
                                     "Effect3,flag\n" +
                                         items);
        dir.write("WearingItemDisplay.csv", "//ItemID,Name,Type,TexPath,outModel,material,TexHand,MatHand,TexBody,"
                                            "MatBody,TexPants,MatPants,TexFoot,MatFoot,Flag,HideBody\n" +
                                                worn);
    }
};

struct ViewLog
{
    std::vector<std::string> calls;
};

class RecordingView final : public IEntityView
{
public:
    explicit RecordingView(ViewLog& log) : m_log(log) {}
    void onInstanceReady(IInstance* instance, int zero) override
    {
        m_log.calls.push_back("ready " + instance->getName() + " " + std::to_string(zero));
    }
    unsigned getViewKey() override
    {
        m_log.calls.push_back("key");
        return 42;
    }
    void onCreatureReadyA(IInstance*, float) override { m_log.calls.push_back("creatureA"); }
    void onCreatureReadyB(IInstance*, float) override { m_log.calls.push_back("creatureB"); }

private:
    ViewLog& m_log;
};

class RecordingObserver final : public IEntityViewObserver
{
public:
    explicit RecordingObserver(ViewLog& log) : m_log(log) {}
    void onViewReady(unsigned key) override { m_log.calls.push_back("viewReady " + std::to_string(key)); }

private:
    ViewLog& m_log;
};

class RecordingRtt final : public IRttObjectCallback, public I3DRttObjectCallback
{
public:
    explicit RecordingRtt(ViewLog& log) : m_log(log) {}
    void onCopyCreated() override { m_log.calls.push_back("copy"); }
    void onPlayerCopyCreated() override { m_log.calls.push_back("playerCopy"); }
    void onCreatureCopyCreated() override { m_log.calls.push_back("creatureCopy"); }

private:
    ViewLog& m_log;
};

class Characters : public ::testing::Test
{
protected:
    // The pack's meshes and material scripts in a group of their own, outside the global pool.
    static void SetUpTestSuite()
    {
        if (!s_contentDir)
            return;
        Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
        groups.createResourceGroup(s_group, false);
        groups.addResourceLocation(s_contentDir, "FileSystem", s_group);
        groups.initialiseResourceGroup(s_group);
        // Loaded into the group before any entity asks for them by name: a mesh that an entity loads
        // by itself is filed under the detected group, survives destroyResourceGroup and is freed
        // only at the engine's shutdown.
        for (const char* body : {"HumanMale.mesh", "HumanFemale.mesh"})
            Ogre::MeshManager::getSingleton().load(body, s_group);
    }

    static void TearDownTestSuite()
    {
        if (!s_contentDir)
            return;
        // Item meshes and skeletons that entities loaded by themselves outlive the group as
        // resources nothing can load again: removed here, later suites load them anew.
        for (Ogre::ResourceManager* resources : std::initializer_list<Ogre::ResourceManager*>{
                 Ogre::MeshManager::getSingletonPtr(), Ogre::SkeletonManager::getSingletonPtr()})
        {
            std::vector<Ogre::ResourceHandle> loaded;
            auto it = resources->getResourceIterator();
            for (; it.hasMoreElements(); it.moveNext())
                if (it.peekNextValue()->getGroup() == s_group)
                    loaded.push_back(it.peekNextKey());
            for (Ogre::ResourceHandle handle : loaded)
                resources->remove(handle);
        }
        Ogre::ResourceGroupManager::getSingleton().destroyResourceGroup(s_group);
    }

    void SetUp() override
    {
        if (!s_contentDir)
            GTEST_SKIP() << "built without the content pack";
        manager();
    }

    void TearDown() override
    {
        for (CharacterInstance* c : m_made)
        {
            c->destroy();
            delete c;
        }
        m_made.clear();
        manager().release();
        CharacterInstance::clearEntityPools();
    }

    /// A new avatar of race 1 (not built); the fixture destroys and deletes it.
    CharacterInstance* make(const char* name, unsigned long id, unsigned gender,
                            const std::function<void(PlayerSetting_t&)>& edit = {})
    {
        PlayerSetting_t s;
        std::strncpy(s.Name, name, sizeof(s.Name) - 1);
        s.race = 1;
        s.gender = gender;
        s.hairStyle = 1;
        if (edit)
            edit(s);
        auto* c = new CharacterInstance();
        c->setProperties(s);
        c->setUniqueID(id);
        m_made.push_back(c);
        return c;
    }

    /// Destroys and deletes one avatar before the test ends.
    void dispose(CharacterInstance* c)
    {
        c->destroy();
        delete c;
        m_made.erase(std::find(m_made.begin(), m_made.end(), c));
    }

    static bool visible(CharacterInstance* c, const std::string& subEntity)
    {
        return c->getEntityPtr()->getSubEntity(subEntity)->isVisible();
    }

    static std::vector<std::string> visibleSubEntities(CharacterInstance* c)
    {
        std::vector<std::string> names;
        Ogre::Entity* e = c->getEntityPtr();
        for (const auto& entry : e->getMesh()->getSubMeshNameMap())
            if (e->getSubEntity(entry.second)->isVisible())
                names.push_back(entry.first);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<CharacterInstance*> m_made;
};

/// A fixture whose tables are written per test into a scratch directory.
class CharactersOnOwnTables : public Characters
{
protected:
    void SetUp() override
    {
        Characters::SetUp();
        if (!IsSkipped())
            m_dir = std::make_unique<ScopedTempDir>();
    }
    void TearDown() override
    {
        Characters::TearDown();
        m_dir.reset();
    }
    void write(const Tables& tables) { tables.writeTo(*m_dir); }

    std::unique_ptr<ScopedTempDir> m_dir;
};

/// A fixture that reads the pack's own tables.
class CharactersOnPackTables : public Characters
{
protected:
    void SetUp() override
    {
        Characters::SetUp();
        if (!IsSkipped())
        {
            m_chdir = std::make_unique<ScopedChdir>(s_contentDir);
            ASSERT_TRUE(m_chdir->ok());
        }
    }
    void TearDown() override
    {
        Characters::TearDown();
        m_chdir.reset();
    }
    CharacterInstance* preset(const char* name, unsigned long id)
    {
        PlayerSetting_t s = manager().getPorpertiesFromDB(name);
        EXPECT_STREQ(s.Name, name);
        return make(name, id, s.gender, [&](PlayerSetting_t& p) { p = s; });
    }

    std::unique_ptr<ScopedChdir> m_chdir;
};

} // namespace

// OGRE behaviours the character code relies on.

TEST_F(Characters, engineThrowsForUnknownSubEntityNamesAndDuplicateEntityNames)
{
    Ogre::Entity* e = scene().createEntity("pin_body", "HumanMale.mesh");
    EXPECT_THROW(e->getSubEntity("no_such_section"), Ogre::ItemIdentityException);
    EXPECT_EQ(e->getMesh()->getSubMeshNameMap().count("no_such_section"), 0u);
    EXPECT_EQ(e->getMesh()->getSubMeshNameMap().count("body_new_0"), 1u);
    EXPECT_THROW(scene().createEntity("pin_body", "HumanMale.mesh"), Ogre::ItemIdentityException);
    EXPECT_TRUE(scene().hasEntity("pin_body"));
    scene().destroyEntity(e);
}

TEST_F(Characters, materialLookupsFindOtherGroupsOnlyWhenAskedToDetectTheGroup)
{
    Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
    ASSERT_FALSE(Ogre::ResourceGroupManager::getSingleton().isResourceGroupInGlobalPool(s_group));
    EXPECT_FALSE(materials.resourceExists("HumanMale/face")) << "the default group only";
    EXPECT_TRUE(materials.resourceExists("HumanMale/face", Ogre::RGN_AUTODETECT));
    EXPECT_TRUE(materials.getByName("HumanMale/face")) << "getByName detects the group by default";
}

TEST_F(Characters, entityMadeByMeshNameUsesTheMeshLoadedInItsGroup)
{
    Ogre::Entity* e = scene().createEntity("pin_filed", "HumanFemale.mesh");
    EXPECT_EQ(e->getMesh(), Ogre::MeshManager::getSingleton().getByName("HumanFemale.mesh", s_group));
    scene().destroyEntity(e);
}

TEST_F(Characters, subMeshWithoutAnExistingMaterialHasNoMaterialName)
{
    Ogre::Entity* probe = scene().createEntity("probe", "HumanFemale.mesh");
    Ogre::MeshPtr mesh = probe->getMesh();
    scene().destroyEntity(probe);
    Ogre::SubMesh* face = mesh->getSubMesh(CharacterInstance::face_new);
    const Ogre::MaterialPtr original = face->getMaterial();
    EXPECT_EQ(face->getMaterialName(), "HumanFemale/face");
    face->setMaterialName("no/such/material");
    EXPECT_EQ(face->getMaterialName(), "");
    face->setMaterial(original);
}

// Model and lifecycle.

TEST_F(CharactersOnOwnTables, entitiesAndMaterialCopiesAreNamedFromNameAndId)
{
    write(Tables());
    CharacterInstance* ann17 = make("Ann", 17, 0);
    CharacterInstance* ann18 = make("Ann", 18, 0);
    ASSERT_TRUE(ann17->create());
    ASSERT_TRUE(ann18->create());
    EXPECT_EQ(ann17->getEntityPtr()->getName(), "Ann17_Player");
    EXPECT_EQ(ann18->getEntityPtr()->getName(), "Ann18_Player");
    EXPECT_EQ(ann17->getEntityPtr()->getMesh()->getName(), "HumanMale.mesh");
    EXPECT_EQ(ann17->getInstanceType(), INSTANCE_CHARACTER);

    Ogre::Entity* e = ann17->getEntityPtr();
    ASSERT_EQ(ann17->getSubEntityCount(), e->getNumSubEntities());
    for (unsigned i = 0; i < e->getNumSubEntities(); ++i)
    {
        Ogre::SubEntity* sub = e->getSubEntity(i);
        EXPECT_EQ(sub->getMaterialName(), sub->getSubMesh()->getMaterialName() + "Anntrue17");
        EXPECT_NE(sub->getMaterial(), ann18->getEntityPtr()->getSubEntity(i)->getMaterial());
    }
    EXPECT_EQ(ann17->getMaterialCopies().size(), e->getNumSubEntities()) << "every body material is its own";
}

TEST_F(CharactersOnOwnTables, newAvatarFadesInOverTwoSecondsFromTranslucentQueueToQueue53)
{
    write(Tables());
    CharacterInstance* c = make("Fay", 3, 1);
    ASSERT_TRUE(c->create());
    Ogre::Entity* e = c->getEntityPtr();
    EXPECT_EQ(e->getMesh()->getName(), "HumanFemale.mesh");
    EXPECT_EQ(e->getRenderQueueGroup(), 90) << "the fade starts fully transparent";
    const Ogre::MaterialPtr& body = e->getSubEntity(CharacterInstance::body_new)->getMaterial();
    EXPECT_FALSE(body->getTechnique(0)->getPass(0)->getDepthWriteEnabled());

    for (int i = 0; i < 3; ++i)
        c->update(false, 0.5f); // 0.75
    EXPECT_EQ(e->getRenderQueueGroup(), 90);
    c->update(false, 0.5f); // 1.0: drawn opaque
    EXPECT_EQ(e->getRenderQueueGroup(), 53);
    EXPECT_EQ(body->getTechnique(0)->getPass(0)->getAlphaRejectValue(), 125);
    EXPECT_TRUE(body->getTechnique(0)->getPass(0)->getDepthWriteEnabled());

    c->setInstanceTransoarency(0.5f, true);
    EXPECT_EQ(e->getRenderQueueGroup(), 90);
    EXPECT_FLOAT_EQ(body->getTechnique(0)->getPass(0)->getDiffuse().a, 0.5f);
    c->update(false, 5.0f);
    EXPECT_EQ(e->getRenderQueueGroup(), 90) << "an opacity set from outside ends the fade";
    c->setInstanceTransoarency(0.98f, true);
    EXPECT_EQ(e->getRenderQueueGroup(), 53) << "0.98 as a float lies above 0.98";
}

TEST_F(CharactersOnOwnTables, textureFilterLevelsChangeOnlyTheAvatarsCopies)
{
    write(Tables());
    CharacterInstance* c = make("Fil", 4, 0);
    ASSERT_TRUE(c->create());
    Ogre::TextureUnitState* unit = c->getEntityPtr()
                                       ->getSubEntity(CharacterInstance::face_new)
                                       ->getMaterial()
                                       ->getTechnique(0)
                                       ->getPass(0)
                                       ->getTextureUnitState(0);
    EXPECT_EQ(unit->getTextureAnisotropy(), 8u) << "create applies the manager's level 3";
    c->setTextureFilter(0);
    EXPECT_EQ(unit->getTextureFiltering(Ogre::FT_MIP), Ogre::FO_LINEAR);
    EXPECT_EQ(unit->getTextureAnisotropy(), 8u) << "trilinear leaves the anisotropy";
    const std::pair<int, unsigned> levels[] = {{1, 2u}, {4, 16u}, {7, 2u}, {-1, 2u}};
    for (const auto& level : levels)
    {
        c->setTextureFilter(level.first);
        EXPECT_EQ(unit->getTextureFiltering(Ogre::FT_MIN), Ogre::FO_ANISOTROPIC) << level.first;
        EXPECT_EQ(unit->getTextureAnisotropy(), level.second) << level.first;
    }
    const Ogre::MaterialPtr shared = Ogre::MaterialManager::getSingleton().getByName("HumanMale/face");
    ASSERT_TRUE(shared);
    EXPECT_NE(shared->getTechnique(0)->getPass(0)->getTextureUnitState(0)->getTextureAnisotropy(), 16u);

    c->setVisible(false);
    EXPECT_FALSE(c->getEntityPtr()->getVisible());
    c->setVisible(true);
    EXPECT_TRUE(c->getEntityPtr()->getVisible());
}

TEST_F(CharactersOnOwnTables, destroyedEntityReturnsToThePoolOfItsBodyAndIsReusedUnderItsOldName)
{
    write(Tables());
    CharacterInstance* ann = make("Ann", 17, 0);
    ASSERT_TRUE(ann->create());
    Ogre::Entity* annBody = ann->getEntityPtr();
    ASSERT_TRUE(ann->destroy());
    EXPECT_EQ(ann->getEntityPtr(), nullptr);
    ASSERT_EQ(CharacterInstance::s_maleEntityPool.size(), 1u);
    EXPECT_EQ(CharacterInstance::s_maleEntityPool.back(), annBody);
    EXPECT_FALSE(annBody->isAttached());

    CharacterInstance* bea = make("Bea", 18, 1);
    ASSERT_TRUE(bea->create());
    EXPECT_NE(bea->getEntityPtr(), annBody) << "a female avatar never takes a male body";
    EXPECT_EQ(bea->getEntityPtr()->getName(), "Bea18_Player");

    CharacterInstance* cid = make("Cid", 19, 0);
    ASSERT_TRUE(cid->create());
    EXPECT_EQ(cid->getEntityPtr(), annBody);
    EXPECT_EQ(cid->getEntityPtr()->getName(), "Ann17_Player") << "a pooled body keeps its name";
    EXPECT_TRUE(CharacterInstance::s_maleEntityPool.empty());
    EXPECT_EQ(cid->getEntityPtr()->getSubEntity(0)->getMaterialName(),
              cid->getEntityPtr()->getSubEntity(0)->getSubMesh()->getMaterialName() + "Cidtrue19");

    // A rebuild to another gender keeps the body of the first build, which goes back to its own pool.
    PlayerSetting_t female = cid->getPlayerProperties();
    female.gender = 1;
    cid->setProperties(female);
    ASSERT_TRUE(cid->create());
    EXPECT_EQ(cid->getEntityPtr(), annBody);
    dispose(cid);
    EXPECT_EQ(CharacterInstance::s_maleEntityPool.size(), 1u);
    EXPECT_TRUE(CharacterInstance::s_femaleEntityPool.empty());
}

TEST_F(CharactersOnOwnTables, aFullPoolDestroysTheReturnedEntity)
{
    write(Tables());
    CharacterInstance* c = make("Max", 5, 0);
    ASSERT_TRUE(c->create());
    for (std::size_t i = 0; i < CharacterInstance::kMaxPooledEntities; ++i)
        CharacterInstance::s_maleEntityPool.push_back(
            scene().createEntity("pooled" + std::to_string(i), "HumanMale.mesh"));
    const std::string name = c->getEntityPtr()->getName();
    dispose(c);
    EXPECT_EQ(CharacterInstance::s_maleEntityPool.size(), CharacterInstance::kMaxPooledEntities);
    EXPECT_FALSE(scene().hasEntity(name));

    CharacterInstance::clearEntityPools();
    EXPECT_TRUE(CharacterInstance::s_maleEntityPool.empty());
    EXPECT_FALSE(scene().hasEntity("pooled0"));
}

TEST_F(CharactersOnOwnTables, hostIsNotifiedOnceThroughTheCallbackRecord)
{
    write(Tables());
    ViewLog log;
    RecordingView view(log);
    RecordingObserver observer(log);
    CharacterInstance* c = make("Ann", 1, 0);
    auto* record = new ENTITY_CALLBACK{0, &view, &observer};
    c->setEntityViewPtr(record);
    ASSERT_TRUE(c->create());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"ready Ann 0", "key", "viewReady 42"}));
    EXPECT_EQ(record->type, 3);
    ASSERT_TRUE(c->create()) << "a rebuild";
    EXPECT_EQ(log.calls.size(), 3u) << "told once only";

    // Any type but 0: nothing is called and the type stays.
    ViewLog other;
    RecordingView otherView(other);
    CharacterInstance* d = make("Bea", 2, 1);
    auto* typed = new ENTITY_CALLBACK{1, &otherView, nullptr};
    d->setEntityViewPtr(typed);
    ASSERT_TRUE(d->create());
    EXPECT_TRUE(other.calls.empty());
    EXPECT_EQ(typed->type, 1);

    // A copy without a view record tells its copy callbacks, the player one first.
    ViewLog copies;
    RecordingRtt rtt(copies);
    CharacterInstance* copy = make("Ann", 3, 0);
    copy->setInstanceBeCopy(&rtt, &rtt);
    ASSERT_TRUE(copy->create());
    ASSERT_TRUE(copy->create());
    EXPECT_EQ(copies.calls, (std::vector<std::string>{"playerCopy", "copy"}));
}

TEST_F(CharactersOnOwnTables, createAfterDestroyFailsAndDestroyLeavesNoCopyBehind)
{
    write(Tables());
    const OgreCounts before = OgreCounts::now();
    CharacterInstance* ann = make("Ann", 17, 0);
    CharacterInstance* bea = make("Bea", 18, 1);
    ASSERT_TRUE(ann->create());
    ASSERT_TRUE(bea->create());
    ann->retemplateSubEntity(CharacterInstance::body_new, "body_new_M", "x.dds");
    const std::vector<std::string> copies = ann->getMaterialCopies();
    ASSERT_FALSE(copies.empty());
    const OgreCounts built = OgreCounts::now();
    EXPECT_EQ(built.entities, before.entities + 2);

    ann->setEntityViewPtr(new ENTITY_CALLBACK{});
    EXPECT_TRUE(ann->destroy());
    EXPECT_EQ(ann->getAnimationController(), nullptr);
    for (const std::string& name : copies)
        EXPECT_FALSE(Ogre::MaterialManager::getSingleton().resourceExists(name, Ogre::RGN_AUTODETECT)) << name;
    EXPECT_FALSE(ann->create()) << "a destroyed avatar is not built again";
    EXPECT_EQ(ann->getEntityPtr(), nullptr);
    EXPECT_TRUE(ann->destroy()) << "a second destroy is harmless";

    dispose(bea);
    OgreCounts after = OgreCounts::now();
    EXPECT_EQ(after.materials, before.materials);
    EXPECT_EQ(after.entities, before.entities + CharacterInstance::s_maleEntityPool.size() +
                                  CharacterInstance::s_femaleEntityPool.size());
    CharacterInstance::clearEntityPools();
    EXPECT_EQ(OgreCounts::now(), before);
}

TEST_F(CharactersOnOwnTables, raceRowsWithoutNameOrMissingBuildNothingAndEveryCreateRetries)
{
    Tables tables;
    write(tables);
    const OgreCounts before = OgreCounts::now();
    CharacterInstance* unnamed = make("Eli", 1, 0, [](PlayerSetting_t& s) { s.race = 2; });
    CharacterInstance* missing = make("Mo", 2, 0, [](PlayerSetting_t& s) { s.race = 9; });
    EXPECT_FALSE(unnamed->create());
    EXPECT_FALSE(missing->create());
    EXPECT_FALSE(unnamed->isCreated());
    EXPECT_EQ(unnamed->getEntityPtr(), nullptr);
    EXPECT_EQ(OgreCounts::now(), before);

    // With the race named (tables are read again after release) the next create builds it.
    manager().release();
    tables.races = "1,HU,Human,Renlei,1.0,0,0\n2,EL,Elf,Jingling,1.0,0,0\n";
    write(tables);
    EXPECT_TRUE(unnamed->create());
    EXPECT_TRUE(unnamed->isCreated());
    EXPECT_EQ(unnamed->getEntityPtr()->getName(), "Eli1_Player");

    // Without the items table no body is taken either.
    manager().release();
    std::remove((m_dir->path() + "/ItemDisplay.csv").c_str());
    EXPECT_FALSE(missing->create());
    CharacterInstance* noItems = make("Ned", 3, 0);
    EXPECT_FALSE(noItems->create());
}

TEST_F(CharactersOnOwnTables, namesThatFormTheSameTextGetDistinctEntitiesAndMaterials)
{
    write(Tables());
    // "Ann1" with ID 7 and "Ann" with ID 17 both form Ann17_Player.
    CharacterInstance* first = make("Ann1", 7, 0);
    CharacterInstance* second = make("Ann", 17, 0);
    ASSERT_TRUE(first->create());
    ASSERT_TRUE(second->create());
    EXPECT_EQ(first->getEntityPtr()->getName(), "Ann17_Player");
    EXPECT_EQ(second->getEntityPtr()->getName(), "Ann17_Player#2");

    // A material of the formed copy name that belongs to someone else is left alone.
    const std::string face = "HumanFemale/face";
    ASSERT_TRUE(Ogre::MaterialManager::getSingleton().resourceExists(face, Ogre::RGN_AUTODETECT));
    Ogre::MaterialPtr foreign = Ogre::MaterialManager::getSingleton().getByName("c_body")->clone(face + "Zoetrue5");
    CharacterInstance* zoe = make("Zoe", 5, 1);
    ASSERT_TRUE(zoe->create());
    Ogre::SubEntity* zoeFace = zoe->getEntityPtr()->getSubEntity(CharacterInstance::face_new);
    EXPECT_EQ(zoeFace->getMaterialName(), face + "Zoetrue5#2");
    EXPECT_EQ(zoe->getSubEntityTexture(CharacterInstance::face_new), "Face_1_F.dds");
    EXPECT_EQ(foreign->getTechnique(0)->getPass(0)->getTextureUnitState(0)->getTextureName(), "c_body.dds");
    dispose(zoe);
    EXPECT_TRUE(Ogre::MaterialManager::getSingleton().resourceExists(face + "Zoetrue5", Ogre::RGN_AUTODETECT));
    EXPECT_FALSE(Ogre::MaterialManager::getSingleton().resourceExists(face + "Zoetrue5#2", Ogre::RGN_AUTODETECT));
    Ogre::MaterialManager::getSingleton().remove(foreign);
}

TEST_F(CharactersOnOwnTables, missingMaterialsFallBackToCBodyOrAreSkipped)
{
    write(Tables());
    // The mesh the characters use: the one an entity made by mesh name gets.
    Ogre::Entity* probe = scene().createEntity("probe", "HumanMale.mesh");
    Ogre::MeshPtr mesh = probe->getMesh();
    scene().destroyEntity(probe);
    Ogre::SubMesh* faceMesh = mesh->getSubMesh(CharacterInstance::face_new);
    const Ogre::MaterialPtr original = faceMesh->getMaterial();
    faceMesh->setMaterialName("no/such/material"); // leaves the sub-mesh without a material name

    CharacterInstance* withFallback = make("Ann", 1, 0);
    EXPECT_TRUE(withFallback->create());
    Ogre::SubEntity* face = withFallback->getEntityPtr()->getSubEntity(CharacterInstance::face_new);
    EXPECT_EQ(face->getMaterialName(), "Anntrue1");
    EXPECT_EQ(face->getMaterial()->getTechnique(0)->getPass(0)->getTextureUnitState(0)->getTextureName(),
              "Face_1_M.dds")
        << "a copy of c_body, re-textured";

    // Neither the material nor "c_body": that sub-entity gets no copy, and nothing shared is changed.
    Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
    Ogre::MaterialPtr backup = materials.getByName("c_body")->clone("c_body.saved");
    materials.remove("c_body", s_group);
    CharacterInstance* without = make("Bob", 2, 0);
    EXPECT_TRUE(without->create());
    Ogre::SubEntity* bare = without->getEntityPtr()->getSubEntity(CharacterInstance::face_new);
    const std::vector<std::string>& copies = without->getMaterialCopies();
    EXPECT_EQ(std::find(copies.begin(), copies.end(), bare->getMaterialName()), copies.end());
    EXPECT_EQ(copies.size(), without->getEntityPtr()->getNumSubEntities() - 1);
    EXPECT_NE(bare->getMaterial()->getTechnique(0)->getPass(0)->getDepthWriteEnabled(), false)
        << "the fade-in leaves a material it does not own alone";
    dispose(without);

    backup->clone("c_body");
    materials.remove(backup);
    faceMesh->setMaterial(original);
}

TEST_F(CharactersOnOwnTables, unknownSubEntityNamesInTheTablesAreSkipped)
{
    Tables tables;
    tables.sections = sectionRow(1, 0, EWCharSectionsDB::HairType, 1, 0, "hair_x.dds");
    tables.hairGeo = hairGeoRow(1, 0, 1, "no_such_geoset");
    write(tables);
    CharacterInstance* c = make("Ann", 1, 0);
    ASSERT_TRUE(c->create());
    EXPECT_TRUE(visible(c, CharacterInstance::body_new));
    c->retemplateSubEntity("no_such_geoset", "body_new_M", "x.dds");
    EXPECT_EQ(c->getSubEntityTexture("no_such_geoset"), "");
}

// Body assembly.

TEST_F(CharactersOnOwnTables, withoutFaceAndHairRowsTheGenderDefaultsAreWorn)
{
    write(Tables());
    const std::vector<std::string> base = {"body_new_0", "face_new_0", "lowArm_new_0", "lowLeg_new_0", "upLeg_new_0"};
    for (unsigned gender : {0u, 1u, 2u})
    {
        SCOPED_TRACE(gender);
        CharacterInstance* c = make("Def", 10 + gender, gender);
        ASSERT_TRUE(c->create());
        const std::string g = gender == 0 ? "M" : "F";
        EXPECT_EQ(c->getEntityPtr()->getMesh()->getName(), gender == 0 ? "HumanMale.mesh" : "HumanFemale.mesh");
        EXPECT_EQ(c->getSubEntityTexture("face_new_0"), "Face_1_" + g + ".dds");
        EXPECT_EQ(c->getSubEntityTexture("body_new_0"), "body_new_" + g + ".dds");
        EXPECT_EQ(c->getSubEntityTexture("lowArm_new_0"), "lowarm_new_" + g + ".dds");
        EXPECT_EQ(c->getSubEntityTexture("upLeg_new_0"), "upleg_new_" + g + ".dds");
        EXPECT_EQ(c->getSubEntityTexture("lowLeg_new_0"), "lowLeg_new_" + g + ".dds");
        EXPECT_EQ(c->getSubEntityTexture("hair_0_0"), "hair_" + g + ".dds") << "hidden, and still textured";
        EXPECT_EQ(visibleSubEntities(c), base) << "no styled hair row, no head item";
        EXPECT_TRUE(c->isLowArmByHand());
        EXPECT_TRUE(c->isLowLegByFoot());
    }
}

TEST_F(CharactersOnOwnTables, headItemDigitsChooseStyledHairAndHairPiece)
{
    Tables tables;
    tables.sections = sectionRow(1, 0, EWCharSectionsDB::HairType, 1, 0, "hair_red.dds") +
                      sectionRow(1, 0, EWCharSectionsDB::HairType, 1, 1, "hair_blue.dds");
    tables.hairGeo = hairGeoRow(1, 0, 1, "hair_2_0");
    tables.items = itemRow(1, 0, 0) + itemRow(2, 1, 0) + itemRow(3, 11, 21) + itemRow(4, 10, 3);
    write(tables);
    struct Case
    {
        unsigned head;
        bool styled, piece;
    };
    const Case cases[] = {{0, true, false},  {1, true, true},  {2, false, true},
                          {3, false, false}, {4, true, false}, {99, true, false}};
    unsigned long id = 100;
    for (const Case& k : cases)
    {
        SCOPED_TRACE(k.head);
        CharacterInstance* c = make("Hat", ++id, 0, [&](PlayerSetting_t& s) { s.head = k.head; });
        ASSERT_TRUE(c->create());
        EXPECT_EQ(visible(c, "hair_2_0"), k.styled);
        EXPECT_EQ(visible(c, "hair_0_0"), k.piece);
        EXPECT_FALSE(visible(c, "hair_1_0"));
        if (k.styled)
        {
            EXPECT_EQ(c->getSubEntityTexture("hair_2_0"), "hair_red.dds");
        }
    }

    // A rebuild with another colour shows the same geoset with the new colour's texture.
    CharacterInstance* c = make("Dye", 200, 0);
    ASSERT_TRUE(c->create());
    PlayerSetting_t s = c->getPlayerProperties();
    s.hairColor = 1;
    c->setProperties(s);
    ASSERT_TRUE(c->create());
    EXPECT_TRUE(visible(c, "hair_2_0"));
    EXPECT_EQ(c->getSubEntityTexture("hair_2_0"), "hair_blue.dds");
    EXPECT_EQ(c->getAppliedProperties().hairColor, 1u);
}

TEST_F(CharactersOnOwnTables, glovesWinOverSleevesAndBootsOverTrouserLegs)
{
    Tables tables;
    tables.worn = wornRow(10, "shirt_out.dds", "sleeve", "tunic", "", "", 2) +
                  wornRow(11, "", "", "", "breeches", "legging", 2) +
                  wornRow(12, "glove_out.dds", "glove", "", "", "", 2) + wornRow(13, "", "", "", "", "boot", 2) +
                  wornRow(14, "", "silk", "blouse", "", "", 1) + wornRow(15, "", "", "", "", "", 2);
    write(tables);

    CharacterInstance* sleeves = make("Sly", 1, 0,
                                      [](PlayerSetting_t& s)
                                      {
                                          s.shirt = 10;
                                          s.pants = 11;
                                      });
    ASSERT_TRUE(sleeves->create());
    EXPECT_EQ(sleeves->getSubEntityTexture("body_new_0"), "tunic_M.dds");
    EXPECT_EQ(sleeves->getSubEntityTexture("lowArm_new_0"), "sleeve_M.dds");
    EXPECT_FALSE(sleeves->isLowArmByHand());
    EXPECT_EQ(sleeves->getSubEntityTexture("upLeg_new_0"), "breeches_M.dds");
    EXPECT_EQ(sleeves->getSubEntityTexture("lowLeg_new_0"), "legging_M.dds");
    EXPECT_FALSE(sleeves->isLowLegByFoot());

    CharacterInstance* dressed = make("Gil", 2, 1,
                                      [](PlayerSetting_t& s)
                                      {
                                          s.shirt = 10;
                                          s.pants = 11;
                                          s.glove = 12;
                                          s.boot = 13;
                                          s.belt = 15;
                                      });
    ASSERT_TRUE(dressed->create());
    EXPECT_EQ(dressed->getSubEntityTexture("body_new_0"), "tunic_F.dds");
    EXPECT_EQ(dressed->getSubEntityTexture("lowArm_new_0"), "glove_F.dds");
    EXPECT_TRUE(dressed->isLowArmByHand());
    EXPECT_EQ(dressed->getSubEntityTexture("lowLeg_new_0"), "boot_F.dds");
    EXPECT_TRUE(dressed->isLowLegByFoot());
    EXPECT_EQ(dressed->getSubEntityTexture("upLeg_new_0"), "breeches_F.dds");

    // A worn item for the other gender contributes nothing; one with Flag 2 fits both.
    CharacterInstance* male = make("Max", 3, 0, [](PlayerSetting_t& s) { s.shirt = 14; });
    ASSERT_TRUE(male->create());
    EXPECT_EQ(male->getSubEntityTexture("body_new_0"), "body_new_M.dds");
    EXPECT_EQ(male->getSubEntityTexture("lowArm_new_0"), "lowarm_new_M.dds");
    EXPECT_TRUE(male->isLowArmByHand());
    CharacterInstance* female = make("Fia", 4, 1, [](PlayerSetting_t& s) { s.shirt = 14; });
    ASSERT_TRUE(female->create());
    EXPECT_EQ(female->getSubEntityTexture("body_new_0"), "blouse_F.dds");

    // The out-model textures are read without a gender match; an unknown item gives none.
    EXPECT_EQ(male->getOutModelTextureName(10), "shirt_out.dds");
    EXPECT_EQ(male->getOutModelTextureName(12), "glove_out.dds");
    EXPECT_EQ(male->getOutModelTextureName(0), "");
    EXPECT_EQ(male->getOutModelTextureName(15), "");
}

TEST_F(CharactersOnOwnTables, itemTexturesFollowTheGender)
{
    write(Tables());
    const std::pair<unsigned, const char*> genders[] = {{0u, "robe_M.dds"}, {1u, "robe_F.dds"}, {7u, "robe_F.dds"}};
    for (const auto& k : genders)
    {
        CharacterInstance* c = make("Tex", 1, k.first);
        EXPECT_EQ(c->makeItemTexture(4, "robe"), k.second);
        EXPECT_EQ(c->makeItemTexture(0, "robe"), k.second) << "the kind does not enter the name";
        EXPECT_EQ(c->makeItemTexture(4, ""), "");
        EXPECT_EQ(c->makeItemTexture(4, nullptr), "");
        EXPECT_EQ(c->makeItemTexture(4, "plate.tga"), std::string("plate.tga_") + (k.first ? "F" : "M") + ".dds");
    }
}

TEST_F(CharactersOnOwnTables, retemplatingKeepsTheMaterialNameAndTakesEverythingElseFromTheTemplate)
{
    write(Tables());
    CharacterInstance* c = make("Ret", 1, 0);
    ASSERT_TRUE(c->create());
    Ogre::SubEntity* body = c->getEntityPtr()->getSubEntity(CharacterInstance::body_new);
    const std::string name = body->getMaterialName();
    const Ogre::MaterialPtr old = body->getMaterial();
    old->getTechnique(0)->getPass(0)->setDiffuse(Ogre::ColourValue::Red);

    c->retemplateSubEntity(CharacterInstance::body_new, "body_new_M", "cuirass.dds");
    EXPECT_EQ(body->getMaterialName(), name);
    EXPECT_EQ(Ogre::MaterialManager::getSingleton().getByName(name), body->getMaterial());
    EXPECT_EQ(c->getSubEntityTexture(CharacterInstance::body_new), "cuirass.dds");
    EXPECT_EQ(body->getMaterial()->getTechnique(0)->getPass(0)->getDiffuse(), Ogre::ColourValue::White)
        << "everything else comes from the template";

    const Ogre::MaterialPtr current = body->getMaterial();
    c->retemplateSubEntity(CharacterInstance::body_new, "no_such_template", "x.dds");
    EXPECT_EQ(body->getMaterial(), current) << "a missing template changes nothing";
    c->retemplateSubEntity(CharacterInstance::body_new, "body_new_M");
    EXPECT_EQ(c->getSubEntityTexture(CharacterInstance::body_new), "body_new_M.dds") << "the template's own texture";
    EXPECT_EQ(Ogre::MaterialManager::getSingleton()
                  .getByName("body_new_M")
                  ->getTechnique(0)
                  ->getPass(0)
                  ->getTextureUnitState(0)
                  ->getTextureName(),
              "body_new_M.dds")
        << "the template itself is untouched";
}

TEST_F(CharactersOnOwnTables, aMissingTemplateIsLoggedAtTheNormalLevelNamingItAndTheAvatar)
{
    Tables tables;
    tables.worn = "2001,Shirt,4,,,,,,shirt_body,no_such_template,,,,,2,0\n";
    write(tables);
    RecordingLog log;
    CharacterInstance* c = make("Mat", 7, 0, [](PlayerSetting_t& s) { s.shirt = 2001; });
    ASSERT_TRUE(c->create());
    EXPECT_EQ(log.count(Ogre::LML_NORMAL, {"material \"no_such_template\"", "player \"Mat\" (ID 7)"}), 1);
}

TEST_F(CharactersOnOwnTables, weaponEffectsAreStoredAndUnknownItemsBuildNothing)
{
    write(Tables());
    CharacterInstance* c = make("Eq", 1, 0);
    ASSERT_TRUE(c->create());
    EXPECT_FALSE(c->loadAttatchedModel(SLOT_RIGHT_HAND, 301)) << "the items table lacks 301";
    c->removeAttachedModel(SLOT_RIGHT_HAND);
    EXPECT_EQ(c->getRightWeapon(), nullptr);
    c->setWeaponEffectAllShow(3);
    EXPECT_EQ(c->getPlayerProperties().weaponEffect.flag0, 3u);
    EXPECT_EQ(c->getPlayerProperties().weaponEffect.backWeaponEffect, 3u);
    WeaponEffectVisible v;
    v.shoulderEffect = 2;
    EXPECT_TRUE(c->settingEquipEffect(&v));
    EXPECT_EQ(c->getPlayerProperties().weaponEffect.shoulderEffect, 2u);
    EXPECT_EQ(c->getPlayerProperties().weaponEffect.flag0, 0u);
}

TEST_F(CharactersOnOwnTables, speedRatesFollowTheGenderOfTheFirstBuild)
{
    write(Tables());
    CharacterInstance* m = make("Run", 1, 0);
    CharacterInstance* f = make("Ran", 2, 1);
    ASSERT_TRUE(m->create());
    ASSERT_TRUE(f->create());
    m->setSpeed(12.0f, 5.0f);
    f->setSpeed(6.2f, 4.6f);
    float run = 0, walk = 0;
    m->getSpeedRate(run, walk);
    EXPECT_FLOAT_EQ(run, 2.0f);
    EXPECT_FLOAT_EQ(walk, 2.0f);
    f->getSpeedRate(run, walk);
    EXPECT_FLOAT_EQ(run, 1.0f);
    EXPECT_FLOAT_EQ(walk, 2.0f);

    EXPECT_FALSE(m->getAnimationController()->isPaused()) << "create unpauses the controller";
    m->changePausePropety();
    EXPECT_TRUE(m->getAnimationController()->isPaused());
    m->changePausePropety();
    EXPECT_FALSE(m->getAnimationController()->isPaused());
    EXPECT_EQ(m->getAnimationController()->getEntity(), m->getEntityPtr());

    // The states of the body, in name order; the chosen one advances by the play speed.
    m->initAnimation();
    m->setNewAimationState(-1, false);
    m->setNewAimationState(1000, false);
    m->setNewAimationState(0, false);
    Ogre::AnimationState* first = m->getEntityPtr()->getAllAnimationStates()->getAnimationStates().begin()->second;
    first->setTimePosition(0.0f);
    m->setAnimationPlaySpeed(2.0f);
    m->animationAddTime(0.05f);
    EXPECT_FLOAT_EQ(first->getTimePosition(), 0.1f);
}

// The pack's presets.

TEST_F(CharactersOnPackTables, presetsOfBothGendersWearTheirSectionsAndItems)
{
    struct Expect
    {
        const char* preset;
        const char* face;
        const char* body;
        const char* lowArm;
        const char* upLeg;
        const char* lowLeg;
        const char* styledHair; // empty: hidden
        bool byHand, byFoot;
        std::vector<std::string> visible; // sorted: worn geosets shown, sections an item covers hidden
    };
    const std::vector<std::string> base = {"body_new_0", "face_new_0", "lowArm_new_0", "lowLeg_new_0", "upLeg_new_0"};
    const Expect expects[] = {
        // Plate covers every section but the face.
        {"Warrior",
         "Face_1_0_M.dds",
         "plate_body_M.dds",
         "plate_hand_M.dds",
         "plate_legs_M.dds",
         "plate_foot_M.dds",
         "hair_1_0_M.dds",
         true,
         true,
         {"belt_out_0", "boot_out_0", "face_new_0", "glove_out_0", "hair_0_0", "hair_1_0", "pants_out_0",
          "shirt_out_0"}},
        {"Archer",
         "Face_2_1_F.dds",
         "silk_blouse_F.dds",
         "leather_glove_F.dds",
         "skirt_F.dds",
         "leather_boot_F.dds",
         "",
         true,
         true,
         {"belt_out_0", "body_new_0", "face_new_0", "hair_0_0", "lowArm_new_0", "lowLeg_new_0", "upLeg_new_0"}},
        // Geosets that do not cover their sections; the rope belt has none.
        {"Mage",
         "Face_2_0_M.dds",
         "robe_body_M.dds",
         "bracer_M.dds",
         "chain_legs_M.dds",
         "riding_boot_M.dds",
         "hair_3_2_M.dds",
         true,
         true,
         {"body_new_0", "boot_out_0", "face_new_0", "glove_out_0", "hair_3_0", "lowArm_new_0", "lowLeg_new_0",
          "pants_out_0", "robe_out_0", "upLeg_new_0"}},
        {"Berserker", "Face_1_1_F.dds", "cloth_shirt_F.dds", "cloth_sleeve_F.dds", "cloth_pants_F.dds",
         "leather_boot_F.dds", "", false, true, base},
        {"Priestess",
         "Face_2_0_F.dds",
         "silk_blouse_F.dds",
         "lace_glove_F.dds",
         "upleg_new_F.dds",
         "sandal_F.dds",
         "hair_2_2_F.dds",
         true,
         true,
         {"belt_out_0", "body_new_0", "face_new_0", "hair_2_0", "lowArm_new_0", "lowLeg_new_0", "upLeg_new_0"}},
        {"Villager",
         "Face_1_0_M.dds",
         "body_new_M.dds",
         "lowarm_new_M.dds",
         "upleg_new_M.dds",
         "lowLeg_new_M.dds",
         "hair_1_1_M.dds",
         true,
         true,
         {"body_new_0", "face_new_0", "hair_1_0", "lowArm_new_0", "lowLeg_new_0", "upLeg_new_0"}},
    };
    unsigned long id = 0;
    for (const Expect& e : expects)
    {
        SCOPED_TRACE(e.preset);
        CharacterInstance* c = preset(e.preset, ++id);
        ASSERT_TRUE(c->create());
        EXPECT_EQ(c->getSubEntityTexture("face_new_0"), e.face);
        EXPECT_EQ(c->getSubEntityTexture("body_new_0"), e.body);
        EXPECT_EQ(c->getSubEntityTexture("lowArm_new_0"), e.lowArm);
        EXPECT_EQ(c->getSubEntityTexture("upLeg_new_0"), e.upLeg);
        EXPECT_EQ(c->getSubEntityTexture("lowLeg_new_0"), e.lowLeg);
        EXPECT_EQ(c->isLowArmByHand(), e.byHand);
        EXPECT_EQ(c->isLowLegByFoot(), e.byFoot);
        EXPECT_EQ(visibleSubEntities(c), e.visible);
        const unsigned style = c->getPlayerProperties().hairStyle;
        const std::string geoset = "hair_" + std::to_string(style) + "_0";
        EXPECT_EQ(visible(c, geoset), e.styledHair[0] != '\0');
        if (e.styledHair[0])
        {
            EXPECT_EQ(c->getSubEntityTexture(geoset), e.styledHair);
        }
    }
}

TEST_F(CharactersOnPackTables, animationNamesComeFromThePackTable)
{
    CharacterInstance* c = preset("Villager", 1);
    ASSERT_TRUE(c->create());
    EXPECT_STREQ(c->getAnimName(static_cast<AnimationType>(2)), "Run");
    EXPECT_STREQ(c->getAnimName(static_cast<AnimationType>(9)), "");
    EXPECT_TRUE(c->hasAnimation(static_cast<AnimationType>(0)));
    EXPECT_FALSE(c->hasAnimation(static_cast<AnimationType>(9)));
    EXPECT_FLOAT_EQ(c->getPlayPercent("Stand"), -1.0f) << "disabled after the body was taken";
    c->destroy();
    EXPECT_STREQ(c->getAnimName(static_cast<AnimationType>(2)), "") << "no controller after destroy";
    EXPECT_EQ(c->searchAnimation(0), ANIM_NONE);
}
