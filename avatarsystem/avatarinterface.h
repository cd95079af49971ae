#pragma once

/// @file
/// The contract between the game client (the host) and the avatar library.
///
/// **This header is a binary contract.** Hosts are compiled against it: the order of the
/// operations of every interface, the order and width of every record's fields, the enum values
/// and the names, misspellings included (`setInstanceTransoarency`, `setNewAimationState`,
/// `changePausePropety`, `loadAttatchedModel`, `destroyEfeect`, `getPorpertiesFromDB`), are what
/// existing hosts bind to. Never reorder, rename or "correct" them; add nothing in between.
///
/// Every enum is a 32-bit int, so any value a host passes (an animation kind from its own data,
/// a table number or blend type outside the names below) is a valid value of its type.
///
/// Threading: none. The host makes every call from one thread (its rendering thread); the
/// library takes no locks, starts no threads and uses no timers.
///
/// Callbacks: the library calls the host's objects (IEntityView, IEntityViewObserver,
/// IActionCallback, IRttObjectCallback, I3DRttObjectCallback) only from inside
/// IAvatarSystem::update, IAvatarSystem's creating operations (a build made at once),
/// IInstance::create, IInstance::update and the play operations. From inside any of these
/// callbacks the host may call every operation of both interfaces, replace or delete the
/// listener that is being called, destroy the avatar, and release the whole system; whatever the
/// running call still had to do for that avatar is dropped, and anything to be freed is freed
/// when the running call returns. An exception thrown by a host callback is logged and goes no
/// further.

#include "avatarsystem/avatarsystemexport.h"

#include <string>

namespace Ogre
{
class Entity;
}

class AttachModel;
class IInstance;

/// Which attachment effects of a player are shown; nonzero shows the effect of that place.
/// Copied as a block of seven words into PlayerSetting_t::weaponEffect by settingEquipEffect.
struct AVATARSYSTEM_API WeaponEffectVisible
{
    unsigned flag0 = 0;            ///< carried for the host, not read by the avatar system
    unsigned shoulderEffect = 0;   ///< place 1 (SLOT_SHOULDER)
    unsigned leftHandEffect = 0;   ///< place 10 (SLOT_LEFT_HAND)
    unsigned rightHandEffect = 0;  ///< places 9 and 6 (SLOT_RIGHT_HAND, SLOT_DOUBLEHAND)
    unsigned rightWaistEffect = 0; ///< place 13 (SLOT_RIGHT_WAIST)
    unsigned leftWaistEffect = 0;  ///< place 14 (SLOT_LEFT_WAIST)
    unsigned backWeaponEffect = 0; ///< place 11 (SLOT_BACK_LONG_WEAPON)
};

/// Appearance and equipment of a player avatar, copied as a whole record. The item fields hold
/// item IDs of the item table (0 = nothing on that place); an ID the tables do not know leaves
/// the place empty. Note the order of the hand and waist fields: left before right, while the
/// CharSlots numbering puts right first; each field feeds the place of its own side.
struct AVATARSYSTEM_API PlayerSetting_t
{
    /// Zero-fills the whole record, then sets renderObj to true.
    PlayerSetting_t();

    /// The avatar's name, NUL-terminated (at most 255 characters); part of its OGRE object names.
    char Name[256];
    unsigned race;                    ///< race ID of the races table
    unsigned gender;                  ///< 0 male; any other value female (the body of the first build stays)
    unsigned facialHairStyle;         ///< carried for the host, not read by the avatar system
    unsigned hairStyle;               ///< hair style: which hair geoset is shown
    unsigned hairColor;               ///< hair colour: the hair texture
    unsigned skinColor;               ///< skin colour: the body textures
    unsigned faceType;                ///< face type: the face textures
    unsigned head;                    ///< item on SLOT_HEAD (helm model)
    unsigned shoulder;                ///< item on SLOT_SHOULDER (pauldron models)
    unsigned boot;                    ///< item on SLOT_BOOT (worn: geosets and textures)
    unsigned belt;                    ///< item on SLOT_BELT (worn)
    unsigned shirt;                   ///< item on SLOT_SHIRT (worn)
    unsigned pants;                   ///< item on SLOT_PANTS (worn)
    unsigned doublehand;              ///< item on SLOT_DOUBLEHAND (two-handed weapon model)
    unsigned shield;                  ///< item on SLOT_SHIELD (shield model)
    unsigned glove;                   ///< item on SLOT_GLOVE (worn)
    unsigned leftHand;                ///< item on SLOT_LEFT_HAND (one-handed weapon model)
    unsigned rightHand;               ///< item on SLOT_RIGHT_HAND (one-handed weapon model)
    unsigned backLongWeapon;          ///< item on SLOT_BACK_LONG_WEAPON (model on the back)
    unsigned backShield;              ///< item on SLOT_BACK_SHIELD (model on the back)
    unsigned leftWaist;               ///< item on SLOT_LEFT_WAIST (model on the waist)
    unsigned rightWaist;              ///< item on SLOT_RIGHT_WAIST (model on the waist)
    WeaponEffectVisible weaponEffect; ///< which of the carried models show their effect
    /// A queued build or rebuild of this player waits while this is false (it keeps its place in
    /// the queue without holding up the others). Builds made at once ignore it.
    bool renderObj;
};

/// Identity of a creature, NPC or object avatar, copied as a whole record.
struct AVATARSYSTEM_API CreatureSetting_t
{
    /// Zero-fills the whole record.
    CreatureSetting_t();

    /// The display name, NUL-terminated (at most 255 characters).
    char Name[256];
    /// Table ID; its range chooses the table: 37000-38999 objects, below 30000 creatures,
    /// anything else NPCs. An ID no row has builds nothing (create() fails).
    unsigned ID;
    /// @name Effects
    //@{
    /// Effect1 to Effect5: the row's effect columns, handed to the host (the avatar itself takes
    /// its effects from its table row).
    unsigned Effect1;
    unsigned Effect2;
    unsigned Effect3;
    unsigned Effect4;
    unsigned Effect5;
    //@}
};

/// The host's view object, told when an avatar handed an ENTITY_CALLBACK has been built. The
/// library calls only these four operations, which must stand in this order in the host's table.
/// Calls come from inside IAvatarSystem::update (or IInstance::create when the host builds
/// itself); see the file comment for what the host may do from inside them.
class AVATARSYSTEM_API IEntityView
{
public:
    /// The avatar's first build is done (record type 0); zero is always 0.
    virtual void onInstanceReady(IInstance* instance, int zero) = 0;
    /// The key passed on to the observer's onViewReady; asked only when the record has an observer.
    virtual unsigned getViewKey() = 0;
    /// A creature was built with record type 1; cameraBias is its row's camera bias.
    virtual void onCreatureReadyA(IInstance* instance, float cameraBias) = 0;
    /// A creature was built with record type 2; cameraBias is its row's camera bias.
    virtual void onCreatureReadyB(IInstance* instance, float cameraBias) = 0;

protected:
    ~IEntityView() = default;
};

/// A second host object told about a built avatar through the view's key.
class AVATARSYSTEM_API IEntityViewObserver
{
public:
    /// @name Reserved
    //@{
    /// The first two operations belong to the host; the avatar system never calls them.
    virtual void observerReserved0() {}
    virtual void observerReserved1() {}
    //@}
    /// Called after IEntityView::onInstanceReady with the view's getViewKey().
    virtual void onViewReady(unsigned viewKey) = 0;

protected:
    ~IEntityViewObserver() = default;
};

/// Handed to createPlayer/createCreature; the new instance owns it from then on (when the call
/// returns null, no instance took it and it stays the caller's). A non-null record also makes
/// the build deferred to the per-frame loader (IAvatarSystem::update). The view and observer
/// it points to stay the host's and must outlive the avatar's first build.
struct AVATARSYSTEM_API ENTITY_CALLBACK
{
    int type = 0;                ///< 0 notify view and observer; 1, 2 creature notifications; 3 already notified
    IEntityView* view = nullptr; ///< null: no notification (the build is still deferred)
    IEntityViewObserver* observer = nullptr; ///< told after the view; may be null
};

/// The kind of an avatar, as IInstance::getInstanceType answers it.
enum INSTANCE_TYPE_e : int
{
    INSTANCE_CHARACTER = 0, ///< a player avatar (body assembled from sections and items)
    INSTANCE_CREATURE = 1   ///< a creature, NPC or object avatar (one mesh from its row)
};

/// The equipment places of a player. Worn places (boot, belt, shirt, pants, glove) change the
/// body's geosets and textures; the others hang an item model on a bone.
enum CharSlots : int
{
    SLOT_HEAD = 0,              ///< helm, on the head bone
    SLOT_SHOULDER = 1,          ///< pauldrons, one on each shoulder bone
    SLOT_BOOT = 2,              ///< worn boots
    SLOT_BELT = 3,              ///< worn belt
    SLOT_SHIRT = 4,             ///< worn shirt (its hand texture covers the lower arm)
    SLOT_PANTS = 5,             ///< worn trousers (their foot texture covers the foot)
    SLOT_DOUBLEHAND = 6,        ///< two-handed weapon, in the right hand
    SLOT_SHIELD = 7,            ///< shield, on the left arm
    SLOT_GLOVE = 8,             ///< worn gloves
    SLOT_RIGHT_HAND = 9,        ///< one-handed weapon in the right hand
    SLOT_LEFT_HAND = 10,        ///< one-handed weapon in the left hand
    SLOT_BACK_LONG_WEAPON = 11, ///< long weapon carried on the back
    SLOT_BACK_SHIELD = 12,      ///< shield carried on the back
    SLOT_RIGHT_WAIST = 13,      ///< item hung on the right waist
    SLOT_LEFT_WAIST = 14        ///< item hung on the left waist
};

/// Tables held by the system (AvatarSystemManager::getDB); values 0-8 and 18 name no table.
enum DB_NAME_e : int
{
    DB_CREATURE = 9,          ///< "Creature.csv", CreatureDB
    DB_NPC = 10,              ///< "Npc.csv", NpcDB
    DB_BASE_INFO = 11,        ///< "EWCharBaseInfo.csv", EWBaseInfoDB: the player presets
    DB_CHAR_RACES = 12,       ///< "EWRaces.csv", EWCharRacesDB
    DB_CHAR_FACIAL_HAIR = 13, ///< "EWCharFacialHairStyles.csv", EWCharFacialHairDB
    DB_CHAR_HAIR_GEO = 14,    ///< "EWCharHairGeo.csv", EWCharHairGeoDB
    DB_CHAR_SECTIONS = 15,    ///< "EWCharSections.csv", EWCharSectionsDB
    DB_WEARING = 16,          ///< "WearingItemDisplay.csv", EWWearingDB
    DB_ITEM = 17,             ///< "ItemDisplay.csv", EWItemDB
    DB_ANIMATION = 19,        ///< "Animation.csv", AnimationDB
    DB_OBJECT = 20            ///< "Object.csv", ObjectDB
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
    BLEND_SMOOTH = 0,   ///< cross-fade: the old animation fades out while the new one fades in
    BLEND_IMMEDIATE = 3 ///< the old animation stops at once; any other value acts the same
};

/// Receives the animation events of an avatar (set by IInstance::playAnimation or
/// IInstance::setActionCallBack). Events are delivered once the play or update that raised
/// them has finished its changes, in the order they arose. Once the host has replaced or
/// cleared a listener, that listener is never called again, so the host may delete it then,
/// even from inside one of its own calls.
class AVATARSYSTEM_API IActionCallback
{
public:
    /// A play-once animation reached its end; part 0 the main animation, 1 the main animation
    /// under an upper-body overlay, 2 the overlay. A stop of the same type follows.
    virtual void onAnimationEnd(AnimationType type, int part) = 0;
    /// An animation was started (stopped false; looping true for a looping one) or stopped or
    /// replaced (stopped true, looping false). The first play of an avatar also reports a stop
    /// of ANIM_NONE, the empty main animation it replaced.
    virtual void onAnimationState(AnimationType type, bool stopped, bool looping) = 0;

protected:
    ~IActionCallback() = default;
};

/// Told when a render-to-texture copy (IAvatarSystem::clonePlayer, cloneCreature) has been built.
class AVATARSYSTEM_API IRttObjectCallback
{
public:
    /// Belongs to the host; the avatar system never calls it.
    virtual void rttReserved0() {}
    /// The copy's first build is done (after I3DRttObjectCallback's call, when both are given).
    virtual void onCopyCreated() = 0;

protected:
    ~IRttObjectCallback() = default;
};

/// Told when a render-to-texture copy has been built, by kind.
class AVATARSYSTEM_API I3DRttObjectCallback
{
public:
    /// A player copy's first build is done.
    virtual void onPlayerCopyCreated() = 0;
    /// A creature copy's first build is done.
    virtual void onCreatureCopyCreated() = 0;

protected:
    ~I3DRttObjectCallback() = default;
};

/// The avatar system; one per process, obtained through getSingletonPtr(). It owns every avatar
/// it hands out and every table it opens. The host drives it once a frame with update().
class AVATARSYSTEM_API IAvatarSystem
{
public:
    /// Constructs the system on the first call and returns it on every call. The host's OGRE
    /// scene manager named "Everwind" should exist by then; until it does, every creating
    /// operation answers null (the system looks for it again on each of them).
    static IAvatarSystem* getSingletonPtr();
    /// The system; it must already exist (asserts in debug builds; never constructs).
    static IAvatarSystem& getSingleton();

    /// The most getHeadImageFromId writes into the host's buffer, the terminating NUL included.
    static constexpr unsigned HeadImageBufferSize = 256;

    /// Destroys every avatar (registered, destroyed, faded), drops every queued build, closes
    /// every table and empties the body pools, leaving nothing of the library's in OGRE. The
    /// system stays usable: tables reopen on demand and unique IDs keep counting. Every
    /// IInstance pointer handed out before is invalid afterwards. Safe from inside a callback:
    /// the avatar whose call is running is freed when that call returns.
    virtual void release() = 0;
    /// Once a frame: builds at most one queued avatar (the oldest one that may be built now;
    /// a player waits while its setting's renderObj is false, a build that fails goes to the
    /// back of the queue). It does not advance the avatars: call each one's IInstance::update.
    /// The time is not used.
    virtual void update(float seconds) = 0;
    /// Builds a player at once from the preset (player table row) of that name. An unknown name
    /// still registers an avatar, from the all-zero setting, which has no body. Null without the
    /// scene manager.
    virtual IInstance* createPlayer(const std::string& name) = 0;
    /// A player from a setting (copied). With a null callback it is built before this returns;
    /// with a callback record (which the avatar takes over) it is queued for update() and the
    /// record's view is told when it is built. Null, and the record stays the caller's, without
    /// the scene manager.
    virtual IInstance* createPlayer(const PlayerSetting_t& setting, ENTITY_CALLBACK* callback) = 0;
    /// Builds a creature at once from the creature table row of that name (an unknown name
    /// registers an avatar that has no entity). Null without the scene manager.
    virtual IInstance* createCreature(const std::string& name) = 0;
    /// A creature from the creature table row of that ID (NPC and object IDs find no row there:
    /// use a setting that carries the ID); built at once, or queued when callback is not null.
    virtual IInstance* createCreature(unsigned long ID, ENTITY_CALLBACK* callback) = 0;
    /// A creature, NPC or object from a setting (copied; its ID chooses the table); built at
    /// once, or queued when callback is not null (the avatar takes the record over).
    virtual IInstance* createCreature(const CreatureSetting_t& setting, ENTITY_CALLBACK* callback) = 0;
    /// Gives a player a new setting and queues its rebuild: the change shows at a later
    /// update(), not at once (the old look stays until then), and only the places that changed
    /// are rebuilt. The body mesh stays that of the first build, even when the gender changes.
    /// Repeated calls before the rebuild keep one request (the last setting wins). False for
    /// null, a creature, or without the scene manager.
    virtual bool replacePlayer(const PlayerSetting_t& setting, IInstance* player) = 0;
    /// A copy of a player avatar under another name (cut to 255 characters), to be shown in a
    /// render-to-texture view; always built by update(), after which rtt3D and then rtt are told
    /// (either may be null; both stay the host's). Null for a null or non-player source.
    virtual IInstance* clonePlayer(const char* name, IInstance* source, IRttObjectCallback* rtt,
                                   I3DRttObjectCallback* rtt3D) = 0;
    /// A copy of the creature of that creature table ID, built by update(); rtt3D and then rtt
    /// are told when it is built (either may be null).
    virtual IInstance* cloneCreature(unsigned long ID, IRttObjectCallback* rtt, I3DRttObjectCallback* rtt3D) = 0;
    /// Gives a player copy its source's current setting (keeping the copy's name) and queues
    /// its rebuild. Nothing for null or non-player arguments.
    virtual void replaceClonePlayer(IInstance* source, IInstance* copy) = 0;
    /// Destroys the avatar with that ID (its entity, material copies, models and effects leave
    /// OGRE at once) and unregisters it. The object itself stays valid, and may still be called,
    /// until release() or AvatarSystemManager::freeInstance frees it. An unknown ID does nothing.
    /// Safe from inside a callback of that very avatar.
    virtual void destroyInstance(unsigned long uniqueID) = 0;
    /// Unregisters the avatar with that ID but leaves it built and in the scene (the host fades
    /// or removes it); getInstance no longer finds it, and release() destroys and frees it.
    /// An unknown ID does nothing.
    virtual void fadeOut(unsigned long uniqueID) = 0;
    /// Sets an avatar's opacity (0 invisible to 1 opaque; above 0.98 it is drawn opaque) from
    /// outside, which ends its automatic fade-in. Nothing for null; the avatar need not be
    /// registered.
    virtual void setInstanceTransoarency(IInstance* instance, float alpha) = 0;
    /// Texture filtering for every registered avatar now and every player built later: 0
    /// trilinear, 2, 3 (default) and 4 anisotropic 4x, 8x and 16x, any other value bilinear.
    virtual void setTextureFilter(int filter) = 0;
    /// Creates count male and count female body entities ahead of time, so that the first
    /// players need not load their body when they appear; a second call adds more. Nothing for
    /// a count of 0 or less, or without the scene manager.
    virtual void preBuildEntityBuffer(int count) = 0;
    /// The mesh file of a creature (10000-29999), NPC or object ID, from its table row; empty
    /// for IDs below 10000 or without a row.
    virtual std::string getMeshFileFromId(unsigned ID) = 0;
    /// The HeadImage of the creature, NPC or object row of that ID, or null (buffer untouched) when
    /// there is none. A non-null buffer receives the name, cut to its first HeadImageBufferSize - 1
    /// bytes and NUL-terminated: at most HeadImageBufferSize bytes are written. The result is the
    /// whole name, valid until release().
    virtual const char* getHeadImageFromId(unsigned ID, char* buffer) = 0;
    /// Stores a per-frame loading budget; update() builds one avatar per frame whatever it says.
    virtual void setLoadFrameTime(float milliseconds) = 0;

protected:
    ~IAvatarSystem() = default;
};

/// One avatar: a player (INSTANCE_CHARACTER) or a creature, NPC or object
/// (INSTANCE_CREATURE). Owned by the system, never by the host: it is freed by
/// IAvatarSystem::release (or AvatarSystemManager::freeInstance after destroyInstance). Every
/// operation is safe on an avatar that is not built yet or was destroyed: it does nothing or
/// answers an empty value.
class AVATARSYSTEM_API IInstance
{
public:
    /// Builds the avatar from its setting: entity, materials, attached models, effects; a player
    /// already built rebuilds only what changed. The first successful build tells the host's
    /// view. False when the mesh or row is missing (nothing is left in OGRE) or the avatar was
    /// destroyed. Normally called by the system; a host may call it to retry.
    virtual bool create() = 0;
    /// Removes everything the avatar put into OGRE (a player's body goes back to its pool);
    /// the avatar stays registered until IAvatarSystem::destroyInstance. True when done.
    virtual bool destroy() = 0;
    /// Once a frame, for every avatar the host shows: advances its animations by seconds
    /// (a non-finite time counts as 0) and its fade-in. The bool is not used. Safe
    /// against callbacks that destroy the avatar or release the system.
    virtual void update(bool b, float seconds) = 0;
    /// Binds the animation controller to the avatar's current entity again (after the host
    /// replaced or rebuilt it).
    virtual void updateControlledEntity() = 0;
    /// Shows or hides the entity; what hangs on its bones follows OGRE's visibility rules.
    virtual void setVisible(bool visible) = 0;
    /// Highlights a creature (a brightening texture layer on its own material copies); players
    /// are not highlighted.
    virtual void setHighLight(bool on) = 0;
    /// Texture filtering of this avatar and its models, by level as in IAvatarSystem::setTextureFilter.
    virtual void setTextureFilter(int level) = 0;
    /// Set by the system when it registers the avatar; a host must not change it.
    virtual void setUniqueID(unsigned long uniqueID) = 0;
    /// Opacity from 0 (invisible) to 1; above 0.98 drawn opaque, below that translucent in render
    /// queue 90. fromOutside true ends the automatic fade-in (IAvatarSystem's operation passes
    /// true). Takes effect at once on a built avatar, and at its build otherwise.
    virtual void setInstanceTransoarency(float alpha, bool fromOutside) = 0;
    /// Takes ownership of a creation record (a different record held before is freed).
    virtual void setEntityViewPtr(ENTITY_CALLBACK* callback) = 0;
    /// Marks the avatar as a render-to-texture copy whose first build tells rtt3D, then rtt.
    virtual void setInstanceBeCopy(IRttObjectCallback* rtt, I3DRttObjectCallback* rtt3D) = 0;
    /// The avatar's name (a player's from its setting, a creature's from its row).
    virtual const std::string& getName() = 0;
    /// The scale of its entity (a creature's from its row; 1 for players).
    virtual float getScale() = 0;
    /// Its unique ID: from 1 up, never reused within a process.
    virtual unsigned long getUniqueID() = 0;
    /// Its OGRE entity, for the host to attach to a scene node; null before the build and after
    /// destroy. The avatar owns it: never destroy it yourself (if the host's scene does, the
    /// avatar forgets it).
    virtual Ogre::Entity* getEntityPtr() = 0;
    /// Player or creature.
    virtual INSTANCE_TYPE_e getInstanceType() = 0;
    /// The model in the player's right hand (or its two-handed weapon); null for creatures or
    /// when there is none. Owned by the avatar.
    virtual AttachModel* getRightWeapon() = 0;
    /// The model in the player's left hand (or its shield); null for creatures or when there is none.
    virtual AttachModel* getLeftWeapon() = 0;
    /// Holds the type's animation still at position (0 its start, 1 its end) until the next
    /// play; no callback. Nothing when the type has no row or state.
    virtual void playStatic(AnimationType type, float position) = 0;
    /// Plays the type's animation from start (a fraction of its length), on the layer its table
    /// row names, taking over by blend. now: at once; otherwise at the start of the next update.
    /// callback replaces the avatar's listener, a null one included (later events then go
    /// nowhere). Nothing when paused or when the type has no row or state.
    virtual void playAnimation(AnimationType type, ANI_BLEND_TYPE blend, float start, IActionCallback* callback,
                               bool now) = 0;
    /// Plays, at once and from its start, the lowest type from 0 to 1004 whose animation has that
    /// name; nothing for null or an unknown name. callback replaces the listener.
    virtual void playAnimation(const char* name, ANI_BLEND_TYPE blend, IActionCallback* callback) = 0;
    /// The avatar's movement speeds; the "Run" and "Walk" animations play faster or slower by
    /// their ratio to the avatar's base speeds (getSpeedRate).
    virtual void setSpeed(float runSpeed, float walkSpeed) = 0;
    /// Pauses (true) or resumes its animations; a paused avatar ignores plays and updates.
    virtual void setPause(bool paused) = 0;
    /// Thins animation work: a frame is processed only once more time than this has gathered
    /// since the last processed one (0, the default, processes every frame).
    virtual void setTickTimeLimit(float seconds) = 0;
    /// Plays the index-th animation state of the entity (in name order) at once, provided the
    /// animation table names it, and steps that state by animationAddTime. Nothing for an index
    /// out of range.
    virtual void setNewAimationState(int index, bool smooth) = 0;
    /// A factor on every animation's pace (1 normal).
    virtual void setAnimationPlaySpeed(float factor) = 0;
    /// Stored; no behaviour depends on it.
    virtual void setAnimationMerge(bool merge) = 0;
    /// The fraction of the named animation played (0 to 1); -1 when the entity has no such
    /// state or it is not playing.
    virtual float getPlayPercent(const std::string& animationName) = 0;
    /// Current speed divided by base speed, for running and walking (1 when a creature's row
    /// has no base speed).
    virtual void getSpeedRate(float& runRate, float& walkRate) = 0;
    /// The animation name of a type from the animation table; empty for a creature, or when the
    /// type has no row. Valid until the tables are closed.
    virtual const char* getAnimName(AnimationType type) = 0;
    /// Sets the listener of later animation events (null: none). The replaced listener is never
    /// called again. Safe from inside a callback.
    virtual void setActionCallBack(IActionCallback* callback) = 0;
    /// Toggles the manual pause: pauses or resumes the animations with it (a creature starts
    /// paused, a player running, so the first call resumes a creature and pauses a player).
    virtual void changePausePropety() = 0;
    /// Steps the state chosen with setNewAimationState by seconds times the play speed, unless
    /// manually paused; non-finite values count as 0.
    virtual void animationAddTime(float seconds) = 0;
    /// True when the type has a row in the animation table and the entity a state of its name.
    virtual bool hasAnimation(AnimationType type) = 0;
    /// Stops a layer at once, without callbacks: 0 the main animation (when no overlay plays),
    /// 1 the main animation under an overlay (the overlay becomes the main one), 2 the
    /// upper-body overlay, 3 the additive pose; other values do nothing.
    virtual void clearAnimation(unsigned layer) = 0;
    /// What plays on a layer: 0 the whole body, 1 the main (lower-body) layer, 2 the upper-body
    /// overlay. With no overlay every layer answers the main type; with an overlay, 0 answers
    /// ANIM_NONE, 1 the main type, 2 the overlay's, any other ANIM_NONE. The pose is never
    /// reported. An ended play-once main answers ANIM_NONE; a deferred play answers its type.
    virtual AnimationType searchAnimation(unsigned layer) = 0;
    /// Sets which of a player's models show their effects and queues the rebuild that applies
    /// it (as replacePlayer); a creature does nothing. True; null changes nothing.
    virtual bool settingEquipEffect(const WeaponEffectVisible* visible) = 0;

protected:
    ~IInstance() = default;
};
