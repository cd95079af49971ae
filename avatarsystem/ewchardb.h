#pragma once

#include "avatarsystem/textdatabase.h"

/// Items held or hung on bones: "ItemDisplay.csv", keyed by ItemID.
class AVATARSYSTEM_API EWItemDB : public KeyedTextDataBase
{
public:
    /// @name Columns
    //@{
    /// Column indices, named as the file's columns: the item ID (the key); its name; its type,
    /// which decides the bone it hangs on; the model files, named without ".mesh"; whether
    /// a head item hides the styled hair and the hair piece (a value that is not a multiple of 10
    /// hides); three effect names; the genders it fits (0 male, 1 female, 2 both).
    static constexpr unsigned ItemID = 0, Name = 1, Type = 2, ModelFile = 3, ModelFile2 = 4, HideHair = 5, HideHead = 6,
                              Effect1 = 7, Effect2 = 8, Effect3 = 9, flag = 10;
    //@}
    static constexpr unsigned NumColumns = 11; ///< the number of columns every row has

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    /// An empty table of "ItemDisplay.csv"; open() reads it.
    EWItemDB() : KeyedTextDataBase(layout()) {}
    /// The row stored under id, else s_emptyRecord.
    const Record& getByID(unsigned id) const { return findByKey(id); }
    /// The first row in ascending ID order whose Name equals name byte for byte (case-sensitive, no
    /// trimming), else s_emptyRecord; a null name misses.
    const Record& getByName(const char* name) const { return findByName(Name, name); }

protected:
    /// addRecord stores a copy under its column 0, replacing any row stored there.
    bool storeRecord(const Record& rec) override { return storeReplacing(rec); }
};

/// Worn items that change textures and geosets: "WearingItemDisplay.csv", keyed by ItemID.
class AVATARSYSTEM_API EWWearingDB : public KeyedTextDataBase
{
public:
    /// @name Columns
    //@{
    /// Column indices, named as the file's columns: the item ID (the key); name; type; the
    /// texture path; the body sub-entity it dresses and its material; a texture and a material each
    /// for hands, body, legs and feet; the genders it fits (0 male, 1 female, 2 both); 1 when it
    /// hides the body under its own sub-entity.
    static constexpr unsigned ItemID = 0, Name = 1, Type = 2, TexPath = 3, outModel = 4, material = 5, TexHand = 6,
                              MatHand = 7, TexBody = 8, MatBody = 9, TexPants = 10, MatPants = 11, TexFoot = 12,
                              MatFoot = 13, Flag = 14, HideBody = 15;
    //@}
    static constexpr unsigned NumColumns = 16; ///< the number of columns every row has

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    /// An empty table of "WearingItemDisplay.csv"; open() reads it.
    EWWearingDB() : KeyedTextDataBase(layout()) {}
    /// The row stored under id, else s_emptyRecord.
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
    /// @name Columns
    //@{
    /// Column indices, named as the file's columns: the effect ID (the key), its name, the
    /// template it is made from, its size and its speed, carried but not read by the system.
    static constexpr unsigned effectID = 0, effectName = 1, effectTemplatName = 2, effectSize = 3, effectSpeed = 4;
    //@}
    static constexpr unsigned NumColumns = 5; ///< the number of columns every row has

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    /// An empty table of "EWEffects.csv"; open() reads it.
    EWEffectsDB() : KeyedTextDataBase(layout()) {}
    /// The row stored under id, else s_emptyRecord.
    const Record& getById(unsigned id) const { return findByKey(id); }
    /// The first row in ascending ID order whose effectName equals name byte for byte, else
    /// s_emptyRecord; a null name misses.
    const Record& getByName(const char* name) const { return findByName(effectName, name); }
};

/// Preset characters, one per row in file order: "EWCharBaseInfo.csv".
class AVATARSYSTEM_API EWBaseInfoDB : public TextDataBase
{
public:
    /// @name Columns
    //@{
    /// Column indices, named as the file's columns: the preset ID and name; the race, gender
    /// and appearance numbers (beard, hair style and colour, skin, face); the item or worn item in
    /// each place, 0 for none (read as unsigned); an animation, which is not read.
    static constexpr unsigned charID = 0, Name = 1, race = 2, gender = 3, facialHairStyle = 4, hairStyle = 5,
                              hairColor = 6, skinColor = 7, faceType = 8, head = 9, shoulder = 10, boot = 11, belt = 12,
                              shirt = 13, pants = 14, doublehand = 15, shield = 16, glove = 17, leftHand = 18,
                              rightHand = 19, backLongWeapon = 20, backShield = 21, leftWaist = 22, rightWaist = 23,
                              animation = 24;
    //@}
    static constexpr unsigned NumColumns = 25; ///< the number of columns every row has

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    /// An empty table of "EWCharBaseInfo.csv"; open() reads it.
    EWBaseInfoDB() : TextDataBase(layout()) {}
    /// The row at position id - 1, whatever its column 0 holds; s_emptyRecord when there is no such
    /// row (id 0 always misses).
    const Record& getById(unsigned id) const;
    /// The first row in file order whose Name equals name byte for byte, else s_emptyRecord; a null
    /// name misses.
    const Record& getByName(const char* name) const { return findRowByName(Name, name); }
};

/// Races in file order, race N on row N: "EWRaces.csv".
class AVATARSYSTEM_API EWCharRacesDB : public TextDataBase
{
public:
    /// @name Columns
    //@{
    /// Column indices, named as the file's columns: the race ID (its 1-based row
    /// position, which getById checks), a short name, the name getByName matches, a second name, the
    /// scale and two special values, which the system does not read.
    static constexpr unsigned RaceID = 0, ShortName = 1, Name = 2, ChineseName = 3, scale = 4, Special1 = 5,
                              Special2 = 6;
    //@}
    static constexpr unsigned NumColumns = 7; ///< the number of columns every row has

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    /// An empty table of "EWRaces.csv"; open() reads it.
    EWCharRacesDB() : TextDataBase(layout()) {}
    /// The row at position id - 1 when its RaceID equals id; else (id 0 included) s_emptyRecord.
    const Record& getById(unsigned id) const;
    /// The first row in file order whose Name equals name byte for byte, else s_emptyRecord; a null
    /// name misses.
    const Record& getByName(const char* name) const { return findRowByName(Name, name); }
};

/// Textures per body section under a key packed from race, gender, type, section and colour:
/// "EWCharSections.csv". Column 0 must hold the packed key of the row's own columns.
class AVATARSYSTEM_API EWCharSectionsDB : public KeyedTextDataBase
{
public:
    /// @name Columns
    //@{
    /// Column indices, named as the file's columns (SectonID spelled so): the key packed from the
    /// row's race (1-based), gender (0 or 1), section type, variant number and colour; three texture
    /// names; an NPC flag.
    static constexpr unsigned SectonID = 0, Race = 1, Gender = 2, Type = 3, Section = 4, Color = 5, Tex1 = 6, Tex2 = 7,
                              Tex3 = 8, IsNPC = 9;
    //@}
    static constexpr unsigned NumColumns = 10; ///< the number of columns every row has
    /// @name Section types
    //@{
    /// Values of the Type column: the skin, the face, the beard, the hair, the underwear.
    static constexpr unsigned SkinType = 0, FaceType = 1, FacialHairType = 2, HairType = 3, UnderwearType = 4;
    //@}

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    /// An empty table of "EWCharSections.csv"; open() reads it.
    EWCharSectionsDB() : KeyedTextDataBase(layout()) {}
    /// (race - 1) * 2000 + gender * 1000 + type * 200 + section * 10 + color, wrapping in 32 bits.
    /// Nothing is range-checked: keys are distinct only while gender < 2, type < 5, section < 20 and
    /// color < 10.
    static unsigned makeKey(unsigned race, unsigned gender, unsigned type, unsigned section, unsigned color)
    {
        return (race - 1u) * 2000u + gender * 1000u + type * 200u + section * 10u + color;
    }
    /// The row stored under makeKey(race, gender, type, section, color), else s_emptyRecord.
    const Record& getByParams(unsigned race, unsigned gender, unsigned type, unsigned section, unsigned color) const
    {
        return findByKey(makeKey(race, gender, type, section, color));
    }
    /// How many colours that section offers: the rows whose Race, Gender, Type and Section equal the
    /// arguments (0 when none do).
    int getColorsFor(unsigned race, unsigned gender, unsigned type, unsigned section) const;
    /// How many sections of that type exist in that colour: the rows whose Race, Gender, Type and
    /// Color equal the arguments (0 when none do).
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
    /// @name Columns
    //@{
    /// Column indices, named as the file's columns: the packed key of the row's race
    /// (1-based), gender (0 or 1) and hair style; the two hair sub-meshes to show; flags.
    static constexpr unsigned CharHairGeosetID = 0, Race = 1, Gender = 2, Section = 3, Submesh1 = 4, Submesh2 = 5,
                              Flags = 6;
    //@}
    static constexpr unsigned NumColumns = 7; ///< the number of columns every row has

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    /// An empty table of "EWCharHairGeo.csv"; open() reads it.
    EWCharHairGeoDB() : KeyedTextDataBase(layout()) {}
    /// (race - 1) * 40 + gender * 20 + section, wrapping in 32 bits. Nothing is range-checked: keys
    /// are distinct only while gender < 2 and section < 20.
    static unsigned makeKey(unsigned race, unsigned gender, unsigned section)
    {
        return (race - 1u) * 40u + gender * 20u + section;
    }
    /// The row stored under makeKey(race, gender, section), else s_emptyRecord.
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
    /// @name Columns
    //@{
    /// Column indices, named as the file's columns: the race, the gender (0 or 1), the beard
    /// style number and three geosets (column 4 is Geoset3, column 5 Geoset2).
    static constexpr unsigned Race = 0, Gender = 1, Style = 2, Geoset1 = 3, Geoset3 = 4, Geoset2 = 5;
    //@}
    static constexpr unsigned NumColumns = 6; ///< the number of columns every row has

    /// File name, column names and keying of the table.
    static const TableLayout& layout();

    /// An empty table of "EWCharFacialHairStyles.csv"; open() reads it.
    EWCharFacialHairDB() : TextDataBase(layout()) {}
    /// The first row in file order for that race, gender and style, else s_emptyRecord.
    const Record& getByParams(unsigned race, unsigned gender, unsigned style) const;
    /// How many beard styles that race and gender offer: the rows of that race and gender (0 when
    /// none).
    int getStylesFor(unsigned race, unsigned gender) const;

protected:
    /// Column 0 is the race, not an ID: deleting a row renumbers nothing.
    bool removeRecordAt(int index) override { return removeRow(index, false); }
};
