#pragma once

#include "catalog.h"
#include "keymap.h"
#include "tablewatch.h"

#include <OgreApplicationContext.h>
#include <OgreInput.h>
#include <OgreTrays.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace OgreBites
{
class CameraMan;
}

class AvatarSystemManager;

/// What the command line chose.
struct ViewerOptions
{
    std::string content = ".";     ///< the content directory: tables, meshes, materials, textures
    std::string screenshots = "."; ///< where screenshots go
    std::string log;               ///< the engine's log file
    unsigned width = 800;
    unsigned height = 600;
    std::string avatar; ///< the avatar to show first, by name; empty: the first preset
};

/// The viewer: a window on a content directory that shows one avatar at a time, built through
/// the same calls a game client makes (IAvatarSystem, IInstance and the manager's public
/// look-ups), with keys and a small panel to step through what the tables offer.
///
/// The tables are read from the current directory, which must be the content directory; the
/// content's meshes, materials and textures form the resource group "Content".
class AvatarViewer : public OgreBites::ApplicationContext, public OgreBites::InputListener, public IActionCallback
{
public:
    /// Exit status when no window could be opened (no display, or no usable GL).
    static constexpr int kNoWindow = 3;

    explicit AvatarViewer(const ViewerOptions& options);
    ~AvatarViewer() override;

    /// Opens the window and runs until it is closed. Returns 0, kNoWindow, or 1 when the engine
    /// failed on the way (the message is printed).
    int run();

    // ApplicationContext
    void createRoot() override;
    bool oneTimeConfig() override;
    void setup() override;
    void locateResources() override;
    bool frameStarted(const Ogre::FrameEvent& evt) override;
    bool frameRenderingQueued(const Ogre::FrameEvent& evt) override;
    bool frameEnded(const Ogre::FrameEvent& evt) override;

    // InputListener
    bool keyPressed(const OgreBites::KeyboardEvent& evt) override;
    bool mouseMoved(const OgreBites::MouseMotionEvent& evt) override;
    bool mousePressed(const OgreBites::MouseButtonEvent& evt) override;
    bool mouseReleased(const OgreBites::MouseButtonEvent& evt) override;
    bool mouseWheelRolled(const OgreBites::MouseWheelEvent& evt) override;

    // IActionCallback: the shown avatar's animation events.
    void onAnimationEnd(AnimationType type, int part) override;
    void onAnimationState(AnimationType type, bool stopped, bool looping) override;

private:
    void createScene();
    void destroyScene();
    void perform(ViewerAction action);

    /// Checks the tables, frees what the system holds and, when the edited tables have no errors,
    /// reads them again and shows the same avatar; otherwise shows the checker's findings.
    void reloadTables();
    void showFindings(const TableWatch::Result& result);
    /// Shows the panel, the status bar and the findings as the state asks.
    void arrangeWidgets();
    /// Puts a widget into its tray and shows it, or takes it out and hides it.
    void placeWidget(OgreBites::Widget* widget, OgreBites::TrayLocation location, bool shown);

    /// Destroys the shown avatar (if any) and builds entry index of the kind.
    void showAvatar(AvatarKind kind, int index);
    void destroyAvatar();
    /// Attaches the avatar's entity when it appears or changes, and applies the chosen look.
    void followEntity();
    /// Highlight, opacity, texture filter and pause as chosen, on the shown avatar.
    void applyLook();
    /// Points the camera at the shown avatar from a distance that fits it.
    void frameAvatar(bool frontView);

    void stepAvatar(int step);
    void stepPlace(int step);
    void stepItem(int step);
    void stepAnimation(int step);
    void holdStill();
    void clearAnimations();
    /// The shown player's setting with the viewer's equipment changes.
    PlayerSetting_t playerSetting() const;
    /// The animation rows the shown avatar can play.
    std::vector<AnimationEntry> playableAnimations();
    std::string layersText();

    void updatePanel();
    /// A line on the status bar and standard output; detail goes to standard output only.
    void report(const std::string& message, const std::string& detail = "");
    void requestScreenshot();
    void saveScreenshot();

    ViewerOptions m_options;
    Ogre::LogManager* m_log = nullptr;
    Ogre::SceneManager* m_scene = nullptr;
    Ogre::Camera* m_camera = nullptr;
    Ogre::SceneNode* m_cameraNode = nullptr;
    Ogre::SceneNode* m_targetNode = nullptr;
    Ogre::SceneNode* m_avatarNode = nullptr;
    std::unique_ptr<OgreBites::CameraMan> m_cameraMan;
    std::unique_ptr<OgreBites::TrayManager> m_tray;
    OgreBites::ParamsPanel* m_panel = nullptr;
    OgreBites::TextBox* m_findings = nullptr;
    OgreBites::Label* m_statusLabel = nullptr;
    bool m_panelShown = true;

    IAvatarSystem* m_system = nullptr;
    AvatarSystemManager* m_manager = nullptr;
    Catalog m_catalog;
    TableWatch m_watch;
    bool m_tablesBroken = false;

    AvatarKind m_kind = AvatarKind::Preset;
    int m_index = 0;
    IInstance* m_instance = nullptr;
    unsigned long m_instanceID = 0;
    Ogre::Entity* m_shownEntity = nullptr;
    bool m_rebuildPending = false;
    bool m_framedOnce = false;

    /// Equipment the viewer changed on the shown player: place and item.
    std::vector<std::pair<CharSlots, unsigned>> m_equipment;
    int m_place = 0;
    int m_animation = -1;
    AnimationType m_playing = ANIM_NONE;
    bool m_paused = false;
    bool m_highlight = false;
    float m_opacity = 1.0f;
    bool m_filterChosen = false;
    std::string m_lastEvent = "-";

    bool m_screenshotWanted = false;
    unsigned m_screenshots = 0;
    bool m_quit = false;
    bool m_listening = false;
    std::chrono::steady_clock::time_point m_lastFrameEnd;
};
