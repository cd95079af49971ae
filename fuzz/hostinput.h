#pragma once

// Bytes as a host's calls: an input is read as a sequence of IAvatarSystem and IInstance calls
// (and the manager's detail levels) on the sample content pack, with the values a careless host
// might pass (unknown IDs and names, 300-character names, null callbacks, out-of-range places,
// levels, blend values and layers, NaN, infinite and negative times and opacities). The input ends
// with release(), after which the world must be as it was. Shared by the fuzz target and the unit
// test that replays the kept inputs.

#include "avatarsystem/characterinstance.h"
#include "avatarsystem/creatureinstance.h"
#include "tests/packcatalog.h"
#include "tests/worldcensus.h"

#include <OgrePass.h>
#include <OgreSceneNode.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace hostfuzz
{

/// Reads the input from the front; past its end every read answers zero.
class ByteReader
{
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool more() const { return m_pos < m_size; }
    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::uint32_t word()
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = value << 8 | byte();
        return value;
    }
    bool flag() { return byte() & 1; }
    /// One of n choices.
    unsigned pick(std::size_t n) { return n ? static_cast<unsigned>(byte() % n) : 0; }
    template <class T> const T& oneOf(const std::vector<T>& items) { return items[pick(items.size())]; }

    /// A time, speed or opacity: ordinary values, the edges, NaN, infinities, or any bits.
    float real()
    {
        static const float special[] = {0.0f,
                                        1.0f,
                                        1.0f / 60.0f,
                                        0.5f,
                                        0.98f,
                                        0.99f,
                                        -1.0f,
                                        -0.016f,
                                        100.0f,
                                        1e30f,
                                        -1e30f,
                                        std::numeric_limits<float>::quiet_NaN(),
                                        std::numeric_limits<float>::infinity(),
                                        -std::numeric_limits<float>::infinity(),
                                        std::numeric_limits<float>::denorm_min(),
                                        std::numeric_limits<float>::max()};
        const std::uint8_t kind = byte();
        if (kind < 224)
            return special[kind % 16];
        const std::uint32_t bits = word();
        float value;
        std::memcpy(&value, &bits, sizeof(value));
        return value;
    }
    /// An unsigned value: small, an ID or animation type of the pack, near the top, or any.
    std::uint32_t number()
    {
        switch (byte() % 8)
        {
        case 0:
            return byte();
        case 1:
            return oneOf(pack::kCreatureIds);
        case 2:
            return oneOf(pack::kNpcIds);
        case 3:
            return oneOf(pack::kObjectIds);
        case 4:
            return oneOf(pack::kAnimationTypes);
        case 5:
            return 0xFFFFFFFFu - byte();
        default:
            return word();
        }
    }
    /// A name: one of the pack's, empty, 300 characters, or bytes of the input (NUL included).
    std::string name()
    {
        switch (byte() % 8)
        {
        case 0:
            return oneOf(pack::kPresets);
        case 1:
            return oneOf(pack::kCreatureNames);
        case 2:
            return flag() ? oneOf(pack::kNpcNames) : oneOf(pack::kObjectNames);
        case 3:
            return oneOf(pack::kAnimationNames);
        case 4:
            return std::string(300, static_cast<char>('A' + byte() % 26));
        case 5:
            return std::string();
        default:
        {
            std::string text(byte() % 40, '\0');
            for (char& c : text)
                c = static_cast<char>(byte());
            return text;
        }
        }
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

/// The host's objects for the system's callbacks. They only count: the interpreter looks for
/// crashes, leaks and objects left behind, not at what is told.
struct HostView final : IEntityView
{
    void onInstanceReady(IInstance*, int) override { ++calls; }
    unsigned getViewKey() override { return 3; }
    void onCreatureReadyA(IInstance*, float) override { ++calls; }
    void onCreatureReadyB(IInstance*, float) override { ++calls; }
    unsigned calls = 0;
};
struct HostObserver final : IEntityViewObserver
{
    void onViewReady(unsigned) override { ++calls; }
    unsigned calls = 0;
};
struct HostCopyCallbacks final : IRttObjectCallback, I3DRttObjectCallback
{
    void onCopyCreated() override { ++calls; }
    void onPlayerCopyCreated() override { ++calls; }
    void onCreatureCopyCreated() override { ++calls; }
    unsigned calls = 0;
};
class HostRun;
/// Answers an ending animation from within the callback, as its mode says: now and then by
/// playing another one, by handing the avatar another listener (or none) and deleting itself, or
/// by releasing the whole system.
struct HostListener final : IActionCallback
{
    enum Mode
    {
        PLAY_ANOTHER,
        REPLACE_AND_DELETE,
        RELEASE
    };
    void onAnimationEnd(AnimationType, int) override;
    void onAnimationState(AnimationType, bool, bool) override { ++calls; }
    IInstance* instance = nullptr;
    HostRun* run = nullptr;
    Mode mode = PLAY_ANOTHER;
    unsigned calls = 0;
};

/// One input's run: the host's avatars and objects, and the calls the bytes spell.
class HostRun
{
public:
    HostRun(const std::uint8_t* data, std::size_t size, Ogre::SceneManager* scene)
        : m_in(data, size), m_scene(scene), m_system(IAvatarSystem::getSingletonPtr()),
          m_manager(AvatarSystemManager::getSingleton())
    {
    }

    /// Runs the calls (at most 400) on a system that holds no avatar, then releases everything.
    /// Returns what is wrong afterwards, one line each: objects left in OGRE or in the system,
    /// pooled bodies that keep something of their last avatar. Empty when nothing is.
    std::vector<std::string> run()
    {
        const WorldCensus before = WorldCensus::take(m_scene);
        m_system->setTextureFilter(3);
        m_system->setLoadFrameTime(20.0f);
        // What an earlier input set and release() keeps: each input starts from the same settings.
        m_manager.setSharedPhaseBuckets(4);
        m_manager.setViewpoint(Ogre::Vector3::ZERO, 0.0f);
        for (unsigned operations = 0; m_in.more() && operations < 400; ++operations)
        {
            // The last byte values spell the operations added last, so that the kept inputs,
            // which hold none of them, still spell the calls they were found with.
            const unsigned op = m_in.byte();
            if (op % 2 == 0 || m_held.empty())
                systemOperation(op / 2 >= 126 ? 20 : op / 2 % 20);
            else
                instanceOperation(m_held[m_in.pick(m_held.size())], op / 2 >= 124 ? 32 : op / 2 % 32);
        }
        release();
        for (Ogre::SceneNode* node : m_nodes)
            m_scene->destroySceneNode(node);
        Ogre::Pass::processPendingPassUpdates();

        std::vector<std::string> problems;
        if (m_manager.getNumInstances() || m_manager.getNumRequests() || !m_manager.getFadeList().empty() ||
            !m_manager.getDestroyedList().empty())
            problems.push_back("the system still holds avatars after release");
        for (const std::string& problem : pooledBodiesProblems())
            problems.push_back(problem);
        for (const std::string& difference : WorldCensus::take(m_scene).differencesFrom(before))
            problems.push_back(difference);
        return problems;
    }

private:
    /// An avatar the host was handed, and the ID it was registered under (the host may change
    /// the one the avatar reports).
    struct Held
    {
        IInstance* instance;
        unsigned key;
    };

    bool registered(const Held& held) { return m_manager.getInstance(held.key) == held.instance; }
    bool faded(const Held& held)
    {
        const std::vector<IInstance*>& list = m_manager.getFadeList();
        return std::find(list.begin(), list.end(), held.instance) != list.end();
    }
    /// Destroyed through destroyInstance: the host may delete it, or leave it to release().
    bool destroyed(const Held& held) { return !registered(held) && !faded(held); }

    IInstance* anyHeld()
    {
        return m_held.empty() || m_in.pick(8) == 0 ? nullptr : m_held[m_in.pick(m_held.size())].instance;
    }
    /// An ID or unique ID: a 32-bit value, or now and then one past 32 bits.
    unsigned long anyId()
    {
        const unsigned long id = m_in.number();
        return m_in.pick(8) == 0 ? id + 0x100000000ul : id;
    }
    void keep(IInstance* instance)
    {
        if (instance)
            m_held.push_back({instance, static_cast<unsigned>(instance->getUniqueID())});
    }
    void release()
    {
        // The registered, faded and destroyed avatars all go with the release.
        m_system->release();
        m_held.clear();
    }

    ENTITY_CALLBACK* callback()
    {
        if (m_in.pick(4) == 0)
            return nullptr;
        auto* record = new ENTITY_CALLBACK();
        record->type = static_cast<int>(m_in.pick(6)) - 1;
        if (m_in.pick(5) != 0)
        {
            m_views.push_back(std::make_unique<HostView>());
            record->view = m_views.back().get();
        }
        if (m_in.flag())
        {
            m_observers.push_back(std::make_unique<HostObserver>());
            record->observer = m_observers.back().get();
        }
        return record;
    }
    HostCopyCallbacks* copyCallbacks()
    {
        if (m_in.pick(4) == 0)
            return nullptr;
        m_copies.push_back(std::make_unique<HostCopyCallbacks>());
        return m_copies.back().get();
    }
    IActionCallback* listener(IInstance* instance)
    {
        const std::uint8_t kind = m_in.byte();
        if (kind % 4 == 0)
            return nullptr;
        return newListener(instance, kind / 4 % 16);
    }
    HostListener* newListener(IInstance* instance, unsigned mode)
    {
        m_listeners.push_back(std::make_unique<HostListener>());
        HostListener* made = m_listeners.back().get();
        made->instance = instance;
        made->run = this;
        made->mode = mode == 0  ? HostListener::RELEASE
                     : mode < 4 ? HostListener::REPLACE_AND_DELETE
                                : HostListener::PLAY_ANOTHER;
        return made;
    }

public:
    /// What a listener does when told that an animation ended.
    void reactToEnd(HostListener& listener)
    {
        switch (listener.mode)
        {
        case HostListener::PLAY_ANOTHER:
            if (listener.calls % 2 == 0)
                listener.instance->playAnimation(static_cast<AnimationType>(0), BLEND_SMOOTH, 0.0f, &listener, true);
            else if (m_manager.getDetailLevel(listener.instance) != AvatarSystemManager::DETAIL_FULL)
                // A shared avatar leaves its group from within the update that advances the group.
                m_manager.setDetailLevel(listener.instance, AvatarSystemManager::DETAIL_FULL);
            break;
        case HostListener::REPLACE_AND_DELETE:
        {
            // The successor plays on; the listener replaced is deleted at once.
            listener.instance->setActionCallBack(listener.calls % 3 == 0 ? nullptr : newListener(listener.instance, 4));
            const auto it = std::find_if(m_listeners.begin(), m_listeners.end(),
                                         [&](const std::unique_ptr<HostListener>& l) { return l.get() == &listener; });
            if (it != m_listeners.end())
                m_listeners.erase(it);
            break;
        }
        case HostListener::RELEASE:
            release();
            break;
        }
    }

private:
    ANI_BLEND_TYPE blend()
    {
        const std::uint32_t value = m_in.pick(4) == 0 ? m_in.word() : m_in.byte();
        return static_cast<ANI_BLEND_TYPE>(value);
    }
    AnimationType animation()
    {
        return static_cast<AnimationType>(m_in.pick(3) == 0 ? m_in.number() : m_in.oneOf(pack::kAnimationTypes));
    }
    PlayerSetting_t playerSetting()
    {
        PlayerSetting_t setting;
        if (m_in.flag())
            setting = m_manager.getPorpertiesFromDB(m_in.oneOf(pack::kPresets));
        // Places with an item that fits, one of another place, or any number.
        for (unsigned* place : pack::places(setting))
            if (m_in.pick(3) == 0)
            {
                const std::vector<unsigned>& items = pack::itemsByPlace()[m_in.pick(15)];
                *place = m_in.flag() ? items[m_in.pick(items.size())] : m_in.number();
            }
        if (m_in.pick(4) == 0)
            for (unsigned* field : {&setting.race, &setting.gender, &setting.facialHairStyle, &setting.hairStyle,
                                    &setting.hairColor, &setting.skinColor, &setting.faceType})
                *field = m_in.pick(3) == 0 ? m_in.number() : m_in.byte() % 4;
        if (m_in.pick(6) == 0)
            for (char& c : setting.Name) // the whole field, without a terminating NUL
                c = static_cast<char>(m_in.byte() | 1);
        if (m_in.pick(4) == 0)
            setting.renderObj = m_in.flag();
        unsigned* effects = &setting.weaponEffect.flag0;
        for (unsigned k = 0; k < 7; ++k)
            if (m_in.pick(4) == 0)
                effects[k] = m_in.number();
        return setting;
    }
    CreatureSetting_t creatureSetting()
    {
        CreatureSetting_t setting;
        setting.ID = m_in.number();
        const std::string name = m_in.name();
        std::memcpy(setting.Name, name.data(), std::min(name.size(), sizeof(setting.Name)));
        unsigned* effects = &setting.Effect1;
        for (unsigned k = 0; k < 5; ++k)
            if (m_in.pick(3) == 0)
                effects[k] = m_in.number();
        return setting;
    }
    void frame(float dt)
    {
        m_system->update(dt);
        for (std::size_t i = 0; i < m_held.size(); ++i)
            m_held[i].instance->update(m_in.flag(), dt);
        // What rendering a frame would do: the engine frees the passes of removed materials then.
        Ogre::Pass::processPendingPassUpdates();
    }

    void systemOperation(unsigned op)
    {
        switch (op)
        {
        case 0:
        {
            const PlayerSetting_t setting = playerSetting();
            keep(m_system->createPlayer(setting, callback()));
            break;
        }
        case 1:
            keep(m_system->createPlayer(m_in.name()));
            break;
        case 2:
            keep(m_system->createCreature(m_in.name()));
            break;
        case 3:
        {
            const unsigned long id = anyId();
            keep(m_system->createCreature(id, callback()));
            break;
        }
        case 4:
        {
            const CreatureSetting_t setting = creatureSetting();
            keep(m_system->createCreature(setting, callback()));
            break;
        }
        case 5:
            keep(m_in.flag() ? m_manager.createNpc(m_in.name()) : m_manager.createObject(m_in.name()));
            break;
        case 6:
        {
            const PlayerSetting_t setting = playerSetting();
            m_system->replacePlayer(setting, anyHeld());
            break;
        }
        case 7:
        {
            const std::string name = m_in.name();
            HostCopyCallbacks* rtt = copyCallbacks();
            HostCopyCallbacks* rtt3D = copyCallbacks();
            const char* text = m_in.pick(8) == 0 ? nullptr : name.c_str();
            keep(m_system->clonePlayer(text, anyHeld(), rtt, rtt3D));
            break;
        }
        case 8:
        {
            HostCopyCallbacks* rtt = copyCallbacks();
            HostCopyCallbacks* rtt3D = copyCallbacks();
            keep(m_system->cloneCreature(m_in.number(), rtt, rtt3D));
            break;
        }
        case 9:
        {
            IInstance* source = anyHeld();
            m_system->replaceClonePlayer(source, anyHeld());
            break;
        }
        case 10:
        case 11:
        {
            unsigned long id = anyId();
            if (!m_held.empty() && m_in.flag())
                id = m_held[m_in.pick(m_held.size())].key;
            if (op == 10)
                m_system->destroyInstance(id);
            else
                m_system->fadeOut(id);
            break;
        }
        case 12:
        {
            IInstance* target = anyHeld();
            m_system->setInstanceTransoarency(target, m_in.real());
            break;
        }
        case 13:
            m_system->setTextureFilter(m_in.flag() ? static_cast<int>(m_in.byte() % 7) - 1
                                                   : static_cast<int>(m_in.word()));
            break;
        case 14:
            m_system->preBuildEntityBuffer(static_cast<int>(m_in.byte() % 6) - 2);
            break;
        case 15:
        {
            m_system->getMeshFileFromId(m_in.number());
            char image[2048];
            const unsigned id = m_in.number();
            m_system->getHeadImageFromId(id, m_in.flag() ? image : nullptr);
            break;
        }
        case 16:
            m_system->setLoadFrameTime(m_in.real());
            break;
        case 17:
            m_system->update(m_in.real());
            break;
        case 18:
            frame(m_in.real());
            break;
        case 20:
            if (m_in.flag())
            {
                // The camera anywhere, NaN and infinities included, and any distance.
                const float x = m_in.real(), y = m_in.real(), z = m_in.real();
                m_manager.setViewpoint(Ogre::Vector3(x, y, z), m_in.real());
            }
            else
                // Any count of phase buckets, 0 and past the most included; the groups formed later use it.
                m_manager.setSharedPhaseBuckets(m_in.number());
            (void)m_manager.getSharedPhaseBuckets();
            (void)m_manager.getNumSharedPoses();
            break;
        default:
            release();
            break;
        }
    }

    void instanceOperation(Held held, unsigned op)
    {
        IInstance* instance = held.instance;
        switch (op)
        {
        case 0:
            // The contract lets the host build an avatar itself.
            instance->create();
            break;
        case 1:
            instance->destroy();
            break;
        case 2:
        {
            const bool b = m_in.flag();
            instance->update(b, m_in.real());
            break;
        }
        case 3:
            instance->updateControlledEntity();
            break;
        case 4:
            instance->setVisible(m_in.flag());
            break;
        case 5:
            instance->setHighLight(m_in.flag());
            break;
        case 6:
            instance->setTextureFilter(m_in.flag() ? static_cast<int>(m_in.byte() % 7) - 1
                                                   : static_cast<int>(m_in.word()));
            break;
        case 7:
            instance->setUniqueID(m_in.pick(2) ? instance->getUniqueID() : m_in.number());
            break;
        case 8:
        {
            const float alpha = m_in.real();
            instance->setInstanceTransoarency(alpha, m_in.flag());
            break;
        }
        case 9:
            instance->setEntityViewPtr(callback());
            break;
        case 10:
        {
            HostCopyCallbacks* rtt = copyCallbacks();
            instance->setInstanceBeCopy(rtt, copyCallbacks());
            break;
        }
        case 11:
        {
            // The questions a host asks; none may change anything or fail.
            float run = 0.0f, walk = 0.0f;
            instance->getSpeedRate(run, walk);
            (void)instance->getName().size();
            (void)instance->getScale();
            (void)instance->getEntityPtr();
            (void)instance->getInstanceType();
            (void)instance->getRightWeapon();
            (void)instance->getLeftWeapon();
            (void)std::strlen(instance->getAnimName(animation()));
            (void)instance->hasAnimation(animation());
            (void)instance->searchAnimation(m_in.number());
            (void)instance->getPlayPercent(m_in.name());
            break;
        }
        case 12:
        {
            const AnimationType type = animation();
            instance->playStatic(type, m_in.real());
            break;
        }
        case 13:
        case 14:
        case 15:
        {
            const AnimationType type = animation();
            const ANI_BLEND_TYPE how = blend();
            const float start = m_in.real();
            IActionCallback* callback = listener(instance);
            instance->playAnimation(type, how, start, callback, m_in.flag());
            break;
        }
        case 16:
        {
            const std::string name = m_in.name();
            const ANI_BLEND_TYPE how = blend();
            const char* text = m_in.pick(8) == 0 ? nullptr : name.c_str();
            instance->playAnimation(text, how, listener(instance));
            break;
        }
        case 17:
        {
            const float run = m_in.real();
            instance->setSpeed(run, m_in.real());
            break;
        }
        case 18:
            instance->setPause(m_in.flag());
            break;
        case 19:
            instance->setTickTimeLimit(m_in.real());
            break;
        case 20:
        {
            // A host tool lists the entity's states first; the index may lie outside the list.
            if (m_in.flag())
                static_cast<InstanceBase*>(static_cast<ManagedInstance*>(instance))->initAnimation();
            const int index = m_in.flag() ? static_cast<int>(m_in.byte() % 24) : static_cast<int>(m_in.word());
            instance->setNewAimationState(index, m_in.flag());
            break;
        }
        case 21:
            instance->setAnimationPlaySpeed(m_in.real());
            break;
        case 22:
            instance->setAnimationMerge(m_in.flag());
            break;
        case 23:
            instance->setActionCallBack(listener(instance));
            break;
        case 24:
            instance->changePausePropety();
            break;
        case 25:
            instance->animationAddTime(m_in.real());
            break;
        case 26:
            instance->clearAnimation(m_in.flag() ? m_in.byte() % 6 : m_in.number());
            break;
        case 27:
        {
            WeaponEffectVisible visible;
            unsigned* effects = &visible.flag0;
            for (unsigned k = 0; k < 7; ++k)
                effects[k] = m_in.pick(3) == 0 ? m_in.number() : m_in.byte() % 2;
            instance->settingEquipEffect(m_in.pick(6) == 0 ? nullptr : &visible);
            break;
        }
        case 28:
        {
            // A host tool changes one place of a player directly, in or out of range.
            if (instance->getInstanceType() != INSTANCE_CHARACTER)
                break;
            auto* player = static_cast<CharacterInstance*>(static_cast<ManagedInstance*>(instance));
            const int place = m_in.flag() ? static_cast<int>(m_in.byte() % 20) - 2 : static_cast<int>(m_in.word());
            if (m_in.flag())
                player->removeAttachedModel(place);
            else
                player->loadAttatchedModel(place, m_in.flag() ? pack::itemsByPlace()[m_in.pick(15)][0] : m_in.number());
            break;
        }
        case 29:
        {
            // The host hangs the entity in its scene.
            Ogre::Entity* entity = instance->getEntityPtr();
            if (entity && !entity->isAttached())
            {
                m_nodes.push_back(m_scene->getRootSceneNode()->createChildSceneNode());
                m_nodes.back()->attachObject(entity);
            }
            break;
        }
        case 30:
            // The host frees an avatar destroyed through destroyInstance (or faded) early: it deletes
            // a destroyed one itself, or asks the system to free it.
            if (destroyed(held) || faded(held))
            {
                const bool wasFaded = faded(held);
                m_held.erase(
                    std::find_if(m_held.begin(), m_held.end(), [&](const Held& h) { return h.instance == instance; }));
                if (wasFaded || m_in.flag())
                    m_manager.freeInstance(instance);
                else
                    delete static_cast<ManagedInstance*>(instance);
            }
            break;
        case 32:
        {
            // The detail level, of this avatar or any the host holds (destroyed or not) or none:
            // a shared avatar joins a group at its next update once it plays a plain loop.
            IInstance* target = m_in.pick(4) == 0 ? anyHeld() : instance;
            const unsigned level = m_in.pick(4);
            m_manager.setDetailLevel(target, level == 0   ? AvatarSystemManager::DETAIL_FULL
                                             : level == 3 ? AvatarSystemManager::DETAIL_AUTOMATIC
                                                          : AvatarSystemManager::DETAIL_SHARED);
            (void)m_manager.getDetailLevel(target);
            (void)m_manager.isSharingPose(target);
            break;
        }
        default:
            frame(m_in.real());
            break;
        }
    }

    ByteReader m_in;
    Ogre::SceneManager* m_scene;
    IAvatarSystem* m_system;
    AvatarSystemManager& m_manager;
    std::vector<Held> m_held;
    std::vector<Ogre::SceneNode*> m_nodes;
    // The host's callback objects live until the end, past release.
    std::vector<std::unique_ptr<HostView>> m_views;
    std::vector<std::unique_ptr<HostObserver>> m_observers;
    std::vector<std::unique_ptr<HostCopyCallbacks>> m_copies;
    std::vector<std::unique_ptr<HostListener>> m_listeners;
};

inline void HostListener::onAnimationEnd(AnimationType, int)
{
    ++calls;
    if (instance && run)
        run->reactToEnd(*this);
}

/// Runs one input (see HostRun::run).
inline std::vector<std::string> runHostInput(const std::uint8_t* data, std::size_t size, Ogre::SceneManager* scene)
{
    return HostRun(data, size, scene).run();
}

} // namespace hostfuzz
