#pragma once

#include "avatarsystem/animationcontroller.h"
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
    /// How much of its own animation an avatar computes (setDetailLevel).
    enum DetailLevel
    {
        DETAIL_FULL = 0,     ///< its own skeleton and layers, every frame (every avatar at first)
        DETAIL_SHARED = 1,   ///< a plain looping main animation shows a group's pose, computed once a frame
        DETAIL_AUTOMATIC = 2 ///< shared while farther from the viewpoint than its distance (setViewpoint)
    };

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

    /// @name Shared animation for crowds
    /// Background avatars at the shared detail level cost the engine and the library next to
    /// nothing a frame: avatars of one skeleton playing the same looping main animation at the
    /// same pace show one pose, computed once a frame, at a phase within half a phase bucket of
    /// their own (the engine shares one skeleton instance among them). The host calls update()
    /// every frame and each avatar's IInstance::update as always; a group moves on at the first
    /// update of one of its members after update().
    //@{
    /// Sets the detail level of an avatar of the system (its animation controller keeps it across
    /// rebuilds). DETAIL_SHARED takes effect at the avatar's next IInstance::update that finds it
    /// playing a plain looping main animation (faded in, no overlay, pose, still pose, pause or
    /// deferred play), and holds until it needs more than its group's pose: then it takes its own
    /// skeleton back at once, continuing from the group's phase, and joins a group again once it
    /// is back to a plain loop. DETAIL_AUTOMATIC does the same while the avatar stands far from
    /// the viewpoint (setViewpoint). DETAIL_FULL takes its own skeleton back at once, and keeps
    /// the avatar at full detail whatever its distance. Events,
    /// getPlayPercent and searchAnimation answer as at full detail (getPlayPercent within a
    /// bucket's phase difference); objects on its bones stay on its own bones (a TagPoint the host
    /// kept from Entity::attachObjectToBone is replaced whenever the avatar joins or leaves).
    /// False, changing nothing, for null, a destroyed avatar or an object the system did not make.
    bool setDetailLevel(IInstance* instance, DetailLevel level);
    /// Where the host's camera is and how far from it avatars at DETAIL_AUTOMATIC share a pose:
    /// such an avatar joins a group at an update that finds its scene node farther than
    /// sharedBeyond from eye, and leaves at its first update within nine tenths of it. The host
    /// calls it whenever its camera moves (once a frame is cheap). Until it is called, or with a
    /// distance that is not a positive number, avatars at DETAIL_AUTOMATIC stay at full detail.
    /// An avatar the host must keep at full detail whatever its distance is set to DETAIL_FULL.
    void setViewpoint(const Ogre::Vector3& eye, float sharedBeyond);
    /// The level last set (DETAIL_FULL for anything setDetailLevel refuses).
    DetailLevel getDetailLevel(IInstance* instance) const;
    /// Whether the avatar shows a group's pose right now.
    bool isSharingPose(IInstance* instance) const;
    /// The number of phase buckets of each skeleton, animation and pace (4 at first, kept within
    /// 1 to 64): more buckets keep shared avatars nearer their own phase and make more poses to
    /// compute. Groups formed from now on use it.
    void setSharedPhaseBuckets(unsigned buckets);
    /// The number of phase buckets groups formed from now on use.
    unsigned getSharedPhaseBuckets() const;
    /// The number of shared poses (groups) now.
    std::size_t getNumSharedPoses() const;
    //@}

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
