// The demo's lineup: player avatars from the presets (alternately at once and through the
// per-frame queue), creatures, NPCs and objects by name and by ID, animated in a row; the lineup
// rendered into a PNG and a few moments of the motion into a contact sheet and an animated GIF.
#include "lineup.h"

#include "pictures.h"

#include <avatarsystem/avatarsystemmanager.h>
#include <avatarsystem/characterinstance.h>
#include <avatarsystem/creaturedb.h>
#include <avatarsystem/creatureinstance.h>
#include <avatarsystem/ewchardb.h>

#include <Ogre.h>

#include <cmath>
#include <cstdio>
#include <map>

namespace
{

/// Writes the captured moments as the contact sheet (half size, two columns, each with its time)
/// and as the animated GIF (full size, at the pace of the animation), unless left out.
bool writeMotionPictures(const Options& options, const std::vector<Picture>& moments, float momentStep)
{
    if (!options.writeSheet && !options.writeGif)
        return true;
    if (moments.empty())
    {
        std::fprintf(stderr, "avatar-demo: no moments were captured: no contact sheet, no GIF\n");
        return false;
    }
    const unsigned char ink[3] = {230, 230, 230};
    bool ok = true;
    std::string error;
    if (options.writeSheet)
    {
        std::vector<Picture> tiles;
        for (std::size_t i = 0; i < moments.size(); ++i)
        {
            char label[32];
            std::snprintf(label, sizeof(label), "t=%.2fs", momentStep * static_cast<float>(i));
            tiles.push_back(halve(moments[i]));
            drawText(tiles.back(), 6, 6, label, 2, ink);
        }
        const unsigned char gap[3] = {90, 90, 100};
        if (savePicture(tile(tiles, 2, 4, gap), options.sheet, error))
            std::printf("wrote the contact sheet of %zu moments into %s\n", tiles.size(), options.sheet.c_str());
        else
        {
            std::fprintf(stderr, "avatar-demo: cannot write %s: %s\n", options.sheet.c_str(), error.c_str());
            ok = false;
        }
    }
    if (options.writeGif)
    {
        const int delay = std::max(2, static_cast<int>(std::lround(momentStep * 100.0f)));
        if (saveGif(moments, delay, options.gif, error))
            std::printf("wrote %zu frames (%d x %d, %d/100 s each) into %s\n", moments.size(), moments[0].width,
                        moments[0].height, delay, options.gif.c_str());
        else
        {
            std::fprintf(stderr, "avatar-demo: cannot write %s: %s\n", options.gif.c_str(), error.c_str());
            ok = false;
        }
    }
    return ok;
}

/// The scene's light, camera and the window's viewport, framing the row of width @p rowWidth.
Ogre::Camera* setUpView(Ogre::SceneManager* scene, Ogre::RenderWindow* window, float rowWidth)
{
    addSunlight(scene);
    Ogre::Camera* camera = scene->createCamera("lineup");
    camera->setNearClipDistance(0.1f);
    Ogre::SceneNode* cameraNode = scene->getRootSceneNode()->createChildSceneNode();
    cameraNode->attachObject(camera);
    const float centre = rowWidth * 0.5f;
    // The whole row fits the window's width (about 95 degrees across at this aspect ratio).
    cameraNode->setPosition(centre, 1.2f, std::max(3.0f, rowWidth * 0.5f));
    cameraNode->lookAt(Ogre::Vector3(centre, 0.9f, 0.0f), Ogre::Node::TS_WORLD);
    Ogre::Viewport* viewport = window->addViewport(camera);
    viewport->setBackgroundColour(Ogre::ColourValue(0.15f, 0.17f, 0.22f));
    camera->setAspectRatio(Ogre::Real(viewport->getActualWidth()) / Ogre::Real(viewport->getActualHeight()));
    return camera;
}

} // namespace

int runLineup(const Options& options, Engine& engine, Ogre::SceneManager* scene)
{
    IAvatarSystem* system = IAvatarSystem::getSingletonPtr();
    AvatarSystemManager& manager = AvatarSystemManager::getSingleton();
    const bool rendering = engine.window() != nullptr;

    // The lineup: presets first (alternately at once and queued), then creatures, NPCs and objects.
    auto* presets = static_cast<EWBaseInfoDB*>(manager.getDB(DB_BASE_INFO));
    auto* creatures = static_cast<CreatureDB*>(manager.getDB(DB_CREATURE));
    auto* npcs = static_cast<NpcDB*>(manager.getDB(DB_NPC));
    auto* objects = static_cast<ObjectDB*>(manager.getDB(DB_OBJECT));
    std::vector<Built> lineup;
    std::vector<DemoView> views(static_cast<std::size_t>(options.count));
    const int players = std::max(1, options.count / 2);
    unsigned presetIndex = 0;
    for (int i = 0; i < players && presetIndex < presets->getNumRecords(); ++i, ++presetIndex)
    {
        const std::string name = presets->getRecord(presetIndex).getString(EWBaseInfoDB::Name);
        Built built;
        built.kind = "player";
        const auto start = std::chrono::steady_clock::now();
        if (i % 2 == 0)
        {
            built.instance = system->createPlayer(name);
            built.how = "by name, at once";
            built.buildMs = millisecondsSince(start);
        }
        else
        {
            PlayerSetting_t setting = manager.getPorpertiesFromDB(name);
            // The presets name no effects: these players show every effect their items have.
            setting.weaponEffect = WeaponEffectVisible{1, 1, 1, 1, 1, 1, 1};
            auto* callback = new ENTITY_CALLBACK();
            callback->view = &views[lineup.size()];
            built.instance = system->createPlayer(setting, callback);
            built.how = "by setting, queued";
        }
        lineup.push_back(built);
    }
    // Creatures, NPCs and objects in turn, by name or by ID.
    std::vector<std::pair<std::string, const Record*>> others;
    auto collect = [&others](const std::map<unsigned, Record>& rows, const char* kind)
    {
        for (const auto& entry : rows)
            others.emplace_back(kind, &entry.second);
    };
    collect(creatures->getRecordMap(), "creature");
    collect(npcs->getRecordMap(), "npc");
    collect(objects->getRecordMap(), "object");
    std::size_t next[3] = {0, 0, 0};
    const char* kinds[3] = {"creature", "npc", "object"};
    for (int made = 0; static_cast<int>(lineup.size()) < options.count; ++made)
    {
        const char* kind = kinds[made % 3];
        std::size_t& cursor = next[made % 3];
        const Record* row = nullptr;
        for (std::size_t seen = 0; cursor < others.size() && !row; ++cursor, ++seen)
            if (others[cursor].first == kind)
                row = others[cursor].second;
        if (!row)
        {
            if (next[0] >= others.size() && next[1] >= others.size() && next[2] >= others.size())
                break;
            continue;
        }
        Built built;
        built.kind = kind;
        built.row = row;
        const std::string name = row->getString(CreatureDB::Name);
        const auto start = std::chrono::steady_clock::now();
        if (built.kind == "creature" && made % 2 == 1)
        {
            auto* callback = new ENTITY_CALLBACK();
            callback->view = &views[lineup.size()];
            built.instance = system->createCreature(static_cast<unsigned long>(row->getUInt(0)), callback);
            built.how = "by ID, queued";
        }
        else
        {
            if (built.kind == "creature")
                built.instance = system->createCreature(name);
            else if (built.kind == "npc")
                built.instance = manager.createNpc(name);
            else
                built.instance = manager.createObject(name);
            built.how = "by name, at once";
            built.buildMs = millisecondsSince(start);
        }
        lineup.push_back(built);
    }

    // The host's script: every avatar gets its part, its callback and its animations once built.
    Choreography choreography;
    castRoles(lineup, choreography);
    const AnimationNamer animationName = animationNamer(manager);
    float clock = 0.0f;
    // One frame as a game client drives it: the system builds at most one queued avatar, the
    // script plays what is due, then every avatar advances. Returns the system's time in ms.
    auto driveFrame = [&](float dt)
    {
        const auto start = std::chrono::steady_clock::now();
        system->update(dt);
        const double spent = millisecondsSince(start);
        choreography.advance(clock, clock + dt);
        clock += dt;
        for (const Built& b : lineup)
            if (b.instance)
                b.instance->update(true, dt);
        return spent;
    };

    // Frames: the system builds one queued avatar per update; the host advances every avatar.
    const float dt = 1.0f / 30.0f;
    for (int frame = 0; frame < options.frames || manager.getNumRequests() > 0; ++frame)
    {
        if (frame >= options.frames + static_cast<int>(lineup.size()) * 2)
            break; // requests that keep failing do not hold the demo forever
        std::vector<bool> before;
        for (const Built& b : lineup)
            before.push_back(b.instance && b.instance->getEntityPtr());
        const double spent = driveFrame(dt);
        for (std::size_t i = 0; i < lineup.size(); ++i)
            if (!before[i] && lineup[i].instance && lineup[i].instance->getEntityPtr())
                lineup[i].buildMs = spent;
        std::printf("\rframe %d, %zu builds queued   ", frame + 1, manager.getNumRequests());
        std::fflush(stdout);
    }
    std::printf("\n");

    // The host places each entity in its own scene graph: a row along x.
    float x = 0.0f;
    std::vector<Ogre::SceneNode*> nodes;
    Ogre::AxisAlignedBox everything;
    for (const Built& b : lineup)
    {
        Ogre::Entity* entity = b.instance ? b.instance->getEntityPtr() : nullptr;
        if (!entity)
            continue;
        const Ogre::AxisAlignedBox& box = entity->getBoundingBox();
        const float halfWidth = box.isFinite() ? std::max(0.25f, 0.5f * box.getSize().x) : 0.5f;
        Ogre::SceneNode* node = scene->getRootSceneNode()->createChildSceneNode();
        node->attachObject(entity);
        node->setPosition(x + halfWidth, 0.0f, 0.0f);
        node->_update(true, false);
        everything.merge(entity->getWorldBoundingBox(true));
        x += 2.0f * halfWidth + 0.4f;
        nodes.push_back(node);
    }

    // The show: a few moments of the motion, evenly spread over the span, each captured when
    // rendering. Headless, the same frames run so that the avatars report the same events.
    int status = 0;
    Ogre::Camera* camera = rendering ? setUpView(scene, engine.window(), x) : nullptr;
    const int framesPerMoment = std::max(1, static_cast<int>(std::lround(options.span / options.moments / dt)));
    const float momentDt = options.span / static_cast<float>(options.moments * framesPerMoment);
    const float momentStep = momentDt * static_cast<float>(framesPerMoment);
    std::vector<Picture> moments;
    int top = 0, bottom = 0;
    if (camera)
        rowsCovering(*camera, everything, static_cast<int>(engine.window()->getHeight()), 0.05f, top, bottom);
    const bool capture = camera && (options.writeSheet || options.writeGif);
    choreography.startShow(clock);
    for (int moment = 0; moment < options.moments; ++moment)
    {
        for (int frame = 0; moment > 0 && frame < framesPerMoment; ++frame)
            driveFrame(momentDt);
        if (capture && status == 0)
        {
            try
            {
                engine.root()->renderOneFrame();
                moments.push_back(grabRows(*engine.window(), top, bottom));
            }
            catch (const Ogre::Exception& e)
            {
                std::fprintf(stderr, "avatar-demo: capturing a moment failed: %s\n", e.getDescription().c_str());
                status = 4;
            }
        }
        std::printf("\rmoment %d of %d   ", moment + 1, options.moments);
        std::fflush(stdout);
    }
    std::printf("\n");

    std::printf("\n");
    int built = 0;
    std::size_t totalCopies = 0, totalCarried = 0;
    double totalMs = 0.0;
    for (std::size_t i = 0; i < lineup.size(); ++i)
    {
        const Built& b = lineup[i];
        IInstance* instance = b.instance;
        if (instance && instance->getInstanceType() == INSTANCE_CHARACTER)
        {
            auto* player = static_cast<CharacterInstance*>(instance);
            totalCopies += player->getMaterialCopies().size();
            totalCarried += player->getCarriedModels().size();
        }
        else if (instance)
            totalCopies += static_cast<CreatureInstance*>(instance)->getClonedMaterials().size();
        if (instance && instance->getEntityPtr())
        {
            ++built;
            totalMs += b.buildMs >= 0.0 ? b.buildMs : 0.0;
        }
        const Choreography::Actor& actor = choreography.actors()[i];
        std::printf("%s\n", describeInOneLine(b, actor, animationName).c_str());
        if (options.verbose)
            printInFull(b, actor, animationName);
    }
    std::printf("\n%d of %zu avatars built in %.2f ms, %zu material copies, %zu carried models, %zu entities in the "
                "scene\n",
                built, lineup.size(), totalMs, totalCopies, totalCarried, scene->getMovableObjects("Entity").size());
    std::printf("%.2f s of animation driven, %d moments over the last %.2f s\n", clock, options.moments,
                momentStep * static_cast<float>(options.moments - 1));

    if (built != static_cast<int>(lineup.size()))
        status = 3;
    if (rendering)
    {
        try
        {
            engine.root()->renderOneFrame();
            engine.window()->writeContentsToFile(options.output);
            std::printf("rendered the lineup into %s\n", options.output.c_str());
        }
        catch (const Ogre::Exception& e)
        {
            std::fprintf(stderr, "avatar-demo: rendering failed: %s\n", e.getDescription().c_str());
            status = 4;
        }
        if (!writeMotionPictures(options, moments, momentStep))
            status = 4;
    }
    else
        std::printf("headless: no pictures rendered (lineup, contact sheet, GIF)\n");

    for (Ogre::SceneNode* node : nodes)
        node->detachAllObjects();
    return status;
}
