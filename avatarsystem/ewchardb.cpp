#include "avatarsystem/ewchardb.h"

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
