#include "avatarsystem/ewchardb.h"

#include "avatarsystem/detail/tablelayout.h"

#define COLUMN(cls, name) AVATAR_TABLE_COLUMN(cls, name)

const TableLayout& EWItemDB::layout()
{
    static const TableLayout table = avatar_detail::makeTableLayout(
        "ItemDisplay.csv", NumColumns, true,
        {COLUMN(EWItemDB, ItemID), COLUMN(EWItemDB, Name), COLUMN(EWItemDB, Type), COLUMN(EWItemDB, ModelFile),
         COLUMN(EWItemDB, ModelFile2), COLUMN(EWItemDB, HideHair), COLUMN(EWItemDB, HideHead),
         COLUMN(EWItemDB, Effect1), COLUMN(EWItemDB, Effect2), COLUMN(EWItemDB, Effect3), COLUMN(EWItemDB, flag)});
    return table;
}

const TableLayout& EWWearingDB::layout()
{
    static const TableLayout table = avatar_detail::makeTableLayout(
        "WearingItemDisplay.csv", NumColumns, true,
        {COLUMN(EWWearingDB, ItemID), COLUMN(EWWearingDB, Name), COLUMN(EWWearingDB, Type),
         COLUMN(EWWearingDB, TexPath), COLUMN(EWWearingDB, outModel), COLUMN(EWWearingDB, material),
         COLUMN(EWWearingDB, TexHand), COLUMN(EWWearingDB, MatHand), COLUMN(EWWearingDB, TexBody),
         COLUMN(EWWearingDB, MatBody), COLUMN(EWWearingDB, TexPants), COLUMN(EWWearingDB, MatPants),
         COLUMN(EWWearingDB, TexFoot), COLUMN(EWWearingDB, MatFoot), COLUMN(EWWearingDB, Flag),
         COLUMN(EWWearingDB, HideBody)});
    return table;
}

const TableLayout& EWEffectsDB::layout()
{
    static const TableLayout table = avatar_detail::makeTableLayout(
        "EWEffects.csv", NumColumns, true,
        {COLUMN(EWEffectsDB, effectID), COLUMN(EWEffectsDB, effectName), COLUMN(EWEffectsDB, effectTemplatName),
         COLUMN(EWEffectsDB, effectSize), COLUMN(EWEffectsDB, effectSpeed)});
    return table;
}

const TableLayout& EWBaseInfoDB::layout()
{
    static const TableLayout table = avatar_detail::makeTableLayout("EWCharBaseInfo.csv", NumColumns, false,
                                                                    {COLUMN(EWBaseInfoDB, charID),
                                                                     COLUMN(EWBaseInfoDB, Name),
                                                                     COLUMN(EWBaseInfoDB, race),
                                                                     COLUMN(EWBaseInfoDB, gender),
                                                                     COLUMN(EWBaseInfoDB, facialHairStyle),
                                                                     COLUMN(EWBaseInfoDB, hairStyle),
                                                                     COLUMN(EWBaseInfoDB, hairColor),
                                                                     COLUMN(EWBaseInfoDB, skinColor),
                                                                     COLUMN(EWBaseInfoDB, faceType),
                                                                     COLUMN(EWBaseInfoDB, head),
                                                                     COLUMN(EWBaseInfoDB, shoulder),
                                                                     COLUMN(EWBaseInfoDB, boot),
                                                                     COLUMN(EWBaseInfoDB, belt),
                                                                     COLUMN(EWBaseInfoDB, shirt),
                                                                     COLUMN(EWBaseInfoDB, pants),
                                                                     COLUMN(EWBaseInfoDB, doublehand),
                                                                     COLUMN(EWBaseInfoDB, shield),
                                                                     COLUMN(EWBaseInfoDB, glove),
                                                                     COLUMN(EWBaseInfoDB, leftHand),
                                                                     COLUMN(EWBaseInfoDB, rightHand),
                                                                     COLUMN(EWBaseInfoDB, backLongWeapon),
                                                                     COLUMN(EWBaseInfoDB, backShield),
                                                                     COLUMN(EWBaseInfoDB, leftWaist),
                                                                     COLUMN(EWBaseInfoDB, rightWaist),
                                                                     COLUMN(EWBaseInfoDB, animation)});
    return table;
}

const TableLayout& EWCharRacesDB::layout()
{
    static const TableLayout table = []
    {
        TableLayout races = avatar_detail::makeTableLayout(
            "EWRaces.csv", NumColumns, false,
            {COLUMN(EWCharRacesDB, RaceID), COLUMN(EWCharRacesDB, ShortName), COLUMN(EWCharRacesDB, Name),
             COLUMN(EWCharRacesDB, ChineseName), COLUMN(EWCharRacesDB, scale), COLUMN(EWCharRacesDB, Special1),
             COLUMN(EWCharRacesDB, Special2)});
        races.idIsRowNumber = true; // getById
        return races;
    }();
    return table;
}

const TableLayout& EWCharSectionsDB::layout()
{
    static const TableLayout table = []
    {
        TableLayout sections = avatar_detail::makeTableLayout(
            "EWCharSections.csv", NumColumns, true,
            {COLUMN(EWCharSectionsDB, SectonID), COLUMN(EWCharSectionsDB, Race), COLUMN(EWCharSectionsDB, Gender),
             COLUMN(EWCharSectionsDB, Type), COLUMN(EWCharSectionsDB, Section), COLUMN(EWCharSectionsDB, Color),
             COLUMN(EWCharSectionsDB, Tex1), COLUMN(EWCharSectionsDB, Tex2), COLUMN(EWCharSectionsDB, Tex3),
             COLUMN(EWCharSectionsDB, IsNPC)});
        sections.keyColumns = {Race, Gender, Type, Section, Color};
        sections.packKey = [](const Record& row)
        {
            return makeKey(row.getUInt(Race), row.getUInt(Gender), row.getUInt(Type), row.getUInt(Section),
                           row.getUInt(Color));
        };
        return sections;
    }();
    return table;
}

const TableLayout& EWCharHairGeoDB::layout()
{
    static const TableLayout table = []
    {
        TableLayout hair = avatar_detail::makeTableLayout(
            "EWCharHairGeo.csv", NumColumns, true,
            {COLUMN(EWCharHairGeoDB, CharHairGeosetID), COLUMN(EWCharHairGeoDB, Race), COLUMN(EWCharHairGeoDB, Gender),
             COLUMN(EWCharHairGeoDB, Section), COLUMN(EWCharHairGeoDB, Submesh1), COLUMN(EWCharHairGeoDB, Submesh2),
             COLUMN(EWCharHairGeoDB, Flags)});
        hair.keyColumns = {Race, Gender, Section};
        hair.packKey = [](const Record& row)
        { return makeKey(row.getUInt(Race), row.getUInt(Gender), row.getUInt(Section)); };
        return hair;
    }();
    return table;
}

const TableLayout& EWCharFacialHairDB::layout()
{
    static const TableLayout table =
        avatar_detail::makeTableLayout("EWCharFacialHairStyles.csv", NumColumns, false,
                                       {COLUMN(EWCharFacialHairDB, Race), COLUMN(EWCharFacialHairDB, Gender),
                                        COLUMN(EWCharFacialHairDB, Style), COLUMN(EWCharFacialHairDB, Geoset1),
                                        COLUMN(EWCharFacialHairDB, Geoset3), COLUMN(EWCharFacialHairDB, Geoset2)});
    return table;
}

#undef COLUMN

const Record& EWBaseInfoDB::getById(unsigned id) const
{
    const unsigned position = id - 1u; // id 0 wraps and always misses
    return position < m_records.size() ? m_records[position] : s_emptyRecord;
}

const Record& EWCharRacesDB::getById(unsigned id) const
{
    const unsigned position = id - 1u;
    if (position < m_records.size() && m_records[position].getUInt(RaceID) == id)
        return m_records[position];
    return s_emptyRecord;
}

int EWCharSectionsDB::countRows(unsigned race, unsigned gender, unsigned type, unsigned column, unsigned value) const
{
    int count = 0;
    for (const auto& entry : m_recordMap)
    {
        const Record& row = entry.second;
        if (row.getUInt(Race) == race && row.getUInt(Gender) == gender && row.getUInt(Type) == type &&
            row.getUInt(column) == value)
            ++count;
    }
    return count;
}

int EWCharSectionsDB::getColorsFor(unsigned race, unsigned gender, unsigned type, unsigned section) const
{
    return countRows(race, gender, type, Section, section);
}

int EWCharSectionsDB::getSectionsFor(unsigned race, unsigned gender, unsigned type, unsigned color) const
{
    return countRows(race, gender, type, Color, color);
}

const Record& EWCharFacialHairDB::getByParams(unsigned race, unsigned gender, unsigned style) const
{
    for (const Record& row : m_records)
        if (row.getUInt(Race) == race && row.getUInt(Gender) == gender && row.getUInt(Style) == style)
            return row;
    return s_emptyRecord;
}

int EWCharFacialHairDB::getStylesFor(unsigned race, unsigned gender) const
{
    int count = 0;
    for (const Record& row : m_records)
        if (row.getUInt(Race) == race && row.getUInt(Gender) == gender)
            ++count;
    return count;
}
