#include "host.h"

#include "support/headlessengine.h"

#include <avatarsystem/animationdb.h>
#include <avatarsystem/attachmodel.h>
#include <avatarsystem/avatarsystemmanager.h>
#include <avatarsystem/characterinstance.h>
#include <avatarsystem/creaturedb.h>
#include <avatarsystem/creatureinstance.h>
#include <avatarsystem/ewchardb.h>

#include <Ogre.h>

#include <cstdio>
#include <cstdlib>
#include <map>

Engine::Engine() = default;

Engine::~Engine()
{
    stop();
}

bool Engine::start(const std::string& logFile, bool render, unsigned width, unsigned height)
{
    if (render && std::getenv("DISPLAY"))
    {
        // The engine's log goes to its file, never to the console or into the content directory.
        m_log = new Ogre::LogManager();
        m_log->createLog(logFile, true, false, false);
        m_root = new Ogre::Root("", "", logFile);
        if (startWindow(width, height))
            return true;
        // A failed GL start may leave the root half set up: start again without a render system.
        stopWindowRoot();
    }
    m_headless = std::make_unique<avatar_support::HeadlessEngine>(logFile);
    m_root = &m_headless->root();
    return false;
}

bool Engine::startWindow(unsigned width, unsigned height)
{
    try
    {
        const std::string plugins = AVATARSYSTEM_OGRE_PLUGIN_DIR;
        m_root->loadPlugin(plugins + "/RenderSystem_GL");
        try
        {
            m_root->loadPlugin(plugins + "/Codec_STBI");
        }
        catch (const Ogre::Exception&)
        {
        }
        Ogre::RenderSystem* gl = m_root->getRenderSystemByName("OpenGL Rendering Subsystem");
        if (!gl)
            return false;
        m_root->setRenderSystem(gl);
        m_root->initialise(false);
        m_window = m_root->createRenderWindow("Avatars", width, height, false);
        return true;
    }
    catch (const Ogre::Exception& e)
    {
        std::fprintf(stderr, "avatar-demo: no GL (%s); running headless\n", e.getDescription().c_str());
        return false;
    }
}

void Engine::stopWindowRoot()
{
    if (m_root && !m_headless)
    {
        m_root->shutdown();
        delete m_root;
    }
    delete m_log;
    m_root = nullptr;
    m_log = nullptr;
    m_window = nullptr;
}

Ogre::SceneManager* Engine::openScene(const std::string& directory)
{
    if (m_headless)
    {
        m_headless->addContentDirectory(directory, Ogre::RGN_DEFAULT);
        m_scene = m_headless->createSceneManager();
    }
    else
    {
        Ogre::ResourceGroupManager& resources = Ogre::ResourceGroupManager::getSingleton();
        resources.addResourceLocation(directory, "FileSystem", Ogre::RGN_DEFAULT);
        resources.initialiseAllResourceGroups();
        m_scene = m_root->createSceneManager(Ogre::DefaultSceneManagerFactory::FACTORY_TYPE_NAME,
                                             avatar_support::kSceneManagerName);
    }
    return m_scene;
}

void Engine::stop()
{
    if (m_scene)
    {
        if (m_headless)
            m_headless->destroySceneManager();
        else
            m_root->destroySceneManager(m_scene);
        m_scene = nullptr;
    }
    if (m_headless)
    {
        m_headless.reset();
        m_root = nullptr;
    }
    else
        stopWindowRoot();
}

bool tablesOpen(AvatarSystemManager& manager)
{
    struct TableName
    {
        DB_NAME_e name;
        const std::string& file;
    };
    const TableName tables[] = {
        {DB_CHAR_RACES, EWCharRacesDB::layout().fileName},
        {DB_CHAR_SECTIONS, EWCharSectionsDB::layout().fileName},
        {DB_CHAR_HAIR_GEO, EWCharHairGeoDB::layout().fileName},
        {DB_CHAR_FACIAL_HAIR, EWCharFacialHairDB::layout().fileName},
        {DB_ITEM, EWItemDB::layout().fileName},
        {DB_WEARING, EWWearingDB::layout().fileName},
        {DB_BASE_INFO, EWBaseInfoDB::layout().fileName},
        {DB_CREATURE, CreatureDB::layout().fileName},
        {DB_NPC, NpcDB::layout().fileName},
        {DB_OBJECT, ObjectDB::layout().fileName},
        {DB_ANIMATION, AnimationDB::layout().fileName},
    };
    bool open = true;
    for (const TableName& table : tables)
        if (!manager.getDB(table.name))
        {
            std::fprintf(stderr,
                         "avatar-demo: the table '%s' cannot be opened (missing, or a row with the wrong "
                         "number of columns; avatar-tablecheck tells which)\n",
                         table.file.c_str());
            open = false;
        }
    return open;
}

AnimationNamer animationNamer(AvatarSystemManager& manager)
{
    auto* animations = static_cast<AnimationDB*>(manager.getDB(DB_ANIMATION));
    return [animations](AnimationType type) -> std::string
    {
        const Record* row = animations ? animations->getByType(static_cast<unsigned>(type)) : nullptr;
        return row ? row->getString(AnimationDB::AnimName) : "";
    };
}

void castRoles(const std::vector<Built>& avatars, Choreography& choreography)
{
    std::size_t dying = avatars.size() > 1 ? avatars.size() - 1 : avatars.size();
    for (std::size_t i = 0; i < avatars.size(); ++i)
        if (avatars[i].kind == "creature")
        {
            dying = i;
            break;
        }
    int players = 0, creatures = 0, npcs = 0;
    for (std::size_t i = 0; i < avatars.size(); ++i)
    {
        const Built& b = avatars[i];
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

namespace
{

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

/// Prints "label (n): item item ..." wrapped at 110 columns under a common indent; with
/// @p commas the items are separated by commas.
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

std::vector<std::string> materialCopies(IInstance* instance)
{
    if (!instance)
        return {};
    if (instance->getInstanceType() == INSTANCE_CHARACTER)
        return static_cast<CharacterInstance*>(instance)->getMaterialCopies();
    return static_cast<CreatureInstance*>(instance)->getClonedMaterials();
}

} // namespace

std::string attachments(const Built& built)
{
    IInstance* instance = built.instance;
    if (!instance || !instance->getEntityPtr())
        return "-";
    int effects = 0;
    if (instance->getInstanceType() == INSTANCE_CHARACTER)
    {
        const auto carried = static_cast<CharacterInstance*>(instance)->getCarriedModels();
        for (const CharacterInstance::CarriedModel& model : carried)
            effects += model.model && !model.model->getEffectName().empty() ? 1 : 0;
        return std::to_string(carried.size()) + (carried.size() == 1 ? " model" : " models") +
               (effects ? ", " + std::to_string(effects) + (effects == 1 ? " effect" : " effects") : "");
    }
    const auto* other = static_cast<CreatureInstance*>(instance);
    for (int i = 0; i < 5; ++i)
        effects += other->getEffect(i) ? 1 : 0;
    return std::to_string(effects) + (effects == 1 ? " effect" : " effects");
}

std::string describeInOneLine(const Built& built, const Choreography::Actor& actor, const AnimationNamer& name)
{
    IInstance* instance = built.instance;
    const bool made = instance && instance->getEntityPtr();
    char ms[32] = "(not built)";
    if (made && built.buildMs >= 0.0)
        std::snprintf(ms, sizeof(ms), "%.2f ms", built.buildMs);
    else if (made)
        std::snprintf(ms, sizeof(ms), "-");
    char line[512];
    std::snprintf(line, sizeof(line), "#%-3lu %-8s %-16s %-19s %-10s %-19s now: %s",
                  instance ? instance->getUniqueID() : 0ul, built.kind.c_str(),
                  instance ? instance->getName().c_str() : "?", built.how.c_str(), ms, attachments(built).c_str(),
                  Choreography::current(actor, name).c_str());
    return line;
}

void printInFull(const Built& built, const Choreography::Actor& actor, const AnimationNamer& name)
{
    IInstance* instance = built.instance;
    Ogre::Entity* entity = instance ? instance->getEntityPtr() : nullptr;
    std::printf("     entity %s, part: %s\n", entity ? entity->getName().c_str() : "(not built)", roleName(actor.role));
    printWrapped("visible", visibleSubEntities(entity));
    printWrapped("copies", materialCopies(instance));
    if (instance && instance->getInstanceType() == INSTANCE_CHARACTER)
        printWrapped("carries", carriedModels(*static_cast<CharacterInstance*>(instance)), true);
    printWrapped("animation events", actor.recorder.describe(name), true);
}

void addSunlight(Ogre::SceneManager* scene)
{
    scene->setAmbientLight(Ogre::ColourValue(0.6f, 0.6f, 0.6f));
    Ogre::Light* light = scene->createLight("sun");
    light->setType(Ogre::Light::LT_DIRECTIONAL);
    Ogre::SceneNode* lightNode = scene->getRootSceneNode()->createChildSceneNode();
    lightNode->attachObject(light);
    lightNode->setDirection(Ogre::Vector3(-0.3f, -0.6f, -1.0f).normalisedCopy());
}
