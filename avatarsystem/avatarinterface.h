#pragma once

// The contract between the game client (the host) and the avatar library.
// The host is compiled against these declarations: the order and width of the
// record fields and the order of the interface operations are part of the ABI.
// Every enum is a 32-bit int, so any value a host passes (an animation kind from its own data,
// a table number or blend type outside the names below) is a valid value of its type.

#include "avatarsystem/avatarsystemexport.h"

#include <string>

namespace Ogre
{
class Entity;
}

class AttachModel;
class IInstance;

/// Which attachment effects of a player are shown; nonzero shows the effect of that place.
struct AVATARSYSTEM_API WeaponEffectVisible
{
    unsigned flag0 = 0;            ///< carried, not read by the avatar system
    unsigned shoulderEffect = 0;   ///< place 1
    unsigned leftHandEffect = 0;   ///< place 10
    unsigned rightHandEffect = 0;  ///< places 9 and 6
    unsigned rightWaistEffect = 0; ///< place 13
    unsigned leftWaistEffect = 0;  ///< place 14
    unsigned backWeaponEffect = 0; ///< place 11
};

/// Appearance and equipment of a player avatar. Copied as a whole record.
struct AVATARSYSTEM_API PlayerSetting_t
{
    /// Zero-fills the whole record, then sets renderObj.
    PlayerSetting_t();

    char Name[256];
    unsigned race;
    unsigned gender; ///< 0 male, anything else female
    unsigned facialHairStyle;
    unsigned hairStyle;
    unsigned hairColor;
    unsigned skinColor;
    unsigned faceType;
    unsigned head;
    unsigned shoulder;
    unsigned boot;
    unsigned belt;
    unsigned shirt;
    unsigned pants;
    unsigned doublehand;
    unsigned shield;
    unsigned glove;
    unsigned leftHand;
    unsigned rightHand;
    unsigned backLongWeapon;
    unsigned backShield;
    unsigned leftWaist;
    unsigned rightWaist;
    WeaponEffectVisible weaponEffect;
    bool renderObj; ///< a queued player is built by the per-frame loader only while this is true
};

/// Identity of a creature, NPC or object avatar. Copied as a whole record.
struct AVATARSYSTEM_API CreatureSetting_t
{
    /// Zero-fills the whole record.
    CreatureSetting_t();

    char Name[256];
    unsigned ID; ///< 37000-38999 object, below 30000 creature, otherwise NPC
    unsigned Effect1;
    unsigned Effect2;
    unsigned Effect3;
    unsigned Effect4;
    unsigned Effect5;
};

/// The host's view object, notified when an avatar has been built.
/// Only these operations are called by the avatar system, in this order in the table.
class AVATARSYSTEM_API IEntityView
{
public:
    virtual void onInstanceReady(IInstance* instance, int zero) = 0;
    virtual unsigned getViewKey() = 0;
    virtual void onCreatureReadyA(IInstance* instance, float cameraBias) = 0;
    virtual void onCreatureReadyB(IInstance* instance, float cameraBias) = 0;

protected:
    ~IEntityView() = default;
};

/// A second host object told about a built avatar through the view's key.
class AVATARSYSTEM_API IEntityViewObserver
{
public:
    /// The first two operations belong to the host; the avatar system never calls them.
    virtual void observerReserved0() {}
    virtual void observerReserved1() {}
    virtual void onViewReady(unsigned viewKey) = 0;

protected:
    ~IEntityViewObserver() = default;
};

/// Handed to createPlayer/createCreature; the new instance owns it from then on (when the call
/// returns null, no instance took it and it stays the caller's).
/// A non-null record also makes the build deferred to the per-frame loader.
struct AVATARSYSTEM_API ENTITY_CALLBACK
{
    int type = 0; ///< 0 notify view and observer; 1, 2 creature notifications; 3 already notified
    IEntityView* view = nullptr;
    IEntityViewObserver* observer = nullptr;
};

enum INSTANCE_TYPE_e : int
{
    INSTANCE_CHARACTER = 0,
    INSTANCE_CREATURE = 1
};

enum CharSlots : int
{
    SLOT_HEAD = 0,
    SLOT_SHOULDER = 1,
    SLOT_BOOT = 2,
    SLOT_BELT = 3,
    SLOT_SHIRT = 4,
    SLOT_PANTS = 5,
    SLOT_DOUBLEHAND = 6,
    SLOT_SHIELD = 7,
    SLOT_GLOVE = 8,
    SLOT_RIGHT_HAND = 9,
    SLOT_LEFT_HAND = 10,
    SLOT_BACK_LONG_WEAPON = 11,
    SLOT_BACK_SHIELD = 12,
    SLOT_RIGHT_WAIST = 13,
    SLOT_LEFT_WAIST = 14
};

/// Tables held by the system; values 0-8 and 18 name no table.
enum DB_NAME_e : int
{
    DB_CREATURE = 9,
    DB_NPC = 10,
    DB_BASE_INFO = 11,
    DB_CHAR_RACES = 12,
    DB_CHAR_FACIAL_HAIR = 13,
    DB_CHAR_HAIR_GEO = 14,
    DB_CHAR_SECTIONS = 15,
    DB_WEARING = 16,
    DB_ITEM = 17,
    DB_ANIMATION = 19,
    DB_OBJECT = 20
};

/// An animation kind: the AnimType column of the animation table, any 32-bit value (the fixed
/// underlying type makes values past the enumerators valid). Name searches cover 0 to 1004.
enum AnimationType : unsigned
{
    ANIM_NONE = 9999 ///< no animation
};

/// How a newly played main animation takes over from the running one.
enum ANI_BLEND_TYPE : int
{
    BLEND_SMOOTH = 0,   ///< cross-fade
    BLEND_IMMEDIATE = 3 ///< the old animation stops at once
};

/// Receives animation events of an avatar.
class AVATARSYSTEM_API IActionCallback
{
public:
    /// A play-once animation reached its end; part 0 main, 1 main under an overlay, 2 overlay.
    virtual void onAnimationEnd(AnimationType type, int part) = 0;
    /// An animation was started (stopped false) or stopped or replaced (stopped true, looping false).
    virtual void onAnimationState(AnimationType type, bool stopped, bool looping) = 0;

protected:
    ~IActionCallback() = default;
};

/// Told when a render-to-texture copy has been built.
class AVATARSYSTEM_API IRttObjectCallback
{
public:
    /// Belongs to the host; the avatar system never calls it.
    virtual void rttReserved0() {}
    virtual void onCopyCreated() = 0;

protected:
    ~IRttObjectCallback() = default;
};

/// Told when a render-to-texture copy has been built, by kind.
class AVATARSYSTEM_API I3DRttObjectCallback
{
public:
    virtual void onPlayerCopyCreated() = 0;
    virtual void onCreatureCopyCreated() = 0;

protected:
    ~I3DRttObjectCallback() = default;
};

/// The avatar system; one per process, obtained through getSingletonPtr().
class AVATARSYSTEM_API IAvatarSystem
{
public:
    /// Constructs the system on the first call (the host's "Everwind" scene manager
    /// should exist by then) and returns it on every call.
    static IAvatarSystem* getSingletonPtr();
    /// The system; it must already exist (never constructs).
    static IAvatarSystem& getSingleton();

    /// The most getHeadImageFromId writes into the host's buffer, the terminating NUL included.
    static constexpr unsigned HeadImageBufferSize = 256;

    virtual void release() = 0;
    virtual void update(float seconds) = 0;
    virtual IInstance* createPlayer(const std::string& name) = 0;
    virtual IInstance* createPlayer(const PlayerSetting_t& setting, ENTITY_CALLBACK* callback) = 0;
    virtual IInstance* createCreature(const std::string& name) = 0;
    virtual IInstance* createCreature(unsigned long ID, ENTITY_CALLBACK* callback) = 0;
    virtual IInstance* createCreature(const CreatureSetting_t& setting, ENTITY_CALLBACK* callback) = 0;
    virtual bool replacePlayer(const PlayerSetting_t& setting, IInstance* player) = 0;
    virtual IInstance* clonePlayer(const char* name, IInstance* source, IRttObjectCallback* rtt,
                                   I3DRttObjectCallback* rtt3D) = 0;
    virtual IInstance* cloneCreature(unsigned long ID, IRttObjectCallback* rtt, I3DRttObjectCallback* rtt3D) = 0;
    virtual void replaceClonePlayer(IInstance* source, IInstance* copy) = 0;
    virtual void destroyInstance(unsigned long uniqueID) = 0;
    virtual void fadeOut(unsigned long uniqueID) = 0;
    virtual void setInstanceTransoarency(IInstance* instance, float alpha) = 0;
    virtual void setTextureFilter(int filter) = 0;
    virtual void preBuildEntityBuffer(int count) = 0;
    virtual std::string getMeshFileFromId(unsigned ID) = 0;
    /// The HeadImage of the creature, NPC or object row of that ID, or null (buffer untouched) when
    /// there is none. A non-null buffer receives the name, cut to its first HeadImageBufferSize - 1
    /// bytes and NUL-terminated: at most HeadImageBufferSize bytes are written. The result is the
    /// whole name, valid until release().
    virtual const char* getHeadImageFromId(unsigned ID, char* buffer) = 0;
    virtual void setLoadFrameTime(float milliseconds) = 0;

protected:
    ~IAvatarSystem() = default;
};

/// One avatar. Instances are owned and disposed of by the system.
class AVATARSYSTEM_API IInstance
{
public:
    virtual bool create() = 0;
    virtual bool destroy() = 0;
    virtual void update(bool b, float seconds) = 0;
    virtual void updateControlledEntity() = 0;
    virtual void setVisible(bool visible) = 0;
    virtual void setHighLight(bool on) = 0;
    virtual void setTextureFilter(int level) = 0;
    virtual void setUniqueID(unsigned long uniqueID) = 0;
    virtual void setInstanceTransoarency(float alpha, bool fromOutside) = 0;
    virtual void setEntityViewPtr(ENTITY_CALLBACK* callback) = 0;
    virtual void setInstanceBeCopy(IRttObjectCallback* rtt, I3DRttObjectCallback* rtt3D) = 0;
    virtual const std::string& getName() = 0;
    virtual float getScale() = 0;
    virtual unsigned long getUniqueID() = 0;
    virtual Ogre::Entity* getEntityPtr() = 0;
    virtual INSTANCE_TYPE_e getInstanceType() = 0;
    virtual AttachModel* getRightWeapon() = 0;
    virtual AttachModel* getLeftWeapon() = 0;
    virtual void playStatic(AnimationType type, float position) = 0;
    virtual void playAnimation(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback,
                               bool now) = 0;
    virtual void playAnimation(const char* name, ANI_BLEND_TYPE blend, IActionCallback* callback) = 0;
    virtual void setSpeed(float runSpeed, float walkSpeed) = 0;
    virtual void setPause(bool paused) = 0;
    virtual void setTickTimeLimit(float seconds) = 0;
    virtual void setNewAimationState(int index, bool smooth) = 0;
    virtual void setAnimationPlaySpeed(float factor) = 0;
    virtual void setAnimationMerge(bool merge) = 0;
    virtual float getPlayPercent(const std::string& animationName) = 0;
    virtual void getSpeedRate(float& runRate, float& walkRate) = 0;
    virtual const char* getAnimName(AnimationType type) = 0;
    virtual void setActionCallBack(IActionCallback* callback) = 0;
    virtual void changePausePropety() = 0;
    virtual void animationAddTime(float seconds) = 0;
    virtual bool hasAnimation(AnimationType type) = 0;
    virtual void clearAnimation(unsigned layer) = 0;
    virtual AnimationType searchAnimation(unsigned layer) = 0;
    virtual bool settingEquipEffect(const WeaponEffectVisible* visible) = 0;

protected:
    ~IInstance() = default;
};
