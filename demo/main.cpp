// The demo host: does what a game client does with the avatar system. It obtains the system and
// either builds a lineup of avatars from the presets, creatures, NPCs and objects (some at once,
// some through the per-frame queue), animates them through IInstance and renders the lineup and
// a few moments of its motion, or (--crowd N) builds a crowd through the per-frame queue and
// measures what it costs; then prints what it built.
#include "crowd.h"
#include "host.h"
#include "lineup.h"
#include "options.h"

#include <avatarsystem/avatarsystemmanager.h>
#include <avatarsystem/characterinstance.h>

#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    Options options;
    if (const int exit = parseOptions(argc, argv, options); exit >= 0)
        return exit;
    char cwd[4096];
    const std::string startDir = getcwd(cwd, sizeof(cwd)) ? cwd : ".";
    for (std::string* path : {&options.output, &options.sheet, &options.gif})
        if ((*path)[0] != '/')
            *path = startDir + "/" + *path;
    if (chdir(options.content.c_str()) != 0)
    {
        std::fprintf(stderr, "avatar-demo: cannot enter the content directory '%s'\n", options.content.c_str());
        return 1;
    }

    // The lineup is a wide row; a crowd stands in a grid.
    Engine engine;
    if (options.crowd > 0)
        engine.start(startDir + "/avatar-demo.log", options.render, 1280, 720);
    else
        engine.start(startDir + "/avatar-demo.log", options.render, 1280, 480);
    Ogre::SceneManager* scene = engine.openScene(".");

    IAvatarSystem* system = IAvatarSystem::getSingletonPtr();
    // A broken table is reported before anything is built.
    if (!tablesOpen(AvatarSystemManager::getSingleton()))
    {
        system->release();
        engine.stop();
        return 1;
    }

    const int status = options.crowd > 0 ? runCrowd(options, engine, scene) : runLineup(options, engine, scene);

    system->release();
    CharacterInstance::clearEntityPools();
    engine.stop();
    return status;
}
