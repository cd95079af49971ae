#include "avatarsystem/avatarsystemmanager.h"

#include "avatarsystem/animationdb.h"
#include "avatarsystem/characterinstance.h"
#include "avatarsystem/creatureinstance.h"
#include "avatarsystem/creaturedb.h"
#include "avatarsystem/detail/bodysplit.h"
#include "avatarsystem/detail/contentrules.h"
#include "avatarsystem/detail/entityfactory.h"
#include "avatarsystem/detail/ogreguard.h"
#include "avatarsystem/detail/posesharing.h"
#include "avatarsystem/detail/scenewatch.h"
#include "avatarsystem/detail/tablefile.h"
#include "avatarsystem/ewchardb.h"

#include <OgreEntity.h>
#include <OgreRoot.h>
#include <OgreSceneManager.h>
#include <OgreSkeletonInstance.h>
#include <OgreVector.h>

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <memory>

template <> AvatarSystemManager* Ogre::Singleton<AvatarSystemManager>::msSingleton = nullptr;
IAvatarSystem* AvatarSystemManager::ms_IAvatarSystemSingleton = nullptr;

PlayerSetting_t::PlayerSetting_t()
{
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
    renderObj = true;
}

CreatureSetting_t::CreatureSetting_t()
{
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
}

IAvatarSystem* IAvatarSystem::getSingletonPtr()
{
    if (!AvatarSystemManager::ms_IAvatarSystemSingleton)
        AvatarSystemManager::ms_IAvatarSystemSingleton = new AvatarSystemManager();
    return AvatarSystemManager::ms_IAvatarSystemSingleton;
}

IAvatarSystem& IAvatarSystem::getSingleton()
{
    assert(AvatarSystemManager::ms_IAvatarSystemSingleton);
    return *AvatarSystemManager::ms_IAvatarSystemSingleton;
}

AvatarSystemManager* AvatarSystemManager::getSingletonPtr()
{
    return msSingleton;
}

AvatarSystemManager& AvatarSystemManager::getSingleton()
{
    AvatarSystemManager* ms_Singleton = msSingleton;
    assert(ms_Singleton);
    return *ms_Singleton;
}

AvatarSystemManager::AvatarSystemManager()
{
    ms_IAvatarSystemSingleton = this;
    getSceneMgr();
}

Ogre::SceneManager* AvatarSystemManager::getSceneMgr()
{
    if (m_sceneMgr)
        return m_sceneMgr;
    // Ask first: Root::getSceneManager throws for an unknown name. Without the host's
    // scene manager every creating operation fails softly.
    avatar_detail::guarded("looking up the scene manager",
                           [this]
                           {
                               Ogre::Root* root = Ogre::Root::getSingletonPtr();
                               if (root && root->hasSceneManager(avatar_rules::kSceneManagerName))
                                   m_sceneMgr = root->getSceneManager(avatar_rules::kSceneManagerName);
                           });
    // Gone with everything in it: the entities' own watches let the avatars and pools forget
    // them as the scene manager destroys them.
    avatar_detail::SceneWatch::instance().watchScene(m_sceneMgr, [this] { m_sceneMgr = nullptr; });
    return m_sceneMgr;
}

template <class Table> TextDataBase* AvatarSystemManager::openTable(Table*& member)
{
    if (!member)
    {
        // open() never throws; making the table might, out of memory.
        std::unique_ptr<Table> table;
        bool opened = false;
        avatar_detail::guarded("opening a table",
                               [&]
                               {
                                   table = std::make_unique<Table>();
                                   opened = table->open();
                               });
        if (!opened)
        {
            // A failed open is retried from scratch by the next request.
            avatar_detail::logFailure("opening a table", {"table", table ? table->getFileName() : std::string(),
                                                          "unreadable, or a row of it has the wrong column count"});
            return nullptr;
        }
        member = table.release();
    }
    return member;
}

TextDataBase* AvatarSystemManager::getDB(DB_NAME_e name)
{
    switch (name)
    {
    case DB_CREATURE:
        return openTable(m_creatureDB);
    case DB_NPC:
        return openTable(m_npcDB);
    case DB_BASE_INFO:
        return openTable(m_baseInfoDB);
    case DB_CHAR_RACES:
        return openTable(m_charRacesDB);
    case DB_CHAR_FACIAL_HAIR:
        return openTable(m_charFacialHairDB);
    case DB_CHAR_HAIR_GEO:
        return openTable(m_charHairGeoDB);
    case DB_CHAR_SECTIONS:
        return openTable(m_charSectionsDB);
    case DB_WEARING:
        return openTable(m_wearingDB);
    case DB_ITEM:
        return openTable(m_itemDB);
    case DB_ANIMATION:
        return openTable(m_animationDB);
    case DB_OBJECT:
        return openTable(m_objectDB);
    }
    return nullptr;
}

IInstance* AvatarSystemManager::getInstance(unsigned uniqueID)
{
    const auto it = m_instances.find(uniqueID);
    return it == m_instances.end() ? nullptr : it->second;
}

void AvatarSystemManager::registerInstance(unsigned uniqueID, ManagedInstance* instance)
{
    m_instances[uniqueID] = instance;
}

void AvatarSystemManager::queueBuild(unsigned uniqueID, int kind)
{
    // One request per avatar: a setting replaced again before the build runs is built once, with
    // the last setting (the avatar holds it).
    for (const CreateRequest& request : m_requests)
        if (request.uniqueID == uniqueID)
            return;
    m_requests.push_back(CreateRequest{uniqueID, kind});
}

void AvatarSystemManager::update(float /*seconds*/)
{
    // Shared poses move on once in this frame, at their first member's update.
    avatar_detail::PoseSharing::instance().beginFrame();
    // At most one avatar is built per call. Requests whose avatar is gone are dropped on the way;
    // a player waiting for renderObj keeps its place without holding up the requests behind it;
    // a build that fails goes to the back of the queue so that the others get their turn.
    for (std::size_t i = 0; i < m_requests.size();)
    {
        const CreateRequest request = m_requests[i];
        IInstance* instance = getInstance(request.uniqueID);
        if (!instance)
        {
            m_requests.erase(m_requests.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        const bool buildable = (request.kind == KIND_PLAYER || request.kind == KIND_CREATURE) &&
                               static_cast<ManagedInstance*>(instance)->isReadyToBuild();
        if (!buildable)
        {
            ++i;
            continue;
        }
        m_requests.erase(m_requests.begin() + static_cast<std::ptrdiff_t>(i));
        bool built = false;
        avatar_detail::guarded("building a queued avatar", [&] { built = instance->create(); });
        if (!built)
            m_requests.push_back(request);
        return;
    }
}

void AvatarSystemManager::disposeInstance(IInstance* instance)
{
    if (!instance)
        return;
    avatar_detail::guarded("destroying an avatar", [instance] { instance->destroy(); });
    delete static_cast<ManagedInstance*>(instance);
}

ManagedInstance::~ManagedInstance()
{
    if (AvatarSystemManager* manager = AvatarSystemManager::getSingletonPtr())
        manager->forgetInstance(this);
}

void AvatarSystemManager::forgetInstance(IInstance* instance)
{
    for (std::vector<IInstance*>* list : {&m_fadeList, &m_destroyedList})
        list->erase(std::remove(list->begin(), list->end(), instance), list->end());
}

bool AvatarSystemManager::freeInstance(IInstance* instance)
{
    if (!instance)
        return false;
    const bool faded = std::find(m_fadeList.begin(), m_fadeList.end(), instance) != m_fadeList.end();
    const bool destroyed = std::find(m_destroyedList.begin(), m_destroyedList.end(), instance) != m_destroyedList.end();
    if (!faded && !destroyed)
        return false;
    forgetInstance(instance);
    if (faded)
        disposeInstance(instance);
    else
        delete static_cast<ManagedInstance*>(instance);
    return true;
}

void AvatarSystemManager::release()
{
    for (auto& entry : m_instances)
    {
        disposeInstance(entry.second);
        entry.second = nullptr;
    }
    m_instances.clear();
    m_requests.clear();
    // Avatars parked by fadeOut, and the objects of destroyed ones, are the manager's too: they
    // go with everything else (taken off the lists first: each one's destructor looks there).
    const std::vector<IInstance*> faded = std::move(m_fadeList);
    m_fadeList.clear();
    for (IInstance* instance : faded)
        disposeInstance(instance);
    const std::vector<IInstance*> destroyed = std::move(m_destroyedList);
    m_destroyedList.clear();
    for (IInstance* instance : destroyed)
        delete static_cast<ManagedInstance*>(instance);

    delete m_itemDB;
    m_itemDB = nullptr;
    delete m_wearingDB;
    m_wearingDB = nullptr;
    delete m_creatureDB;
    m_creatureDB = nullptr;
    delete m_npcDB;
    m_npcDB = nullptr;
    delete m_objectDB;
    m_objectDB = nullptr;
    delete m_charRacesDB;
    m_charRacesDB = nullptr;
    delete m_charSectionsDB;
    m_charSectionsDB = nullptr;
    delete m_charFacialHairDB;
    m_charFacialHairDB = nullptr;
    delete m_charHairGeoDB;
    m_charHairGeoDB = nullptr;
    delete m_baseInfoDB;
    m_baseInfoDB = nullptr;
    delete m_animationDB;
    m_animationDB = nullptr;
    // The host may unload or reload skeletons after a release.
    avatar_detail::BodySplitRegistry::instance().forgetPartitions();
    // The bodies made for avatars go with them: the host may clear its scene after a release.
    CharacterInstance::clearEntityPools();
}

void AvatarSystemManager::setUpperBodyRootBone(const std::string& skeletonName, const std::string& boneName)
{
    avatar_detail::BodySplitRegistry::instance().setUpperBodyRoot(skeletonName, boneName);
}

std::string AvatarSystemManager::getUpperBodyRootBone(Ogre::Entity* entity)
{
    if (!entity || !entity->hasSkeleton())
        return std::string();
    return avatar_detail::BodySplitRegistry::instance().partition(*entity->getSkeleton())->rootBone;
}

void AvatarSystemManager::setLoadFrameTime(float milliseconds)
{
    m_loadFrameTime = milliseconds;
}

namespace
{

void copyName(char (&target)[256], const char* text)
{
    // Names of up to 255 characters fit; longer ones are cut, never overflowed.
    std::strncpy(target, text ? text : "", sizeof(target) - 1);
    target[sizeof(target) - 1] = '\0';
}

CreatureSetting_t creatureSettingFromRow(const Record& row, unsigned id)
{
    CreatureSetting_t setting;
    if (!row.isValid())
        return setting;
    copyName(setting.Name, row.getString(CreatureDB::Name));
    setting.ID = id;
    setting.Effect1 = row.getUInt(CreatureDB::Effect1);
    setting.Effect2 = row.getUInt(CreatureDB::Effect2);
    setting.Effect3 = row.getUInt(CreatureDB::Effect3);
    setting.Effect4 = row.getUInt(CreatureDB::Effect4);
    setting.Effect5 = row.getUInt(CreatureDB::Effect5);
    return setting;
}

} // namespace

PlayerSetting_t AvatarSystemManager::getPorpertiesFromDB(const std::string& name)
{
    PlayerSetting_t setting;
    std::memset(static_cast<void*>(&setting), 0, sizeof(setting));
    auto* table = static_cast<EWBaseInfoDB*>(getDB(DB_BASE_INFO));
    if (!table)
        return setting;
    const Record& row = table->getByName(name.c_str());
    if (!row.isValid())
        return setting;
    copyName(setting.Name, row.getString(EWBaseInfoDB::Name));
    // A preset is ready to show: a setting that says otherwise would hold every queued build of
    // it (a copy, a replacement, an effect change) back for ever.
    setting.renderObj = true;
    unsigned* const fields[] = {&setting.race,           &setting.gender,     &setting.facialHairStyle,
                                &setting.hairStyle,      &setting.hairColor,  &setting.skinColor,
                                &setting.faceType,       &setting.head,       &setting.shoulder,
                                &setting.boot,           &setting.belt,       &setting.shirt,
                                &setting.pants,          &setting.doublehand, &setting.shield,
                                &setting.glove,          &setting.leftHand,   &setting.rightHand,
                                &setting.backLongWeapon, &setting.backShield, &setting.leftWaist,
                                &setting.rightWaist};
    unsigned column = EWBaseInfoDB::race;
    for (unsigned* field : fields)
        *field = row.getUInt(column++);
    return setting;
}

CreatureSetting_t AvatarSystemManager::getCreatureFromDB(const std::string& name)
{
    auto* table = static_cast<CreatureDB*>(getDB(DB_CREATURE));
    if (!table)
        return CreatureSetting_t();
    const Record& row = table->getByName(name);
    return creatureSettingFromRow(row, row.getUInt(CreatureDB::CreatureID));
}

CreatureSetting_t AvatarSystemManager::getCreatureFromDB(unsigned long ID)
{
    auto* table = static_cast<CreatureDB*>(getDB(DB_CREATURE));
    if (!table || ID > 0xFFFFFFFFul)
        return CreatureSetting_t();
    return creatureSettingFromRow(table->getByID(static_cast<unsigned>(ID)), static_cast<unsigned>(ID));
}

CreatureSetting_t AvatarSystemManager::getNpcFromDB(const std::string& name)
{
    auto* table = static_cast<NpcDB*>(getDB(DB_NPC));
    if (!table)
        return CreatureSetting_t();
    const Record& row = table->getByName(name);
    return creatureSettingFromRow(row, row.getUInt(NpcDB::NpcID));
}

CreatureSetting_t AvatarSystemManager::getObjectFromDB(const std::string& name)
{
    auto* table = static_cast<ObjectDB*>(getDB(DB_OBJECT));
    if (!table)
        return CreatureSetting_t();
    const Record& row = table->getByName(name);
    return creatureSettingFromRow(row, row.getUInt(ObjectDB::ObjectId));
}

const Record* AvatarSystemManager::findCreatureRow(unsigned id)
{
    const DB_NAME_e name = avatar_rules::creatureTableOf(id);
    TextDataBase* table = getDB(name);
    if (!table)
        return nullptr;
    const Record* row = nullptr;
    if (name == DB_OBJECT)
        row = &static_cast<ObjectDB*>(table)->getByID(id);
    else
        row = &static_cast<CreatureLayoutDB*>(table)->getByID(id);
    return row->isValid() ? row : nullptr;
}

std::string AvatarSystemManager::getMeshFileFromId(unsigned ID)
{
    if (ID < 10000)
        return std::string();
    const Record* row = findCreatureRow(ID);
    // A row shortened through insteadRecord may lack the column.
    const char* file = row ? row->getString(CreatureDB::FileName) : nullptr;
    return file ? std::string(file) : std::string();
}

const char* AvatarSystemManager::getHeadImageFromId(unsigned ID, char* buffer)
{
    const Record* row = findCreatureRow(ID);
    // A row without the column answers as a missing row: null, the buffer untouched.
    const char* image = row ? row->getString(CreatureDB::HeadImage) : nullptr;
    if (!image)
        return nullptr;
    // The host's buffer has no size: it gets at most HeadImageBufferSize bytes.
    if (buffer)
        avatar_detail::copyFieldCut(image, buffer, HeadImageBufferSize);
    return image;
}

void AvatarSystemManager::setTextureFilter(int filter)
{
    m_textureFilterType = filter;
    for (const auto& entry : m_instances)
        if (entry.second)
            avatar_detail::guarded("setting the texture filter", [&] { entry.second->setTextureFilter(filter); });
}

namespace
{

/// Builds a new avatar at once; a failed build is not reported (the host may call create again).
void buildNow(IInstance* instance)
{
    avatar_detail::guarded("building an avatar", [instance] { instance->create(); });
}

CharacterInstance* asCharacter(IInstance* instance)
{
    if (!instance || instance->getInstanceType() != INSTANCE_CHARACTER)
        return nullptr;
    return static_cast<CharacterInstance*>(instance);
}

} // namespace

IInstance* AvatarSystemManager::createPlayer(const PlayerSetting_t& setting, ENTITY_CALLBACK* callback)
{
    if (!getSceneMgr())
        return nullptr;
    const unsigned id = takeUniqueID();
    auto* player = new CharacterInstance();
    player->setProperties(setting);
    player->setUniqueID(id);
    player->setEntityViewPtr(callback);
    registerInstance(id, player);
    if (callback)
        queueBuild(id, KIND_PLAYER);
    else
        buildNow(player);
    return player;
}

IInstance* AvatarSystemManager::createPlayer(const std::string& name)
{
    if (!getSceneMgr())
        return nullptr;
    return createPlayer(getPorpertiesFromDB(name), nullptr);
}

IInstance* AvatarSystemManager::createCreature(const CreatureSetting_t& setting, ENTITY_CALLBACK* callback)
{
    if (!getSceneMgr())
        return nullptr;
    const unsigned id = takeUniqueID();
    auto* creature = new CreatureInstance();
    creature->setProperties(setting);
    creature->setEntityViewPtr(callback);
    creature->setUniqueID(id);
    registerInstance(id, creature);
    if (callback)
        queueBuild(id, KIND_CREATURE);
    else
        buildNow(creature);
    return creature;
}

IInstance* AvatarSystemManager::createCreature(const std::string& name)
{
    if (!getSceneMgr())
        return nullptr;
    return createCreature(getCreatureFromDB(name), nullptr);
}

IInstance* AvatarSystemManager::createCreature(unsigned long ID, ENTITY_CALLBACK* callback)
{
    if (!getSceneMgr())
        return nullptr;
    return createCreature(getCreatureFromDB(ID), callback);
}

IInstance* AvatarSystemManager::createNpc(const std::string& name)
{
    if (!getSceneMgr())
        return nullptr;
    return createCreature(getNpcFromDB(name), nullptr);
}

IInstance* AvatarSystemManager::createObject(const std::string& name)
{
    if (!getSceneMgr())
        return nullptr;
    return createCreature(getObjectFromDB(name), nullptr);
}

bool AvatarSystemManager::replacePlayer(const PlayerSetting_t& setting, IInstance* player)
{
    CharacterInstance* character = asCharacter(player);
    if (!getSceneMgr() || !character)
        return false;
    // The previous build stays in the scene until the queued rebuild runs.
    character->setProperties(setting);
    queueBuild(static_cast<unsigned>(character->getUniqueID()), KIND_PLAYER);
    return true;
}

IInstance* AvatarSystemManager::clonePlayer(const char* name, IInstance* source, IRttObjectCallback* rtt,
                                            I3DRttObjectCallback* rtt3D)
{
    // Only player avatars can be copied as players.
    CharacterInstance* original = asCharacter(source);
    if (!getSceneMgr() || !original)
        return nullptr;
    const unsigned id = takeUniqueID();
    PlayerSetting_t setting = original->getPlayerProperties();
    copyName(setting.Name, name);
    auto* copy = new CharacterInstance();
    copy->setInstanceBeCopy(rtt, rtt3D);
    copy->setProperties(setting);
    copy->setUniqueID(id);
    registerInstance(id, copy);
    queueBuild(id, KIND_PLAYER);
    return copy;
}

IInstance* AvatarSystemManager::cloneCreature(unsigned long ID, IRttObjectCallback* rtt, I3DRttObjectCallback* rtt3D)
{
    const unsigned id = takeUniqueID();
    const CreatureSetting_t setting = getCreatureFromDB(ID);
    auto* copy = new CreatureInstance();
    copy->setProperties(setting);
    copy->setUniqueID(id);
    copy->setInstanceBeCopy(rtt, rtt3D);
    registerInstance(id, copy);
    queueBuild(id, KIND_CREATURE);
    return copy;
}

void AvatarSystemManager::replaceClonePlayer(IInstance* source, IInstance* copy)
{
    CharacterInstance* target = asCharacter(copy);
    CharacterInstance* original = asCharacter(source);
    if (!getSceneMgr() || !target || !original)
        return;
    PlayerSetting_t setting = original->getPlayerProperties();
    copyName(setting.Name, target->getName().c_str());
    target->setProperties(setting);
    queueBuild(static_cast<unsigned>(target->getUniqueID()), KIND_PLAYER);
}

void AvatarSystemManager::preBuildEntityBuffer(int count)
{
    if (count <= 0)
        return;
    Ogre::SceneManager* sceneMgr = nullptr;
    avatar_detail::guarded("looking up the scene manager",
                           [&]
                           {
                               Ogre::Root* root = Ogre::Root::getSingletonPtr();
                               if (root && root->hasSceneManager(avatar_rules::kSceneManagerName))
                                   sceneMgr = root->getSceneManager(avatar_rules::kSceneManagerName);
                           });
    if (!sceneMgr)
        return;
    struct Body
    {
        const char* format;
        const char* mesh;
        std::vector<Ogre::Entity*>* pool;
    };
    const Body bodies[] = {{"pre_load_man_%d", avatar_rules::kMaleBody, &CharacterInstance::s_maleEntityPool},
                           {"pre_load_woman_%d", avatar_rules::kFemaleBody, &CharacterInstance::s_femaleEntityPool}};
    for (const Body& body : bodies)
    {
        // Numbering goes on past names already in use, so a second call adds bodies instead of throwing.
        int number = 0;
        for (int made = 0; made < count; ++number)
        {
            char name[222];
            std::snprintf(name, sizeof(name), body.format, number);
            if (sceneMgr->hasEntity(name))
                continue;
            // A body mesh that cannot be loaded ends this gender's pool, leaving no empty mesh behind.
            Ogre::Entity* entity = avatar_detail::createEntityOrNull(sceneMgr, name, body.mesh, "pre-building a body");
            if (!entity)
                break;
            CharacterInstance::addToPool(entity, body.pool == &CharacterInstance::s_femaleEntityPool);
            ++made;
        }
    }
}

void AvatarSystemManager::destroyInstance(unsigned long uniqueID)
{
    const auto it = m_instances.find(static_cast<unsigned>(uniqueID));
    if (uniqueID > 0xFFFFFFFFul || it == m_instances.end())
        return;
    IInstance* instance = it->second;
    m_instances.erase(it);
    // The object itself stays allocated until release (or freeInstance): the host may still hold
    // its pointer.
    if (instance)
    {
        avatar_detail::guarded("destroying an avatar", [instance] { instance->destroy(); });
        m_destroyedList.push_back(instance);
    }
}

void AvatarSystemManager::fadeOut(unsigned long uniqueID)
{
    const auto it = m_instances.find(static_cast<unsigned>(uniqueID));
    if (uniqueID > 0xFFFFFFFFul || it == m_instances.end())
        return;
    if (it->second)
        m_fadeList.push_back(it->second);
    m_instances.erase(it);
}

void AvatarSystemManager::setInstanceTransoarency(IInstance* instance, float alpha)
{
    if (instance)
        avatar_detail::guarded("setting transparency", [&] { instance->setInstanceTransoarency(alpha, true); });
}

// --- Shared animation -----------------------------------------------------------------------

namespace
{

/// The controller of a live avatar of the system, or null.
AnimationController* controllerOf(IInstance* instance)
{
    auto* avatar = dynamic_cast<InstanceBase*>(instance);
    return avatar ? avatar->getAnimationController() : nullptr;
}

} // namespace

bool AvatarSystemManager::setDetailLevel(IInstance* instance, DetailLevel level)
{
    AnimationController* controller = controllerOf(instance);
    if (!controller || (level != DETAIL_FULL && level != DETAIL_SHARED && level != DETAIL_AUTOMATIC))
        return false;
    controller->setDetailLevel(level);
    return true;
}

AvatarSystemManager::DetailLevel AvatarSystemManager::getDetailLevel(IInstance* instance) const
{
    AnimationController* controller = controllerOf(instance);
    return controller ? static_cast<DetailLevel>(controller->getDetailLevel()) : DETAIL_FULL;
}

bool AvatarSystemManager::isSharingPose(IInstance* instance) const
{
    AnimationController* controller = controllerOf(instance);
    return controller && controller->isSharingPose();
}

void AvatarSystemManager::setViewpoint(const Ogre::Vector3& eye, float sharedBeyond)
{
    avatar_detail::PoseSharing::instance().setViewpoint(eye, sharedBeyond);
}

void AvatarSystemManager::setSharedPhaseBuckets(unsigned buckets)
{
    avatar_detail::PoseSharing::instance().setBuckets(buckets);
}

unsigned AvatarSystemManager::getSharedPhaseBuckets() const
{
    return avatar_detail::PoseSharing::instance().buckets();
}

std::size_t AvatarSystemManager::getNumSharedPoses() const
{
    return avatar_detail::PoseSharing::instance().numGroups();
}
