// render_reference <content dir> <output dir> <scene> <reference dir> [--break KIND]
//
// Renders one scene of the content pack at a fixed moment (still poses, or animations advanced by
// fixed steps; fixed camera and light; a 256 x 256 window) and compares it with the stored picture
// <reference dir>/<scene>.png within the tolerance of referenceimage.h. On a mismatch it writes
// <output dir>/<scene>.actual.png, <scene>.diff.png (reference, actual and difference side by
// side) and names them. With AVATAR_UPDATE_REFERENCES=1 in the environment it records the picture
// as the new reference instead.
//
// --break KIND renders the scene with a fault put in on purpose (a texture, template or bone
// that is wrong, an opacity that is ignored, a highlight on the wrong copy) and passes only when
// the comparison catches it.
//
// Exit codes: 0 as expected, 1 not, 2 a wrong command line, 77 no GL display.

#include "avatarsystem/attachmodel.h"
#include "avatarsystem/characterinstance.h"

#include "referenceimage.h"
#include "renderhost.h"

#include <Ogre.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

using render_check::RgbPicture;

const int s_size = 256;

/// A scene being set up: the nodes of the avatars it placed, its camera and the fault asked for.
struct Stage
{
    IAvatarSystem* system = nullptr;
    AvatarSystemManager* manager = nullptr;
    Ogre::SceneManager* scene = nullptr;
    Ogre::Camera* camera = nullptr;
    std::string fault;
    std::vector<Ogre::SceneNode*> nodes;

    /// A setting with the pack's first race, the given looks and nothing worn or carried.
    static PlayerSetting_t bare(unsigned gender, unsigned hairStyle = 1, unsigned hairColour = 0, unsigned skin = 0,
                                unsigned face = 1)
    {
        PlayerSetting_t s;
        std::snprintf(s.Name, sizeof(s.Name), "Reference");
        s.race = 1;
        s.gender = gender;
        s.hairStyle = hairStyle;
        s.hairColor = hairColour;
        s.skinColor = skin;
        s.faceType = face;
        s.renderObj = true;
        return s;
    }

    /// A bare setting (as bare()) wearing and carrying the given items in the given places.
    using Wear = std::vector<std::pair<unsigned PlayerSetting_t::*, unsigned>>;
    static PlayerSetting_t wearing(unsigned gender, unsigned hairStyle, unsigned hairColour, const Wear& items)
    {
        PlayerSetting_t s = bare(gender, hairStyle, hairColour);
        for (const auto& [place, item] : items)
            s.*place = item;
        return s;
    }

    PlayerSetting_t preset(const char* name) const
    {
        PlayerSetting_t s = manager->getPorpertiesFromDB(name);
        if (std::strcmp(s.Name, name) != 0)
            throw std::runtime_error(std::string("the preset ") + name + " is missing");
        s.renderObj = true;
        return s;
    }

    /// Places an avatar at (@p x, 0, @p z) turned by @p yaw degrees about the vertical, opaque and
    /// in the first frame of its standing animation.
    IInstance* place(IInstance* avatar, const char* what, float x, float z = 0.0f, float yaw = 0.0f)
    {
        if (!avatar || !avatar->getEntityPtr())
            throw std::runtime_error(std::string("cannot build ") + what);
        system->setInstanceTransoarency(avatar, 1.0f);
        avatar->playStatic(static_cast<AnimationType>(0), 0.0f);
        avatar->update(true, 0.0f);
        Ogre::SceneNode* node = scene->getRootSceneNode()->createChildSceneNode(
            Ogre::Vector3(x, 0, z), Ogre::Quaternion(Ogre::Degree(yaw), Ogre::Vector3::UNIT_Y));
        node->attachObject(avatar->getEntityPtr());
        nodes.push_back(node);
        return avatar;
    }

    CharacterInstance* player(const PlayerSetting_t& setting, float x, float z = 0.0f, float yaw = 0.0f)
    {
        return static_cast<CharacterInstance*>(place(system->createPlayer(setting, nullptr), setting.Name, x, z, yaw));
    }

    void look(const Ogre::Vector3& eye, const Ogre::Vector3& target)
    {
        camera->getParentSceneNode()->setPosition(eye);
        camera->getParentSceneNode()->lookAt(target, Ogre::Node::TS_WORLD);
    }

    /// A flat, unlit coloured rectangle facing +z, centred at @p centre.
    void backdrop(const Ogre::Vector3& centre, float width, float height, const Ogre::ColourValue& colour)
    {
        Ogre::MaterialPtr material = Ogre::MaterialManager::getSingleton().create("reference/backdrop", "Content");
        Ogre::Pass* pass = material->getTechnique(0)->getPass(0);
        pass->setLightingEnabled(false);
        pass->createTextureUnitState()->setColourOperationEx(Ogre::LBX_SOURCE1, Ogre::LBS_MANUAL, Ogre::LBS_CURRENT,
                                                             colour);
        Ogre::MeshManager::getSingleton().createPlane("reference/backdrop", "Content",
                                                      Ogre::Plane(Ogre::Vector3::UNIT_Z, 0), width, height);
        Ogre::Entity* plane = scene->createEntity("reference/backdrop", "reference/backdrop");
        plane->setMaterialName("reference/backdrop");
        scene->getRootSceneNode()->createChildSceneNode(centre)->attachObject(plane);
    }
};

/// Advances an avatar's animations by @p seconds in the host's frame steps of 1/30 s.
void advance(IInstance* avatar, float seconds)
{
    const float dt = 1.0f / 30.0f;
    for (float t = 0.0f; t + dt * 0.5f < seconds; t += dt)
        avatar->update(true, dt);
}

// The scenes. Each puts avatars on the stage and sets the camera; the broken variants change
// what was built the way a fault of the library would show.

void dressedFront(Stage& s)
{
    s.player(s.preset("Warrior"), -0.45f);
    s.player(s.preset("Archer"), 0.45f);
    s.look({0, 1.0f, 3.4f}, {0, 0.95f, 0});
}

void dressedSide(Stage& s)
{
    s.player(s.preset("Warrior"), -0.45f, 0, 90);
    s.player(s.preset("Archer"), 0.45f, 0, 90);
    s.look({0, 1.0f, 3.4f}, {0, 0.95f, 0});
}

/// Helm, shoulders, a weapon in each hand; a two-handed weapon; a shield.
void attachFront(Stage& s)
{
    using P = PlayerSetting_t;
    const PlayerSetting_t a =
        Stage::wearing(0, 1, 0, {{&P::head, 101}, {&P::shoulder, 201}, {&P::rightHand, 301}, {&P::leftHand, 302}});
    const PlayerSetting_t b = Stage::wearing(1, 2, 1, {{&P::head, 105}, {&P::shoulder, 204}, {&P::doublehand, 401}});
    const PlayerSetting_t c =
        Stage::wearing(0, 3, 2, {{&P::head, 103}, {&P::shoulder, 203}, {&P::shield, 501}, {&P::rightHand, 304}});
    // Turned away from the camera's side, so that blades held forward show their length.
    CharacterInstance* first = s.player(a, -0.75f, 0, -50);
    s.player(b, 0.0f, 0, -50);
    s.player(c, 0.75f, 0, -50);
    s.look({0.8f, 1.4f, 3.6f}, {0, 0.95f, 0});
    if (s.fault == "bone")
    {
        // The right-hand sword hung on the left hand's bone.
        Ogre::Entity* body = first->getEntityPtr();
        Ogre::Entity* sword = first->getRightWeapon()->getEntity();
        body->detachObjectFromBone(sword);
        body->attachObjectToBone(CharacterInstance::weapon_l, sword);
    }
}

/// Back weapons of each back bone, a back shield and both waists, seen from behind.
void attachBack(Stage& s)
{
    using P = PlayerSetting_t;
    const PlayerSetting_t a =
        Stage::wearing(0, 1, 0, {{&P::backLongWeapon, 901}, {&P::leftWaist, 601}, {&P::rightWaist, 602}});
    const PlayerSetting_t b =
        Stage::wearing(1, 2, 1, {{&P::backLongWeapon, 1001}, {&P::backShield, 1101}, {&P::rightWaist, 604}});
    const PlayerSetting_t c =
        Stage::wearing(0, 3, 2, {{&P::backLongWeapon, 903}, {&P::backShield, 1102}, {&P::leftWaist, 603}});
    s.player(a, -0.75f, 0, 200);
    s.player(b, 0.0f, 0, 200);
    s.player(c, 0.75f, 0, 200);
    s.look({-0.3f, 1.3f, 3.6f}, {0, 0.95f, 0});
}

/// Boots, belt, shirt, trousers and gloves: cloth and leather, plate, and a woman's silk.
void wornItems(Stage& s)
{
    using P = PlayerSetting_t;
    const PlayerSetting_t cloth = Stage::wearing(
        0, 1, 0, {{&P::boot, 5001}, {&P::belt, 6001}, {&P::shirt, 2001}, {&P::pants, 3001}, {&P::glove, 4001}});
    const PlayerSetting_t plate = Stage::wearing(
        0, 2, 1, {{&P::boot, 5002}, {&P::belt, 6001}, {&P::shirt, 2002}, {&P::pants, 3002}, {&P::glove, 4002}});
    const PlayerSetting_t silk = Stage::wearing(
        1, 3, 2, {{&P::boot, 5004}, {&P::belt, 6002}, {&P::shirt, 2003}, {&P::pants, 3003}, {&P::glove, 4004}});
    CharacterInstance* first = s.player(cloth, -0.7f);
    CharacterInstance* second = s.player(plate, 0.0f);
    s.player(silk, 0.7f);
    s.look({0, 1.0f, 3.3f}, {0, 0.9f, 0});
    if (s.fault == "texture")
    {
        // The cloth shirt's body section wearing the plate's texture.
        const std::string texture = second->getSubEntityTexture(CharacterInstance::body_new);
        Ogre::MaterialPtr m = first->getEntityPtr()->getSubEntity(CharacterInstance::body_new)->getMaterial();
        m->getTechnique(0)->getPass(0)->getTextureUnitState(0)->setTextureName(texture);
    }
    else if (s.fault == "template")
    {
        // The plate's outer shirt on the cloth template (its texture kept).
        const std::string texture = second->getSubEntityTexture("shirt_out_0");
        second->retemplateSubEntity("shirt_out_0", "out_cloth", texture);
    }
}

/// Hair styles and colours.
void hair(Stage& s)
{
    // Every other one a step back, so that the shoulders may overlap and the heads come close.
    s.player(Stage::bare(0, 1, 0), -0.66f);
    s.player(Stage::bare(0, 2, 1), -0.22f, -0.5f);
    s.player(Stage::bare(0, 3, 2), 0.22f);
    s.player(Stage::bare(1, 2, 0), 0.66f, -0.5f);
    s.look({0, 1.75f, 2.5f}, {0, 1.5f, 0});
}

/// Skin colours and face types.
void skinAndFace(Stage& s)
{
    s.player(Stage::bare(0, 1, 0, 0, 1), -0.66f);
    s.player(Stage::bare(0, 1, 0, 1, 2), -0.22f, -0.5f);
    s.player(Stage::bare(1, 1, 0, 0, 2), 0.22f);
    s.player(Stage::bare(1, 1, 0, 1, 1), 0.66f, -0.5f);
    s.look({0, 1.75f, 2.5f}, {0, 1.5f, 0});
}

/// Opaque, 0.6 and 0.3 in front of a band that shows through.
void translucency(Stage& s)
{
    s.backdrop({0, 1.1f, -0.6f}, 4.0f, 0.5f, Ogre::ColourValue(0.9f, 0.75f, 0.2f));
    const PlayerSetting_t warrior = s.preset("Warrior");
    s.player(warrior, -0.75f);
    IInstance* mid = s.player(warrior, 0.0f);
    IInstance* faint = s.player(warrior, 0.75f);
    if (s.fault != "opacity")
    {
        s.system->setInstanceTransoarency(mid, 0.6f);
        s.system->setInstanceTransoarency(faint, 0.3f);
    }
    s.look({0, 1.0f, 3.4f}, {0, 0.95f, 0});
}

/// The same creature twice, the right one highlighted.
void highlight(Stage& s)
{
    IInstance* plain = s.place(s.system->createCreature("Grey Wolf"), "Grey Wolf", -0.7f, 0, 90);
    IInstance* lit = s.place(s.system->createCreature("Grey Wolf"), "Grey Wolf", 0.7f, 0, 90);
    // The fault: the highlight lands on the other copy of the same creature.
    (s.fault == "highlight" ? plain : lit)->setHighLight(true);
    s.look({0, 1.6f, 3.6f}, {0, 0.5f, 0});
}

/// A walking avatar with an attack over its legs: the same avatar at two moments of the swing.
void upperLowerSplit(Stage& s)
{
    const PlayerSetting_t warrior = s.preset("Warrior");
    const float moments[2] = {0.3f, 0.6f};
    for (int i = 0; i < 2; ++i)
    {
        IInstance* avatar = s.player(warrior, i == 0 ? -0.6f : 0.6f, 0, 90);
        avatar->playAnimation(static_cast<AnimationType>(1), BLEND_IMMEDIATE, 0.0f, nullptr, true);
        avatar->playAnimation(static_cast<AnimationType>(10), BLEND_IMMEDIATE, 0.0f, nullptr, true);
        advance(avatar, moments[i]);
        std::printf("moment %.2f s: Walk %.0f%%, Attack1 %.0f%%\n", moments[i], avatar->getPlayPercent("Walk") * 100,
                    avatar->getPlayPercent("Attack1") * 100);
    }
    s.look({0, 1.1f, 3.9f}, {0, 1.0f, 0});
}

/// A creature, an NPC and an object, each with its effects.
void creatures(Stage& s)
{
    s.place(s.system->createCreature("Dragon Whelp"), "Dragon Whelp", -0.9f, 0, 40);
    s.place(s.manager->createNpc("Blacksmith"), "Blacksmith", 0.1f);
    s.place(s.manager->createObject("Campfire"), "Campfire", 0.9f, 0.3f);
    s.look({0, 1.4f, 4.2f}, {0, 0.9f, 0});
}

const std::map<std::string, void (*)(Stage&)>& scenes()
{
    static const std::map<std::string, void (*)(Stage&)> all = {
        {"dressed_front", dressedFront}, {"dressed_side", dressedSide},
        {"attach_front", attachFront},   {"attach_back", attachBack},
        {"worn_items", wornItems},       {"hair", hair},
        {"skin_face", skinAndFace},      {"translucency", translucency},
        {"highlight", highlight},        {"upper_lower_split", upperLowerSplit},
        {"creatures", creatures},
    };
    return all;
}

/// The faults that --break puts in, and the scene that shows each.
const std::map<std::string, std::string>& faults()
{
    static const std::map<std::string, std::string> all = {{"texture", "worn_items"},
                                                           {"template", "worn_items"},
                                                           {"bone", "attach_front"},
                                                           {"opacity", "translucency"},
                                                           {"highlight", "highlight"}};
    return all;
}

std::string s_scene, s_referenceDir, s_fault;

RgbPicture grab(render_check::GLHost& host, Ogre::Root& root)
{
    const std::vector<Ogre::uint8> rgba = host.renderFrame(root);
    RgbPicture picture;
    picture.width = host.width;
    picture.height = host.height;
    picture.rgb.reserve(rgba.size() / 4 * 3);
    for (std::size_t i = 0; i < rgba.size(); i += 4)
        picture.rgb.insert(picture.rgb.end(), &rgba[i], &rgba[i] + 3);
    return picture;
}

/// Compares the rendered picture with the reference and says how it went; true when they match.
bool matches(const RgbPicture& actual, const std::string& output)
{
    const std::string referencePath = s_referenceDir + "/" + s_scene + ".png";
    const std::string actualPath = output + "/" + s_scene + (s_fault.empty() ? "" : ".broken-" + s_fault);
    std::string error;
    RgbPicture reference;
    if (!render_check::loadPng(referencePath, reference, error))
    {
        render_check::savePng(actual, actualPath + ".actual.png", error);
        std::printf("FAIL: no reference picture %s (%s); the picture rendered now is %s.actual.png. Record the "
                    "references with scripts/test.sh --update-references\n",
                    referencePath.c_str(), error.c_str(), actualPath.c_str());
        return false;
    }
    const render_check::Tolerance tolerance;
    const render_check::Comparison result = render_check::compare(actual, reference, tolerance);
    std::printf("%s: %ld pixels without a match (%.3f%%, %.3f%% allowed), largest step at one place %d\n",
                s_scene.c_str(), result.unmatched, result.share * 100, tolerance.share * 100, result.largestStep);
    if (result.passes(tolerance))
        return true;
    const bool written =
        render_check::savePng(actual, actualPath + ".actual.png", error) &&
        render_check::savePng(render_check::sideBySide(actual, reference, result), actualPath + ".diff.png", error);
    std::printf("MISMATCH: %s differs from %s; written: %s.actual.png and %s.diff.png (reference, actual, "
                "difference: magenta pixels have no match)%s\n",
                s_scene.c_str(), referencePath.c_str(), actualPath.c_str(), actualPath.c_str(),
                written ? "" : (" - but writing failed: " + error).c_str());
    return false;
}

/// The tolerance forgives an edge moved by one pixel: the picture shifted by one pixel each way
/// still matches itself.
bool forgivesShifts(const RgbPicture& picture)
{
    const render_check::Tolerance tolerance;
    for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}})
    {
        const render_check::Comparison c =
            render_check::compare(render_check::shifted(picture, dx, dy), picture, tolerance);
        if (!c.passes(tolerance))
        {
            std::printf("FAIL: moved by (%d, %d) pixels the picture no longer matches itself (%.3f%%)\n", dx, dy,
                        c.share * 100);
            return false;
        }
    }
    return true;
}

int run(const std::string& contentDir, const std::string& output, Ogre::Root& root)
{
    render_check::GLHost host;
    if (const int status = host.start(root, contentDir, s_size, s_size, s_scene.c_str()))
        return status;
    Stage stage;
    stage.system = IAvatarSystem::getSingletonPtr();
    stage.manager = &AvatarSystemManager::getSingleton();
    stage.scene = host.scene;
    stage.fault = s_fault;

    host.scene->setAmbientLight(Ogre::ColourValue(0.5f, 0.5f, 0.5f));
    Ogre::Light* light = host.scene->createLight("sun");
    light->setType(Ogre::Light::LT_DIRECTIONAL);
    light->setDiffuseColour(Ogre::ColourValue(0.8f, 0.8f, 0.8f));
    light->setSpecularColour(Ogre::ColourValue(0.6f, 0.6f, 0.6f));
    Ogre::SceneNode* lightNode = host.scene->getRootSceneNode()->createChildSceneNode();
    lightNode->attachObject(light);
    lightNode->setDirection(Ogre::Vector3(-0.4f, -1.0f, -0.8f).normalisedCopy(), Ogre::Node::TS_WORLD);
    stage.camera = host.scene->createCamera("view");
    stage.camera->setNearClipDistance(0.05f);
    stage.camera->setFOVy(Ogre::Degree(40));
    stage.camera->setAspectRatio(1.0f);
    host.scene->getRootSceneNode()->createChildSceneNode()->attachObject(stage.camera);
    host.window->addViewport(stage.camera)->setBackgroundColour(Ogre::ColourValue(0.12f, 0.14f, 0.2f));

    scenes().at(s_scene)(stage);
    const RgbPicture actual = grab(host, root);

    int status = 0;
    if (const char* update = std::getenv("AVATAR_UPDATE_REFERENCES"); update && *update && *update != '0')
    {
        const std::string path = s_referenceDir + "/" + s_scene + ".png";
        std::string error;
        if (!s_fault.empty())
            std::printf("a broken scene records nothing\n");
        else if (render_check::savePng(actual, path, error))
            std::printf("recorded %s\n", path.c_str());
        else
        {
            std::printf("FAIL: cannot write %s: %s\n", path.c_str(), error.c_str());
            status = 1;
        }
    }
    else if (s_fault.empty())
        status = matches(actual, output) && forgivesShifts(actual) ? 0 : 1;
    else if (matches(actual, output))
    {
        std::printf("FAIL: the %s fault was put in on purpose, yet the picture matched its reference\n",
                    s_fault.c_str());
        status = 1;
    }
    else
        std::printf("the reference caught the %s fault\n", s_fault.c_str());

    for (Ogre::SceneNode* node : stage.nodes)
        node->detachAllObjects();
    stage.system->release();
    CharacterInstance::clearEntityPools();
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    const bool withFault = argc == 7 && std::strcmp(argv[5], "--break") == 0;
    if ((argc != 5 && !withFault) || !scenes().count(argv[3]) ||
        (withFault && (!faults().count(argv[6]) || faults().at(argv[6]) != argv[3])))
    {
        std::fprintf(stderr,
                     "usage: %s <content dir> <output dir> <scene> <reference dir> [--break KIND]\nscenes:", argv[0]);
        for (const auto& entry : scenes())
            std::fprintf(stderr, " %s", entry.first.c_str());
        std::fprintf(stderr, "\nfaults (scene):");
        for (const auto& entry : faults())
            std::fprintf(stderr, " %s (%s)", entry.first.c_str(), entry.second.c_str());
        std::fprintf(stderr, "\n");
        return 2;
    }
    s_scene = argv[3];
    s_referenceDir = render_check::absolute(argv[4]);
    s_fault = withFault ? argv[6] : "";
    char* args[3] = {argv[0], argv[1], argv[2]};
    return render_check::runCheck(3, args, "output dir", run);
}
