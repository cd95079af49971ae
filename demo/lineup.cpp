// The demo's lineup: player avatars from the presets (alternately at once and through the
// per-frame queue), creatures, NPCs and objects by name and by ID, animated in a row; the lineup
// rendered into a PNG and a few moments of the motion into a contact sheet and an animated GIF.
#include "lineup.h"

#include "labels.h"
#include "pictures.h"

#include <avatarsystem/avatarsystemmanager.h>
#include <avatarsystem/characterinstance.h>
#include <avatarsystem/creaturedb.h>
#include <avatarsystem/creatureinstance.h>
#include <avatarsystem/ewchardb.h>

#include <Ogre.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <utility>

namespace
{

/// A label under an avatar: where it stands on the screen and what it says.
struct Label
{
    int centreX = 0;
    int top = 0; ///< window row just below the feet
    std::vector<std::string> lines;
};

/// A captured moment: the picture's rows of the window and the labels at that moment.
struct Moment
{
    Picture picture;
    int firstRow = 0; ///< the window row of the picture's top
    std::vector<Label> labels;
};

const unsigned char kInk[3] = {235, 235, 235};
const int kLabelSize = 13;     ///< pixels a line at full size
const int kSmallLabelSize = 9; ///< in the contact sheet's half-size tiles
const int kLabelLines = 3;     ///< a name and up to two lines of what it plays
const int kLabelLevels = 3;    ///< bands of labels under the feet
/// Rows under the feet kept for the labels, at full size and for the half-size tiles.
const int kLabelRows = std::max(kLabelLevels * TextPainter::labelHeight(kLabelLines, kLabelSize),
                                2 * kLabelLevels * TextPainter::labelHeight(2, kSmallLabelSize)) +
                       4;

/// The moment's picture with its labels, at full size or halved.
Picture labelled(const Moment& moment, TextPainter& text, bool half)
{
    Picture picture = half ? halve(moment.picture) : moment.picture;
    const int scale = half ? 2 : 1;
    const int size = half ? kSmallLabelSize : kLabelSize;
    // Left to right; a label that would overlap its left neighbour's goes a band lower.
    std::vector<int> rightEdge(kLabelLevels, std::numeric_limits<int>::min() / 2);
    for (const Label& label : moment.labels)
    {
        std::vector<std::string> lines = label.lines;
        if (half && lines.size() > 2)
        {
            // Small: the name, and what it plays in one line.
            for (std::size_t i = 2; i < lines.size(); ++i)
                lines[1] += " " + lines[i];
            lines.resize(2);
        }
        const int centre = label.centreX / scale, halfWidth = text.labelWidth(lines, size) / 2;
        int level = 0;
        while (level + 1 < kLabelLevels && centre - halfWidth < rightEdge[level] + 2)
            ++level;
        rightEdge[level] = centre + halfWidth;
        const int top =
            (label.top - moment.firstRow) / scale + level * TextPainter::labelHeight(half ? 2 : kLabelLines, size);
        text.label(picture, centre, top, lines, size, kInk);
    }
    return picture;
}

/// Writes the captured moments as the contact sheet (half size, two columns, each with its time)
/// and as the animated GIF (full size, at the pace of the animation), unless left out; each with
/// the avatars' labels.
bool writeMotionPictures(const Options& options, const std::vector<Moment>& moments, float momentStep,
                         TextPainter& text)
{
    if (!options.writeSheet && !options.writeGif)
        return true;
    if (moments.empty())
    {
        std::fprintf(stderr, "avatar-demo: no moments were captured: no contact sheet, no GIF\n");
        return false;
    }
    bool ok = true;
    std::string error;
    if (options.writeSheet)
    {
        std::vector<Picture> tiles;
        for (std::size_t i = 0; i < moments.size(); ++i)
        {
            char stamp[32];
            std::snprintf(stamp, sizeof(stamp), "t=%.2fs", momentStep * static_cast<float>(i));
            tiles.push_back(labelled(moments[i], text, true));
            drawText(tiles.back(), 6, 6, stamp, 2, kInk);
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
        std::vector<Picture> frames;
        for (const Moment& moment : moments)
            frames.push_back(labelled(moment, text, false));
        if (saveGif(frames, delay, options.gif, error))
            std::printf("wrote %zu frames (%d x %d, %d/100 s each) into %s\n", frames.size(), frames[0].width,
                        frames[0].height, delay, options.gif.c_str());
        else
        {
            std::fprintf(stderr, "avatar-demo: cannot write %s: %s\n", options.gif.c_str(), error.c_str());
            ok = false;
        }
    }
    return ok;
}

/// What an avatar plays now, in one or two short lines: its main animation (or the one whose last
/// frame it holds) and, over its legs, its overlay.
std::vector<std::string> playing(const Choreography::Actor& actor, const AnimationNamer& name)
{
    IInstance* instance = actor.instance;
    if (!instance || !instance->getEntityPtr())
        return {"(not built)"};
    const AnimationType whole = instance->searchAnimation(0);
    const AnimationType main = instance->searchAnimation(1);
    std::vector<std::string> lines;
    if (main != ANIM_NONE)
        lines.push_back(name(main));
    else
    {
        lines.push_back("still");
        const auto& events = actor.recorder.events();
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->kind == EventRecorder::Event::End && it->part != 2)
            {
                lines.back() = name(it->type) + ", held";
                break;
            }
    }
    if (whole != main)
        lines.push_back("+ " + name(instance->searchAnimation(2)));
    return lines;
}

/// The ground the lineup stands on: a lit plane at height 0 under the row and around it.
void addGround(Ogre::SceneManager* scene, float fromX, float toX)
{
    Ogre::MaterialPtr material = Ogre::MaterialManager::getSingleton().create("demo/ground", Ogre::RGN_DEFAULT);
    Ogre::Pass* pass = material->getTechnique(0)->getPass(0);
    pass->setDiffuse(0.32f, 0.36f, 0.3f, 1.0f);
    pass->setAmbient(0.32f, 0.36f, 0.3f);
    const float width = toX - fromX + 6.0f, depth = 8.0f;
    Ogre::MeshManager::getSingleton().createPlane("demo/ground", Ogre::RGN_DEFAULT,
                                                  Ogre::Plane(Ogre::Vector3::UNIT_Y, 0), width, depth, 1, 1, true, 1, 1,
                                                  1, Ogre::Vector3::UNIT_Z);
    Ogre::Entity* ground = scene->createEntity("demo/ground", "demo/ground");
    ground->setMaterial(material);
    ground->setCastShadows(false);
    scene->getRootSceneNode()
        ->createChildSceneNode(Ogre::Vector3(0.5f * (fromX + toX), 0.0f, 0.0f))
        ->attachObject(ground);
}

/// How far an avatar reaches from where it stands, sideways or forwards, with what it carries
/// (models and effects on its bones) in its current pose: a weapon held forward swings sideways.
float reachOf(Ogre::Entity* entity)
{
    entity->_updateAnimation();
    Ogre::AxisAlignedBox box = entity->getWorldBoundingBox(true);
    for (Ogre::MovableObject* carried : entity->getAttachedObjects())
        box.merge(carried->getWorldBoundingBox(true));
    if (!box.isFinite())
        return 0.5f;
    const Ogre::Vector3 at = entity->getParentSceneNode()->_getDerivedPosition();
    const Ogre::Vector3 low = box.getMinimum() - at, high = box.getMaximum() - at;
    return std::max({0.25f, -low.x, high.x, -low.z, high.z});
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
    // A little from above, so that the ground shows in front of the feet.
    const float distance = std::max(3.0f, rowWidth * 0.5f);
    cameraNode->setPosition(centre, 1.2f + 0.25f * distance, distance);
    cameraNode->lookAt(Ogre::Vector3(centre, 0.7f, 0.0f), Ogre::Node::TS_WORLD);
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
    collect(std::as_const(*creatures).getRecordMap(), "creature");
    collect(std::as_const(*npcs).getRecordMap(), "npc");
    collect(std::as_const(*objects).getRecordMap(), "object");
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

    // The host places each entity in its own scene graph: a row along x, each avatar as far from
    // its neighbours as it and what it carries reach, on a ground.
    const float gap = 0.2f;
    float x = 0.0f;
    std::vector<Ogre::SceneNode*> nodes;
    std::vector<std::size_t> placed; ///< the lineup index of each node
    Ogre::AxisAlignedBox everything;
    for (std::size_t i = 0; i < lineup.size(); ++i)
    {
        Ogre::Entity* entity = lineup[i].instance ? lineup[i].instance->getEntityPtr() : nullptr;
        if (!entity)
            continue;
        Ogre::SceneNode* node = scene->getRootSceneNode()->createChildSceneNode();
        node->attachObject(entity);
        node->_update(true, false);
        const float reach = reachOf(entity);
        node->setPosition(x + reach, 0.0f, 0.0f);
        node->_update(true, false);
        everything.merge(entity->getWorldBoundingBox(true));
        x += 2.0f * reach + gap;
        nodes.push_back(node);
        placed.push_back(i);
    }
    if (rendering)
        addGround(scene, 0.0f, x);

    // The show: a few moments of the motion, evenly spread over the span, each captured when
    // rendering. Headless, the same frames run so that the avatars report the same events.
    int status = 0;
    Ogre::Camera* camera = rendering ? setUpView(scene, engine.window(), x) : nullptr;
    const int framesPerMoment = std::max(1, static_cast<int>(std::lround(options.span / options.moments / dt)));
    const float momentDt = options.span / static_cast<float>(options.moments * framesPerMoment);
    const float momentStep = momentDt * static_cast<float>(framesPerMoment);
    std::vector<Moment> moments;
    int top = 0, bottom = 0;
    const int windowHeight = camera ? static_cast<int>(engine.window()->getHeight()) : 0;
    TextPainter text;
    std::string fontError;
    if (camera && !text.open(fontError))
        std::fprintf(stderr, "avatar-demo: the pictures go without labels: %s\n", fontError.c_str());
    // Each label's place: under the feet, centred on where the avatar stands.
    auto labelsNow = [&]()
    {
        std::vector<Label> labels;
        const Ogre::Matrix4 viewProj = camera->getProjectionMatrix() * camera->getViewMatrix();
        for (std::size_t n = 0; n < nodes.size(); ++n)
        {
            const Ogre::Vector3 feet = viewProj * nodes[n]->getPosition();
            Label label;
            label.centreX = static_cast<int>((feet.x + 1.0f) * 0.5f * static_cast<float>(engine.window()->getWidth()));
            label.top = static_cast<int>((1.0f - feet.y) * 0.5f * static_cast<float>(windowHeight)) + 4;
            label.lines = {lineup[placed[n]].instance->getName()};
            for (const std::string& line : playing(choreography.actors()[placed[n]], animationName))
                label.lines.push_back(line);
            labels.push_back(label);
        }
        return labels;
    };
    if (camera)
    {
        rowsCovering(*camera, everything, windowHeight, 0.05f, top, bottom);
        // Room for the labels under the feet.
        int lowest = bottom;
        for (const Label& label : labelsNow())
            lowest = std::max(lowest, label.top + kLabelRows);
        bottom = std::min(windowHeight, lowest + (lowest - top) % 2);
    }
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
                moments.push_back(Moment{grabRows(*engine.window(), top, bottom), top, labelsNow()});
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
            const Moment lineupNow{grabRows(*engine.window(), top, bottom), top, labelsNow()};
            std::string error;
            if (savePicture(labelled(lineupNow, text, false), options.output, error))
                std::printf("rendered the lineup into %s\n", options.output.c_str());
            else
            {
                std::fprintf(stderr, "avatar-demo: cannot write %s: %s\n", options.output.c_str(), error.c_str());
                status = 4;
            }
        }
        catch (const Ogre::Exception& e)
        {
            std::fprintf(stderr, "avatar-demo: rendering failed: %s\n", e.getDescription().c_str());
            status = 4;
        }
        if (!writeMotionPictures(options, moments, momentStep, text))
            status = 4;
    }
    else
        std::printf("headless: no pictures rendered (lineup, contact sheet, GIF)\n");

    for (Ogre::SceneNode* node : nodes)
        node->detachAllObjects();
    return status;
}
