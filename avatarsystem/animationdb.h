#pragma once

#include "avatarsystem/textdatabase.h"

/// Maps an animation kind to the skeletal animation and how it is played: "Animation.csv".
class AVATARSYSTEM_API AnimationDB : public KeyedTextDataBase
{
public:
    static constexpr unsigned AnimType = 0, PlayType = 1, BlendType = 2, AnimName = 3, IsMerge = 4, expain = 5;
    static constexpr unsigned NumColumns = 6;

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    AnimationDB() : KeyedTextDataBase(layout()) {}
    /// The row of that kind, or null when there is none.
    const Record* getByType(unsigned type) const
    {
        const auto it = m_recordMap.find(type);
        return it == m_recordMap.end() ? nullptr : &it->second;
    }
};
