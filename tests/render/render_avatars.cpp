// render_avatars <content dir> <png>: builds the pack's "Warrior" (male) and "Archer" (female) presets,
// turned sideways so that their limbs swing across the screen, and renders them with the GL render
// system: once at rest, checking that each avatar's screen region holds drawn pixels; then with the
// male walking and the female held in a still pose of the walk, at two moments a quarter of a walk
// cycle apart. The male's legs must change between the moments, the female must change from rest
// to her pose and then not at all. The last frame goes to <png>.
// Exit codes: 0 passed, 1 not drawn, not moving or broken, 77 no GL display.

#include "avatarsystem/characterinstance.h"

#include "renderhost.h"

#include <Ogre.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

const int s_width = 480;
const int s_height = 360;

using render_check::GLHost;
using render_check::Region;

/// The rows and columns of the window that a world box covers after widening it by @p spread on x
/// and z (limbs swing beyond the mesh's bounds) and cutting it to heights [@p fromY, @p toY].
Region project(const GLHost& host, const Ogre::Camera& camera, Ogre::AxisAlignedBox box, float spread, float fromY,
               float toY)
{
    Ogre::Vector3 low = box.getMinimum() - Ogre::Vector3(spread, 0, spread);
    Ogre::Vector3 high = box.getMaximum() + Ogre::Vector3(spread, 0, spread);
    low.y = fromY;
    high.y = toY;
    box.setExtents(low, high);
    return host.project(camera, box);
}

/// The share of pixels in the region that differ from the background colour.
double drawnShare(const std::vector<Ogre::uint8>& rgba, const Region& r, const Ogre::ColourValue& background)
{
    const int bg[3] = {static_cast<int>(background.r * 255), static_cast<int>(background.g * 255),
                       static_cast<int>(background.b * 255)};
    long drawn = 0, total = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
        {
            const Ogre::uint8* px = &rgba[(static_cast<std::size_t>(y) * s_width + x) * 4];
            ++total;
            if (std::abs(px[0] - bg[0]) + std::abs(px[1] - bg[1]) + std::abs(px[2] - bg[2]) > 24)
                ++drawn;
        }
    return total ? static_cast<double>(drawn) / total : 0.0;
}

CharacterInstance* buildPreset(const char* preset)
{
    AvatarSystemManager& manager = AvatarSystemManager::getSingleton();
    const PlayerSetting_t setting = manager.getPorpertiesFromDB(preset);
    if (std::strcmp(setting.Name, preset) != 0)
        return nullptr;
    auto* character = new CharacterInstance();
    character->setProperties(setting);
    character->setUniqueID(manager.takeUniqueID());
    if (!character->create())
    {
        character->destroy();
        delete character;
        return nullptr;
    }
    character->setInstanceTransoarency(1.0f, true);
    return character;
}

int run(const std::string& contentDir, const std::string& pngPath, Ogre::Root& root)
{
    GLHost host;
    if (const int status = host.start(root, contentDir, s_width, s_height, "avatars"))
        return status;
    Ogre::SceneManager* scene = host.scene;
    Ogre::RenderWindow* window = host.window;
    IAvatarSystem::getSingletonPtr();
    std::unique_ptr<CharacterInstance, void (*)(CharacterInstance*)> male(buildPreset("Warrior"),
                                                                          [](CharacterInstance* c)
                                                                          {
                                                                              if (c)
                                                                                  c->destroy();
                                                                              delete c;
                                                                          });
    std::unique_ptr<CharacterInstance, void (*)(CharacterInstance*)> female(buildPreset("Archer"), male.get_deleter());
    if (!male || !female)
    {
        std::printf("FAIL: the presets Warrior and Archer could not be built\n");
        return 1;
    }

    const Ogre::ColourValue background(0.1f, 0.1f, 0.3f);
    scene->setAmbientLight(Ogre::ColourValue(0.7f, 0.7f, 0.7f));
    Ogre::Light* light = scene->createLight("sun");
    light->setType(Ogre::Light::LT_DIRECTIONAL);
    Ogre::SceneNode* lightNode = scene->getRootSceneNode()->createChildSceneNode();
    lightNode->attachObject(light);
    lightNode->setDirection(Ogre::Vector3(-0.3f, -1.0f, -1.0f).normalisedCopy(), Ogre::Node::TS_WORLD);

    // Both face along +x: a leg or arm swinging forward and back then moves across the screen.
    const Ogre::Quaternion sideways(Ogre::Degree(90), Ogre::Vector3::UNIT_Y);
    Ogre::SceneNode* maleNode = scene->getRootSceneNode()->createChildSceneNode(Ogre::Vector3(-0.9f, 0, 0), sideways);
    Ogre::SceneNode* femaleNode = scene->getRootSceneNode()->createChildSceneNode(Ogre::Vector3(0.9f, 0, 0), sideways);
    maleNode->attachObject(male->getEntityPtr());
    femaleNode->attachObject(female->getEntityPtr());
    maleNode->_update(true, false);
    femaleNode->_update(true, false);
    const Ogre::AxisAlignedBox maleBox = male->getEntityPtr()->getWorldBoundingBox(true);
    const Ogre::AxisAlignedBox femaleBox = female->getEntityPtr()->getWorldBoundingBox(true);
    Ogre::AxisAlignedBox both = maleBox;
    both.merge(femaleBox);

    Ogre::Camera* camera = scene->createCamera("view");
    camera->setNearClipDistance(0.05f);
    camera->setAutoAspectRatio(true);
    Ogre::SceneNode* cameraNode = scene->getRootSceneNode()->createChildSceneNode();
    cameraNode->attachObject(camera);
    const Ogre::Vector3 centre = both.getCenter();
    const float reach = std::max(both.getSize().y, both.getSize().x) * 1.6f;
    cameraNode->setPosition(centre + Ogre::Vector3(0, 0, reach));
    cameraNode->lookAt(centre, Ogre::Node::TS_WORLD);
    Ogre::Viewport* viewport = window->addViewport(camera);
    viewport->setBackgroundColour(background);
    camera->setAspectRatio(static_cast<float>(s_width) / s_height);
    cameraNode->_update(true, false);

    const std::vector<Ogre::uint8> rgba = host.renderFrame(root);

    const Region maleRegion = host.project(*camera, maleBox);
    const Region femaleRegion = host.project(*camera, femaleBox);
    const double maleShare = drawnShare(rgba, maleRegion, background);
    const double femaleShare = drawnShare(rgba, femaleRegion, background);
    const double cornerShare = drawnShare(rgba, Region{0, 0, s_width / 10, s_height / 10}, background);
    std::printf("drawn: male %.3f, female %.3f, corner %.3f\n", maleShare, femaleShare, cornerShare);
    // A body fills a good part of its box; the empty corner shows the background was read right.
    if (maleShare < 0.15 || femaleShare < 0.15 || cornerShare > 0.01)
    {
        std::printf("FAIL: the avatars are not drawn where they stand\n");
        return 1;
    }

    // The male walks at his reference pace (animation time runs with the clock); the female holds
    // the middle of the walk, legs apart. A quarter cycle later the male's legs have moved from
    // apart to together and one knee bent; nothing of the female may have changed.
    IInstance* walker = male.get();
    IInstance* still = female.get();
    const AnimationType walk = static_cast<AnimationType>(1);
    walker->setSpeed(6.0f, 2.5f);
    walker->playAnimation(walk, BLEND_IMMEDIATE, 0.0f, nullptr, true);
    still->playStatic(walk, 0.5f);
    const std::vector<Ogre::uint8> first = host.renderFrame(root);
    walker->update(true, 0.25f);
    still->update(true, 0.25f);
    const std::vector<Ogre::uint8> second = host.renderFrame(root);
    window->writeContentsToFile(pngPath);

    const float hips = 0.9f;
    const Region maleLegs = project(host, *camera, maleBox, 0.45f, maleBox.getMinimum().y - 0.05f, hips);
    const Region femaleWhole =
        project(host, *camera, femaleBox, 0.45f, femaleBox.getMinimum().y - 0.05f, femaleBox.getMaximum().y);
    const double legsMoved = host.changedShare(first, second, maleLegs);
    const double posed = host.changedShare(rgba, first, femaleWhole);
    const double stillMoved = host.changedShare(first, second, femaleWhole);
    std::printf("changed: walking male's legs %.3f; female from rest to her pose %.3f, then %.4f; frame written "
                "to %s\n",
                legsMoved, posed, stillMoved, pngPath.c_str());
    if (legsMoved < 0.03)
    {
        std::printf("FAIL: the walking avatar's legs do not move\n");
        return 1;
    }
    if (posed < 0.01)
    {
        std::printf("FAIL: the still pose is not shown\n");
        return 1;
    }
    if (stillMoved > 0.002)
    {
        std::printf("FAIL: the avatar held in a still pose moves\n");
        return 1;
    }
    maleNode->detachAllObjects();
    femaleNode->detachAllObjects();
    male.reset();
    female.reset();
    CharacterInstance::clearEntityPools();
    IAvatarSystem::getSingleton().release();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return render_check::runCheck(argc, argv, "png", run);
}
