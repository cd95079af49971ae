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
    virtual ~ManagedInstance() = default;
    /// Whether a queued build may run now (a player waits while its setting's renderObj is clear).
    virtual bool isReadyToBuild() const { return true; }
};

/// One deferred build: the unique ID of a registered avatar and its kind (0 player, 1 creature).
struct AVATARSYSTEM_API CreateRequest
{
    unsigned uniqueID = 0;
    int kind = 0;
};

/// The one object behind IAvatarSystem: registry of avatars and tables, holder of the
/// host's scene manager, and per-frame driver of deferred builds.
class AVATARSYSTEM_API AvatarSystemManager : public IAvatarSystem, public Ogre::Singleton<AvatarSystemManager>
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
