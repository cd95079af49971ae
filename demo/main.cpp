// The demo host: does what a game client does with the avatar system.
#include <avatarsystem/avatarsystemmanager.h>
#include <avatarsystem/textdatabase.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace
{

struct TableName
{
    DB_NAME_e name;
    const char* file;
};

const TableName kTables[] = {
    {DB_CHAR_RACES, "EWRaces.csv"},           {DB_CHAR_SECTIONS, "EWCharSections.csv"},
    {DB_CHAR_HAIR_GEO, "EWCharHairGeo.csv"},  {DB_CHAR_FACIAL_HAIR, "EWCharFacialHairStyles.csv"},
    {DB_ITEM, "ItemDisplay.csv"},             {DB_WEARING, "WearingItemDisplay.csv"},
    {DB_BASE_INFO, "EWCharBaseInfo.csv"},     {DB_CREATURE, "Creature.csv"},
    {DB_NPC, "Npc.csv"},                      {DB_OBJECT, "Object.csv"},
    {DB_ANIMATION, "Animation.csv"},
};

void usage()
{
    std::printf("usage: avatar-demo [--content DIR]\n");
}

} // namespace

int main(int argc, char** argv)
{
    std::string content = ".";
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--content") == 0 && i + 1 < argc)
            content = argv[++i];
        else
        {
            usage();
            return 2;
        }
    }
    if (chdir(content.c_str()) != 0)
    {
        std::fprintf(stderr, "avatar-demo: cannot enter the content directory '%s'\n", content.c_str());
        return 1;
    }

    IAvatarSystem::getSingletonPtr();
    AvatarSystemManager& system = AvatarSystemManager::getSingleton();
    int failures = 0;
    std::printf("%-28s %s\n", "table", "rows");
    for (const TableName& table : kTables)
    {
        TextDataBase* db = system.getDB(table.name);
        if (db)
            std::printf("%-28s %u\n", table.file, db->getNumRecords());
        else
        {
            std::printf("%-28s cannot be opened (missing, or a row with the wrong column count)\n", table.file);
            ++failures;
        }
    }
    system.release();
    return failures ? 1 : 0;
}
