#include "avatarsystem/detail/scenewatch.h"

#include "avatarsystem/detail/bodysplit.h"
#include "avatarsystem/detail/ogreguard.h"

#include <OgreEntity.h>

namespace avatar_detail
{

SceneWatch& SceneWatch::instance()
{
    static SceneWatch* watch = new SceneWatch();
    return *watch;
}

void SceneWatch::watch(Ogre::MovableObject* object, Handler onGone)
{
    if (!object)
        return;
    m_objects[object] = std::move(onGone);
    object->setListener(this);
}

void SceneWatch::unwatch(Ogre::MovableObject* object)
{
    if (!object || m_objects.erase(object) == 0)
        return;
    if (object->getListener() == this)
        object->setListener(nullptr);
}

bool SceneWatch::isWatched(const Ogre::MovableObject* object) const
{
    return m_objects.count(object) != 0;
}

void SceneWatch::watchScene(Ogre::SceneManager* scene, Handler onGone)
{
    if (!scene)
        return;
    if (m_scenes.find(scene) == m_scenes.end())
        scene->addListener(this);
    m_scenes[scene] = std::move(onGone);
}

void SceneWatch::unwatchScene(Ogre::SceneManager* scene)
{
    if (scene && m_scenes.erase(scene) != 0)
        scene->removeListener(this);
}

void SceneWatch::objectDestroyed(Ogre::MovableObject* object)
{
    const auto it = m_objects.find(object);
    if (it == m_objects.end())
        return;
    // Taken out first: the handler may watch or unwatch other objects.
    Handler onGone = std::move(it->second);
    m_objects.erase(it);
    if (onGone)
        onGone();
}

void SceneWatch::sceneManagerDestroyed(Ogre::SceneManager* source)
{
    const auto it = m_scenes.find(source);
    if (it == m_scenes.end())
        return;
    Handler onGone = std::move(it->second);
    m_scenes.erase(it);
    if (onGone)
        onGone();
}

void destroyOwnEntity(Ogre::SceneManager* scene, Ogre::Entity* entity, const char* where)
{
    if (!scene || !entity)
        return;
    SceneWatch::instance().unwatch(entity);
    guarded(where,
            [&]
            {
                resetAnimation(entity);
                scene->destroyEntity(entity);
            });
}

} // namespace avatar_detail
