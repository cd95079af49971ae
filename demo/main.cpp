// The demo host: does what a game client does with the avatar system. It obtains the system,
// creates a lineup of player avatars from the presets and creatures, NPCs and objects by name
// and by ID (some at once, some through the per-frame queue), drives frames, plays animations on
// every avatar through IInstance, places the entities in a row and renders the scene: the lineup
// into a PNG, a few moments of the motion into a contact sheet and an animated GIF; then prints
// what it built and the animation events each avatar reported.
#include "choreography.h"
#include "pictures.h"

#include <avatarsystem/animationdb.h>
#include <avatarsystem/attachmodel.h>
#include <avatarsystem/avatarsystemmanager.h>
#include <avatarsystem/characterinstance.h>
#include <avatarsystem/creaturedb.h>
#include <avatarsystem/creatureinstance.h>
#include <avatarsystem/ewchardb.h>

#include <Ogre.h>
#include <OgreDefaultHardwareBufferManager.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

struct Options
{
    std::string content = ".";
    std::string output = "avatars.png";
    std::string sheet; ///< empty: beside the lineup, named after it ("avatars_sheet.png")
    std::string gif;   ///< empty: beside the lineup, named after it ("avatars.gif")
    bool writeSheet = true;
    bool writeGif = true;
    int count = 12;
    int frames = 60;
    int moments = 12;
    float span = 2.4f;
    bool render = true;
};

struct TableName
{
    DB_NAME_e name;
    const char* file;
};

const TableName kTables[] = {
    {DB_CHAR_RACES, EWCharRacesDB::layout().fileName.c_str()},
    {DB_CHAR_SECTIONS, EWCharSectionsDB::layout().fileName.c_str()},
    {DB_CHAR_HAIR_GEO, EWCharHairGeoDB::layout().fileName.c_str()},
    {DB_CHAR_FACIAL_HAIR, EWCharFacialHairDB::layout().fileName.c_str()},
    {DB_ITEM, EWItemDB::layout().fileName.c_str()},
    {DB_WEARING, EWWearingDB::layout().fileName.c_str()},
    {DB_BASE_INFO, EWBaseInfoDB::layout().fileName.c_str()},
    {DB_CREATURE, CreatureDB::layout().fileName.c_str()},
    {DB_NPC, NpcDB::layout().fileName.c_str()},
    {DB_OBJECT, ObjectDB::layout().fileName.c_str()},
    {DB_ANIMATION, AnimationDB::layout().fileName.c_str()},
};

void usage(std::FILE* out)
{
    std::fprintf(out, "usage: avatar-demo [--content DIR] [--output FILE.png] [--sheet FILE.png | --no-sheet]\n"
                      "                   [--gif FILE.gif | --no-gif] [--count N] [--frames N] [--moments N]\n"
                      "                   [--span SECONDS] [--no-render]\n"
                      "  --content DIR   the content pack: tables, meshes, materials, textures (default .)\n"
                      "  --output FILE   the rendered lineup (default avatars.png)\n"
                      "  --sheet FILE    the contact sheet of the moments (default: the lineup's name + _sheet.png)\n"
                      "  --gif FILE      the moments as an animated GIF (default: the lineup's name + .gif)\n"
                      "  --no-sheet, --no-gif   leave that picture out\n"
                      "  --count N       how many avatars to build (default 12)\n"
                      "  --frames N      frames (1/30 s) to drive after creating them (default 60)\n"
                      "  --moments N     moments of the motion captured after those frames (default 12)\n"
                      "  --span SECONDS  animation time the moments cover (default 2.4)\n"
                      "  --no-render     run headless: no window, no pictures, only the summary\n");
}

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--content" && hasValue)
            options.content = argv[++i];
        else if (arg == "--output" && hasValue)
            options.output = argv[++i];
        else if (arg == "--count" && hasValue)
            options.count = std::atoi(argv[++i]);
        else if (arg == "--frames" && hasValue)
            options.frames = std::atoi(argv[++i]);
        else if (arg == "--sheet" && hasValue)
            options.sheet = argv[++i];
        else if (arg == "--gif" && hasValue)
            options.gif = argv[++i];
        else if (arg == "--no-sheet")
            options.writeSheet = false;
        else if (arg == "--no-gif")
            options.writeGif = false;
        else if (arg == "--moments" && hasValue)
            options.moments = std::atoi(argv[++i]);
        else if (arg == "--span" && hasValue)
            options.span = static_cast<float>(std::atof(argv[++i]));
        else if (arg == "--no-render")
            options.render = false;
        else if (arg == "--help" || arg == "-h")
        {
            usage(stdout);
            std::exit(0);
        }
        else
        {
            std::fprintf(stderr, "avatar-demo: unknown option '%s'\n", arg.c_str());
            usage(stderr);
            return false;
        }
    }
    if (options.count < 1 || options.frames < 0)
    {
        std::fprintf(stderr, "avatar-demo: --count must be at least 1 and --frames at least 0\n");
        return false;
    }
    if (options.moments < 1 || options.moments > 100 || !(options.span > 0.0f && options.span <= 60.0f))
    {
        std::fprintf(stderr, "avatar-demo: --moments must be 1 to 100 and --span above 0 and at most 60\n");
        return false;
    }
    // The other pictures go beside the lineup and are named after it.
    const std::size_t dot = options.output.rfind('.');
    const std::size_t slash = options.output.rfind('/');
    const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                                 ? options.output.substr(0, dot)
                                 : options.output;
    if (options.sheet.empty())
        options.sheet = stem + "_sheet.png";
    if (options.gif.empty())
        options.gif = stem + ".gif";
    return true;
}

/// The engine: a GL window when one can be opened, otherwise a root without a render system.
struct Engine
{
    Ogre::LogManager* log = nullptr;
    Ogre::Root* root = nullptr;
    Ogre::RenderWindow* window = nullptr;
    Ogre::DefaultHardwareBufferManager* buffers = nullptr;
    Ogre::TextureManager* textures = nullptr;

    /// The engine's log goes to logFile, never into the content directory.
    void startRoot(const std::string& logFile)
    {
        log = new Ogre::LogManager();
        log->createLog(logFile, true, false, false);
        root = new Ogre::Root("", "", logFile);
    }

    bool startWindow()
    {
        if (!std::getenv("DISPLAY"))
            return false;
        try
        {
            const std::string plugins = AVATARSYSTEM_OGRE_PLUGIN_DIR;
            root->loadPlugin(plugins + "/RenderSystem_GL");
            try
            {
                root->loadPlugin(plugins + "/Codec_STBI");
            }
            catch (const Ogre::Exception&)
            {
            }
            Ogre::RenderSystem* gl = root->getRenderSystemByName("OpenGL Rendering Subsystem");
            if (!gl)
                return false;
            root->setRenderSystem(gl);
            root->initialise(false);
            window = root->createRenderWindow("Avatar lineup", 1280, 480, false);
            return true;
        }
        catch (const Ogre::Exception& e)
        {
            std::fprintf(stderr, "avatar-demo: no GL (%s); running headless\n", e.getDescription().c_str());
            return false;
        }
    }

    void startHeadless()
    {
        buffers = new Ogre::DefaultHardwareBufferManager();
        textures = new Ogre::DefaultTextureManager();
        Ogre::MaterialManager::getSingleton().initialise();
    }

    void stop()
    {
        // Resources go while the buffer and texture managers they were made with still exist.
        if (root)
            root->shutdown();
        delete textures;
        delete buffers;
        delete root;
        delete log;
    }
};

struct Built
{
    IInstance* instance = nullptr;
    std::string kind;
    std::string how;
    double buildMs = -1.0;
    const Record* row = nullptr; ///< creatures, NPCs and objects: their table row
};

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

/// The host's view object for queued avatars: it learns when its avatar is ready.
class DemoView : public IEntityView
{
public:
    void onInstanceReady(IInstance*, int) override { ++ready; }
    unsigned getViewKey() override { return 0; }
    void onCreatureReadyA(IInstance*, float) override { ++ready; }
    void onCreatureReadyB(IInstance*, float) override { ++ready; }
    int ready = 0;
};

std::vector<std::string> visibleSubEntities(Ogre::Entity* entity)
{
    std::vector<std::string> names;
    if (!entity)
        return names;
    const Ogre::Mesh::SubMeshNameMap& map = entity->getMesh()->getSubMeshNameMap();
    std::map<unsigned, std::string> byIndex;
    for (const auto& entry : map)
        byIndex[static_cast<unsigned>(entry.second)] = entry.first;
    for (unsigned i = 0; i < entity->getNumSubEntities(); ++i)
        if (entity->getSubEntity(i)->isVisible())
            names.push_back(byIndex.count(i) ? byIndex[i] : std::to_string(i));
    return names;
}

/// Prints "label (n): item item ..." wrapped at 110 columns under a common indent; with
/// @p commas the items are separated by commas.
/// Each model a player carries: place, item, mesh, bone and effect, e.g.
/// "head 101 helm_01_M.mesh on helm", "shoulder 201 pauldron_l.mesh on shoulder_l [glow]".
std::vector<std::string> carriedModels(const CharacterInstance& player)
{
    static const char* const places[] = {"head",      "shoulder", "boot",        "belt",        "shirt",
                                         "pants",     "two-hand", "shield",      "glove",       "right hand",
                                         "left hand", "back",     "back shield", "right waist", "left waist"};
    std::vector<std::string> lines;
    for (const CharacterInstance::CarriedModel& carried : player.getCarriedModels())
    {
        std::string line = carried.slot >= 0 && carried.slot < 15 ? places[carried.slot] : "?";
        line += " " + std::to_string(carried.itemID);
        if (const Ogre::Entity* entity = carried.model ? carried.model->getEntity() : nullptr)
            line += " " + entity->getMesh()->getName();
        if (carried.model && !carried.model->getBoneName().empty())
            line += " on " + carried.model->getBoneName();
        if (carried.model && !carried.model->getEffectName().empty())
            line += " [" + carried.model->getEffectName() + "]";
        lines.push_back(line);
    }
    return lines;
}

void printWrapped(const char* label, const std::vector<std::string>& items, bool commas = false)
{
    const std::string head = std::string("     ") + label + " (" + std::to_string(items.size()) + "):";
    std::string line = head;
    for (std::size_t i = 0; i < items.size(); ++i)
    {
        const std::string item = items[i] + (commas && i + 1 < items.size() ? "," : "");
        if (line.size() + 1 + item.size() > 110 && line.size() > head.size())
        {
            std::printf("%s\n", line.c_str());
            line = std::string(head.size(), ' ');
        }
        line += " " + item;
    }
    std::printf("%s\n", line.c_str());
}

/// Gives each avatar its part: players walk or run with attacks, casts and nods over their legs,
/// creatures prowl, NPCs idle or kneel, objects idle; the first creature (or, without one, the
/// last avatar) dies. Movement speeds: players' from the game, creatures' from their rows.
void castRoles(const std::vector<Built>& lineup, Choreography& choreography)
{
    std::size_t dying = lineup.size() > 1 ? lineup.size() - 1 : lineup.size();
    for (std::size_t i = 0; i < lineup.size(); ++i)
        if (lineup[i].kind == "creature")
        {
            dying = i;
            break;
        }
    int players = 0, creatures = 0, npcs = 0;
    for (std::size_t i = 0; i < lineup.size(); ++i)
    {
        const Built& b = lineup[i];
        if (i == dying)
        {
            choreography.add(b.instance, Role::Dying, 0, 0.0f, 0.0f);
            continue;
        }
        if (b.kind == "player")
        {
            const int p = players++;
            static const Role roles[3] = {Role::Walker, Role::Runner, Role::Nodder};
            choreography.add(b.instance, roles[p % 3], p / 3, 6.0f + 0.8f * static_cast<float>(p % 3),
                             2.0f + 0.3f * static_cast<float>(p % 3));
        }
        else if (b.kind == "creature")
        {
            const float scale = b.row ? b.row->getFloat(CreatureDB::Scale) : 1.0f;
            const float run = b.row ? b.row->getFloat(CreatureDB::RunSpeed) * scale : 0.0f;
            const float walk = b.row ? b.row->getFloat(CreatureDB::WalkSpeed) * scale : 0.0f;
            choreography.add(b.instance, Role::Prowler, creatures++, run, walk);
        }
        else if (b.kind == "npc")
        {
            const int n = npcs++;
            choreography.add(b.instance, n == 1 ? Role::Kneeler : Role::Idler, n, 0.0f, 0.0f);
        }
        else
            choreography.add(b.instance, Role::Prop, 0, 0.0f, 0.0f);
    }
}

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
    scene->setAmbientLight(Ogre::ColourValue(0.6f, 0.6f, 0.6f));
    Ogre::Light* light = scene->createLight("sun");
    light->setType(Ogre::Light::LT_DIRECTIONAL);
    Ogre::SceneNode* lightNode = scene->getRootSceneNode()->createChildSceneNode();
    lightNode->attachObject(light);
    lightNode->setDirection(Ogre::Vector3(-0.3f, -0.6f, -1.0f).normalisedCopy());
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

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options))
        return 2;
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

    const std::string logFile = startDir + "/avatar-demo.log";
    Engine engine;
    engine.startRoot(logFile);
    const bool rendering = options.render && engine.startWindow();
    if (!rendering)
    {
        // A failed GL start may leave the root half set up: start again without a render system.
        engine.stop();
        engine = Engine();
        engine.startRoot(logFile);
        engine.startHeadless();
    }
    Ogre::ResourceGroupManager& resources = Ogre::ResourceGroupManager::getSingleton();
    resources.addResourceLocation(".", "FileSystem", Ogre::RGN_DEFAULT);
    resources.initialiseAllResourceGroups();
    Ogre::SceneManager* scene =
        engine.root->createSceneManager(Ogre::DefaultSceneManagerFactory::FACTORY_TYPE_NAME, "Everwind");

    IAvatarSystem* system = IAvatarSystem::getSingletonPtr();
    AvatarSystemManager& manager = AvatarSystemManager::getSingleton();

    // A broken table is reported before anything is built.
    int brokenTables = 0;
    for (const TableName& table : kTables)
        if (!manager.getDB(table.name))
        {
            std::fprintf(stderr,
                         "avatar-demo: the table '%s' cannot be opened (missing, or a row with the wrong "
                         "number of columns; avatar-tablecheck tells which)\n",
                         table.file);
            ++brokenTables;
        }
    if (brokenTables)
    {
        system->release();
        engine.stop();
        return 1;
    }

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
    auto* animations = static_cast<AnimationDB*>(manager.getDB(DB_ANIMATION));
    const AnimationNamer animationName = [animations](AnimationType type) -> std::string
    {
        const Record* row = animations->getByType(static_cast<unsigned>(type));
        return row ? row->getString(AnimationDB::AnimName) : "";
    };
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
    Ogre::Camera* camera = rendering ? setUpView(scene, engine.window, x) : nullptr;
    const int framesPerMoment = std::max(1, static_cast<int>(std::lround(options.span / options.moments / dt)));
    const float momentDt = options.span / static_cast<float>(options.moments * framesPerMoment);
    const float momentStep = momentDt * static_cast<float>(framesPerMoment);
    std::vector<Picture> moments;
    int top = 0, bottom = 0;
    if (camera)
        rowsCovering(*camera, everything, static_cast<int>(engine.window->getHeight()), 0.05f, top, bottom);
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
                engine.root->renderOneFrame();
                moments.push_back(grabRows(*engine.window, top, bottom));
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

    int built = 0;
    std::size_t totalCopies = 0, totalCarried = 0;
    double totalMs = 0.0;
    std::printf("\n");
    for (std::size_t i = 0; i < lineup.size(); ++i)
    {
        const Built& b = lineup[i];
        IInstance* instance = b.instance;
        Ogre::Entity* entity = instance ? instance->getEntityPtr() : nullptr;
        std::vector<std::string> copies;
        if (instance && instance->getInstanceType() == INSTANCE_CHARACTER)
            copies = static_cast<CharacterInstance*>(instance)->getMaterialCopies();
        else if (instance)
            copies = static_cast<CreatureInstance*>(instance)->getClonedMaterials();
        totalCopies += copies.size();
        built += entity ? 1 : 0;
        char ms[32] = "-";
        if (entity && b.buildMs >= 0.0)
        {
            std::snprintf(ms, sizeof(ms), "%.2f ms", b.buildMs);
            totalMs += b.buildMs;
        }
        std::printf("#%-3lu %-8s %-20s %-18s entity %-20s built in %s\n", instance ? instance->getUniqueID() : 0ul,
                    b.kind.c_str(), instance ? instance->getName().c_str() : "?", b.how.c_str(),
                    entity ? entity->getName().c_str() : "(not built)", ms);
        printWrapped("visible", visibleSubEntities(entity));
        printWrapped("copies", copies);
        if (instance && instance->getInstanceType() == INSTANCE_CHARACTER)
        {
            const std::vector<std::string> carried = carriedModels(*static_cast<CharacterInstance*>(instance));
            totalCarried += carried.size();
            printWrapped("carries", carried, true);
        }
        const Choreography::Actor& actor = choreography.actors()[i];
        std::printf("     part: %s; now: %s\n", roleName(actor.role),
                    Choreography::current(actor, animationName).c_str());
        printWrapped("animation events", actor.recorder.describe(animationName), true);
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
            engine.root->renderOneFrame();
            engine.window->writeContentsToFile(options.output);
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
    system->release();
    CharacterInstance::clearEntityPools();
    engine.root->destroySceneManager(scene);
    engine.stop();
    return status;
}
