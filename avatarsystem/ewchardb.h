#pragma once

#include "avatarsystem/textdatabase.h"

/// Items held or hung on bones: "ItemDisplay.csv", keyed by ItemID.
class AVATARSYSTEM_API EWItemDB : public KeyedTextDataBase
{
public:
    static constexpr unsigned ItemID = 0, Name = 1, Type = 2, ModelFile = 3, ModelFile2 = 4, HideHair = 5, HideHead = 6,
                              Effect1 = 7, Effect2 = 8, Effect3 = 9, flag = 10;
    static constexpr unsigned NumColumns = 11;

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    EWItemDB() : KeyedTextDataBase(layout()) {}
    const Record& getByID(unsigned id) const { return findByKey(id); }
    const Record& getByName(const char* name) const { return findByName(Name, name); }

protected:
    /// addRecord stores a copy under its column 0, replacing any row stored there.
    bool storeRecord(const Record& rec) override { return storeReplacing(rec); }
};

/// Worn items that change textures and geosets: "WearingItemDisplay.csv", keyed by ItemID.
class AVATARSYSTEM_API EWWearingDB : public KeyedTextDataBase
{
public:
    static constexpr unsigned ItemID = 0, Name = 1, Type = 2, TexPath = 3, outModel = 4, material = 5, TexHand = 6,
                              MatHand = 7, TexBody = 8, MatBody = 9, TexPants = 10, MatPants = 11, TexFoot = 12,
                              MatFoot = 13, Flag = 14, HideBody = 15;
    static constexpr unsigned NumColumns = 16;

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    EWWearingDB() : KeyedTextDataBase(layout()) {}
    const Record& getByID(unsigned id) const { return findByKey(id); }

protected:
    /// addRecord stores a copy under its column 0 only when no row is stored there; false when one
    /// was (it stays).
    bool storeRecord(const Record& rec) override { return storeIfNew(rec); }
};

/// Effect kinds: "EWEffects.csv", keyed by effectID.
class AVATARSYSTEM_API EWEffectsDB : public KeyedTextDataBase
{
public:
    static constexpr unsigned effectID = 0, effectName = 1, effectTemplatName = 2, effectSize = 3, effectSpeed = 4;
    static constexpr unsigned NumColumns = 5;

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    EWEffectsDB() : KeyedTextDataBase(layout()) {}
    const Record& getById(unsigned id) const { return findByKey(id); }
    const Record& getByName(const char* name) const { return findByName(effectName, name); }
};

/// Preset characters, one per row in file order: "EWCharBaseInfo.csv".
class AVATARSYSTEM_API EWBaseInfoDB : public TextDataBase
{
public:
    static constexpr unsigned charID = 0, Name = 1, race = 2, gender = 3, facialHairStyle = 4, hairStyle = 5,
                              hairColor = 6, skinColor = 7, faceType = 8, head = 9, shoulder = 10, boot = 11, belt = 12,
                              shirt = 13, pants = 14, doublehand = 15, shield = 16, glove = 17, leftHand = 18,
                              rightHand = 19, backLongWeapon = 20, backShield = 21, leftWaist = 22, rightWaist = 23,
                              animation = 24;
    static constexpr unsigned NumColumns = 25;

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    EWBaseInfoDB() : TextDataBase(layout()) {}
    /// The row at position id - 1, whatever its column 0 holds.
    const Record& getById(unsigned id) const;
    const Record& getByName(const char* name) const { return findRowByName(Name, name); }
};

/// Races in file order, race N on row N: "EWRaces.csv".
class AVATARSYSTEM_API EWCharRacesDB : public TextDataBase
{
public:
    static constexpr unsigned RaceID = 0, ShortName = 1, Name = 2, ChineseName = 3, scale = 4, Special1 = 5,
                              Special2 = 6;
    static constexpr unsigned NumColumns = 7;

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    EWCharRacesDB() : TextDataBase(layout()) {}
    /// The row at position id - 1 when its RaceID equals id.
    const Record& getById(unsigned id) const;
    const Record& getByName(const char* name) const { return findRowByName(Name, name); }
};

/// Textures per body section under a key packed from race, gender, type, section and colour:
/// "EWCharSections.csv". Column 0 must hold the packed key of the row's own columns.
class AVATARSYSTEM_API EWCharSectionsDB : public KeyedTextDataBase
{
public:
    static constexpr unsigned SectonID = 0, Race = 1, Gender = 2, Type = 3, Section = 4, Color = 5, Tex1 = 6, Tex2 = 7,
                              Tex3 = 8, IsNPC = 9;
    static constexpr unsigned NumColumns = 10;
    /// Values of the Type column.
    static constexpr unsigned SkinType = 0, FaceType = 1, FacialHairType = 2, HairType = 3, UnderwearType = 4;

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    EWCharSectionsDB() : KeyedTextDataBase(layout()) {}
    /// (race - 1) * 2000 + gender * 1000 + type * 200 + section * 10 + color, wrapping in 32 bits.
    static unsigned makeKey(unsigned race, unsigned gender, unsigned type, unsigned section, unsigned color)
    {
        return (race - 1u) * 2000u + gender * 1000u + type * 200u + section * 10u + color;
    }
    const Record& getByParams(unsigned race, unsigned gender, unsigned type, unsigned section, unsigned color) const
    {
        return findByKey(makeKey(race, gender, type, section, color));
    }
    /// How many colours that section offers.
    int getColorsFor(unsigned race, unsigned gender, unsigned type, unsigned section) const;
    /// How many sections of that type exist in that colour.
    int getSectionsFor(unsigned race, unsigned gender, unsigned type, unsigned color) const;

protected:
    /// addRecord stores a copy under its column 0 (not a key packed from the columns), replacing
    /// any row stored there.
    bool storeRecord(const Record& rec) override { return storeReplacing(rec); }

private:
    /// Rows of that race, gender and type whose column holds value (all read as unsigned).
    int countRows(unsigned race, unsigned gender, unsigned type, unsigned column, unsigned value) const;
};

/// Hair sub-meshes per race, gender and hair style: "EWCharHairGeo.csv".
/// Column 0 must hold the packed key of the row's own columns.
class AVATARSYSTEM_API EWCharHairGeoDB : public KeyedTextDataBase
{
public:
    static constexpr unsigned CharHairGeosetID = 0, Race = 1, Gender = 2, Section = 3, Submesh1 = 4, Submesh2 = 5,
                              Flags = 6;
    static constexpr unsigned NumColumns = 7;

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    EWCharHairGeoDB() : KeyedTextDataBase(layout()) {}
    /// (race - 1) * 40 + gender * 20 + section, wrapping in 32 bits.
    static unsigned makeKey(unsigned race, unsigned gender, unsigned section)
    {
        return (race - 1u) * 40u + gender * 20u + section;
    }
    const Record& getByParams(unsigned race, unsigned gender, unsigned section) const
    {
        return findByKey(makeKey(race, gender, section));
    }

protected:
    /// addRecord stores a copy under its column 0 (not a key packed from the columns), replacing
    /// any row stored there.
    bool storeRecord(const Record& rec) override { return storeReplacing(rec); }
};

/// Beard styles in file order: "EWCharFacialHairStyles.csv". No ID column.
class AVATARSYSTEM_API EWCharFacialHairDB : public TextDataBase
{
public:
    static constexpr unsigned Race = 0, Gender = 1, Style = 2, Geoset1 = 3, Geoset3 = 4, Geoset2 = 5;
    static constexpr unsigned NumColumns = 6;

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    EWCharFacialHairDB() : TextDataBase(layout()) {}
    /// The first row in file order for that race, gender and style.
    const Record& getByParams(unsigned race, unsigned gender, unsigned style) const;
    /// How many beard styles that race and gender offer.
    int getStylesFor(unsigned race, unsigned gender) const;

protected:
    /// Column 0 is the race, not an ID: deleting a row renumbers nothing.
    bool removeRecordAt(int index) override { return removeRow(index, false); }
};
