// The demo's crowd: what a market square costs the host. Every avatar is asked for through the
// per-frame queue, so that the system builds one per update; then the crowd plays the lineup's
// parts while each frame is timed, the library's work apart from the engine's.
#include "crowd.h"
#include "labels.h"

#include <avatarsystem/avatarsystemmanager.h>
#include <avatarsystem/creaturedb.h>
#include <avatarsystem/ewchardb.h>
#include <effects/effectmanager.h>

#include <Ogre.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_set>
#include <unistd.h>

namespace
{

/// The process's resident memory in bytes, from /proc/self/statm; 0 when it cannot be read.
double residentBytes()
{
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (!file)
        return 0.0;
    unsigned long size = 0, resident = 0;
    const bool read = std::fscanf(file, "%lu %lu", &size, &resident) == 2;
    std::fclose(file);
    return read ? static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) : 0.0;
}

std::size_t materialCount()
{
    std::size_t n = 0;
    for (auto it = Ogre::MaterialManager::getSingleton().getResourceIterator(); it.hasMoreElements(); it.moveNext())
        ++n;
    return n;
}

/// What the host sees in the engine: entities in the scene, materials, live effects.
struct EngineObjects
{
    double entities = 0.0, materials = 0.0, effects = 0.0;

    static EngineObjects now(Ogre::SceneManager* scene)
    {
        EngineObjects objects;
        objects.entities = static_cast<double>(scene->getMovableObjects("Entity").size());
        objects.materials = static_cast<double>(materialCount());
        objects.effects = static_cast<double>(EffectManager::getSingletonPtr()->getNumEffects());
        return objects;
    }
};

/// Median, 95th percentile and maximum of @p samples, as "a / b / c ms".
std::string percentiles(std::vector<double> samples)
{
    if (samples.empty())
        return "- / - / - ms";
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    const std::size_t p95 = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(n))) - 1;
    char text[96];
    std::snprintf(text, sizeof(text), "%.3f / %.3f / %.3f ms", samples[n / 2], samples[std::min(p95, n - 1)],
                  samples.back());
    return text;
}

/// The engine's animation of entities, timed apart from the drawing. Rendering, the entity's own
/// update before it is drawn, which Root::renderOneFrame then finds done for the frame: the pose,
/// the bone matrices and the skinning of its vertices. Headless, as the entity would run it: when
/// its animation states changed since the last frame, the skeleton's pose from the enabled states
/// and the bone matrices for skinning. Entities that share a skeleton instance share its states and
/// its pose, which the engine computes once a frame for all of them.
class SkeletalUpdate
{
public:
    /// The entities of the avatars [@p first, @p last) of @p crowd.
    SkeletalUpdate(const std::vector<Built>& crowd, std::size_t first, std::size_t last, bool rendering)
        : m_rendering(rendering)
    {
        for (std::size_t i = first; i < last; ++i)
        {
            Ogre::Entity* entity = crowd[i].instance ? crowd[i].instance->getEntityPtr() : nullptr;
            if (!entity || !entity->hasSkeleton() || !entity->getAllAnimationStates())
                continue;
            m_entities.push_back(entity);
            m_matrices.resize(std::max<std::size_t>(m_matrices.size(), entity->getSkeleton()->getNumBones()));
        }
        m_last.resize(m_entities.size());
    }

    void run()
    {
        m_done.clear();
        for (std::size_t i = 0; i < m_entities.size(); ++i)
        {
            // A shared avatar's skeleton instance changes when it joins or leaves its group.
            Ogre::Entity* entity = m_entities[i];
            Ogre::SkeletonInstance* skeleton = entity->getSkeleton();
            const bool first = m_done.insert(skeleton).second;
            if (m_rendering)
                entity->_updateAnimation();
            if (m_rendering || !first)
                continue;
            const Seen seen{skeleton, entity->getAllAnimationStates()->getDirtyFrameNumber()};
            if (seen.skeleton == m_last[i].skeleton && seen.dirty == m_last[i].dirty)
                continue;
            m_last[i] = seen;
            skeleton->setAnimationState(*entity->getAllAnimationStates());
            skeleton->_getBoneMatrices(m_matrices.data());
        }
    }

    std::size_t size() const { return m_entities.size(); }
    /// The distinct skeleton instances of the last run.
    std::size_t instances() const { return m_done.size(); }

private:
    bool m_rendering;
    struct Seen
    {
        const Ogre::SkeletonInstance* skeleton = nullptr;
        unsigned long dirty = ~0ul;
    };
    std::vector<Ogre::Entity*> m_entities;
    std::vector<Seen> m_last;
    std::unordered_set<const Ogre::SkeletonInstance*> m_done;
    std::vector<Ogre::Affine3> m_matrices;
};

/// Light, camera and viewport, looking down at the crowd's box from the front so that it fills the window.
Ogre::Camera* frameTheCrowd(Ogre::SceneManager* scene, Ogre::RenderWindow* window, const Ogre::AxisAlignedBox& box)
{
    addSunlight(scene);

    Ogre::Camera* camera = scene->createCamera("crowd");
    camera->setNearClipDistance(0.1f);
    Ogre::Viewport* viewport = window->addViewport(camera);
    viewport->setBackgroundColour(Ogre::ColourValue(0.15f, 0.17f, 0.22f));
    const float aspect = Ogre::Real(viewport->getActualWidth()) / Ogre::Real(viewport->getActualHeight());
    camera->setAspectRatio(aspect);
    // Seen 30 degrees from above, the box fits the narrower of the two fields of view.
    const Ogre::Vector3 centre = box.getCenter();
    const float radius = 0.5f * box.getSize().length();
    const float halfFovY = 0.5f * camera->getFOVy().valueRadians();
    const float halfFov = std::min(halfFovY, std::atan(std::tan(halfFovY) * aspect));
    // The sphere is loose around a flat grid: two thirds of its distance still shows every avatar.
    const float distance = 0.65f * radius / std::sin(halfFov);
    const float up = Ogre::Math::DegreesToRadians(30.0f);
    Ogre::SceneNode* cameraNode = scene->getRootSceneNode()->createChildSceneNode();
    cameraNode->attachObject(camera);
    camera->setFarClipDistance(distance + 2.0f * radius + 10.0f);
    cameraNode->setPosition(centre + Ogre::Vector3(0.0f, std::sin(up), std::cos(up)) * distance);
    cameraNode->lookAt(centre, Ogre::Node::TS_WORLD);
    return camera;
}

/// Names the crowd's two parts in its picture: @p caption at the top, and a marker over the head
/// of the first shared avatar, which is at @p firstSharedHead.
void markTheSharedPart(Picture& picture, const Ogre::Camera& camera, const Ogre::Vector3& firstSharedHead,
                       const std::string& caption)
{
    TextPainter text;
    std::string error;
    if (!text.open(error))
    {
        std::fprintf(stderr, "avatar-demo: the crowd picture goes without its caption: %s\n", error.c_str());
        return;
    }
    const unsigned char ink[3] = {235, 235, 235}, amber[3] = {255, 200, 60};
    const int size = 15;
    text.label(picture, picture.width / 2, 6, {caption}, size, ink);
    const Ogre::Vector3 head = camera.getProjectionMatrix() * camera.getViewMatrix() * firstSharedHead;
    const int x = static_cast<int>((head.x + 1.0f) * 0.5f * static_cast<float>(picture.width));
    const int y = static_cast<int>((1.0f - head.y) * 0.5f * static_cast<float>(picture.height));
    text.label(picture, x, y - TextPainter::labelHeight(1, size) - 2, {"shared from here"}, size, amber);
}

} // namespace

int runCrowd(const Options& options, Engine& engine, Ogre::SceneManager* scene)
{
    IAvatarSystem* system = IAvatarSystem::getSingletonPtr();
    AvatarSystemManager& manager = AvatarSystemManager::getSingleton();
    const bool rendering = engine.window() != nullptr;
    const auto count = static_cast<std::size_t>(options.crowd);
    const double n = static_cast<double>(count);

    // The rows the crowd is made of.
    std::vector<std::string> presets;
    auto* presetTable = static_cast<EWBaseInfoDB*>(manager.getDB(DB_BASE_INFO));
    for (unsigned i = 0; i < presetTable->getNumRecords(); ++i)
        presets.push_back(presetTable->getRecord(i).getString(EWBaseInfoDB::Name));
    std::vector<const Record*> rows[3];
    const DB_NAME_e tables[3] = {DB_CREATURE, DB_NPC, DB_OBJECT};
    const char* const kinds[3] = {"creature", "npc", "object"};
    for (int k = 0; k < 3; ++k)
        for (const auto& entry : static_cast<const KeyedTextDataBase*>(manager.getDB(tables[k]))->getRecordMap())
            rows[k].push_back(&entry.second);

    const double residentBefore = residentBytes();
    const EngineObjects objectsBefore = EngineObjects::now(scene);

    // Every avatar through the queue: of eight, four players, two creatures, an NPC and an object.
    static const int pattern[8] = {-1, 0, -1, 1, -1, 0, -1, 2}; // -1: a player
    std::vector<Built> crowd;
    std::vector<DemoView> views(count);
    std::size_t nextPreset = 0, nextRow[3] = {0, 0, 0}, kindCounts[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < count; ++i)
    {
        int kind = pattern[i % 8];
        if (kind >= 0 && rows[kind].empty())
            kind = -1;
        auto* callback = new ENTITY_CALLBACK();
        callback->view = &views[i];
        Built built;
        if (kind < 0 && !presets.empty())
        {
            const PlayerSetting_t setting = manager.getPorpertiesFromDB(presets[nextPreset++ % presets.size()]);
            built.kind = "player";
            built.how = "by setting, queued";
            built.instance = system->createPlayer(setting, callback);
            ++kindCounts[0];
        }
        else if (kind >= 0)
        {
            built.kind = kinds[kind];
            built.row = rows[kind][nextRow[kind]++ % rows[kind].size()];
            // Creatures by ID; NPCs and objects by their setting (an ID looks in the creature table).
            if (kind == 0)
            {
                built.how = "by ID, queued";
                built.instance = system->createCreature(static_cast<unsigned long>(built.row->getUInt(0)), callback);
            }
            else
            {
                const std::string name = built.row->getString(CreatureDB::Name);
                built.how = "by setting, queued";
                built.instance = system->createCreature(
                    kind == 1 ? manager.getNpcFromDB(name) : manager.getObjectFromDB(name), callback);
            }
            ++kindCounts[kind + 1];
        }
        if (!built.instance)
            delete callback; // refused at once: the system did not take the record
        crowd.push_back(built);
    }

    Choreography choreography;
    castRoles(crowd, choreography);
    const AnimationNamer animationName = animationNamer(manager);
    float clock = 0.0f;
    const float dt = 1.0f / 30.0f;
    // The host's frame: the system builds at most one queued avatar, the script plays what is
    // due, every avatar advances. Returns the time it took in ms; updateMs gets the system's part.
    // The avatars [@p first, @p last): what the script plays and their updates, in ms.
    auto hostPart = [&](std::size_t first, std::size_t last)
    {
        const auto start = std::chrono::steady_clock::now();
        choreography.advance(clock, clock + dt, first, last);
        for (std::size_t i = first; i < last; ++i)
            if (crowd[i].instance)
                crowd[i].instance->update(true, dt);
        return millisecondsSince(start);
    };
    double updateMs = 0.0;
    auto libraryFrame = [&]
    {
        const auto start = std::chrono::steady_clock::now();
        system->update(dt);
        updateMs = millisecondsSince(start);
        hostPart(0, count);
        clock += dt;
        return millisecondsSince(start);
    };

    // The queue drains, one avatar a frame.
    const bool progress = isatty(STDOUT_FILENO);
    std::vector<bool> ready(count, false);
    double drainMs = 0.0, buildingMs = 0.0, longestMs = 0.0;
    int drainFrames = 0;
    while (manager.getNumRequests() > 0 && drainFrames < static_cast<int>(count) * 2 + 10)
    {
        const double ms = libraryFrame();
        ++drainFrames;
        drainMs += ms;
        buildingMs += updateMs;
        longestMs = std::max(longestMs, ms);
        for (std::size_t i = 0; i < count; ++i)
            if (!ready[i] && crowd[i].instance && crowd[i].instance->getEntityPtr())
            {
                ready[i] = true;
                crowd[i].buildMs = updateMs;
            }
        if (progress && drainFrames % 25 == 0)
        {
            std::printf("\rframe %d, %zu builds queued   ", drainFrames, manager.getNumRequests());
            std::fflush(stdout);
        }
    }
    if (progress)
        std::printf("\r%40s\r", "");
    const std::size_t built = static_cast<std::size_t>(std::count(ready.begin(), ready.end(), true));
    const double residentAfter = residentBytes();
    const EngineObjects objectsAfter = EngineObjects::now(scene);

    // The host stands the crowd in a grid, wider than deep.
    const float spacing = 1.6f;
    const std::size_t columns =
        std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(std::sqrt(1.8 * static_cast<double>(count)))));
    auto place = [&](std::size_t i) {
        return Ogre::Vector3(spacing * static_cast<float>(i % columns), 0.0f,
                             -spacing * static_cast<float>(i / columns));
    };
    std::vector<Ogre::SceneNode*> nodes;
    Ogre::AxisAlignedBox everything;
    for (std::size_t i = 0; i < count; ++i)
    {
        Ogre::Entity* entity = crowd[i].instance ? crowd[i].instance->getEntityPtr() : nullptr;
        if (!entity)
            continue;
        Ogre::SceneNode* node = scene->getRootSceneNode()->createChildSceneNode();
        node->attachObject(entity);
        node->setPosition(place(i));
        node->_update(true, false);
        everything.merge(entity->getWorldBoundingBox(true));
        nodes.push_back(node);
    }
    Ogre::Camera* camera =
        rendering && !everything.isNull() ? frameTheCrowd(scene, engine.window(), everything) : nullptr;

    // The back of the crowd, farthest from the camera, shares animation: the grid fills from the
    // front row by row, so these are its last avatars.
    const auto split = count - static_cast<std::size_t>(std::lround(0.01 * options.shared * n));
    std::size_t sharedLevel = 0;
    for (std::size_t i = split; i < count; ++i)
        if (crowd[i].instance && manager.setDetailLevel(crowd[i].instance, AvatarSystemManager::DETAIL_SHARED))
            ++sharedLevel;

    // The crowd plays its parts; each frame the library's work and the engine's are timed apart,
    // and each apart for the full-detail part [0, split) and the shared part [split, count).
    choreography.startShow(clock);
    const std::size_t bounds[3] = {0, split, count};
    std::vector<SkeletalUpdate> animation;
    for (int p = 0; p < 2; ++p)
        animation.emplace_back(crowd, bounds[p], bounds[p + 1], rendering);
    std::vector<double> libraryMs, engineMs, drawMs, partLibraryMs[2], partEngineMs[2];
    std::size_t sharing = 0, sharingSum = 0;
    int status = 0;
    for (int frame = 0; frame < options.frames; ++frame)
    {
        const auto library = std::chrono::steady_clock::now();
        system->update(dt);
        for (int p = 0; p < 2; ++p)
            partLibraryMs[p].push_back(hostPart(bounds[p], bounds[p + 1]));
        clock += dt;
        libraryMs.push_back(millisecondsSince(library));

        const auto start = std::chrono::steady_clock::now();
        try
        {
            for (int p = 0; p < 2 && status == 0; ++p)
            {
                const auto partStart = std::chrono::steady_clock::now();
                animation[p].run();
                partEngineMs[p].push_back(millisecondsSince(partStart));
            }
            const auto draw = std::chrono::steady_clock::now();
            if (rendering && status == 0)
            {
                engine.root()->renderOneFrame();
                drawMs.push_back(millisecondsSince(draw));
            }
        }
        catch (const Ogre::Exception& e)
        {
            std::fprintf(stderr, "avatar-demo: rendering failed: %s\n", e.getDescription().c_str());
            status = 4;
        }
        engineMs.push_back(millisecondsSince(start));
        sharing = 0;
        for (std::size_t i = split; i < count; ++i)
            sharing += crowd[i].instance && manager.isSharingPose(crowd[i].instance);
        sharingSum += sharing;
        if (progress && (frame + 1) % 10 == 0)
        {
            std::printf("\rframe %d of %d   ", frame + 1, options.frames);
            std::fflush(stdout);
        }
    }
    if (progress)
        std::printf("\r%40s\r", "");

    if (options.verbose)
    {
        for (std::size_t i = 0; i < count; ++i)
            std::printf("%s\n", describeInOneLine(crowd[i], choreography.actors()[i], animationName).c_str());
        std::printf("\n");
    }
    std::printf("crowd of %zu (%zu players, %zu creatures, %zu NPCs, %zu objects): %zu built through the queue\n",
                count, kindCounts[0], kindCounts[1], kindCounts[2], kindCounts[3], built);
    const auto perSecond = [built](double ms) { return ms > 0.0 ? 1000.0 * static_cast<double>(built) / ms : 0.0; };
    std::printf("build: %zu avatars in %d frames; %.3f s in the system's update: %.1f avatars/s; %.3f s of whole "
                "frames: %.1f avatars/s; longest frame %.3f ms\n",
                built, drainFrames, buildingMs / 1000.0, perSecond(buildingMs), drainMs / 1000.0, perSecond(drainMs),
                longestMs);
    std::printf("frame cost over %d frames, median / 95th percentile / max:\n", options.frames);
    std::printf("  library (the system's update, the host's animation calls, every avatar's update): %s\n",
                percentiles(libraryMs).c_str());
    const std::size_t entities = animation[0].size() + animation[1].size();
    if (rendering)
        std::printf("  engine (the animation of %zu entities: pose, bone matrices and skinning, then "
                    "Root::renderOneFrame: drawing): %s\n    of which drawing: %s\n",
                    entities, percentiles(engineMs).c_str(), percentiles(drawMs).c_str());
    else
        std::printf("  engine skeletal update of %zu entities (headless: pose and bone matrices): %s\n", entities,
                    percentiles(engineMs).c_str());
    if (options.shared > 0)
    {
        const char* const partNames[2] = {"full detail", "shared"};
        for (int p = 0; p < 2; ++p)
            std::printf("  %s, %zu avatars: library (the script's calls and their updates) %s; engine %s of %zu "
                        "entities in %zu skeleton instances %s\n",
                        partNames[p], bounds[p + 1] - bounds[p], percentiles(partLibraryMs[p]).c_str(),
                        rendering ? "animation" : "skeletal update", animation[p].size(), animation[p].instances(),
                        percentiles(partEngineMs[p]).c_str());
        std::printf("shared animation: %zu avatars at the shared level, %zu sharing a pose after the last frame "
                    "(%.1f on average), %zu shared poses\n",
                    sharedLevel, sharing, options.frames > 0 ? static_cast<double>(sharingSum) / options.frames : 0.0,
                    manager.getNumSharedPoses());
    }
    std::printf("memory: %.1f MB resident before the crowd, %.1f MB after it was built: %.1f KB per avatar\n",
                residentBefore / 1048576.0, residentAfter / 1048576.0, (residentAfter - residentBefore) / n / 1024.0);
    std::printf("engine objects per avatar: %.2f entities, %.2f material copies, %.2f effects\n",
                (objectsAfter.entities - objectsBefore.entities) / n,
                (objectsAfter.materials - objectsBefore.materials) / n,
                (objectsAfter.effects - objectsBefore.effects) / n);

    if (rendering && status == 0)
    {
        try
        {
            Picture picture = grabRows(*engine.window(), 0, static_cast<int>(engine.window()->getHeight()));
            if (camera && split < count)
            {
                char caption[160];
                std::snprintf(caption, sizeof(caption),
                              "in front: %zu avatars at full detail; the marked one, the rest of its row and the "
                              "rows behind: %zu at the shared level",
                              split, count - split);
                Ogre::Entity* first = crowd[split].instance ? crowd[split].instance->getEntityPtr() : nullptr;
                const float height = first ? first->getWorldBoundingBox(true).getMaximum().y : 2.0f;
                markTheSharedPart(picture, *camera, place(split) + Ogre::Vector3(0.0f, height, 0.0f), caption);
            }
            std::string error;
            if (savePicture(picture, options.output, error))
                std::printf("rendered the crowd into %s\n", options.output.c_str());
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
    }
    else if (!rendering)
        std::printf("headless: no picture rendered\n");

    for (Ogre::SceneNode* node : nodes)
        node->detachAllObjects();
    if (built != count)
        status = 3;
    return status;
}
