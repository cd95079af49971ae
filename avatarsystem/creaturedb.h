#pragma once

#include "avatarsystem/textdatabase.h"

#include <string>

/// Creatures and NPCs share one layout; only the name of column 0 differs.
class AVATARSYSTEM_API CreatureLayoutDB : public KeyedTextDataBase
{
public:
    static constexpr unsigned Scale = 1, Name = 2, FileName = 3, Effect1 = 4, Effect2 = 5, Effect3 = 6, Effect4 = 7,
                              Effect5 = 8, HeadImage = 9, WalkSpeed = 10, RunSpeed = 11, AttackAction1Len = 12,
                              AttackAction1FuckTime = 13, AttackAction2Len = 14, AttackAction2FuckTime = 15,
                              AttackAction3Len = 16, AttackAction3FuckTime = 17, AttackAction4Len = 18,
                              AttackAction4FuckTime = 19, AttackAction5Len = 20, AttackAction5FuckTime = 21,
                              AttackAction6Len = 22, AttackAction6FuckTime = 23, AttackAction70Len = 24,
                              AttackAction7FuckTime = 25, AttackAction8Len = 26, AttackAction8FuckTime = 27,
                              CameraBias = 28, BeTransObject = 29;
    static constexpr unsigned NumColumns = 30;

    const Record& getByID(unsigned id) const { return findByKey(id); }
    /// The first row in ascending ID order whose Name equals name (case-sensitive, no trimming).
    const Record& getByName(const std::string& name) const { return findByName(Name, name.c_str()); }
    /// Replaces the row stored under id (the key stays id); false and nothing changed when there is none.
    /// (Through a TextDataBase pointer, insteadRecord takes a position in key order instead.)
    bool insteadRecord(Record& rec, unsigned id) { return replaceStored(rec, id); }

protected:
    explicit CreatureLayoutDB(const TableLayout& layout) : KeyedTextDataBase(layout) {}
    /// The shared layout under a file name and the name of column 0.
    static TableLayout makeLayout(const char* fileName, const char* idColumn);
};

/// Monsters: "Creature.csv", IDs below 30000.
class AVATARSYSTEM_API CreatureDB : public CreatureLayoutDB
{
public:
    static constexpr unsigned CreatureID = 0;
    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    CreatureDB() : CreatureLayoutDB(layout()) {}
};

/// NPCs: "Npc.csv", IDs from 30000 outside 37000-38999.
class AVATARSYSTEM_API NpcDB : public CreatureLayoutDB
{
public:
    static constexpr unsigned NpcID = 0;
    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    NpcDB() : CreatureLayoutDB(layout()) {}
};

/// World objects: "Object.csv", IDs 37000-38999.
class AVATARSYSTEM_API ObjectDB : public KeyedTextDataBase
{
public:
    static constexpr unsigned ObjectId = 0, Scale = 1, Name = 2, FileName = 3, Effect1 = 4, Effect2 = 5, Effect3 = 6,
                              Effect4 = 7, Effect5 = 8, HeadImage = 9, CameraBias = 10, BeTransObject = 11;
    static constexpr unsigned NumColumns = 12;

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    ObjectDB() : KeyedTextDataBase(layout()) {}
    const Record& getByID(unsigned id) const { return findByKey(id); }
    const Record& getByName(const std::string& name) const { return findByName(Name, name.c_str()); }
    /// As CreatureLayoutDB::insteadRecord: by ID here, by position through a TextDataBase pointer.
    bool insteadRecord(Record& rec, unsigned id) { return replaceStored(rec, id); }
};
