#include "avatarsystem/creaturedb.h"

#include "avatarsystem/detail/tablelayout.h"

#define COLUMN(name) AVATAR_TABLE_COLUMN(CreatureLayoutDB, name)

TableLayout CreatureLayoutDB::makeLayout(const char* fileName, const char* idColumn)
{
    TableLayout layout = avatar_detail::makeTableLayout(fileName, NumColumns, true,
                                                        {COLUMN(Scale),
                                                         COLUMN(Name),
                                                         COLUMN(FileName),
                                                         COLUMN(Effect1),
                                                         COLUMN(Effect2),
                                                         COLUMN(Effect3),
                                                         COLUMN(Effect4),
                                                         COLUMN(Effect5),
                                                         COLUMN(HeadImage),
                                                         COLUMN(WalkSpeed),
                                                         COLUMN(RunSpeed),
                                                         COLUMN(AttackAction1Len),
                                                         COLUMN(AttackAction1FuckTime),
                                                         COLUMN(AttackAction2Len),
                                                         COLUMN(AttackAction2FuckTime),
                                                         COLUMN(AttackAction3Len),
                                                         COLUMN(AttackAction3FuckTime),
                                                         COLUMN(AttackAction4Len),
                                                         COLUMN(AttackAction4FuckTime),
                                                         COLUMN(AttackAction5Len),
                                                         COLUMN(AttackAction5FuckTime),
                                                         COLUMN(AttackAction6Len),
                                                         COLUMN(AttackAction6FuckTime),
                                                         COLUMN(AttackAction70Len),
                                                         COLUMN(AttackAction7FuckTime),
                                                         COLUMN(AttackAction8Len),
                                                         COLUMN(AttackAction8FuckTime),
                                                         COLUMN(CameraBias),
                                                         COLUMN(BeTransObject)});
    layout.columns[0] = idColumn;
    return layout;
}

#undef COLUMN

const TableLayout& CreatureDB::layout()
{
    static const TableLayout table = makeLayout("Creature.csv", "CreatureID");
    static_assert(CreatureID == 0, "the ID is column 0");
    return table;
}

const TableLayout& NpcDB::layout()
{
    static const TableLayout table = makeLayout("Npc.csv", "NpcID");
    static_assert(NpcID == 0, "the ID is column 0");
    return table;
}

const TableLayout& ObjectDB::layout()
{
    static const TableLayout table = avatar_detail::makeTableLayout(
        "Object.csv", NumColumns, true,
        {AVATAR_TABLE_COLUMN(ObjectDB, ObjectId), AVATAR_TABLE_COLUMN(ObjectDB, Scale),
         AVATAR_TABLE_COLUMN(ObjectDB, Name), AVATAR_TABLE_COLUMN(ObjectDB, FileName),
         AVATAR_TABLE_COLUMN(ObjectDB, Effect1), AVATAR_TABLE_COLUMN(ObjectDB, Effect2),
         AVATAR_TABLE_COLUMN(ObjectDB, Effect3), AVATAR_TABLE_COLUMN(ObjectDB, Effect4),
         AVATAR_TABLE_COLUMN(ObjectDB, Effect5), AVATAR_TABLE_COLUMN(ObjectDB, HeadImage),
         AVATAR_TABLE_COLUMN(ObjectDB, CameraBias), AVATAR_TABLE_COLUMN(ObjectDB, BeTransObject)});
    return table;
}
