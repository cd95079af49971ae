// render_equipment <content dir> <png prefix>: builds an armed male ("Knight") and an armed female
// ("Archer" with a sword and a dagger) from the pack's presets, renders them with the GL render
// system, takes their helms, weapons and other carried models off through replacePlayer and
// renders them again. Checks that the pixels where each helm and weapon hung differ between the
// two frames while the feet, which nothing changed, stay the same. Writes <prefix>_armed.png and
// <prefix>_unarmed.png. Exit codes: 0 checked, 1 not as expected, 77 no GL display.

#include "avatarsystem/attachmodel.h"
#include "avatarsystem/characterinstance.h"

#include "renderhost.h"

#include <Ogre.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

const int s_width = 640;
const int s_height = 480;

using render_check::GLHost;
using render_check::Region;

int area(const Region& r)
{
    return std::max(0, r.right - r.left) * std::max(0, r.bottom - r.top);
}

/// The setting with every attached-model place emptied; the worn items stay.
PlayerSetting_t unarmed(PlayerSetting_t s)
{
    s.head = s.shoulder = s.doublehand = s.shield = s.leftHand = s.rightHand = 0;
    s.backLongWeapon = s.backShield = s.leftWaist = s.rightWaist = 0;
    return s;
}

Ogre::Entity* entityOf(AttachModel* model)
{
    return model ? model->getEntity() : nullptr;
}

/// A carried model to look for on the screen.
struct Watched
{
    std::string what;
    Region region;
};

int run(const std::string& contentDir, const std::string& prefix, Ogre::Root& root)
{
    GLHost host;
    if (const int status = host.start(root, contentDir, s_width, s_height, "equipment"))
        return status;
    Ogre::SceneManager* scene = host.scene;
    Ogre::RenderWindow* window = host.window;

    IAvatarSystem* system = IAvatarSystem::getSingletonPtr();
    AvatarSystemManager& manager = AvatarSystemManager::getSingleton();
    PlayerSetting_t knight = manager.getPorpertiesFromDB("Knight");
    PlayerSetting_t archer = manager.getPorpertiesFromDB("Archer");
    if (std::strcmp(knight.Name, "Knight") != 0 || std::strcmp(archer.Name, "Archer") != 0)
    {
        std::printf("FAIL: the presets Knight and Archer are missing\n");
        return 1;
    }
    knight.renderObj = archer.renderObj = true;
    archer.rightHand = 301; // a sword and the preset's dagger: armed in both hands
    auto* male = static_cast<CharacterInstance*>(system->createPlayer(knight, nullptr));
    auto* female = static_cast<CharacterInstance*>(system->createPlayer(archer, nullptr));
    if (!male || !female || !male->getEntityPtr() || !female->getEntityPtr() || !male->getCarriedModels().size())
    {
        std::printf("FAIL: the armed avatars could not be built\n");
        return 1;
    }
    system->setInstanceTransoarency(male, 1.0f);
    system->setInstanceTransoarency(female, 1.0f);

    const Ogre::ColourValue background(0.1f, 0.1f, 0.3f);
    scene->setAmbientLight(Ogre::ColourValue(0.7f, 0.7f, 0.7f));
    Ogre::Light* light = scene->createLight("sun");
    light->setType(Ogre::Light::LT_DIRECTIONAL);
    Ogre::SceneNode* lightNode = scene->getRootSceneNode()->createChildSceneNode();
    lightNode->attachObject(light);
    lightNode->setDirection(Ogre::Vector3(-0.3f, -1.0f, -1.0f).normalisedCopy(), Ogre::Node::TS_WORLD);

    Ogre::SceneNode* maleNode = scene->getRootSceneNode()->createChildSceneNode(Ogre::Vector3(-0.55f, 0, 0));
    Ogre::SceneNode* femaleNode = scene->getRootSceneNode()->createChildSceneNode(Ogre::Vector3(0.55f, 0, 0));
    maleNode->attachObject(male->getEntityPtr());
    femaleNode->attachObject(female->getEntityPtr());
    maleNode->_update(true, false);
    femaleNode->_update(true, false);
    // The bodies' own boxes, without what hangs on them, frame the camera and the feet.
    const Ogre::AxisAlignedBox maleBox = male->getEntityPtr()->getWorldBoundingBox(true);
    const Ogre::AxisAlignedBox femaleBox = female->getEntityPtr()->getWorldBoundingBox(true);
    Ogre::AxisAlignedBox both = maleBox;
    both.merge(femaleBox);

    // From the front, a little to the side and above, so that blades pointing forward show their length.
    Ogre::Camera* camera = scene->createCamera("view");
    camera->setNearClipDistance(0.05f);
    camera->setAspectRatio(static_cast<float>(s_width) / s_height);
    Ogre::SceneNode* cameraNode = scene->getRootSceneNode()->createChildSceneNode();
    cameraNode->attachObject(camera);
    const Ogre::Vector3 centre = both.getCenter();
    const float reach = std::max(both.getSize().y, both.getSize().x) * 1.5f;
    cameraNode->setPosition(centre + Ogre::Vector3(reach * 0.35f, reach * 0.15f, reach));
    cameraNode->lookAt(centre, Ogre::Node::TS_WORLD);
    cameraNode->_update(true, false);
    window->addViewport(camera)->setBackgroundColour(background);

    auto frame = [&](const std::string& file)
    {
        std::vector<Ogre::uint8> rgba = host.renderFrame(root);
        window->writeContentsToFile(file);
        return rgba;
    };
    const std::vector<Ogre::uint8> armed = frame(prefix + "_armed.png");

    // Where the helms and weapons hang in the armed frame.
    std::vector<Watched> watched;
    auto watch = [&](const std::string& what, Ogre::Entity* item)
    {
        if (!item || !item->isAttached())
            return false;
        watched.push_back({what, host.project(*camera, item->getWorldBoundingBox(true))});
        return true;
    };
    const bool allHung = watch("the male's helm", entityOf(male->getCarriedModels().front().model)) &&
                         watch("the male's right-hand axe", entityOf(male->getRightWeapon())) &&
                         watch("the female's helm", entityOf(female->getCarriedModels().front().model)) &&
                         watch("the female's right-hand sword", entityOf(female->getRightWeapon())) &&
                         watch("the female's left-hand dagger", entityOf(female->getLeftWeapon()));
    if (!allHung)
    {
        std::printf("FAIL: a helm or weapon does not hang on the body\n");
        return 1;
    }

    // The same avatars without their carried models: rebuilt by the next update.
    system->replacePlayer(unarmed(knight), male);
    system->update(0.016f);
    system->replacePlayer(unarmed(archer), female);
    system->update(0.016f);
    if (!male->getCarriedModels().empty() || !female->getCarriedModels().empty())
    {
        std::printf("FAIL: the avatars still carry models after their places were emptied\n");
        return 1;
    }
    const std::vector<Ogre::uint8> bare = frame(prefix + "_unarmed.png");

    bool ok = true;
    for (const Watched& w : watched)
    {
        const double share = host.changedShare(armed, bare, w.region);
        std::printf("%-30s %4d px, %.3f changed\n", w.what.c_str(), area(w.region), share);
        if (area(w.region) < 20 || share < 0.1)
        {
            std::printf("FAIL: the pixels where %s hung did not change\n", w.what.c_str());
            ok = false;
        }
    }
    // The feet: the lowest tenth of each body, where nothing was taken off.
    for (const Ogre::AxisAlignedBox* body : {&maleBox, &femaleBox})
    {
        Ogre::AxisAlignedBox feet = *body;
        feet.setMaximumY(body->getMinimum().y + body->getSize().y * 0.1f);
        const Region region = host.project(*camera, feet);
        const double share = host.changedShare(armed, bare, region);
        std::printf("%-30s %4d px, %.3f changed\n", "feet", area(region), share);
        if (share > 0.02)
        {
            std::printf("FAIL: pixels changed where nothing was taken off\n");
            ok = false;
        }
    }
    std::printf("frames written to %s_armed.png and %s_unarmed.png\n", prefix.c_str(), prefix.c_str());

    maleNode->detachAllObjects();
    femaleNode->detachAllObjects();
    system->release();
    CharacterInstance::clearEntityPools();
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    return render_check::runCheck(argc, argv, "png prefix", run);
}
