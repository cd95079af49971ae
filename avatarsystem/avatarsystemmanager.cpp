#include "avatarsystem/avatarsystemmanager.h"

#include "avatarsystem/animationdb.h"
#include "avatarsystem/characterinstance.h"
#include "avatarsystem/creatureinstance.h"
#include "avatarsystem/creaturedb.h"
#include "avatarsystem/detail/bodysplit.h"
#include "avatarsystem/detail/contentrules.h"
#include "avatarsystem/detail/entityfactory.h"
#include "avatarsystem/detail/ogreguard.h"
#include "avatarsystem/detail/scenewatch.h"
#include "avatarsystem/detail/tablefile.h"
#include "avatarsystem/ewchardb.h"

#include <OgreAnimationState.h>
#include <OgreEntity.h>
#include <OgreRoot.h>
#include <OgreSceneManager.h>
#include <OgreSkeletonInstance.h>

#include <algorithm>
#include <cassert>
#include <cmath>
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

namespace
{

const float s_fadeSpeed = 6.0f;
const float s_endPercent = 0.99f;
const float s_poseFadeOut = 0.8f;
const float s_overlayFadeOut = 0.9f;
const float s_startScale = 0.99f;
const float s_quickFade = 10.0f;
const unsigned s_lastSearchedType = 1004;

const char* const s_runAnimations[] = {"Run", "Main_run", "Pair_run", "Heavy_run", "Long_run", "Master_run", "Bow_run"};

/// The fraction of a state's length played, as getPlayPercent answers it for the state's name.
float percentOf(const Ogre::AnimationState* state)
{
    if (!state->getEnabled())
        return -1.0f;
    return static_cast<float>(static_cast<double>(state->getTimePosition()) /
                              (static_cast<double>(state->getLength()) + 0.00001));
}

/// f, or 0 when f is infinite or not a number (the host's times and fractions reach OGRE's time
/// positions, which would stay undefined for good).
float finiteOrZero(float f)
{
    return std::isfinite(f) ? f : 0.0f;
}

void positionState(Ogre::AnimationState* state, float start)
{
    state->setTimePosition(finiteOrZero(start * state->getLength() * s_startScale));
}

} // namespace

AnimationController::AnimationController() = default;
AnimationController::~AnimationController() = default;

const AnimationDB* AnimationController::animationTable() const
{
    // A table that cannot be opened is noted for the avatar that asked.
    const avatar_detail::FailureSubject subject(m_owner);
    AvatarSystemManager* manager = AvatarSystemManager::getSingletonPtr();
    return manager ? static_cast<const AnimationDB*>(manager->getDB(DB_ANIMATION)) : nullptr;
}

void AnimationController::setEntity(Ogre::Entity* entity)
{
    if (entity != m_entity)
    {
        forgetLayers();
        m_partition.reset();
    }
    m_entity = entity;
}

void AnimationController::forgetLayers()
{
    m_mainState = m_prevState = m_overlayState = m_poseState = nullptr;
    m_mainType = m_overlayType = m_poseType = ANIM_NONE;
    m_mainWeight = 1.0f;
    m_prevWeight = m_overlayWeight = m_poseWeight = 0.0f;
    m_overlayActive = m_overlayPlayOnce = m_mainPlayOnce = m_staticPose = false;
    m_mainLayer = 0;
    m_rateState = nullptr;
}

void AnimationController::playLater(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback)
{
    m_pendingType = type;
    m_pendingBlend = blend;
    m_pendingStart = start;
    m_pendingCallback = callback;
    m_pendingPlay = true;
}

const char* AnimationController::getAnimName(AnimationType type)
{
    const AnimationDB* table = animationTable();
    const Record* row = table ? table->getByType(static_cast<unsigned>(type)) : nullptr;
    const char* name = row ? row->getString(AnimationDB::AnimName) : nullptr;
    return name ? name : "";
}

bool AnimationController::hasState(const std::string& name) const
{
    return m_entity && m_entity->hasSkeleton() && m_entity->getAllAnimationStates() &&
           m_entity->getAllAnimationStates()->hasAnimationState(name);
}

Ogre::AnimationState* AnimationController::findState(const char* name) const
{
    if (!name || !*name || !hasState(name))
        return nullptr;
    return m_entity->getAllAnimationStates()->getAnimationState(name);
}

bool AnimationController::hasAnimation(AnimationType type)
{
    const char* name = getAnimName(type);
    return name[0] != '\0' && hasState(name);
}

float AnimationController::getPlayPercent(const std::string& name) const
{
    if (!hasState(name))
        return -1.0f;
    return percentOf(m_entity->getAllAnimationStates()->getAnimationState(name));
}

void AnimationController::resetAllStates(bool enabled)
{
    if (!m_entity || !m_entity->hasSkeleton() || !m_entity->getAllAnimationStates())
        return;
    for (const auto& entry : m_entity->getAllAnimationStates()->getAnimationStates())
    {
        entry.second->setTimePosition(0.0f);
        entry.second->setEnabled(enabled);
    }
}

void AnimationController::notifyStart(AnimationType type, bool looping)
{
    if (m_callback)
        m_events.push_back({m_callback, type, false, false, looping, 0});
}

void AnimationController::notifyStop(AnimationType type)
{
    if (m_callback)
        m_events.push_back({m_callback, type, false, true, false, 0});
}

void AnimationController::notifyEnd(AnimationType type, int part)
{
    if (m_callback)
        m_events.push_back({m_callback, type, true, false, false, part});
}

AnimationController::Operation::Operation(AnimationController& controller) : m_controller(controller)
{
    ++controller.m_running;
    ++controller.m_queueing;
}

AnimationController::Operation::~Operation()
{
    AnimationController& c = m_controller;
    if (--c.m_queueing == 0)
        c.deliverEvents();
    if (--c.m_running == 0 && c.m_retired)
        delete &c;
}

void AnimationController::deliverEvents()
{
    // Events of a play the host starts from a callback are delivered by that play, inside the callback.
    std::vector<Event> batch;
    batch.swap(m_events);
    for (const Event& event : batch)
    {
        if (m_retired)
            return;
        avatar_detail::guarded("calling the host's animation callback",
                               [&event]
                               {
                                   if (event.end)
                                       event.target->onAnimationEnd(event.type, event.part);
                                   else
                                       event.target->onAnimationState(event.type, event.stopped, event.looping);
                               });
    }
}

bool AnimationController::retireWhenIdle()
{
    if (m_running == 0)
        return false;
    m_retired = true;
    m_owner = nullptr;
    m_entity = nullptr;
    forgetLayers();
    return true;
}

void AnimationController::dropOverlay()
{
    if (!m_overlayState)
        return;
    notifyStop(m_overlayType);
    avatar_detail::releaseState(m_overlayState);
    m_overlayState = nullptr;
}

void AnimationController::play(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback)
{
    if (m_paused || !m_entity)
        return;
    Operation operation(*this);
    const AnimationDB* table = animationTable();
    const Record* row = table ? table->getByType(static_cast<unsigned>(type)) : nullptr;
    if (!row)
        return;
    m_callback = callback;
    const char* name = row->getString(AnimationDB::AnimName);
    Ogre::AnimationState* state = findState(name);
    if (!state)
        return;

    const int layer = row->getInt(AnimationDB::BlendType);
    const int playType = row->getInt(AnimationDB::PlayType);
    const bool quickFade = row->getInt(AnimationDB::IsMerge) == 0;
    m_staticPose = false;
    // Playing the main animation again restarts it; a blend the system does not know switches
    // at once too, so that no old state is left enabled outside every layer.
    if ((m_mainState && m_mainState->getAnimationName() == name) || blend != BLEND_SMOOTH)
        blend = BLEND_IMMEDIATE;
    m_overlayFadeRate = 1.0f;
    m_mainFadeRate = 1.0f;

    if (layer == 2 && m_mainLayer == 1 && m_mainState)
    {
        // An upper-body animation over a lower-body main one.
        if (playType != 0 && playType != 1)
            return;
        dropOverlay();
        m_overlayType = type;
        m_overlayState = state;
        positionState(state, start);
        state->setLoop(playType == 0);
        state->setEnabled(true);
        notifyStart(m_overlayType, playType == 0);
        m_overlayActive = true;
        m_overlayPlayOnce = playType == 1;
        m_overlayWeight = 0.0f;
        if (playType == 1 && quickFade)
            m_overlayFadeRate = s_quickFade;
    }
    else if (layer == 1 && m_mainLayer == 2 && m_mainState)
    {
        // A lower-body animation under an upper-body main one, which goes on as the overlay.
        if (playType != 0 && playType != 1)
            return;
        dropOverlay();
        m_overlayState = m_mainState;
        m_overlayType = m_mainType;
        m_overlayWeight = m_mainWeight;
        m_overlayPlayOnce = m_mainPlayOnce;
        m_overlayActive = true;
        m_mainType = type;
        if (m_prevState)
        {
            avatar_detail::releaseState(m_prevState);
            m_prevState = nullptr;
        }
        m_mainState = state;
        positionState(state, start);
        state->setLoop(playType == 0);
        state->setEnabled(true);
        notifyStart(m_mainType, playType == 0);
        m_mainPlayOnce = playType == 1;
        m_mainLayer = layer;
        if (playType == 1 && quickFade)
            m_mainFadeRate = s_quickFade;
    }
    else
    {
        if (layer == 0)
        {
            dropOverlay();
            m_overlayActive = false;
            m_overlayWeight = 0.0f;
        }
        if (playType == 0)
        {
            // The same loop goes on as it is.
            if (!m_mainState || m_mainState->getAnimationName() != name)
                replaceMain(type, blend, state, start, true);
        }
        else if (playType == 1)
        {
            replaceMain(type, blend, state, start, false);
            if (quickFade)
                m_mainFadeRate = s_quickFade;
        }
        else if (playType == 2 && !m_poseState)
        {
            m_poseType = type;
            m_poseState = state;
            positionState(state, start);
            state->setLoop(false);
            state->setEnabled(true);
            notifyStart(m_poseType, false);
            m_poseWeight = 0.0f;
        }
        if (playType == 0 || playType == 1)
            m_mainLayer = layer;
    }
    applyWeights();
}

void AnimationController::replaceMain(AnimationType type, ANI_BLEND_TYPE blend, Ogre::AnimationState* state,
                                      float start, bool looping)
{
    notifyStop(m_mainType);
    m_mainType = type;
    if (m_prevState)
    {
        avatar_detail::releaseState(m_prevState);
        m_prevState = nullptr;
    }
    if (blend == BLEND_SMOOTH)
    {
        m_mainWeight = 0.0f;
        m_prevWeight = 1.0f;
        // Fades out from here; it is the new state itself when that played before (restarted below).
        if (m_mainState != state)
            m_prevState = m_mainState;
    }
    else
    {
        m_mainWeight = 1.0f;
        m_prevWeight = 0.0f;
        if (m_mainState && m_mainState != state)
            avatar_detail::releaseState(m_mainState);
    }
    m_mainState = state;
    positionState(state, start);
    state->setEnabled(true);
    state->setLoop(looping);
    notifyStart(m_mainType, looping);
    m_mainPlayOnce = !looping;
}

void AnimationController::playByName(const char* name, ANI_BLEND_TYPE blend, IActionCallback* callback)
{
    if (m_paused || !m_entity || !name)
        return;
    const AnimationDB* table = animationTable();
    if (!table)
        return;
    for (unsigned type = 0; type <= s_lastSearchedType; ++type)
    {
        const Record* row = table->getByType(type);
        const char* rowName = row ? row->getString(AnimationDB::AnimName) : nullptr;
        if (rowName && std::strcmp(rowName, name) == 0)
        {
            play(static_cast<AnimationType>(type), blend, 0.0f, callback);
            return;
        }
    }
}

void AnimationController::playStatic(AnimationType type, float position)
{
    if (m_paused || !m_entity)
        return;
    const AnimationDB* table = animationTable();
    const Record* row = table ? table->getByType(static_cast<unsigned>(type)) : nullptr;
    Ogre::AnimationState* state = row ? findState(row->getString(AnimationDB::AnimName)) : nullptr;
    if (!state)
        return;
    avatar_detail::releaseState(m_prevState);
    avatar_detail::releaseState(m_mainState);
    m_prevState = nullptr;
    m_mainWeight = 1.0f;
    m_prevWeight = 0.0f;
    m_mainState = state;
    state->setEnabled(true);
    state->setTimePosition(finiteOrZero(position * state->getLength() * s_startScale));
    state->setLoop(false);
    m_staticPose = true;
    applyWeights();
}

void AnimationController::update(bool, float seconds)
{
    if (m_paused || !m_owner)
        return;
    Operation operation(*this);
    if (m_pendingPlay && m_pendingType != ANIM_NONE)
    {
        // Cleared first: a play the host defers from one of this play's callbacks is kept.
        m_pendingPlay = false;
        play(m_pendingType, m_pendingBlend, m_pendingStart, m_pendingCallback);
    }
    // An undefined frame time would leave the gathered time undefined, and the avatar still, for good.
    m_tickAccum += finiteOrZero(seconds);
    if (!(m_tickAccum > m_tickTimeLimit))
        return;

    float runRate = 1.0f, walkRate = 1.0f, rate = 1.0f;
    m_owner->getSpeedRate(runRate, walkRate);
    if (m_mainState != m_rateState)
    {
        m_rateState = m_mainState;
        m_rateKind = RATE_NONE;
        if (m_mainState)
        {
            const std::string& name = m_mainState->getAnimationName();
            if (name == "Walk")
                m_rateKind = RATE_WALK;
            for (const char* run : s_runAnimations)
                if (name == run)
                    m_rateKind = RATE_RUN;
        }
    }
    if (m_rateKind == RATE_RUN)
        rate = runRate;
    else if (m_rateKind == RATE_WALK)
        rate = walkRate;
    // A speed the host or a table made infinite or undefined would leave every state at NaN.
    if (!std::isfinite(rate))
        rate = 1.0f;
    m_step += finiteOrZero(finiteOrZero(seconds) * m_playSpeed * rate);
    m_tickAccum = 0.0f;
    if (!m_entity || !m_mainState || m_staticPose)
    {
        // Nothing moves: time gathered here must not push whatever plays next past its start
        // (a play-once animation begun after a long still pose would end at once).
        m_step = 0.0f;
        return;
    }

    if (m_poseState)
    {
        m_entity->getSkeleton()->setBlendMode(Ogre::ANIMBLEND_CUMULATIVE);
        const float p = percentOf(m_poseState);
        if (p < s_endPercent)
        {
            m_poseState->addTime(m_step);
            if (p <= s_poseFadeOut)
                m_poseWeight = std::min(1.0f, m_poseWeight + m_step * s_fadeSpeed);
            else
                m_poseWeight = std::max(0.0f, m_poseWeight - m_step * s_fadeSpeed);
        }
        else
        {
            notifyStop(m_poseType);
            avatar_detail::releaseState(m_poseState);
            m_poseState = nullptr;
            m_poseWeight = 0.0f;
            m_entity->getSkeleton()->setBlendMode(Ogre::ANIMBLEND_AVERAGE);
            m_poseType = ANIM_NONE;
        }
    }

    if (m_overlayActive && m_overlayState)
    {
        const float fade = m_step * s_fadeSpeed * m_overlayFadeRate;
        const float p = m_overlayPlayOnce ? percentOf(m_overlayState) : 0.0f;
        if (!m_overlayPlayOnce || p < s_endPercent)
        {
            m_overlayState->addTime(m_step);
            if (!m_overlayPlayOnce || p <= s_overlayFadeOut)
                m_overlayWeight = std::min(1.0f, m_overlayWeight + fade);
            else
                m_overlayWeight = std::max(0.0f, m_overlayWeight - fade);
        }
        else
        {
            avatar_detail::releaseState(m_overlayState);
            m_overlayState = nullptr;
            m_overlayActive = false;
            const AnimationType ended = m_overlayType;
            m_overlayType = ANIM_NONE;
            if (ended != ANIM_NONE)
            {
                notifyEnd(ended, 2);
                notifyStop(ended);
            }
            m_overlayWeight = 0.0f;
        }
    }

    if (m_mainState)
    {
        if (!m_mainPlayOnce || percentOf(m_mainState) < s_endPercent)
        {
            if (m_prevState)
                m_prevState->addTime(m_step);
            m_mainState->addTime(m_step);
            m_mainWeight += m_step * s_fadeSpeed * m_mainFadeRate;
            if (m_mainWeight < 1.0f)
            {
                m_prevWeight = 1.0f - m_mainWeight;
            }
            else
            {
                m_mainWeight = 1.0f;
                m_prevWeight = 0.0f;
                avatar_detail::releaseState(m_prevState);
                m_prevState = nullptr;
            }
        }
        else
        {
            m_prevWeight = 0.0f;
            m_mainWeight = 1.0f;
            avatar_detail::releaseState(m_prevState);
            m_prevState = nullptr;
            // Holds its last frame.
            m_mainState->setTimePosition(m_mainState->getLength());
            const AnimationType ended = m_mainType;
            m_mainType = ANIM_NONE;
            if (ended != ANIM_NONE)
            {
                notifyEnd(ended, m_overlayActive ? 1 : 0);
                notifyStop(ended);
            }
        }
    }
    m_step = 0.0f;
    applyWeights();
}

void AnimationController::getLayerWeights(const Ogre::AnimationState* state, float& upper, float& lower) const
{
    upper = lower = 0.0f;
    if (!state)
        return;
    // In the order the layers are weighted within a tick: a state serving two layers ends up
    // with the main layer's weights.
    if (state == m_poseState)
        upper = lower = m_poseWeight;
    if (state == m_overlayState)
    {
        upper = m_overlayWeight;
        lower = 0.0f;
    }
    const auto mainPart = [&](float x)
    {
        upper = m_overlayActive ? (1.0f - m_overlayWeight) * x : x;
        lower = x;
    };
    if (state == m_prevState)
        mainPart(m_prevWeight);
    if (state == m_mainState)
    {
        if (m_staticPose)
            upper = lower = 1.0f;
        else
            mainPart(m_mainWeight);
    }
}

void AnimationController::applyWeights()
{
    if (!m_entity || !m_entity->hasSkeleton())
        return;
    avatar_detail::StateWeights layers[4];
    std::size_t count = 0;
    for (Ogre::AnimationState* state : {m_poseState, m_overlayState, m_prevState, m_mainState})
    {
        if (!state)
            continue;
        bool seen = false;
        for (std::size_t i = 0; i < count; ++i)
            seen = seen || layers[i].state == state;
        if (seen)
            continue;
        layers[count].state = state;
        getLayerWeights(state, layers[count].upper, layers[count].lower);
        ++count;
    }
    if (count == 0)
        return;
    Ogre::SkeletonInstance* skeleton = m_entity->getSkeleton();
    avatar_detail::BodySplitRegistry& registry = avatar_detail::BodySplitRegistry::instance();
    if (!m_partition || m_partitionGeneration != registry.generation())
    {
        m_partition = registry.partition(*skeleton);
        m_partitionGeneration = registry.generation();
    }
    avatar_detail::applyStateWeights(*skeleton, *m_partition, layers, count, m_maskScratch);
}

AnimationType AnimationController::searchAnimation(unsigned layer) const
{
    const AnimationType current = m_pendingPlay ? m_pendingType : m_mainType;
    if (!m_overlayActive)
        return current;
    if (layer == 1)
        return current;
    if (layer == 2)
        return m_overlayType;
    return ANIM_NONE;
}

void AnimationController::clearAnimation(unsigned layer)
{
    switch (layer)
    {
    case 0:
        if (m_overlayActive || !m_mainState)
            return;
        avatar_detail::releaseState(m_mainState);
        m_mainState = nullptr;
        m_mainWeight = 0.0f;
        m_mainType = ANIM_NONE;
        break;
    case 1:
        if (!m_overlayActive || !m_mainState)
            return;
        m_overlayActive = false;
        m_overlayWeight = 0.0f;
        if (m_overlayState)
        {
            avatar_detail::releaseState(m_mainState);
            m_mainType = m_overlayType;
            m_overlayType = ANIM_NONE;
            m_mainState = m_overlayState;
            m_overlayState = nullptr;
            m_mainWeight = m_overlayWeight;
            m_mainPlayOnce = m_overlayPlayOnce;
        }
        break;
    case 2:
        if (!m_overlayActive || !m_overlayState)
            return;
        m_overlayActive = false;
        m_overlayWeight = 0.0f;
        m_overlayType = ANIM_NONE;
        avatar_detail::releaseState(m_overlayState);
        m_overlayState = nullptr;
        break;
    case 3:
        if (!m_poseState)
            return;
        avatar_detail::releaseState(m_poseState);
        m_poseState = nullptr;
        m_poseWeight = 0.0f;
        if (m_entity && m_entity->hasSkeleton())
            m_entity->getSkeleton()->setBlendMode(Ogre::ANIMBLEND_AVERAGE);
        m_poseType = ANIM_NONE;
        break;
    default:
        return;
    }
    applyWeights();
}
