#include "avatarsystem/animationdb.h"

#include "avatarsystem/detail/tablelayout.h"

const TableLayout& AnimationDB::layout()
{
    static const TableLayout table = avatar_detail::makeTableLayout(
        "Animation.csv", NumColumns, true,
        {AVATAR_TABLE_COLUMN(AnimationDB, AnimType), AVATAR_TABLE_COLUMN(AnimationDB, PlayType),
         AVATAR_TABLE_COLUMN(AnimationDB, BlendType), AVATAR_TABLE_COLUMN(AnimationDB, AnimName),
         AVATAR_TABLE_COLUMN(AnimationDB, IsMerge), AVATAR_TABLE_COLUMN(AnimationDB, expain)});
    return table;
}
