#pragma once

#include "avatarsystem/avatarinterface.h"

#include <OgrePrerequisites.h>
#include <OgreSingleton.h>

#include <deque>
#include <map>
#include <memory>
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

namespace avatar_detail
{
struct BodyPartition;
}

/// Drives the skeletal animations of one avatar's entity in four layers: a main animation, the
/// previous main animation while it fades out, an upper-body overlay and an additive pose.
/// Owned by its avatar; does not own the OGRE objects it points to.
///
/// Each layer weights its state separately for the upper body and the lower body. The upper body
/// is the subtree of the skeleton's upper-body root bone (AvatarSystemManager::setUpperBodyRootBone
/// names it; by default the spine or chest bone nearest the root that holds no leg); every other
/// bone is lower body. The weights reach OGRE as a state weight and a per-bone blend mask each, so
/// every bone receives exactly its part's weight whatever the skeleton's blend mode.
///
/// Callbacks: the host's IActionCallback hears of starts, stops and ends once the play or update
/// that caused them has finished its changes, in the order they arose, so that it may play, clear
/// or destroy the avatar from within them. An exception it throws is logged and goes no further.
///
/// Looping: a main animation loops in OGRE's sense when its row plays in a loop. Play-once
/// overlays and poses do not loop: they stop at their last frame, so they always reach the 99 %
/// at which they end (a wrapping state could jump past it and never end). Looping overlays loop.
class AVATARSYSTEM_API AnimationController
{
public:
    AnimationController();
    ~AnimationController();
    AnimationController(const AnimationController&) = delete;
    AnimationController& operator=(const AnimationController&) = delete;

    void setOwner(IInstance* owner) { m_owner = owner; }
    void clearOwner() { m_owner = nullptr; }
    IInstance* getOwner() const { return m_owner; }
    /// Binds the entity whose animation states are played. Binding a different entity forgets
    /// the layers, whose states belong to the entity bound before.
    void setEntity(Ogre::Entity* entity);
    Ogre::Entity* getEntity() const { return m_entity; }
    void setPause(bool paused) { m_paused = paused; }
    bool isPaused() const { return m_paused; }
    void setMerge(bool merge) { m_merge = merge; }
    void setPlaySpeed(float speed) { m_playSpeed = speed; }
    void setCallback(IActionCallback* callback) { m_callback = callback; }
    /// A tick is processed once more time than this has gathered; an undefined limit counts as 0.
    void setTickTimeLimit(float seconds) { m_tickTimeLimit = seconds == seconds ? seconds : 0.0f; }

    /// Starts the animation of the type now, taking over from the main animation by blend
    /// (BLEND_SMOOTH cross-fades, BLEND_IMMEDIATE and any other value switch at once).
    /// Does nothing while paused, without an entity, or when the type has no row or state.
    void play(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback);
    /// Stores a play for the beginning of the next update that is not paused; a second call overwrites it.
    void playLater(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback);
    /// Plays the lowest type from 0 to 1004 whose animation has that name (from its start).
    void playByName(const char* name, ANI_BLEND_TYPE blend, IActionCallback* callback);
    /// Holds the type's animation still at position (0 start, 1 end) until the next play.
    void playStatic(AnimationType type, float position);
    /// Advances one frame: the deferred play, then, once more time than the tick limit has
    /// gathered, the pose, overlay and main layers by this frame's time (the bool is not used).
    void update(bool b, float seconds);

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
    /// Layer 0 whole body, 1 main (lower body), 2 overlay (upper body), 3 pose: the type playing
    /// there, ANIM_NONE when none.
    AnimationType searchAnimation(unsigned layer) const;
    /// Stops a layer without callbacks: 0 the main animation (no overlay active), 1 the main
    /// animation under an overlay (the overlay becomes the main one), 2 the overlay, 3 the pose.
    void clearAnimation(unsigned layer);

    // The layers as they stand, for hosts' tools and tests.
    Ogre::AnimationState* getMainState() const { return m_mainState; }
    Ogre::AnimationState* getPreviousState() const { return m_prevState; }
    Ogre::AnimationState* getOverlayState() const { return m_overlayState; }
    Ogre::AnimationState* getPoseState() const { return m_poseState; }
    float getMainWeight() const { return m_mainWeight; }
    float getPreviousWeight() const { return m_prevWeight; }
    float getOverlayWeight() const { return m_overlayWeight; }
    float getPoseWeight() const { return m_poseWeight; }
    bool isOverlayActive() const { return m_overlayActive; }
    bool isStaticPose() const { return m_staticPose; }
    /// The weight state gives the upper-body and the lower-body bones now (0 when it is no layer's).
    void getLayerWeights(const Ogre::AnimationState* state, float& upper, float& lower) const;

    /// For the owner letting go while a call of this controller is still running (the host
    /// destroyed the avatar from a callback): false when none runs, and the owner deletes it;
    /// otherwise the controller lets go of its entity and deletes itself when that call returns.
    bool retireWhenIdle();

private:
    /// A host notification waiting for the end of the operation that raised it.
    struct Event
    {
        IActionCallback* target;
        AnimationType type;
        bool end;
        bool stopped;
        bool looping;
        int part;
    };
    /// Marks a play or update in progress: its events are delivered when the outermost one ends.
    class Operation
    {
    public:
        explicit Operation(AnimationController& controller);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

    private:
        AnimationController& m_controller;
    };
    void deliverEvents();
    void notifyEnd(AnimationType type, int part);
    /// The animation table, or null when it cannot be opened.
    const AnimationDB* animationTable() const;

    enum RateKind
    {
        RATE_NONE,
        RATE_RUN,
        RATE_WALK
    };
    /// The entity's state of that name, or null.
    Ogre::AnimationState* findState(const char* name) const;
    void replaceMain(AnimationType type, ANI_BLEND_TYPE blend, Ogre::AnimationState* state, float start, bool looping);
    void dropOverlay();
    void notifyStart(AnimationType type, bool looping);
    void notifyStop(AnimationType type);
    /// Writes every layer's weights into its state (per body part) and blend mask.
    void applyWeights();
    /// Forgets every layer without touching its state (the states belong to an entity let go of).
    void forgetLayers();

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

    // Which movement speed scales the main animation, worked out once per main state.
    const Ogre::AnimationState* m_rateState = nullptr;
    RateKind m_rateKind = RATE_NONE;
    // The body split of the bound entity's skeleton, fetched when first needed.
    std::shared_ptr<const avatar_detail::BodyPartition> m_partition;
    unsigned m_partitionGeneration = 0;
    std::vector<float> m_maskScratch;
    std::vector<Event> m_events;
    int m_running = 0;
    int m_queueing = 0;
    bool m_retired = false;
};

/// Base of the avatar classes the manager creates, registers and disposes of.
/// Adds nothing to the host's operation table: its own operations come after the 37 of IInstance.
class AVATARSYSTEM_API ManagedInstance : public IInstance
{
public:
    /// A host that deletes an avatar the manager destroyed or faded out takes it off the
    /// manager's lists, so that release() does not free it a second time.
    virtual ~ManagedInstance();
    /// Whether a queued build may run now (a player waits while its setting's renderObj is clear).
    virtual bool isReadyToBuild() const { return true; }
};

/// One deferred build: the unique ID of a registered avatar and its kind (0 player, 1 creature).
struct AVATARSYSTEM_API CreateRequest
{
    unsigned uniqueID = 0; ///< the avatar to build (the request is dropped once it is unregistered)
    int kind = 0;          ///< AvatarSystemManager::RequestKind: 0 player, 1 creature
};

/// The one object behind IAvatarSystem: registry of avatars and tables, holder of the
/// host's scene manager, and per-frame driver of deferred builds.
class AVATARSYSTEM_API AvatarSystemManager : public IAvatarSystem, public Ogre::Singleton<AvatarSystemManager>
{
public:
    /// The kind of a queued build (CreateRequest::kind).
    enum RequestKind
    {
        KIND_PLAYER = 0,  ///< a player avatar, built while its setting's renderObj is true
        KIND_CREATURE = 1 ///< a creature, NPC or object avatar
    };

    /// Null before IAvatarSystem::getSingletonPtr() first constructed the manager.
    static AvatarSystemManager* getSingletonPtr();
    /// The manager; it must already exist (asserts in debug builds; never constructs).
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
    /// The host's scene manager "Everwind", or null. Looked up again while the system has none,
    /// so that a host that destroys and re-creates it is served by the new one; when it is
    /// destroyed the system forgets it and everything it held in it.
    Ogre::SceneManager* getSceneMgr();
    /// The registered avatar with that ID, or null.
    IInstance* getInstance(unsigned uniqueID);
    /// Names the bone whose subtree is the upper body of every entity of the skeleton of that
    /// name (upper-body overlays move it, the main animation keeps the rest); an empty bone
    /// name restores the default choice. Takes effect at the next frame of avatars playing.
    void setUpperBodyRootBone(const std::string& skeletonName, const std::string& boneName);
    /// The upper-body root bone the animation of entity uses; empty when its skeleton has no
    /// upper body the system can tell (overlays then move the whole body) or no skeleton.
    std::string getUpperBodyRootBone(Ogre::Entity* entity);
    /// Stores the host's editor-mode flag; no behaviour of the library depends on it.
    void setEditorModel(bool editor) { m_editorModel = editor; }
    /// The flag setEditorModel stored (false at first).
    bool isEditorModel() { return m_editorModel; }
    /// The level last given to setTextureFilter (3 at first), which players apply when built.
    int getTextureFilterType() { return m_textureFilterType; }
    /// The budget setLoadFrameTime stored (20 ms at first); update() does not consult it.
    float getLoadFrameTime() const { return m_loadFrameTime; }

    /// Builds an NPC at once from the NPC table row of that name (an unknown name registers an
    /// avatar that has no entity). Null without the scene manager.
    IInstance* createNpc(const std::string& name);
    /// Builds a world object at once from the object table row of that name, as createNpc.
    IInstance* createObject(const std::string& name);

    /// The player setting of the preset (player table row) of that name, renderObj false; all
    /// zero when there is no such row or table.
    PlayerSetting_t getPorpertiesFromDB(const std::string& name);
    /// The creature setting of the creature table row of that name (first in ID order); all zero
    /// when there is none.
    CreatureSetting_t getCreatureFromDB(const std::string& name);
    /// The creature setting of the creature table row of that ID; all zero (ID included) when
    /// there is none.
    CreatureSetting_t getCreatureFromDB(unsigned long ID);
    /// The setting of the NPC table row of that name; all zero when there is none.
    CreatureSetting_t getNpcFromDB(const std::string& name);
    /// The setting of the object table row of that name; all zero when there is none.
    CreatureSetting_t getObjectFromDB(const std::string& name);

    /// @name Test and tool hooks
    /// For the library's own operations, its tests and tools; a host needs none of them.
    //@{
    /// The next unique ID (the first is 1; IDs are never reused within a process).
    unsigned takeUniqueID() { return ++m_lastUniqueID; }
    /// The last unique ID handed out (0 before the first).
    unsigned getLastUniqueID() const { return m_lastUniqueID; }
    /// Registers an avatar under a unique ID; the manager owns it from then on.
    void registerInstance(unsigned uniqueID, ManagedInstance* instance);
    /// Queues a deferred build of a registered avatar (at most one request per avatar).
    void queueBuild(unsigned uniqueID, int kind);
    /// The number of queued builds.
    std::size_t getNumRequests() const { return m_requests.size(); }
    /// The number of registered avatars.
    std::size_t getNumInstances() const { return m_instances.size(); }
    /// Avatars handed over by fadeOut and not yet released.
    const std::vector<IInstance*>& getFadeList() const { return m_fadeList; }
    /// Avatars destroyInstance tore down and not yet freed: their objects stay valid for the host
    /// until release() (or freeInstance) frees them.
    const std::vector<IInstance*>& getDestroyedList() const { return m_destroyedList; }
    //@}

    /// Frees, at once, an avatar that destroyInstance tore down or fadeOut handed over (a faded
    /// one is destroyed first); its pointer is invalid afterwards. False, doing nothing, for any
    /// other pointer (a registered avatar, one already freed, null). Without it they are freed
    /// by release(). A host may instead delete such an avatar itself (through ManagedInstance).
    /// As with a delete, not from inside a call of that avatar (its update or its callbacks).
    bool freeInstance(IInstance* instance);

private:
    friend class IAvatarSystem;
    AvatarSystemManager();
    // The manager lives until the process ends (release empties it); nothing deletes it.
    virtual ~AvatarSystemManager() = default;

    template <class Table> TextDataBase* openTable(Table*& member);
    /// The creature, NPC or object row of an ID (table chosen by range), or null.
    const Record* findCreatureRow(unsigned id);
    /// Calls destroy() and disposes of an avatar the manager created.
    static void disposeInstance(IInstance* instance);
    /// Takes an avatar off the faded and destroyed lists (its destructor calls it).
    friend class ManagedInstance;
    void forgetInstance(IInstance* instance);

    std::deque<CreateRequest> m_requests;
    std::map<unsigned, IInstance*> m_instances;
    std::vector<IInstance*> m_fadeList;
    std::vector<IInstance*> m_destroyedList;
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
