#include "viewerapp.h"
#include "avatarsystem/detail/contentrules.h"

#include <avatarsystem/animationdb.h>
#include <avatarsystem/avatarsystemmanager.h>
#include <avatarsystem/characterinstance.h>
#include <avatarsystem/creaturedb.h>
#include <avatarsystem/ewchardb.h>
#include <avatarsystem/instancebase.h>
#include <effects/effectmanager.h>

#include <Ogre.h>
#include <OgreCameraMan.h>
#include <OgreDDSCodec.h>
#include <OgreFontManager.h>
#include <OgreOverlaySystem.h>
#include <OgreTrays.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <sys/stat.h>
#include <stdexcept>
#include <thread>

namespace
{

const char* const s_contentGroup = "Content";
const char* const s_traysGroup = "Essential";
const Ogre::ColourValue s_background(0.16f, 0.18f, 0.23f);
const float s_opacities[] = {1.0f, 0.6f, 0.3f};
// Frames are capped so that an idle viewer leaves the processor to others.
const std::chrono::milliseconds s_minFrameTime(16);

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(buffer, sizeof(buffer), pattern, args);
    va_end(args);
    return buffer;
}

/// "1 error", "2 errors".
std::string count(unsigned n, const char* thing)
{
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

bool fileExists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

const char* stateName(const Ogre::AnimationState* state)
{
    return state ? state->getAnimationName().c_str() : "-";
}

} // namespace

AvatarViewer::AvatarViewer(const ViewerOptions& options)
    : OgreBites::ApplicationContext("avatar-viewer"), m_options(options)
{
}

AvatarViewer::~AvatarViewer() = default;

int AvatarViewer::run()
{
    try
    {
        initApp();
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "avatar-viewer: cannot open a window: %s\n", e.what());
    }
    if (!getRenderWindow())
    {
        // The context's own shutdown expects a started engine: free what was made by hand.
        delete mOverlaySystem;
        mOverlaySystem = nullptr;
        delete mRoot;
        mRoot = nullptr;
        delete m_log;
        m_log = nullptr;
        return kNoWindow;
    }
    int status = 0;
    try
    {
        createScene();
        mRoot->startRendering();
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "avatar-viewer: %s\n", e.what());
        status = 1;
    }
    destroyScene();
    closeApp();
    delete m_log;
    m_log = nullptr;
    return status;
}

void AvatarViewer::createRoot()
{
    // The engine's log goes to its own file; no plugins.cfg or ogre.cfg is read or written.
    m_log = new Ogre::LogManager();
    m_log->createLog(m_options.log, true, false, false);
    mRoot = new Ogre::Root("", "", "");
    const std::string plugins = AVATARSYSTEM_OGRE_PLUGIN_DIR;
    mRoot->loadPlugin(plugins + "/RenderSystem_GL");
    for (const char* codec : {"Codec_STBI", "Codec_FreeImage"})
    {
        try
        {
            mRoot->loadPlugin(plugins + "/" + codec);
            break;
        }
        catch (const Ogre::Exception&)
        {
        }
    }
    Ogre::DDSCodec::startup();
    mOverlaySystem = new Ogre::OverlaySystem();
}

bool AvatarViewer::oneTimeConfig()
{
    Ogre::RenderSystem* gl = mRoot->getRenderSystemByName("OpenGL Rendering Subsystem");
    if (!gl)
        return false;
    gl->setConfigOption("Full Screen", "No");
    mRoot->setRenderSystem(gl);
    return true;
}

void AvatarViewer::setup()
{
    // The window has the size asked for; the GL render system draws the fixed-function
    // materials of the content as they are, so no shader generator is set up.
    mRoot->initialise(false);
    createWindow("avatar-viewer", m_options.width, m_options.height);
    locateResources();
    loadResources();
    mRoot->addFrameListener(this);
}

void AvatarViewer::locateResources()
{
    Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
    groups.addResourceLocation(getDefaultMediaDir() + "/packs/SdkTrays.zip", "Zip", s_traysGroup);
    groups.createResourceGroup(s_contentGroup);
    groups.addResourceLocation(".", "FileSystem", s_contentGroup);
}

void AvatarViewer::createScene()
{
    m_scene =
        mRoot->createSceneManager(Ogre::DefaultSceneManagerFactory::FACTORY_TYPE_NAME, avatar_rules::kSceneManagerName);
    m_scene->addRenderQueueListener(mOverlaySystem);
    m_scene->setAmbientLight(Ogre::ColourValue(0.55f, 0.55f, 0.55f));

    m_camera = m_scene->createCamera("viewer");
    m_camera->setNearClipDistance(0.02f);
    m_camera->setAutoAspectRatio(true);
    m_cameraNode = m_scene->getRootSceneNode()->createChildSceneNode();
    m_cameraNode->attachObject(m_camera);
    // The light comes from the camera, so every side the author orbits to is lit.
    Ogre::Light* light = m_scene->createLight("viewer");
    light->setType(Ogre::Light::LT_DIRECTIONAL);
    light->setDiffuseColour(Ogre::ColourValue(0.7f, 0.7f, 0.7f));
    Ogre::SceneNode* lightNode = m_cameraNode->createChildSceneNode();
    lightNode->attachObject(light);
    lightNode->setDirection(Ogre::Vector3(0.3f, -0.5f, -1.0f).normalisedCopy());
    Ogre::Viewport* viewport = getRenderWindow()->addViewport(m_camera);
    viewport->setBackgroundColour(s_background);

    m_targetNode = m_scene->getRootSceneNode()->createChildSceneNode();
    m_avatarNode = m_scene->getRootSceneNode()->createChildSceneNode();
    m_cameraMan = std::make_unique<OgreBites::CameraMan>(m_cameraNode);
    m_cameraMan->setTarget(m_targetNode);
    m_cameraMan->setStyle(OgreBites::CS_ORBIT);

    // The panel's fonts are loaded now: a text box measures its text when it is given it, which
    // may happen before any frame has drawn (and so loaded) them.
    for (const char* font : {"SdkTrays/Caption", "SdkTrays/Value"})
        Ogre::FontManager::getSingleton().getByName(font, s_traysGroup)->load();
    m_tray = std::make_unique<OgreBites::TrayManager>("viewer", getRenderWindow());
    m_tray->hideCursor();
    const Ogre::Real width = std::min<Ogre::Real>(320, 0.6f * m_options.width);
    m_panel = m_tray->createParamsPanel(
        OgreBites::TL_TOPLEFT, "state", width,
        Ogre::StringVector{"Avatar", "Entity", "Place", "Chosen", "Main", "Overlay", "Pose", "Event", "Look"});
    m_statusLabel = m_tray->createLabel(OgreBites::TL_BOTTOM, "status", "", 0.96f * m_options.width);
    m_findings = m_tray->createTextBox(OgreBites::TL_CENTER, "findings", "Table errors: fix them, then press R",
                                       0.9f * m_options.width, 0.6f * m_options.height);
    arrangeWidgets();
    addInputListener(this);
    m_listening = true;

    m_system = IAvatarSystem::getSingletonPtr();
    m_manager = &AvatarSystemManager::getSingleton();
    reloadTables();
    if (!m_options.avatar.empty() && !m_tablesBroken)
    {
        AvatarKind kind;
        int index = 0;
        if (m_catalog.find(m_options.avatar, kind, index))
            showAvatar(kind, index);
        else
            report("no avatar is named '" + m_options.avatar + "'");
    }
}

void AvatarViewer::destroyScene()
{
    destroyAvatar();
    if (m_system)
        m_system->release();
    CharacterInstance::clearEntityPools();
    if (m_listening)
        removeInputListener(this);
    m_listening = false;
    m_tray.reset();
    m_cameraMan.reset();
    if (m_scene)
        mRoot->destroySceneManager(m_scene);
    m_scene = nullptr;
}

bool AvatarViewer::frameStarted(const Ogre::FrameEvent& evt)
{
    OgreBites::ApplicationContext::frameStarted(evt); // the window's events, and so the keys
    // The host's part of a frame: the system builds what is queued, the host advances its avatar.
    const float dt = std::min(evt.timeSinceLastFrame, 0.1f);
    m_system->update(dt);
    if (m_instance)
        m_instance->update(true, dt);
    followEntity();
    updatePanel();
    return !m_quit;
}

bool AvatarViewer::frameRenderingQueued(const Ogre::FrameEvent& evt)
{
    OgreBites::ApplicationContext::frameRenderingQueued(evt);
    // The frame is drawn but not yet shown: the back buffer holds exactly this frame.
    if (m_screenshotWanted)
        saveScreenshot();
    return true;
}

bool AvatarViewer::frameEnded(const Ogre::FrameEvent&)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastFrameEnd < s_minFrameTime)
        std::this_thread::sleep_for(s_minFrameTime - (now - m_lastFrameEnd));
    m_lastFrameEnd = std::chrono::steady_clock::now();
    return true;
}

bool AvatarViewer::keyPressed(const OgreBites::KeyboardEvent& evt)
{
    if (evt.repeat)
        return true;
    ViewerAction action;
    if (findAction(evt.keysym.sym, (evt.keysym.mod & OgreBites::KMOD_SHIFT) != 0, action))
        perform(action);
    return true;
}

bool AvatarViewer::mouseMoved(const OgreBites::MouseMotionEvent& evt)
{
    return m_cameraMan->mouseMoved(evt);
}

bool AvatarViewer::mousePressed(const OgreBites::MouseButtonEvent& evt)
{
    return m_cameraMan->mousePressed(evt);
}

bool AvatarViewer::mouseReleased(const OgreBites::MouseButtonEvent& evt)
{
    return m_cameraMan->mouseReleased(evt);
}

bool AvatarViewer::mouseWheelRolled(const OgreBites::MouseWheelEvent& evt)
{
    return m_cameraMan->mouseWheelRolled(evt);
}

void AvatarViewer::onAnimationEnd(AnimationType type, int part)
{
    static const char* const parts[] = {"main", "main under an overlay", "overlay"};
    m_lastEvent = format("%s ended (%s)", m_instance ? m_instance->getAnimName(type) : "?",
                         part >= 0 && part < 3 ? parts[part] : "?");
}

void AvatarViewer::onAnimationState(AnimationType type, bool stopped, bool looping)
{
    m_lastEvent = format("%s %s%s", m_instance ? m_instance->getAnimName(type) : "?", stopped ? "stopped" : "started",
                         !stopped && looping ? ", looping" : "");
}

void AvatarViewer::perform(ViewerAction action)
{
    using A = ViewerAction;
    switch (action)
    {
    case A::Screenshot:
        requestScreenshot();
        return;
    case A::TogglePanel:
        m_panelShown = !m_panelShown;
        arrangeWidgets();
        return;
    case A::ReloadTables:
        reloadTables();
        return;
    case A::ResetCamera:
        frameAvatar(true);
        return;
    case A::ScrollDown:
    case A::ScrollUp:
        if (m_tablesBroken)
            m_findings->setScrollPercentage(std::max(
                0.0f, std::min(1.0f, m_findings->getScrollPercentage() + (action == A::ScrollDown ? 0.2f : -0.2f))));
        return;
    case A::Quit:
        m_quit = true;
        return;
    default:
        break;
    }
    if (m_tablesBroken)
    {
        report("the tables have errors: fix them, then press R");
        return;
    }
    switch (action)
    {
    case A::NextKind:
        m_equipment.clear();
        showAvatar(static_cast<AvatarKind>((static_cast<int>(m_kind) + 1) % kAvatarKinds), 0);
        break;
    case A::ShowPresets:
    case A::ShowCreatures:
    case A::ShowNpcs:
    case A::ShowObjects:
        m_equipment.clear();
        showAvatar(static_cast<AvatarKind>(static_cast<int>(action) - static_cast<int>(A::ShowPresets)), 0);
        break;
    case A::NextAvatar:
        stepAvatar(1);
        break;
    case A::PreviousAvatar:
        stepAvatar(-1);
        break;
    case A::NextPlace:
        stepPlace(1);
        break;
    case A::PreviousPlace:
        stepPlace(-1);
        break;
    case A::NextItem:
        stepItem(1);
        break;
    case A::PreviousItem:
        stepItem(-1);
        break;
    case A::NextAnimation:
        stepAnimation(1);
        break;
    case A::PreviousAnimation:
        stepAnimation(-1);
        break;
    case A::HoldStill:
        holdStill();
        break;
    case A::ClearAnimations:
        clearAnimations();
        break;
    case A::TogglePause:
        m_paused = !m_paused;
        if (m_instance)
            m_instance->setPause(m_paused);
        report(m_paused ? "animations paused" : "animations resumed");
        break;
    case A::ToggleHighlight:
        m_highlight = !m_highlight;
        if (m_instance)
            m_instance->setHighLight(m_highlight);
        report(m_highlight ? "highlight on" : "highlight off");
        break;
    case A::NextOpacity:
    {
        const float* at = std::find(std::begin(s_opacities), std::end(s_opacities), m_opacity);
        m_opacity = at + 1 < std::end(s_opacities) ? at[1] : s_opacities[0];
        m_system->setInstanceTransoarency(m_instance, m_opacity);
        report(format("opacity %.1f", m_opacity));
        break;
    }
    case A::NextTextureFilter:
        m_filterChosen = true;
        m_system->setTextureFilter((m_manager->getTextureFilterType() + 1) % 5);
        report(format("texture filter %d", m_manager->getTextureFilterType()));
        break;
    default:
        break;
    }
}

void AvatarViewer::reloadTables()
{
    const TableWatch::Result result = m_watch.check();
    for (const avatar_check::TableFinding& finding : result.findings)
        std::printf("%s\n", avatar_check::formatFinding(finding).c_str());

    // Everything the system holds goes; its tables are read again on the next look-up.
    destroyAvatar();
    m_system->release();
    EffectManager::getSingletonPtr()->reloadTable();
    if (result.errors > 0)
    {
        m_tablesBroken = true;
        showFindings(result);
        report(format("%s in the edited tables: fix, then press R", count(result.errors, "error").c_str()));
        return;
    }
    const bool wasBroken = m_tablesBroken;
    m_tablesBroken = false;
    arrangeWidgets();
    m_watch.accept(result);

    Catalog::Tables tables;
    tables.presets = static_cast<EWBaseInfoDB*>(m_manager->getDB(DB_BASE_INFO));
    tables.creatures = static_cast<CreatureDB*>(m_manager->getDB(DB_CREATURE));
    tables.npcs = static_cast<NpcDB*>(m_manager->getDB(DB_NPC));
    tables.objects = static_cast<ObjectDB*>(m_manager->getDB(DB_OBJECT));
    tables.items = static_cast<EWItemDB*>(m_manager->getDB(DB_ITEM));
    tables.wornItems = static_cast<EWWearingDB*>(m_manager->getDB(DB_WEARING));
    tables.animations = static_cast<AnimationDB*>(m_manager->getDB(DB_ANIMATION));
    const std::vector<AvatarEntry>& before = m_catalog.avatars(m_kind);
    const std::string name = m_index < static_cast<int>(before.size()) ? before[m_index].name : "";
    m_catalog.read(tables);

    // The same avatar by name where it still is, else the same position.
    const std::vector<AvatarEntry>& after = m_catalog.avatars(m_kind);
    const auto same =
        std::find_if(after.begin(), after.end(), [&name](const AvatarEntry& e) { return e.name == name; });
    const AnimationType playing = m_playing;
    showAvatar(m_kind, same != after.end() ? static_cast<int>(same - after.begin()) : m_index);
    if (playing != ANIM_NONE && m_instance && m_instance->hasAnimation(playing))
    {
        m_instance->playAnimation(playing, BLEND_IMMEDIATE, 0.0f, this, true);
        m_playing = playing;
    }
    std::string message = "tables read";
    if (wasBroken || result.edited.size() < avatar_check::knownTables().size())
        message = result.edited.empty() ? "tables read again (none edited)"
                                        : format("tables read again (%zu edited)", result.edited.size());
    if (result.warnings > 0)
        message += ", " + count(result.warnings, "warning") + " (printed)";
    report(message);
}

void AvatarViewer::arrangeWidgets()
{
    // With table errors the findings take the panel's place: there is no avatar to describe.
    placeWidget(m_panel, OgreBites::TL_TOPLEFT, m_panelShown && !m_tablesBroken);
    placeWidget(m_findings, OgreBites::TL_CENTER, m_tablesBroken);
    placeWidget(m_statusLabel, OgreBites::TL_BOTTOM, m_panelShown || m_tablesBroken);
    frameAvatar(false);
}

void AvatarViewer::placeWidget(OgreBites::Widget* widget, OgreBites::TrayLocation location, bool shown)
{
    // A tray keeps its frame while it holds a widget, hidden or not: hidden widgets leave it.
    if (shown && widget->getTrayLocation() == OgreBites::TL_NONE)
    {
        m_tray->moveWidgetToTray(widget, location);
        widget->show();
    }
    else if (!shown && widget->getTrayLocation() != OgreBites::TL_NONE)
    {
        m_tray->removeWidgetFromTray(widget);
        widget->hide();
    }
}

void AvatarViewer::showFindings(const TableWatch::Result& result)
{
    // Errors first: a broken table makes others look broken too (warnings that follow from it).
    std::vector<avatar_check::TableFinding> findings = result.findings;
    std::stable_partition(findings.begin(), findings.end(),
                          [](const avatar_check::TableFinding& f)
                          { return f.severity == avatar_check::TableFinding::Error; });
    std::string text;
    for (const avatar_check::TableFinding& finding : findings)
        text += avatar_check::formatFinding(finding) + "\n";
    m_findings->setText(text);
    arrangeWidgets();
}

void AvatarViewer::showAvatar(AvatarKind kind, int index)
{
    destroyAvatar();
    m_kind = kind;
    m_animation = -1;
    m_playing = ANIM_NONE;
    m_lastEvent = "-";
    const std::vector<AvatarEntry>& entries = m_catalog.avatars(kind);
    if (entries.empty())
    {
        m_index = 0;
        report(format("the tables hold no %s", kindName(kind)));
        return;
    }
    const int count = static_cast<int>(entries.size());
    m_index = (index % count + count) % count;
    const AvatarEntry& entry = entries[m_index];
    switch (kind)
    {
    case AvatarKind::Preset:
        m_instance = m_system->createPlayer(playerSetting(), nullptr);
        break;
    case AvatarKind::Creature:
        m_instance = m_system->createCreature(static_cast<unsigned long>(entry.id), nullptr);
        break;
    case AvatarKind::Npc:
        m_instance = m_manager->createNpc(entry.name);
        break;
    case AvatarKind::Object:
        m_instance = m_manager->createObject(entry.name);
        break;
    }
    m_instanceID = m_instance ? m_instance->getUniqueID() : 0;
    followEntity();
    report(format("%s %d/%d: %s (ID %u)%s", kindName(kind), m_index + 1, count, entry.name.c_str(), entry.id,
                  m_shownEntity ? "" : ", not built"));
}

void AvatarViewer::destroyAvatar()
{
    if (!m_instance)
        return;
    m_avatarNode->detachAllObjects();
    m_system->destroyInstance(m_instanceID);
    // destroyInstance leaves the object to whoever holds it: the viewer holds it alone.
    delete dynamic_cast<ManagedInstance*>(m_instance);
    m_instance = nullptr;
    m_instanceID = 0;
    m_shownEntity = nullptr;
    m_rebuildPending = false;
}

void AvatarViewer::followEntity()
{
    Ogre::Entity* entity = m_instance ? m_instance->getEntityPtr() : nullptr;
    if (entity != m_shownEntity)
    {
        m_avatarNode->detachAllObjects();
        if (entity)
        {
            if (entity->isAttached())
                entity->detachFromParent();
            m_avatarNode->attachObject(entity);
        }
        m_shownEntity = entity;
        if (entity)
        {
            applyLook();
            frameAvatar(!m_framedOnce);
            m_framedOnce = true;
        }
    }
    else if (m_rebuildPending && m_manager->getNumRequests() == 0)
    {
        // A rebuild makes new material copies: they get the chosen look again.
        m_rebuildPending = false;
        applyLook();
    }
}

void AvatarViewer::applyLook()
{
    if (!m_instance)
        return;
    m_system->setInstanceTransoarency(m_instance, m_opacity);
    m_instance->setHighLight(m_highlight);
    if (m_filterChosen)
        m_instance->setTextureFilter(m_manager->getTextureFilterType());
    m_instance->setPause(m_paused);
}

void AvatarViewer::frameAvatar(bool frontView)
{
    // With the panel in view, the avatar stands in the middle of the room to its right: the view
    // is shifted sideways by the panel's width, and the avatar fits the narrower room.
    const float width = static_cast<float>(m_options.width);
    const float height = static_cast<float>(m_options.height);
    float panel = 0.0f;
    if (m_panel->getTrayLocation() != OgreBites::TL_NONE)
        panel = std::min(0.5f * width, m_tray->getTrayContainer(OgreBites::TL_TOPLEFT)->getWidth());
    const float tanHalfY = std::tan(0.5f * m_camera->getFOVy().valueRadians());
    m_camera->setFrustumOffset(Ogre::Vector2(-(panel / width) * tanHalfY * (width / height), 0.0f));
    const float tanHalfX = tanHalfY * (width - panel) / height;

    float distance = 4.0f;
    Ogre::Vector3 centre = Ogre::Vector3::ZERO;
    if (m_shownEntity)
    {
        m_avatarNode->_update(true, false);
        const Ogre::AxisAlignedBox box = m_shownEntity->getWorldBoundingBox(true);
        if (box.isFinite())
        {
            centre = box.getCenter();
            // Its height and its width (from any side the author orbits to) fit, with a margin.
            const Ogre::Vector3 half = box.getHalfSize();
            const float across = std::max(0.05f, std::sqrt(half.x * half.x + half.z * half.z));
            distance = 1.15f * std::max(std::max(0.05f, half.y) / tanHalfY, across / tanHalfX) + across;
        }
    }
    m_targetNode->setPosition(centre);
    if (frontView)
    {
        m_cameraMan->setYawPitchDist(Ogre::Degree(20), Ogre::Degree(10), distance);
        return;
    }
    // Keep the direction the author orbited to; only the distance follows the avatar.
    const Ogre::Quaternion orientation = m_cameraNode->getOrientation();
    m_cameraNode->setPosition(centre + orientation * Ogre::Vector3(0, 0, distance));
}

PlayerSetting_t AvatarViewer::playerSetting() const
{
    const std::vector<AvatarEntry>& presets = m_catalog.avatars(AvatarKind::Preset);
    if (m_kind != AvatarKind::Preset || m_index >= static_cast<int>(presets.size()))
        return PlayerSetting_t();
    PlayerSetting_t setting = m_manager->getPorpertiesFromDB(presets[m_index].name);
    for (const auto& change : m_equipment)
        setting.*(equipmentPlaces()[change.first].field) = change.second;
    return setting;
}

void AvatarViewer::stepAvatar(int step)
{
    m_equipment.clear();
    showAvatar(m_kind, m_index + step);
}

void AvatarViewer::stepPlace(int step)
{
    const int count = static_cast<int>(equipmentPlaces().size());
    m_place = ((m_place + step) % count + count) % count;
    const EquipmentPlace& place = equipmentPlaces()[m_place];
    const std::size_t fitting = m_catalog.itemsFor(place.slot, playerSetting().gender).size();
    report(
        format("place: %s (%s)", place.label, fitting == 1 ? "1 item fits" : format("%zu items fit", fitting).c_str()));
}

void AvatarViewer::stepItem(int step)
{
    if (m_kind != AvatarKind::Preset || !m_instance)
    {
        report("equipment: players only");
        return;
    }
    const EquipmentPlace& place = equipmentPlaces()[m_place];
    PlayerSetting_t setting = playerSetting();
    const unsigned item = m_catalog.stepItem(place.slot, setting.gender, setting.*(place.field), step);
    auto it = std::find_if(m_equipment.begin(), m_equipment.end(),
                           [&place](const std::pair<CharSlots, unsigned>& c) { return c.first == place.slot; });
    if (it == m_equipment.end())
        m_equipment.emplace_back(place.slot, item);
    else
        it->second = item;
    setting.*(place.field) = item;
    // The host's way to change equipment: the system rebuilds what changed on a later update.
    m_rebuildPending = m_system->replacePlayer(setting, m_instance);
    report(format("%s: %u %s", place.label, item, m_catalog.itemName(place.slot, item).c_str()));
}

std::vector<AnimationEntry> AvatarViewer::playableAnimations()
{
    std::vector<AnimationEntry> playable;
    if (!m_instance)
        return playable;
    for (const AnimationEntry& entry : m_catalog.animations())
        if (m_instance->hasAnimation(entry.type))
            playable.push_back(entry);
    return playable;
}

void AvatarViewer::stepAnimation(int step)
{
    const std::vector<AnimationEntry> playable = playableAnimations();
    if (playable.empty())
    {
        report("this avatar plays none of the animation table's animations");
        return;
    }
    const int count = static_cast<int>(playable.size());
    m_animation = m_animation < 0 ? (step > 0 ? 0 : count - 1) : ((m_animation + step) % count + count) % count;
    const AnimationEntry& entry = playable[m_animation];
    // The controller only plays while it runs.
    m_paused = false;
    m_instance->setPause(false);
    m_instance->playAnimation(entry.type, BLEND_SMOOTH, 0.0f, this, true);
    m_playing = entry.type;
    report(format("play %u %s (%s)", static_cast<unsigned>(entry.type), entry.name.c_str(), entry.layer.c_str()),
           "layers: " + layersText());
}

void AvatarViewer::holdStill()
{
    const std::vector<AnimationEntry> playable = playableAnimations();
    if (playable.empty() || m_animation < 0 || m_animation >= static_cast<int>(playable.size()))
    {
        report("choose an animation with A first");
        return;
    }
    const AnimationEntry& entry = playable[m_animation];
    m_paused = false;
    m_instance->setPause(false);
    m_instance->playStatic(entry.type, 0.5f);
    report(format("hold %s still halfway", entry.name.c_str()), "layers: " + layersText());
}

void AvatarViewer::clearAnimations()
{
    if (!m_instance)
        return;
    // Pose, overlay, then the main animation in whichever layer it stands.
    for (unsigned layer : {3u, 2u, 1u, 0u})
        m_instance->clearAnimation(layer);
    m_playing = ANIM_NONE;
    report("animations cleared", "layers: " + layersText());
}

std::string AvatarViewer::layersText()
{
    auto* base = dynamic_cast<InstanceBase*>(m_instance);
    const AnimationController* controller = base ? base->getAnimationController() : nullptr;
    if (!controller)
        return "-";
    return format("main %s, overlay %s, pose %s%s", stateName(controller->getMainState()),
                  stateName(controller->getOverlayState()), stateName(controller->getPoseState()),
                  controller->isStaticPose() ? " (still)" : "");
}

void AvatarViewer::updatePanel()
{
    if (!m_panel)
        return;
    const std::vector<AvatarEntry>& entries = m_catalog.avatars(m_kind);
    std::string avatar = "-";
    if (m_tablesBroken)
        avatar = "none: table errors";
    else if (m_index < static_cast<int>(entries.size()))
        avatar = format("%s %d/%zu %s", kindName(m_kind), m_index + 1, entries.size(), entries[m_index].name.c_str());
    std::string entity = "-";
    if (m_instance)
        entity = m_shownEntity ? m_shownEntity->getName() : "not built";
    if (m_rebuildPending)
        entity += " (rebuilding)";
    std::string place = "players only";
    if (m_kind == AvatarKind::Preset && m_instance)
    {
        const EquipmentPlace& p = equipmentPlaces()[m_place];
        const unsigned item = playerSetting().*(p.field);
        place = format("%s: %u %s", p.label, item, m_catalog.itemName(p.slot, item).c_str());
    }
    std::string chosen = "-";
    const std::vector<AnimationEntry> playable = playableAnimations();
    if (m_animation >= 0 && m_animation < static_cast<int>(playable.size()))
        chosen = format("%s: %s", playable[m_animation].name.c_str(), playable[m_animation].layer.c_str());
    std::string layers[3] = {"-", "-", "-"};
    auto* base = dynamic_cast<InstanceBase*>(m_instance);
    if (const AnimationController* controller = base ? base->getAnimationController() : nullptr)
    {
        float upper = 0, lower = 0;
        const Ogre::AnimationState* states[3] = {controller->getMainState(), controller->getOverlayState(),
                                                 controller->getPoseState()};
        for (int i = 0; i < 3; ++i)
            if (states[i])
            {
                controller->getLayerWeights(states[i], upper, lower);
                layers[i] = format("%s %.2f/%.2f", stateName(states[i]), upper, lower);
            }
        if (controller->isStaticPose())
            layers[0] += " still";
    }
    const std::string look = format("opacity %.1f, filter %d%s%s", m_opacity, m_manager->getTextureFilterType(),
                                    m_highlight ? ", lit" : "", m_paused ? ", paused" : "");
    m_panel->setAllParamValues(
        Ogre::StringVector{avatar, entity, place, chosen, layers[0], layers[1], layers[2], m_lastEvent, look});
}

void AvatarViewer::report(const std::string& message, const std::string& detail)
{
    if (m_statusLabel)
        m_statusLabel->setCaption(message);
    std::printf("%s%s%s\n", message.c_str(), detail.empty() ? "" : "; ", detail.c_str());
    std::fflush(stdout);
}

void AvatarViewer::requestScreenshot()
{
    m_screenshotWanted = true;
}

void AvatarViewer::saveScreenshot()
{
    m_screenshotWanted = false;
    std::string path;
    do
        path = format("%s/avatar-viewer-%03u.png", m_options.screenshots.c_str(), ++m_screenshots);
    while (fileExists(path));
    // Written beside, then renamed: whoever waits for the file never sees half of it.
    const std::string partial = path.substr(0, path.size() - 4) + ".part.png";
    try
    {
        getRenderWindow()->writeContentsToFile(partial);
        if (std::rename(partial.c_str(), path.c_str()) != 0)
            throw std::runtime_error("cannot rename " + partial);
        report("screenshot " + path);
    }
    catch (const std::exception& e)
    {
        std::remove(partial.c_str());
        report(std::string("no screenshot: ") + e.what());
    }
}
