// A minimal host built against the installed package: obtains the system and opens a table.
#include <avatarsystem/avatarinterface.h>
#include <avatarsystem/avatarsystemmanager.h>
#include <avatarsystem/ewchardb.h>
#include <avatarsystem/textdatabase.h>

#include <cstdio>

int main()
{
    IAvatarSystem* system = IAvatarSystem::getSingletonPtr();
    if (!system || &IAvatarSystem::getSingleton() != system)
        return 1;
    // No OGRE root and no scene manager here: the system must still answer softly.
    if (AvatarSystemManager::getSingleton().getSceneMgr() != nullptr)
        return 2;
    PlayerSetting_t setting;
    if (!setting.renderObj || system->createPlayer(setting, nullptr) != nullptr)
        return 3;
    // The headers' inline look-ups reach the library's exported helpers.
    EWBaseInfoDB presets;
    EWItemDB items;
    if (&presets.getByName("nobody") != &s_emptyRecord || &items.getByID(1) != &s_emptyRecord)
        return 4;
    system->release();
    std::puts("consumer ok");
    return 0;
}
