// A host that does everything, for a long time: a seeded mix of the host's operations on the
// sample content pack (avatars of every kind by setting, name and ID, at once and queued; copies;
// equipment; animations of every layer; opacity, highlight, filtering; detail levels, shared
// avatars joining and leaving their groups; fadeOut, destroyInstance, release), with the system's and every held
// avatar's update each frame. After each release it checks that nothing of the avatars is left in OGRE, and at the end
// that the process's resident memory stopped growing once warmed up. The host deletes some destroyed avatars itself;
// with
// --host-deletes=0 it deletes nothing and leaves every object to the system, as a host that
// includes only the interface must.
//
//   avatarsystem_soak --operations=10000 --seed=1 [--host-deletes=0]
#include "avatarsystem/characterinstance.h"
#include "avatarsystem/creatureinstance.h"

#include "contentpack.h"
#include "headlessogre.h"
#include "packcatalog.h"
#include "worldcensus.h"

#include <OgreEntity.h>
#include <OgrePass.h>
#include <OgreSceneManager.h>
#include <OgreSceneNode.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

unsigned s_operations = 1000;
unsigned s_seed = 1;
bool s_hostDeletes = true;

using namespace pack;

/// The process's resident set in bytes, from /proc/self/statm.
std::size_t residentBytes()
{
    unsigned long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r"))
    {
        if (std::fscanf(statm, "%lu %lu", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

class Soak;

/// One avatar as the host holds it, with the host objects it handed to the system for it.
struct Held;

/// The host's view: counts notifications and attaches the built entity to the host's node.
class HostView final : public IEntityView
{
public:
    HostView(Soak& soak, Held& held, bool throws) : m_soak(soak), m_held(held), m_throws(throws) {}
    void onInstanceReady(IInstance* instance, int) override { notice(instance); }
    unsigned getViewKey() override { return 7; }
    void onCreatureReadyA(IInstance* instance, float) override { notice(instance); }
    void onCreatureReadyB(IInstance* instance, float) override { notice(instance); }
    int notices = 0;

private:
    void notice(IInstance* instance);
    Soak& m_soak;
    Held& m_held;
    bool m_throws;
};

class HostObserver final : public IEntityViewObserver
{
public:
    void onViewReady(unsigned key) override { keys.push_back(key); }
    std::vector<unsigned> keys;
};

/// The copy callbacks of a render-to-texture copy: the order of their calls.
class HostCopyCallbacks final : public IRttObjectCallback, public I3DRttObjectCallback
{
public:
    void onCopyCreated() override { calls += "copy;"; }
    void onPlayerCopyCreated() override { calls += "player;"; }
    void onCreatureCopyCreated() override { calls += "creature;"; }
    std::string calls;
};

/// The host's animation listener: counts events and now and then answers an ending animation
/// by playing, clearing or destroying its avatar from within the callback.
class HostListener final : public IActionCallback
{
public:
    HostListener(Soak& soak, Held& held) : m_soak(soak), m_held(held) {}
    void onAnimationEnd(AnimationType type, int part) override;
    void onAnimationState(AnimationType, bool, bool) override;

private:
    Soak& m_soak;
    Held& m_held;
};

enum class HeldState
{
    Registered,
    Faded,
    Destroyed
};

struct Held
{
    IInstance* instance = nullptr;
    unsigned id = 0;
    HeldState state = HeldState::Registered;
    bool player = false;
    int callbackType = 0;           ///< the type of the ENTITY_CALLBACK handed over
    bool isCopy = false;            ///< a render-to-texture copy
    bool copyRtt = false;           ///< the copy was given an IRttObjectCallback
    bool copyRtt3D = false;         ///< ... and an I3DRttObjectCallback
    unsigned deleteAtOperation = 0; ///< a destroyed avatar is deleted by the host from then on
    std::unique_ptr<HostView> view;
    std::unique_ptr<HostObserver> observer;
    HostCopyCallbacks copyCallbacks;
    std::unique_ptr<HostListener> listener;
    Ogre::SceneNode* node = nullptr;
};

class Soak
{
public:
    Soak(unsigned seed, unsigned operations) : m_random(seed), m_operations(operations) {}

    void run();

    // For the host objects' callbacks.
    unsigned pick(unsigned n) { return n == 0 ? 0 : static_cast<unsigned>(m_random() % n); }
    void attach(Held& held);
    void destroyFromCallback(Held& held);
    void flipDetailLevel(Held& held);

    // Figures for the report.
    unsigned frames = 0, avatarsMade = 0, releases = 0, drains = 0, notices = 0, copiesTold = 0, listenerActions = 0,
             animationEvents = 0, animationEnds = 0, sharingAvatarFrames = 0;
    std::size_t mostSharedPoses = 0;
    std::vector<std::size_t> checkpoints;

private:
    bool chance(unsigned percent) { return pick(100) < percent; }
    float uniform(float low, float high)
    {
        return low + (high - low) * static_cast<float>(m_random() % 100001) / 100000.0f;
    }
    template <class T> const T& oneOf(const std::vector<T>& items)
    {
        return items[pick(static_cast<unsigned>(items.size()))];
    }

    /// A record for an avatar about to be made (so that the host objects handed over can point to it).
    Held& beginHold(bool player);
    /// Completes the record with what the creating call returned; drops it when that is null.
    void finishHold(Held& held, IInstance* instance);
    Held* anyHeld();
    Held* anyPlayer();
    void refreshState(Held& held);
    PlayerSetting_t playerSetting();
    CreatureSetting_t creatureSetting();
    ENTITY_CALLBACK* callbackFor(Held& held, bool player);
    std::string someName();

    void operation();
    void createPlayer();
    void createCreature();
    void copy();
    void changeEquipment(Held& held);
    void animate(Held& held);
    void changeDetail(Held& held);
    void look(Held& held);
    void destroyOrFade();
    void frame();
    void deleteDueDestroyed(bool all);
    void drainAndCheckNotices();
    void releaseAndCheck();
    void checkEntities();

    std::mt19937 m_random;
    unsigned m_operations;
    unsigned m_done = 0;
    unsigned m_nextRelease = 0;
    AvatarSystemManager* m_manager = nullptr;
    IAvatarSystem* m_system = nullptr;
    Ogre::SceneManager* m_scene = nullptr;
    WorldCensus m_before;
    std::vector<std::unique_ptr<Held>> m_held;
};

void HostView::notice(IInstance* instance)
{
    ++notices;
    ++m_soak.notices;
    EXPECT_EQ(instance, m_held.instance) << "a view is told about its own avatar";
    m_soak.attach(m_held);
    if (m_throws)
        throw std::runtime_error("the host's view failed");
}

void HostListener::onAnimationState(AnimationType, bool, bool)
{
    ++m_soak.animationEvents;
}

void HostListener::onAnimationEnd(AnimationType, int)
{
    ++m_soak.animationEnds;
    IInstance* instance = m_held.instance;
    switch (m_soak.pick(12))
    {
    case 0:
    case 1:
        instance->playAnimation(static_cast<AnimationType>(0), BLEND_SMOOTH, 0.0f, this, true);
        break;
    case 2:
        instance->playAnimation(static_cast<AnimationType>(1), BLEND_IMMEDIATE, 0.0f, this, false);
        break;
    case 3:
        instance->clearAnimation(m_soak.pick(4));
        break;
    case 4:
        if (m_soak.pick(4) == 0)
            m_soak.destroyFromCallback(m_held);
        break;
    case 5:
        // A shared avatar's loop ends within the update that advances its group.
        m_soak.flipDetailLevel(m_held);
        break;
    default:
        return;
    }
    ++m_soak.listenerActions;
}

void Soak::attach(Held& held)
{
    Ogre::Entity* entity = held.instance->getEntityPtr();
    if (!entity || entity->isAttached())
        return;
    if (!held.node)
        held.node = m_scene->getRootSceneNode()->createChildSceneNode();
    held.node->attachObject(entity);
    // A host sets a newly shown avatar going: standing or walking.
    held.instance->playAnimation(static_cast<AnimationType>(pick(2)), BLEND_SMOOTH, 0.0f, held.listener.get(), true);
}

void Soak::flipDetailLevel(Held& held)
{
    const bool full = m_manager->getDetailLevel(held.instance) == AvatarSystemManager::DETAIL_FULL;
    m_manager->setDetailLevel(held.instance,
                              full ? AvatarSystemManager::DETAIL_SHARED : AvatarSystemManager::DETAIL_FULL);
}

void Soak::destroyFromCallback(Held& held)
{
    if (held.state != HeldState::Registered)
        return;
    m_system->destroyInstance(held.id);
    refreshState(held);
}

Held& Soak::beginHold(bool player)
{
    m_held.push_back(std::make_unique<Held>());
    Held& held = *m_held.back();
    held.player = player;
    held.listener = std::make_unique<HostListener>(*this, held);
    return held;
}

void Soak::finishHold(Held& held, IInstance* instance)
{
    if (!instance)
    {
        // Refused: the record is dropped (a refused creation leaves its ENTITY_CALLBACK to the host,
        // but every call here that can refuse takes none).
        m_held.pop_back();
        return;
    }
    held.instance = instance;
    held.id = static_cast<unsigned>(instance->getUniqueID());
    ++avatarsMade;
    // A background avatar: shared from the start, built or still waiting.
    if (chance(30))
    {
        EXPECT_TRUE(m_manager->setDetailLevel(instance, AvatarSystemManager::DETAIL_SHARED));
    }
    attach(held);
}

Held* Soak::anyHeld()
{
    return m_held.empty() ? nullptr : m_held[pick(static_cast<unsigned>(m_held.size()))].get();
}

Held* Soak::anyPlayer()
{
    std::vector<Held*> players;
    for (const auto& held : m_held)
        if (held->player)
            players.push_back(held.get());
    return players.empty() ? nullptr : players[pick(static_cast<unsigned>(players.size()))];
}

void Soak::refreshState(Held& held)
{
    if (held.state != HeldState::Registered || m_manager->getInstance(held.id) == held.instance)
        return;
    const std::vector<IInstance*>& faded = m_manager->getFadeList();
    if (std::find(faded.begin(), faded.end(), held.instance) != faded.end())
    {
        held.state = HeldState::Faded;
        return;
    }
    // Destroyed: the host keeps the pointer a little longer, still calling it, then deletes it.
    held.state = HeldState::Destroyed;
    held.deleteAtOperation = m_done + pick(30);
    EXPECT_EQ(held.instance->getEntityPtr(), nullptr) << "a destroyed avatar has no entity";
}

std::string Soak::someName()
{
    switch (pick(6))
    {
    case 0:
        return "";
    case 1:
        return std::string(255, 'L');
    case 2:
        return std::string(300, 'X');
    default:
        return "Hero" + std::to_string(pick(1000));
    }
}

PlayerSetting_t Soak::playerSetting()
{
    PlayerSetting_t setting = m_manager->getPorpertiesFromDB(oneOf(kPresets));
    if (chance(30))
    {
        const std::string name = someName();
        std::strncpy(setting.Name, name.c_str(), sizeof(setting.Name) - 1);
        setting.Name[sizeof(setting.Name) - 1] = '\0';
    }
    if (chance(20))
        setting.gender = pick(2);
    if (chance(20))
    {
        setting.hairStyle = pick(5);
        setting.hairColor = pick(5);
        setting.faceType = pick(4);
        setting.skinColor = pick(4);
    }
    const std::vector<unsigned*> slots = places(setting);
    for (unsigned place = 0; place < 15; ++place)
    {
        if (!chance(35))
            continue;
        const unsigned roll = pick(20);
        const std::vector<unsigned>& fitting = itemsByPlace()[place];
        if (roll < 5)
            *slots[place] = 0;
        else if (roll < 17)
            *slots[place] = fitting[pick(static_cast<unsigned>(fitting.size()))];
        else if (roll < 19)
        {
            const std::vector<unsigned>& other = itemsByPlace()[pick(15)];
            *slots[place] = other[pick(static_cast<unsigned>(other.size()))];
        }
        else
            *slots[place] = 7777 + pick(3);
    }
    if (chance(30))
    {
        unsigned* effects = &setting.weaponEffect.flag0;
        for (unsigned k = 0; k < 7; ++k)
            effects[k] = pick(2);
    }
    return setting;
}

CreatureSetting_t Soak::creatureSetting()
{
    CreatureSetting_t setting;
    switch (pick(5))
    {
    case 0:
    case 1:
        setting.ID = oneOf(kCreatureIds);
        break;
    case 2:
        setting.ID = oneOf(kNpcIds);
        break;
    case 3:
        setting.ID = oneOf(kObjectIds);
        break;
    default:
        setting.ID = chance(50) ? 4242 : 0;
        break;
    }
    const std::string name = chance(80) ? std::string(oneOf(kCreatureNames)) : someName();
    std::strncpy(setting.Name, name.c_str(), sizeof(setting.Name) - 1);
    setting.Name[sizeof(setting.Name) - 1] = '\0';
    return setting;
}

ENTITY_CALLBACK* Soak::callbackFor(Held& held, bool player)
{
    auto* callback = new ENTITY_CALLBACK();
    // Players are told through type 0; creatures through any of the three.
    callback->type = player ? 0 : static_cast<int>(pick(3));
    held.callbackType = callback->type;
    if (chance(90))
    {
        held.view = std::make_unique<HostView>(*this, held, chance(10));
        callback->view = held.view.get();
        if (chance(50))
        {
            held.observer = std::make_unique<HostObserver>();
            callback->observer = held.observer.get();
        }
    }
    return callback;
}

void Soak::createPlayer()
{
    Held& held = beginHold(true);
    IInstance* player = nullptr;
    switch (pick(3))
    {
    case 0:
        player = m_system->createPlayer(playerSetting(), nullptr);
        break;
    case 1:
        player = m_system->createPlayer(playerSetting(), callbackFor(held, true));
        break;
    default:
        player = m_system->createPlayer(std::string(chance(85) ? oneOf(kPresets) : "Nobody"));
        break;
    }
    finishHold(held, player);
}

void Soak::createCreature()
{
    Held& held = beginHold(false);
    IInstance* creature = nullptr;
    switch (pick(7))
    {
    case 0:
        creature = m_system->createCreature(creatureSetting(), nullptr);
        break;
    case 1:
        creature = m_system->createCreature(creatureSetting(), callbackFor(held, false));
        break;
    case 2:
        creature = m_system->createCreature(static_cast<unsigned long>(creatureSetting().ID), nullptr);
        break;
    case 3:
        creature = m_system->createCreature(static_cast<unsigned long>(creatureSetting().ID), callbackFor(held, false));
        break;
    case 4:
    case 5:
        creature = m_system->createCreature(std::string(chance(90) ? oneOf(kCreatureNames) : "Nobody"));
        break;
    default:
        creature = chance(50) ? m_manager->createNpc(oneOf(kNpcNames)) : m_manager->createObject(oneOf(kObjectNames));
        break;
    }
    finishHold(held, creature);
}

void Soak::copy()
{
    const unsigned way = pick(3);
    if (way == 2)
    {
        // Brings a player copy up to date with some player, or asks for it with the wrong kinds.
        Held* source = anyPlayer();
        Held* target = anyHeld();
        if (source && target)
            m_system->replaceClonePlayer(source->instance, target->instance);
        return;
    }
    Held* source = chance(90) ? anyPlayer() : anyHeld();
    if (way == 0 && !source)
        return;
    Held& held = beginHold(way == 0);
    held.isCopy = true;
    held.copyRtt = chance(80);
    held.copyRtt3D = chance(80);
    IRttObjectCallback* rtt = held.copyRtt ? &held.copyCallbacks : nullptr;
    I3DRttObjectCallback* rtt3D = held.copyRtt3D ? &held.copyCallbacks : nullptr;
    IInstance* copy = nullptr;
    if (way == 0)
    {
        copy = m_system->clonePlayer(someName().c_str(), source->instance, rtt, rtt3D);
        EXPECT_EQ(copy != nullptr, source->player) << "players, and only players, are copied as players";
    }
    else
    {
        unsigned long id = oneOf(kCreatureIds);
        if (chance(15))
            id = chance(50) ? oneOf(kNpcIds) : 4242;
        copy = m_system->cloneCreature(id, rtt, rtt3D);
        EXPECT_NE(copy, nullptr);
    }
    finishHold(held, copy);
}

void Soak::changeEquipment(Held& held)
{
    switch (pick(3))
    {
    case 0:
    {
        WeaponEffectVisible visible;
        unsigned* effects = &visible.flag0;
        for (unsigned k = 0; k < 7; ++k)
            effects[k] = pick(2);
        EXPECT_TRUE(held.instance->settingEquipEffect(chance(90) ? &visible : nullptr));
        break;
    }
    default:
    {
        const bool accepted = m_system->replacePlayer(playerSetting(), held.instance);
        EXPECT_EQ(accepted, held.player) << "replacePlayer takes players and only players";
        break;
    }
    }
}

void Soak::animate(Held& held)
{
    IInstance* instance = held.instance;
    IActionCallback* listener = chance(85) ? held.listener.get() : nullptr;
    const ANI_BLEND_TYPE blend = chance(60) ? BLEND_SMOOTH : BLEND_IMMEDIATE;
    switch (pick(16))
    {
    case 0:
    case 1:
    case 2:
    case 3:
        instance->playAnimation(static_cast<AnimationType>(oneOf(kAnimationTypes)), blend, uniform(0.0f, 0.5f),
                                listener, true);
        break;
    case 4:
    case 5:
        instance->playAnimation(static_cast<AnimationType>(oneOf(kAnimationTypes)), blend, 0.0f, listener, false);
        break;
    case 6:
        instance->playAnimation(chance(90) ? oneOf(kAnimationNames) : "NoSuchAnimation", blend, listener);
        break;
    case 7:
        instance->playStatic(static_cast<AnimationType>(oneOf(kAnimationTypes)), uniform(0.0f, 1.0f));
        break;
    case 8:
        instance->clearAnimation(pick(4));
        break;
    case 9:
        instance->setPause(chance(20));
        break;
    case 10:
        instance->changePausePropety();
        break;
    case 11:
        instance->setTickTimeLimit(chance(50) ? 0.0f : uniform(0.0f, 0.2f));
        break;
    case 12:
        instance->setSpeed(uniform(0.5f, 9.0f), uniform(0.5f, 4.0f));
        break;
    case 13:
        instance->setAnimationPlaySpeed(uniform(0.25f, 3.0f));
        break;
    case 14:
        instance->setActionCallBack(listener);
        break;
    default:
        instance->animationAddTime(uniform(0.0f, 0.1f));
        EXPECT_LE(instance->searchAnimation(pick(4)), ANIM_NONE);
        break;
    }
}

void Soak::changeDetail(Held& held)
{
    if (chance(15))
    {
        // Any count, out of range included; it applies to the groups formed from now on.
        static const std::vector<unsigned> counts = {0, 1, 2, 4, 16, 64, 65, 100000};
        m_manager->setSharedPhaseBuckets(oneOf(counts));
        return;
    }
    if (chance(15))
    {
        // The camera moves: the avatars (all at the origin) stand near it or far from it.
        m_manager->setViewpoint(Ogre::Vector3(uniform(-100.0f, 100.0f), 0.0f, 0.0f), uniform(-1.0f, 60.0f));
        return;
    }
    const unsigned roll = pick(10);
    const AvatarSystemManager::DetailLevel level = roll < 5   ? AvatarSystemManager::DETAIL_SHARED
                                                   : roll < 7 ? AvatarSystemManager::DETAIL_AUTOMATIC
                                                              : AvatarSystemManager::DETAIL_FULL;
    const bool accepted = m_manager->setDetailLevel(held.instance, level);
    if (held.state == HeldState::Destroyed)
    {
        EXPECT_FALSE(accepted) << "a destroyed avatar has no detail level";
    }
    else if (held.state == HeldState::Registered && held.instance->getEntityPtr())
    {
        EXPECT_TRUE(accepted) << "avatar " << held.id;
        EXPECT_EQ(m_manager->getDetailLevel(held.instance), level) << "avatar " << held.id;
    }
    if (level == AvatarSystemManager::DETAIL_FULL)
    {
        EXPECT_FALSE(m_manager->isSharingPose(held.instance)) << "avatar " << held.id << " leaves its group at once";
    }
}

void Soak::look(Held& held)
{
    IInstance* instance = held.instance;
    switch (pick(8))
    {
    case 0:
        m_system->setInstanceTransoarency(instance, uniform(0.0f, 1.0f));
        break;
    case 1:
        instance->setInstanceTransoarency(uniform(0.0f, 1.0f), chance(50));
        break;
    case 2:
    case 3:
        instance->setHighLight(chance(50));
        break;
    case 4:
        instance->setTextureFilter(static_cast<int>(pick(5)));
        break;
    case 5:
        m_system->setTextureFilter(static_cast<int>(pick(5)));
        break;
    case 6:
        instance->setVisible(chance(80));
        break;
    default:
        instance->updateControlledEntity();
        attach(held);
        break;
    }
}

void Soak::destroyOrFade()
{
    Held* held = anyHeld();
    if (!held)
        return;
    if (chance(25))
        m_system->fadeOut(held->id);
    else
        m_system->destroyInstance(held->id);
    refreshState(*held);
}

void Soak::operation()
{
    const std::size_t population = m_held.size();
    Held* held = anyHeld();
    const unsigned roll = pick(100);
    if (!held || roll < 14 || (population < 8 && roll < 40))
    {
        if (chance(55))
            createPlayer();
        else
            createCreature();
    }
    else if (roll < 20)
        copy();
    else if (roll < 28)
    {
        if (Held* player = chance(85) ? anyPlayer() : held)
            changeEquipment(*player);
    }
    else if (roll < 54)
        animate(*held);
    else if (roll < 60)
        changeDetail(*held);
    else if (roll < 74)
        look(*held);
    else if (roll < 80 || (population > 40 && roll < 90))
        destroyOrFade();
    else if (roll < 81)
        m_system->preBuildEntityBuffer(static_cast<int>(pick(3)));
    else if (roll < 83)
    {
        // The host builds an avatar itself (the contract allows it), destroyed ones included:
        // those refuse.
        held->instance->create();
        attach(*held);
    }
    else
    {
        // Questions a host asks: none may change anything.
        IInstance* instance = held->instance;
        float run = 0.0f, walk = 0.0f;
        instance->getSpeedRate(run, walk);
        EXPECT_NE(instance->getAnimName(static_cast<AnimationType>(oneOf(kAnimationTypes))), nullptr);
        instance->hasAnimation(static_cast<AnimationType>(oneOf(kAnimationTypes)));
        instance->getPlayPercent(oneOf(kAnimationNames));
        EXPECT_EQ(instance->getUniqueID(), held->id);
    }
}

void Soak::frame()
{
    const unsigned pace = pick(10);
    const float dt = pace < 5 ? 1.0f / 60.0f : pace < 8 ? 1.0f / 30.0f : uniform(0.0f, 0.1f);
    m_system->update(dt);
    // The index, not an iterator: a listener may destroy its avatar, which only changes its state.
    for (std::size_t i = 0; i < m_held.size(); ++i)
        m_held[i]->instance->update(chance(50), dt);
    // What rendering the frame would do: the engine frees the passes of removed materials only
    // when it renders, and a headless host never does.
    Ogre::Pass::processPendingPassUpdates();
    ++frames;
    for (const auto& held : m_held)
    {
        if (held->view && held->view->notices > 1)
            ADD_FAILURE() << "avatar " << held->id << " was told " << held->view->notices << " times, at operation "
                          << m_done;
        refreshState(*held);
        if (m_manager->isSharingPose(held->instance))
        {
            ++sharingAvatarFrames;
            EXPECT_NE(m_manager->getDetailLevel(held->instance), AvatarSystemManager::DETAIL_FULL)
                << "avatar " << held->id << " shows a group's pose at full detail, at operation " << m_done;
        }
    }
    mostSharedPoses = std::max(mostSharedPoses, m_manager->getNumSharedPoses());
}

void Soak::checkEntities()
{
    for (const auto& held : m_held)
    {
        Ogre::Entity* entity = held->instance->getEntityPtr();
        if (held->state == HeldState::Destroyed)
        {
            EXPECT_EQ(entity, nullptr) << "destroyed avatar " << held->id;
        }
        else if (entity)
        {
            EXPECT_TRUE(m_scene->hasEntity(entity->getName()) && m_scene->getEntity(entity->getName()) == entity)
                << "avatar " << held->id << "'s entity is in the host's scene";
        }
    }
    for (const std::string& problem : pooledBodiesProblems())
        ADD_FAILURE() << problem << " (at operation " << m_done << ")";
}

void Soak::deleteDueDestroyed(bool all)
{
    if (!s_hostDeletes)
        return;
    for (auto it = m_held.begin(); it != m_held.end();)
    {
        Held& held = **it;
        if (held.state == HeldState::Destroyed && (all || held.deleteAtOperation <= m_done))
        {
            // The host may delete what destroyInstance tore down before release() frees it.
            delete static_cast<ManagedInstance*>(held.instance);
            if (held.node)
                m_scene->destroySceneNode(held.node);
            it = m_held.erase(it);
        }
        else
            ++it;
    }
}

void Soak::drainAndCheckNotices()
{
    ++drains;
    // One build per frame; a build that fails goes to the back, so twice the queue is enough.
    for (std::size_t n = 2 * m_manager->getNumRequests() + 4; n > 0; --n)
        frame();
    for (const auto& held : m_held)
    {
        if (held->state != HeldState::Registered)
            continue;
        bool buildable = true;
        if (held->player)
        {
            // A player made from a missing preset has no race, and no body to build. The host
            // never clears renderObj itself: every other player is built.
            const unsigned race = static_cast<CharacterInstance*>(held->instance)->getPlayerProperties().race;
            buildable = race >= 1 && race <= 3;
        }
        else
        {
            const unsigned id = static_cast<CreatureInstance*>(held->instance)->getProperties().ID;
            buildable = id != 0 && id != 4242;
        }
        if (!buildable)
            continue;
        EXPECT_NE(held->instance->getEntityPtr(), nullptr)
            << (held->player ? "player " : "creature ") << held->id << " is built once the queue drained"
            << (held->isCopy ? " (a copy)" : "") << (held->view ? " (with a view)" : "");
        if (held->view)
        {
            EXPECT_EQ(held->view->notices, 1) << "avatar " << held->id << " is told once";
            if (held->observer)
            {
                // The observer hears of type 0 only.
                EXPECT_EQ(held->observer->keys,
                          held->callbackType == 0 ? std::vector<unsigned>{7u} : std::vector<unsigned>{})
                    << "avatar " << held->id;
            }
        }
        if (held->isCopy)
        {
            std::string expected;
            if (held->copyRtt3D)
                expected += held->player ? "player;" : "creature;";
            if (held->copyRtt)
                expected += "copy;";
            EXPECT_EQ(held->copyCallbacks.calls, expected) << "copy " << held->id;
            if (held->copyCallbacks.calls == expected)
                ++copiesTold;
        }
    }
    checkEntities();
}

void Soak::releaseAndCheck()
{
    ++releases;
    if (chance(70))
        drainAndCheckNotices();
    else
        checkEntities();
    // Some destroyed avatars the host deletes itself (in its mode); release() frees the rest,
    // with the registered and faded ones.
    deleteDueDestroyed(chance(50));
    m_system->release();
    for (auto& held : m_held)
        if (held->node)
            m_scene->destroySceneNode(held->node);
    m_held.clear();

    EXPECT_EQ(m_manager->getNumInstances(), 0u);
    EXPECT_EQ(m_manager->getNumRequests(), 0u);
    EXPECT_TRUE(m_manager->getFadeList().empty());
    EXPECT_TRUE(m_manager->getDestroyedList().empty());
    for (const std::string& problem : pooledBodiesProblems())
        ADD_FAILURE() << problem << " (after release " << releases << ")";
    for (const std::string& difference : WorldCensus::take(m_scene).differencesFrom(m_before))
        ADD_FAILURE() << "after release " << releases << " (operation " << m_done << "): " << difference;
    checkpoints.push_back(residentBytes());
}

void Soak::run()
{
    m_system = IAvatarSystem::getSingletonPtr();
    m_manager = &AvatarSystemManager::getSingleton();
    m_scene = HeadlessOgre::sceneManager();
    ASSERT_NE(m_scene, nullptr);
    m_system->release();
    CharacterInstance::clearEntityPools();
    m_system->setTextureFilter(3);
    m_manager->setSharedPhaseBuckets(4);
    m_manager->setViewpoint(Ogre::Vector3::ZERO, 0.0f);
    m_before = WorldCensus::take(m_scene);
    m_nextRelease = 100 + pick(100);

    for (m_done = 0; m_done < m_operations;)
    {
        deleteDueDestroyed(false);
        operation();
        ++m_done;
        frame();
        if (m_done >= m_nextRelease || m_done == m_operations)
        {
            releaseAndCheck();
            m_nextRelease = m_done + 100 + pick(100);
        }
        if (::testing::Test::HasFailure())
        {
            std::printf("soak: stopped at operation %u (seed %u)\n", m_done, s_seed);
            m_system->release();
            m_held.clear();
            CharacterInstance::clearEntityPools();
            return;
        }
    }
}

/// Whether the resident set stopped growing: the last third of the checkpoints lies within
/// bound bytes of each other and rises at most bound above the highest of the middle third.
bool memorySettled(const std::vector<std::size_t>& rss, std::size_t bound, std::string& why)
{
    const std::size_t third = rss.size() / 3;
    const auto middle = std::minmax_element(rss.begin() + static_cast<std::ptrdiff_t>(third),
                                            rss.begin() + static_cast<std::ptrdiff_t>(2 * third));
    const auto last = std::minmax_element(rss.begin() + static_cast<std::ptrdiff_t>(2 * third), rss.end());
    const std::size_t spread = *last.second - *last.first;
    const std::size_t rise = *last.second > *middle.second ? *last.second - *middle.second : 0;
    why = "last third spread " + std::to_string(spread / 1024) + " KiB, rise over the middle third " +
          std::to_string(rise / 1024) + " KiB";
    return spread <= bound && rise <= bound;
}

} // namespace

TEST(Soak, aHostThatDoesEverythingLeavesNothingBehindAndStopsGrowing)
{
    ContentDir content;
    EffectManager::getSingletonPtr()->reloadTable();
    Soak soak(s_seed, s_operations);
    soak.run();
    if (HasFailure())
        return;

    const std::vector<std::size_t>& rss = soak.checkpoints;
    std::printf(
        "soak: host deletes %s; seed %u, %u operations, %u frames, %u avatars made, %u releases (%u with the queue "
        "drained), %u notices, %u copies told, %u animation events (%u ends, %u answered from the callback), "
        "%u avatar frames in a shared pose (at most %zu shared poses at once); objects left after every release: 0\n",
        s_hostDeletes ? "some destroyed avatars itself" : "nothing itself", s_seed, s_operations, soak.frames,
        soak.avatarsMade, soak.releases, soak.drains, soak.notices, soak.copiesTold,
        soak.animationEvents + soak.animationEnds, soak.animationEnds, soak.listenerActions, soak.sharingAvatarFrames,
        soak.mostSharedPoses);
    EXPECT_GT(soak.sharingAvatarFrames, 0u) << "the shared level was exercised";
    ASSERT_FALSE(rss.empty());
    const std::size_t warm = rss[rss.size() / 3];
    std::printf("soak: resident memory %.1f MiB at the first release, %.1f MiB after warm-up, %.1f MiB at the "
                "last (growth after warm-up %+.2f MiB)\n",
                rss.front() / 1048576.0, warm / 1048576.0, rss.back() / 1048576.0,
                (static_cast<double>(rss.back()) - static_cast<double>(warm)) / 1048576.0);
    if (kAddressSanitizer)
    {
        // The sanitizer's quarantine and shadow memory make the resident set meaningless; its
        // leak check judges instead.
        std::printf("soak: memory growth not judged under AddressSanitizer\n");
        return;
    }
    if (rss.size() < 9)
    {
        std::printf("soak: memory growth not judged with %zu checkpoints (9 needed)\n", rss.size());
        return;
    }
    std::string why;
    EXPECT_TRUE(memorySettled(rss, 2u << 20, why)) << why;
    std::printf("soak: memory settled: %s\n", why.c_str());
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
    {
        if (std::strncmp(argv[i], "--operations=", 13) == 0)
            s_operations = static_cast<unsigned>(std::strtoul(argv[i] + 13, nullptr, 10));
        else if (std::strncmp(argv[i], "--seed=", 7) == 0)
            s_seed = static_cast<unsigned>(std::strtoul(argv[i] + 7, nullptr, 10));
        else if (std::strncmp(argv[i], "--host-deletes=", 15) == 0)
            s_hostDeletes = std::strtoul(argv[i] + 15, nullptr, 10) != 0;
        else
        {
            std::fprintf(stderr, "usage: %s [--operations=N] [--seed=N] [--host-deletes=0|1] [gtest options]\n",
                         argv[0]);
            return 2;
        }
    }
    ::testing::AddGlobalTestEnvironment(new HeadlessOgre());
    return RUN_ALL_TESTS();
}
