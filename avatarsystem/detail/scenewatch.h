#pragma once

#include <OgreMovableObject.h>
#include <OgreSceneManager.h>

#include <functional>
#include <unordered_map>

namespace avatar_detail
{

/// Notices when something other than the library destroys what the library holds in the host's
/// scene: an entity destroyed by the host or cleared with its scene, and the scene manager itself.
/// The holder then forgets the pointer instead of using freed memory. The library is the
/// MovableObject listener of every entity it makes; a host that sets a listener of its own on
/// one of them takes this notice away for that entity.
class SceneWatch : public Ogre::MovableObject::Listener, public Ogre::SceneManager::Listener
{
public:
    using Handler = std::function<void()>;

    /// The one watch of the process (never destroyed: OGRE may call it until the very end).
    static SceneWatch& instance();

    /// Runs onGone once if object is destroyed while watched; watching it again replaces the handler.
    void watch(Ogre::MovableObject* object, Handler onGone);
    /// Stops watching object: the library is about to destroy it itself, or hands it on.
    void unwatch(Ogre::MovableObject* object);
    bool isWatched(const Ogre::MovableObject* object) const;
    std::size_t getNumWatched() const { return m_objects.size(); }

    /// Runs onGone once when scene is destroyed, before the objects in it go.
    void watchScene(Ogre::SceneManager* scene, Handler onGone);
    void unwatchScene(Ogre::SceneManager* scene);

    void objectDestroyed(Ogre::MovableObject* object) override;
    void sceneManagerDestroyed(Ogre::SceneManager* source) override;

private:
    SceneWatch() = default;

    std::unordered_map<const Ogre::MovableObject*, Handler> m_objects;
    std::unordered_map<Ogre::SceneManager*, Handler> m_scenes;
};

/// Destroys an entity the library made: unwatched first, its animation states' blend masks freed
/// (the engine does not free them with the entity). Nothing for a null entity or scene.
void destroyOwnEntity(Ogre::SceneManager* scene, Ogre::Entity* entity, const char* where);

} // namespace avatar_detail
