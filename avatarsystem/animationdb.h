#pragma once

#include "avatarsystem/textdatabase.h"

/// Maps an animation kind to the skeletal animation and how it is played: "Animation.csv".
class AVATARSYSTEM_API AnimationDB : public KeyedTextDataBase
{
public:
    /// @name Columns
    //@{
    /// Column indices, named as the file's columns: the animation kind (the key); the play type
    /// (0 loop, 1 once, 2 additive pose); the body layer (0 whole body, 1 lower, 2 upper); the
    /// skeletal animation's name; the merge flag (0 makes a play-once fade ten times faster); a
    /// remark for authors, not read.
    static constexpr unsigned AnimType = 0, PlayType = 1, BlendType = 2, AnimName = 3, IsMerge = 4, expain = 5;
    //@}
    static constexpr unsigned NumColumns = 6; ///< the number of columns every row has

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    /// An empty table of "Animation.csv"; open() reads it.
    AnimationDB() : KeyedTextDataBase(layout()) {}
    /// The row of that kind, or null when there is none.
    const Record* getByType(unsigned type) const
    {
        const auto it = m_recordMap.find(type);
        return it == m_recordMap.end() ? nullptr : &it->second;
    }
};
