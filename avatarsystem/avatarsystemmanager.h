#pragma once

#include "avatarsystem/avatarinterface.h"

#include <OgrePrerequisites.h>
#include <OgreSingleton.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

class Record;
class TextDataBase;
class NpcDB;
class ObjectDB;
class EWItemDB;
class CreatureDB;
class AnimationDB;
class EWWearingDB;
class EWBaseInfoDB;
class EWCharRacesDB;
class EWCharHairGeoDB;
class EWCharSectionsDB;
class EWCharFacialHairDB;

/// Drives the skeletal animations of one avatar's entity: main, previous, upper-body overlay
/// and pose layers. Owned by its avatar; does not own the OGRE objects it points to.
class AnimationController
{
public:
    void setOwner(IInstance* owner) { m_owner = owner; }
    void clearOwner() { m_owner = nullptr; }
    IInstance* getOwner() const { return m_owner; }
    /// Binds the entity whose animation states are played (no other change).
    void setEntity(Ogre::Entity* entity) { m_entity = entity; }
    Ogre::Entity* getEntity() const { return m_entity; }
    void setPause(bool paused) { m_paused = paused; }
    bool isPaused() const { return m_paused; }
    void setMerge(bool merge) { m_merge = merge; }
    void setPlaySpeed(float speed) { m_playSpeed = speed; }
    void setCallback(IActionCallback* callback) { m_callback = callback; }
    void setTickTimeLimit(float seconds) { m_tickTimeLimit = seconds; }

    /// Stores a play for the beginning of the next update that is not paused; a second call overwrites it.
    void playLater(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback);

    /// The type's animation name, or an empty text when the table or row is missing.
    const char* getAnimName(AnimationType type);
    /// True when the entity has a skeleton, an animation state set and a state of that name.
    bool hasState(const std::string& name) const;
    /// True when the type has a row and the entity a state of its name.
    bool hasAnimation(AnimationType type);
    /// The fraction of the named state's length played; -1 when it is missing or disabled.
    float getPlayPercent(const std::string& name) const;
    /// Every animation state of the entity back to time 0, enabled as given.
    void resetAllStates(bool enabled);

    // Playing, advancing and layer control come with the animation work; until then
    // these calls change nothing.
    void play(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback);
    void playByName(const char* name, ANI_BLEND_TYPE blend, IActionCallback* callback);
    void playStatic(AnimationType type, float position);
    void update(bool b, float seconds);
    AnimationType searchAnimation(unsigned layer) const;
    void clearAnimation(unsigned layer);

private:
    bool m_paused = false;
    bool m_mainPlayOnce = false;
    bool m_merge = false;
    bool m_staticPose = false;
    bool m_pendingPlay = false;
    bool m_overlayActive = false;
    bool m_overlayPlayOnce = false;
    float m_mainWeight = 1.0f;
    float m_prevWeight = 0.0f;
    float m_poseWeight = 0.0f;
    float m_overlayWeight = 0.0f;
    float m_playSpeed = 1.0f;
    float m_pendingStart = 0.0f;
    float m_tickAccum = 0.0f;
    float m_tickTimeLimit = 0.0f;
    float m_step = 0.0f;
    float m_overlayFadeRate = 1.0f;
    float m_mainFadeRate = 1.0f;
    Ogre::AnimationState* m_mainState = nullptr;
    Ogre::AnimationState* m_prevState = nullptr;
    Ogre::AnimationState* m_poseState = nullptr;
    Ogre::AnimationState* m_overlayState = nullptr;
    Ogre::Entity* m_entity = nullptr;
    IInstance* m_owner = nullptr;
    IActionCallback* m_callback = nullptr;
    IActionCallback* m_pendingCallback = nullptr;
    AnimationType m_mainType = ANIM_NONE;
    AnimationType m_poseType = ANIM_NONE;
    AnimationType m_pendingType = ANIM_NONE;
    AnimationType m_overlayType = ANIM_NONE;
    ANI_BLEND_TYPE m_pendingBlend = BLEND_SMOOTH;
    int m_mainLayer = 0;
};

/// Base of the avatar classes the manager creates, registers and disposes of.
/// Adds nothing to the host's operation table: its own operations come after the 37 of IInstance.
class ManagedInstance : public IInstance
{
public:
    virtual ~ManagedInstance() = default;
    /// Whether a queued build may run now (a player waits while its setting's renderObj is clear).
    virtual bool isReadyToBuild() const { return true; }
};

/// One deferred build: the unique ID of a registered avatar and its kind (0 player, 1 creature).
struct CreateRequest
{
    unsigned uniqueID = 0;
    int kind = 0;
};

/// The one object behind IAvatarSystem: registry of avatars and tables, holder of the
/// host's scene manager, and per-frame driver of deferred builds.
class AvatarSystemManager : public IAvatarSystem, public Ogre::Singleton<AvatarSystemManager>
{
public:
    enum RequestKind
    {
        KIND_PLAYER = 0,
        KIND_CREATURE = 1
    };

    /// Null before IAvatarSystem::getSingletonPtr() first constructed the manager.
    static AvatarSystemManager* getSingletonPtr();
    static AvatarSystemManager& getSingleton();

    // IAvatarSystem
    void release() override;
    void update(float seconds) override;
    IInstance* createPlayer(const std::string& name) override;
    IInstance* createPlayer(const PlayerSetting_t& setting, ENTITY_CALLBACK* callback) override;
    IInstance* createCreature(const std::string& name) override;
    IInstance* createCreature(unsigned long ID, ENTITY_CALLBACK* callback) override;
    IInstance* createCreature(const CreatureSetting_t& setting, ENTITY_CALLBACK* callback) override;
    bool replacePlayer(const PlayerSetting_t& setting, IInstance* player) override;
    IInstance* clonePlayer(const char* name, IInstance* source, IRttObjectCallback* rtt,
                           I3DRttObjectCallback* rtt3D) override;
    IInstance* cloneCreature(unsigned long ID, IRttObjectCallback* rtt, I3DRttObjectCallback* rtt3D) override;
    void replaceClonePlayer(IInstance* source, IInstance* copy) override;
    void destroyInstance(unsigned long uniqueID) override;
    void fadeOut(unsigned long uniqueID) override;
    void setInstanceTransoarency(IInstance* instance, float alpha) override;
    void setTextureFilter(int filter) override;
    void preBuildEntityBuffer(int count) override;
    std::string getMeshFileFromId(unsigned ID) override;
    const char* getHeadImageFromId(unsigned ID, char* buffer) override;
    void setLoadFrameTime(float milliseconds) override;

    /// The table of that name, opened on first use; null when the name holds no table or it cannot be opened.
    TextDataBase* getDB(DB_NAME_e name);
    Ogre::SceneManager* getSceneMgr() const { return m_sceneMgr; }
    /// The registered avatar with that ID, or null.
    IInstance* getInstance(unsigned uniqueID);
    void setEditorModel(bool editor) { m_editorModel = editor; }
    bool isEditorModel() { return m_editorModel; }
    int getTextureFilterType() { return m_textureFilterType; }
    float getLoadFrameTime() const { return m_loadFrameTime; }

    IInstance* createNpc(const std::string& name);
    IInstance* createObject(const std::string& name);

    PlayerSetting_t getPorpertiesFromDB(const std::string& name);
    CreatureSetting_t getCreatureFromDB(const std::string& name);
    CreatureSetting_t getCreatureFromDB(unsigned long ID);
    CreatureSetting_t getNpcFromDB(const std::string& name);
    CreatureSetting_t getObjectFromDB(const std::string& name);

    /// The next unique ID (the first is 1; IDs are never reused within a process).
    unsigned takeUniqueID() { return ++m_lastUniqueID; }
    unsigned getLastUniqueID() const { return m_lastUniqueID; }
    /// Registers an avatar under a unique ID; the manager owns it from then on.
    void registerInstance(unsigned uniqueID, ManagedInstance* instance);
    /// Queues a deferred build of a registered avatar.
    void queueBuild(unsigned uniqueID, int kind);
    std::size_t getNumRequests() const { return m_requests.size(); }
    std::size_t getNumInstances() const { return m_instances.size(); }
    /// Avatars handed over by fadeOut and not yet released.
    const std::vector<IInstance*>& getFadeList() const { return m_fadeList; }

private:
    friend class IAvatarSystem;
    AvatarSystemManager();
    ~AvatarSystemManager() = default;

    template <class Table> TextDataBase* openTable(Table*& member);
    /// The creature, NPC or object row of an ID (table chosen by range), or null.
    const Record* findCreatureRow(unsigned id);
    /// Calls destroy() and disposes of an avatar the manager created.
    static void disposeInstance(IInstance* instance);

    std::deque<CreateRequest> m_requests;
    std::map<unsigned, IInstance*> m_instances;
    std::vector<IInstance*> m_fadeList;
    int m_textureFilterType = 3;
    bool m_editorModel = false;
    float m_loadFrameTime = 20.0f;
    unsigned m_lastUniqueID = 0;
    Ogre::SceneManager* m_sceneMgr = nullptr;
    NpcDB* m_npcDB = nullptr;
    ObjectDB* m_objectDB = nullptr;
    EWItemDB* m_itemDB = nullptr;
    CreatureDB* m_creatureDB = nullptr;
    AnimationDB* m_animationDB = nullptr;
    EWWearingDB* m_wearingDB = nullptr;
    EWBaseInfoDB* m_baseInfoDB = nullptr;
    EWCharRacesDB* m_charRacesDB = nullptr;
    EWCharHairGeoDB* m_charHairGeoDB = nullptr;
    EWCharSectionsDB* m_charSectionsDB = nullptr;
    EWCharFacialHairDB* m_charFacialHairDB = nullptr;

public:
    /// Set by the constructor and by IAvatarSystem::getSingletonPtr; never cleared.
    static IAvatarSystem* ms_IAvatarSystemSingleton;
};
