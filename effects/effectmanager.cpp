#include "effects/effectmanager.h"
#include "avatarsystem/detail/contentrules.h"
#include "avatarsystem/detail/tablefile.h"

#include <OgreBillboardSet.h>
#include <OgreEntity.h>
#include <OgreException.h>
#include <OgreLogManager.h>
#include <OgreMaterialManager.h>
#include <OgreParticleSystem.h>
#include <OgreParticleSystemManager.h>
#include <OgreRoot.h>
#include <OgreSceneManager.h>
#include <OgreTagPoint.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>
#include <vector>

namespace
{
void logFailure(const char* where, const std::string& what)
{
    if (Ogre::LogManager* log = Ogre::LogManager::getSingletonPtr())
        log->logMessage(std::string("EffectManager::") + where + ": " + what);
}

// Runs fn and turns whatever it throws into a logged false, so that no OGRE exception
// crosses our boundary.
template <class Fn> bool guarded(const char* where, Fn&& fn) noexcept
{
    try
    {
        fn();
        return true;
    }
    catch (const Ogre::Exception& e)
    {
        logFailure(where, e.getDescription());
    }
    catch (const std::exception& e)
    {
        logFailure(where, e.what());
    }
    catch (...)
    {
        logFailure(where, "unknown exception");
    }
    return false;
}

bool isDecimal(const std::string& text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool endsWith(const std::string& text, const char* suffix)
{
    const std::string s(suffix);
    return text.size() > s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0;
}

// A scene manager may be destroyed by the host while effects made in it are still listed.
bool isLive(Ogre::SceneManager* sceneManager)
{
    Ogre::Root* root = Ogre::Root::getSingletonPtr();
    if (!root || !sceneManager)
        return false;
    for (const auto& entry : root->getSceneManagers())
        if (entry.second == sceneManager)
            return true;
    return false;
}

void setRunning(Ogre::MovableObject* object, bool running)
{
    object->setVisible(running);
    if (object->getMovableType() == Ogre::ParticleSystemFactory::FACTORY_TYPE_NAME)
        static_cast<Ogre::ParticleSystem*>(object)->setEmitting(running);
}
} // namespace

const char* const EffectManager::TABLE_FILE = "EWEffects.csv";
const char* const EffectManager::DEFAULT_SCENE_MANAGER = avatar_rules::kSceneManagerName;

Effect::Effect(std::string name, std::string kind, Ogre::MovableObject* object, Ogre::SceneManager* sceneManager,
               float size, float speed)
    : m_name(std::move(name)), m_kind(std::move(kind)), m_object(object), m_sceneManager(sceneManager), m_size(size),
      m_speed(speed)
{
    // The host may destroy the object with its scene: the effect then lets go of it.
    m_object->setListener(this);
}

void Effect::objectDestroyed(Ogre::MovableObject* object)
{
    if (object == m_object)
        m_object = nullptr;
}

void Effect::show()
{
    if (m_object)
        guarded("show", [&] { setRunning(m_object, true); });
}

void Effect::hide()
{
    if (m_object)
        guarded("hide", [&] { setRunning(m_object, false); });
}

bool Effect::isShown() const
{
    return m_object && m_object->getVisible();
}

EffectManager::EffectManager() = default;

// Only our records go here: OGRE may already be shut down at process exit.
EffectManager::~EffectManager() = default;

EffectManager* EffectManager::getSingletonPtr()
{
    static EffectManager s_manager;
    return &s_manager;
}

Effect* EffectManager::addEffect(const std::string& name)
{
    const EffectTemplate* effectTemplate = findTemplate(name);
    Ogre::SceneManager* sceneManager = getSceneManager();
    if (!effectTemplate || !sceneManager)
        return nullptr;

    const float size = effectTemplate->size > 0.0f ? effectTemplate->size : 1.0f;
    const float speed = effectTemplate->speed > 0.0f ? effectTemplate->speed : 1.0f;
    Ogre::MovableObject* object = nullptr;
    std::string objectName;
    const bool made =
        guarded("addEffect",
                [&]
                {
                    const bool particles = !effectTemplate->particleTemplate.empty() &&
                                           Ogre::ParticleSystemManager::getSingleton().getTemplate(
                                               effectTemplate->particleTemplate) != nullptr;
                    const Ogre::String& type = particles ? Ogre::ParticleSystemFactory::FACTORY_TYPE_NAME
                                                         : Ogre::BillboardSetFactory::FACTORY_TYPE_NAME;

                    // The host may own objects of the same name; skip numbers until one is free.
                    do
                        objectName = name + "#" + std::to_string(m_nextNumber++);
                    while (m_effects.count(objectName) || sceneManager->hasMovableObject(objectName, type));

                    if (particles)
                    {
                        Ogre::ParticleSystem* system =
                            sceneManager->createParticleSystem(objectName, effectTemplate->particleTemplate);
                        object = system;
                        system->setSpeedFactor(speed);
                    }
                    else
                    {
                        Ogre::BillboardSet* set = sceneManager->createBillboardSet(objectName, 1);
                        object = set;
                        set->setDefaultDimensions(size, size);
                        if (!effectTemplate->material.empty() && Ogre::MaterialManager::getSingleton().resourceExists(
                                                                     effectTemplate->material, Ogre::RGN_AUTODETECT))
                            set->setMaterialName(effectTemplate->material);
                        set->createBillboard(Ogre::Vector3::ZERO, effectTemplate->colour);
                    }
                    setRunning(object, false);
                });

    if (!made)
    {
        if (object)
            guarded("addEffect", [&] { sceneManager->destroyMovableObject(object); });
        return nullptr;
    }
    std::unique_ptr<Effect> effect(new Effect(objectName, name, object, sceneManager, size, speed));
    effect->m_objectType = object->getMovableType();
    Effect* result = effect.get();
    m_effects.emplace(objectName, std::move(effect));
    return result;
}

void EffectManager::freeEffect(const std::string& name, bool /*flag*/)
{
    auto found = m_effects.find(name);
    if (found == m_effects.end())
        return;
    destroyObject(*found->second);
    m_effects.erase(found);
}

void EffectManager::freeAll()
{
    for (auto& entry : m_effects)
        destroyObject(*entry.second);
    m_effects.clear();
}

void EffectManager::destroyObject(Effect& effect)
{
    Ogre::SceneManager* sceneManager = effect.m_sceneManager;
    if (!effect.m_object)
        return;
    effect.m_object->setListener(nullptr);
    guarded("freeEffect",
            [&]
            {
                // An object still held is alive (the effect hears of its destruction); ask anyway,
                // in case the host swapped objects under the same name.
                if (!isLive(sceneManager))
                    return;
                if (!sceneManager->hasMovableObject(effect.m_name, effect.m_objectType) ||
                    sceneManager->getMovableObject(effect.m_name, effect.m_objectType) != effect.m_object)
                    return;

                Ogre::MovableObject* object = effect.m_object;
                if (object->isAttached() && object->isParentTagPoint())
                {
                    Ogre::TagPoint* tag = static_cast<Ogre::TagPoint*>(object->getParentNode());
                    if (Ogre::Entity* owner = tag->getParentEntity())
                        owner->detachObjectFromBone(object);
                }
                else if (object->isAttached())
                {
                    object->detachFromParent();
                }
                sceneManager->destroyMovableObject(object);
            });
    effect.m_object = nullptr;
}

void EffectManager::registerEffect(const std::string& kind, const EffectTemplate& effectTemplate)
{
    m_registered[kind] = effectTemplate;
}

bool EffectManager::unregisterEffect(const std::string& kind)
{
    return m_registered.erase(kind) != 0;
}

bool EffectManager::hasKind(const std::string& name)
{
    return findTemplate(name) != nullptr;
}

void EffectManager::reloadTable()
{
    m_tableByName.clear();
    m_tableById.clear();
    m_tableRead = false;
}

void EffectManager::setSceneManager(Ogre::SceneManager* sceneManager)
{
    m_sceneManager = sceneManager;
}

Ogre::SceneManager* EffectManager::getSceneManager() const
{
    if (m_sceneManager)
        return m_sceneManager;
    Ogre::Root* root = Ogre::Root::getSingletonPtr();
    // Ask first: Root::getSceneManager() throws for unknown names.
    if (!root || !root->hasSceneManager(DEFAULT_SCENE_MANAGER))
        return nullptr;
    return root->getSceneManager(DEFAULT_SCENE_MANAGER);
}

Effect* EffectManager::getEffect(const std::string& name) const
{
    auto found = m_effects.find(name);
    return found == m_effects.end() ? nullptr : found->second.get();
}

std::size_t EffectManager::getNumEffects(const std::string& kind) const
{
    std::size_t count = 0;
    for (const auto& entry : m_effects)
        if (entry.second->getKind() == kind)
            ++count;
    return count;
}

const EffectTemplate* EffectManager::findTemplate(const std::string& name)
{
    if (name.empty())
        return nullptr;
    if (const EffectTemplate* found = findExact(name))
        return found;
    if (endsWith(name, "_l") || endsWith(name, "_r"))
        return findExact(name.substr(0, name.size() - 2));
    return nullptr;
}

const EffectTemplate* EffectManager::findExact(const std::string& name)
{
    auto registered = m_registered.find(name);
    if (registered != m_registered.end())
        return &registered->second;

    if (!m_tableRead)
        readTable();
    auto byName = m_tableByName.find(name);
    if (byName != m_tableByName.end())
        return &byName->second;
    if (isDecimal(name))
    {
        auto byId = m_tableById.find(std::strtoul(name.c_str(), nullptr, 10));
        if (byId != m_tableById.end())
            return &byId->second;
    }
    return nullptr;
}

void EffectManager::readTable()
{
    using avatar_detail::TableFileReader;
    m_tableRead = true;
    TableFileReader reader;
    // A missing or unreadable file, or anything but a regular file, gives no rows.
    if (!reader.load(TABLE_FILE))
        return;
    char* line = nullptr;
    std::size_t length = 0;
    std::vector<std::string> fields;
    for (TableFileReader::Line kind; (kind = reader.next(line, length)) != TableFileReader::Line::EndOfFile;)
    {
        if (kind == TableFileReader::Line::EndMark)
            break;
        if (kind == TableFileReader::Line::Comment)
            continue;
        // This table has never had the tables' line limit: a longer line is read as a row too.
        if (kind == TableFileReader::Line::TooLong)
            length = std::strlen(line);
        fields.clear();
        avatar_detail::forEachTableField(
            line, length, [&fields](const char* field, std::size_t size) { fields.emplace_back(field, size); });
        if (fields.size() != 5)
            continue;

        EffectTemplate row;
        row.particleTemplate = fields[2];
        row.material = fields[2];
        row.size = static_cast<float>(std::atof(fields[3].c_str()));
        row.speed = static_cast<float>(std::atof(fields[4].c_str()));
        // Keep the first row of a name or ID, as the keyed tables do.
        if (!fields[1].empty())
            m_tableByName.emplace(fields[1], row);
        if (isDecimal(fields[0]))
            m_tableById.emplace(std::strtoul(fields[0].c_str(), nullptr, 10), row);
    }
}
