#pragma once

// What the demo's two runs, the lineup and the crowd, share as a game client: the engine (a GL
// window or headless), the record of each avatar built, the view told about queued avatars, the
// parts the avatars play and the one-line description of an avatar.

#include "choreography.h"

#include <avatarsystem/avatarinterface.h>

#include <OgrePrerequisites.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class AvatarSystemManager;
class Record;

namespace avatar_support
{
class HeadlessEngine;
}

/// The engine: a GL window when one can be opened, otherwise a root without a render system.
class Engine
{
public:
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    /// Starts the engine, its log in @p logFile. With @p render and a display, opens a GL window
    /// of @p width x @p height; when that fails, says why and runs headless. Returns true with a window.
    bool start(const std::string& logFile, bool render, unsigned width, unsigned height);
    /// Makes the content directory's resources known and the host's scene manager.
    Ogre::SceneManager* openScene(const std::string& directory);
    /// Destroys the scene manager and stops the engine.
    void stop();

    Ogre::Root* root() const { return m_root; }
    Ogre::RenderWindow* window() const { return m_window; }

private:
    bool startWindow(unsigned width, unsigned height);
    void stopWindowRoot();

    Ogre::LogManager* m_log = nullptr; ///< with a window only
    Ogre::Root* m_root = nullptr;      ///< the running root, either way
    Ogre::RenderWindow* m_window = nullptr;
    Ogre::SceneManager* m_scene = nullptr;
    std::unique_ptr<avatar_support::HeadlessEngine> m_headless;
};

/// One avatar as the host asked for it.
struct Built
{
    IInstance* instance = nullptr;
    std::string kind; ///< "player", "creature", "npc" or "object"
    std::string how;  ///< "by name, at once", "by setting, queued", ...
    double buildMs = -1.0;
    const Record* row = nullptr; ///< creatures, NPCs and objects: their table row
};

/// The host's view object for queued avatars: it learns when its avatar is ready.
class DemoView final : public IEntityView
{
public:
    void onInstanceReady(IInstance*, int) override { ++ready; }
    unsigned getViewKey() override { return 0; }
    void onCreatureReadyA(IInstance*, float) override { ++ready; }
    void onCreatureReadyB(IInstance*, float) override { ++ready; }
    int ready = 0;
};

inline double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

/// False, after naming each on standard error, when a table the demo needs cannot be opened.
bool tablesOpen(AvatarSystemManager& manager);

/// The soft ambient light and the directional "sun" the lineup and the crowd are drawn in.
void addSunlight(Ogre::SceneManager* scene);

/// The skeletal animation name of each type, from the animation table.
AnimationNamer animationNamer(AvatarSystemManager& manager);

/// Gives each avatar its part: players walk or run with attacks, casts and nods over their legs,
/// creatures prowl, NPCs idle or kneel, objects idle; the first creature (or, without one, the
/// last avatar) dies. Movement speeds: players' from the game, creatures' from their rows.
void castRoles(const std::vector<Built>& avatars, Choreography& choreography);

/// What the avatar carries: for players the models on their bones ("9 carried: helm_01_M.mesh,
/// ..."), for the others their effects ("2 effects: glow, sparks").
std::string attachments(const Built& built);

/// One line: ID, kind, name, how it was made, build time, attachments and what it plays now.
std::string describeInOneLine(const Built& built, const Choreography::Actor& actor, const AnimationNamer& name);

/// The full listing under that line: visible sub-entities, material copies, carried models,
/// the part and the animation events.
void printInFull(const Built& built, const Choreography::Actor& actor, const AnimationNamer& name);
