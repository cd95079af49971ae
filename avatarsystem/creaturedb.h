#pragma once

#include "avatarsystem/textdatabase.h"

#include <string>

/// Creatures and NPCs share one layout; only the name of column 0 differs.
class AVATARSYSTEM_API CreatureLayoutDB : public KeyedTextDataBase
{
public:
    /// @name Columns
    //@{
    /// Column indices, named as the file's columns (column 0, the ID and key, is named by each
    /// table): the scale; the name; the mesh file; five effect IDs; the host's head image; walk and
    /// run speeds; eight attacks' lengths and times, carried but not read; the camera bias handed to
    /// the host's view; non-zero when it reacts to transparency.
    static constexpr unsigned Scale = 1, Name = 2, FileName = 3, Effect1 = 4, Effect2 = 5, Effect3 = 6, Effect4 = 7,
                              Effect5 = 8, HeadImage = 9, WalkSpeed = 10, RunSpeed = 11, AttackAction1Len = 12,
                              AttackAction1FuckTime = 13, AttackAction2Len = 14, AttackAction2FuckTime = 15,
                              AttackAction3Len = 16, AttackAction3FuckTime = 17, AttackAction4Len = 18,
                              AttackAction4FuckTime = 19, AttackAction5Len = 20, AttackAction5FuckTime = 21,
                              AttackAction6Len = 22, AttackAction6FuckTime = 23, AttackAction70Len = 24,
                              AttackAction7FuckTime = 25, AttackAction8Len = 26, AttackAction8FuckTime = 27,
                              CameraBias = 28, BeTransObject = 29;
    //@}
    static constexpr unsigned NumColumns = 30; ///< the number of columns every row has

    /// The row stored under id, else s_emptyRecord.
    const Record& getByID(unsigned id) const { return findByKey(id); }
    /// The first row in ascending ID order whose Name equals name (case-sensitive, no trimming), else
    /// s_emptyRecord.
    const Record& getByName(const std::string& name) const { return findByName(Name, name.c_str()); }
    /// Replaces the row stored under id (the key stays id); false and nothing changed when there is none.
    /// (Through a TextDataBase pointer, insteadRecord takes a position in key order instead.)
    bool insteadRecord(Record& rec, unsigned id) { return replaceStored(rec, id); }

    /// @cond INTERNAL
protected:
    explicit CreatureLayoutDB(const TableLayout& layout) : KeyedTextDataBase(layout) {}
    /// The shared layout under a file name and the name of column 0.
    static TableLayout makeLayout(const char* fileName, const char* idColumn);
    /// @endcond
};

/// Monsters: "Creature.csv", IDs below 30000.
class AVATARSYSTEM_API CreatureDB : public CreatureLayoutDB
{
public:
    static constexpr unsigned CreatureID = 0; ///< the column of the creature ID, the key
    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    /// An empty table of "Creature.csv"; open() reads it.
    CreatureDB() : CreatureLayoutDB(layout()) {}
};

/// NPCs: "Npc.csv", IDs from 30000 outside 37000-38999.
class AVATARSYSTEM_API NpcDB : public CreatureLayoutDB
{
public:
    static constexpr unsigned NpcID = 0; ///< the column of the NPC ID, the key
    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    /// An empty table of "Npc.csv"; open() reads it.
    NpcDB() : CreatureLayoutDB(layout()) {}
};

/// World objects: "Object.csv", IDs 37000-38999.
class AVATARSYSTEM_API ObjectDB : public KeyedTextDataBase
{
public:
    /// @name Columns
    //@{
    /// Column indices, named as the file's columns: the object ID (the key); the scale; the name;
    /// the mesh file; five effect IDs; the host's head image; the camera bias handed to the host's
    /// view; non-zero when it reacts to transparency.
    static constexpr unsigned ObjectId = 0, Scale = 1, Name = 2, FileName = 3, Effect1 = 4, Effect2 = 5, Effect3 = 6,
                              Effect4 = 7, Effect5 = 8, HeadImage = 9, CameraBias = 10, BeTransObject = 11;
    //@}
    static constexpr unsigned NumColumns = 12; ///< the number of columns every row has

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    /// An empty table of "Object.csv"; open() reads it.
    ObjectDB() : KeyedTextDataBase(layout()) {}
    /// The row stored under id, else s_emptyRecord.
    const Record& getByID(unsigned id) const { return findByKey(id); }
    /// The first row in ascending ID order whose Name equals name (case-sensitive, no trimming), else
    /// s_emptyRecord.
    const Record& getByName(const std::string& name) const { return findByName(Name, name.c_str()); }
    /// As CreatureLayoutDB::insteadRecord: by ID here, by position through a TextDataBase pointer.
    bool insteadRecord(Record& rec, unsigned id) { return replaceStored(rec, id); }
};
