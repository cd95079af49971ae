#include "avatarsystem/textdatabase.h"

#include "avatarsystem/detail/nameindex.h"
#include "avatarsystem/detail/tablefile.h"
#include "avatarsystem/detail/tablelayout.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

const Record s_emptyRecord;

int Record::getInt(unsigned i) const
{
    return i < m_fields.size() ? std::atoi(m_fields[i].c_str()) : 0;
}

unsigned int Record::getUInt(unsigned i) const
{
    return i < m_fields.size() ? static_cast<unsigned int>(std::strtoul(m_fields[i].c_str(), nullptr, 10)) : 0u;
}

float Record::getFloat(unsigned i) const
{
    return i < m_fields.size() ? static_cast<float>(std::atof(m_fields[i].c_str())) : 0.0f;
}

const char* Record::getString(unsigned i) const
{
    return i < m_fields.size() ? m_fields[i].c_str() : nullptr;
}

void Record::record_insert_begin(const std::string& field)
{
    m_fields.insert(m_fields.begin(), field);
}

void Record::record_pop_back(int n)
{
    for (; n > 0 && !m_fields.empty(); --n)
        m_fields.pop_back();
}

void Record::record_pop_begin(int n)
{
    if (n <= 0)
        return;
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(n), m_fields.size());
    m_fields.erase(m_fields.begin(), m_fields.begin() + static_cast<std::ptrdiff_t>(count));
}

void Record::setID(unsigned id)
{
    if (m_fields.empty())
        m_fields.emplace_back();
    m_fields[0] = std::to_string(id);
}

void Record::setName(unsigned i, std::string& s)
{
    if (i < m_fields.size())
        m_fields[i] = s;
}

void Record::printAll() const
{
    for (const std::string& field : m_fields)
        std::printf("%s   ", field.c_str());
    std::printf("\n");
}

namespace avatar_detail
{

std::string whyRowIsUnfaithful(const Record& row, unsigned numFields)
{
    if (numFields == 0)
        return "the table has no columns";
    if (row.getNumFields() != numFields)
        return "it has " + std::to_string(row.getNumFields()) + " fields, the table " + std::to_string(numFields);
    std::size_t lineLength = numFields - 1;
    for (unsigned j = 0; j < numFields; ++j)
    {
        const std::string& field = row.fields()[j];
        if (field.find_first_of(std::string(",\n\r\0", 4)) != std::string::npos)
            return "field " + std::to_string(j) + " holds a comma, a line break or a NUL byte";
        lineLength += field.size();
    }
    if (lineLength <= 1)
        return "its line would be one byte long, which ends the table";
    if (lineLength > kMaxTableLineLength)
        return "its line would be " + std::to_string(lineLength) + " bytes long, over the limit of " +
               std::to_string(kMaxTableLineLength);
    // "//" anywhere in the line, also across a field boundary ("a/,/b" cannot form it, a "/" field can).
    std::string line;
    line.reserve(lineLength);
    for (unsigned j = 0; j < numFields; ++j)
    {
        if (j)
            line += ',';
        line += row.fields()[j];
    }
    if (line.find("//") != std::string::npos)
        return "its line would hold \"//\", which makes it a comment";
    return std::string();
}

WriteResult writeTableFile(const std::string& fileName, const std::vector<const Record*>& rows, unsigned numFields,
                           const std::vector<std::string>& titleColumns)
{
    for (const Record* row : rows)
        if (!rowWritesFaithfully(*row, numFields))
            return WriteResult::Unfaithful;
    for (const std::string& name : titleColumns)
        if (name.find_first_of(std::string("\n\0", 2)) != std::string::npos)
            return WriteResult::Unfaithful;
    if (fileName.empty())
        return WriteResult::CannotOpen;

    const std::string temporary = fileName + ".tmp";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out)
        return WriteResult::CannotOpen;
    // One line: the fields separated by ",", then LF.
    const auto writeLine = [out](const std::vector<std::string>& fields, std::size_t count)
    {
        for (std::size_t j = 0; j < count; ++j)
        {
            const std::string& field = fields[j];
            if (std::fwrite(field.data(), 1, field.size(), out) != field.size())
                return false;
            if (j + 1 < count && std::fputc(',', out) == EOF)
                return false;
        }
        return std::fputc('\n', out) != EOF;
    };
    bool ok = titleColumns.empty() || (std::fputs("//", out) != EOF && writeLine(titleColumns, titleColumns.size()));
    for (const Record* row : rows)
    {
        if (!ok)
            break;
        ok = writeLine(row->fields(), numFields);
    }
    ok = (std::fflush(out) == 0) && ok;
    ok = (std::fclose(out) == 0) && ok;
    if (!ok)
    {
        std::remove(temporary.c_str());
        return WriteResult::WriteFailed;
    }
    // A table file that cannot be replaced (a directory of that name, say) is one that cannot be
    // opened for writing.
    if (std::rename(temporary.c_str(), fileName.c_str()) != 0)
    {
        std::remove(temporary.c_str());
        return WriteResult::CannotOpen;
    }
    return WriteResult::Ok;
}

void splitTableLine(const char* line, std::size_t length, Record& rec)
{
    forEachTableField(line, length, [&rec](const char* field, std::size_t size) { rec.appendField(field, size); });
}

void printOpenFailure()
{
    // "File open failed", stored in the GBK code page as the client has always printed it.
    static const char message[] = "\xCE\xC4\xBC\xFE\xB4\xF2\xBF\xAA\xCA\xA7\xB0\xDC";
    std::fwrite(message, 1, sizeof(message) - 1, stdout);
    std::fflush(stdout);
}

std::size_t copyFieldCut(const char* field, char* buffer, std::size_t maxBytes)
{
    const std::size_t length = std::min(std::strlen(field), maxBytes - 1);
    std::memcpy(buffer, field, length);
    buffer[length] = '\0';
    return length;
}

TableLayout makeTableLayout(const std::string& fileName, unsigned numFields, bool keyed,
                            std::initializer_list<NamedColumn> named)
{
    TableLayout layout;
    layout.fileName = fileName;
    layout.columns.resize(numFields);
    layout.keyed = keyed;
    for (const NamedColumn& column : named)
        if (column.index < numFields)
            layout.columns[column.index] = column.name;
    return layout;
}

void NameIndex::start(unsigned column, std::size_t rows)
{
    m_first.clear();
    m_column = column;
    m_rows = rows;
    m_built = true;
}

bool NameIndex::find(const char* name, unsigned& where) const
{
    const auto it = m_first.find(name);
    if (it == m_first.end())
        return false;
    where = it->second;
    return true;
}

} // namespace avatar_detail

namespace
{

bool fieldIs(const Record& row, unsigned column, const char* name)
{
    const char* field = row.getString(column);
    return field && std::strcmp(field, name) == 0;
}

/// Why a table is not written, on standard error: the tools that edit tables show it.
void reportRefusal(const std::string& fileName, const std::string& why)
{
    std::fprintf(stderr, "%s: not written: %s\n", fileName.c_str(), why.c_str());
    std::fflush(stderr);
}

} // namespace

TextDataBase::TextDataBase(const std::string& fileName, unsigned numFields)
    : m_numFields(numFields), m_fileName(fileName), m_names(std::make_unique<avatar_detail::NameIndex>())
{
}

TextDataBase::~TextDataBase() = default;

TextDataBase::TextDataBase(const TextDataBase& other)
    : m_numRecords(other.m_numRecords), m_numFields(other.m_numFields), m_fileName(other.m_fileName),
      m_records(other.m_records), m_names(std::make_unique<avatar_detail::NameIndex>())
{
}

TextDataBase& TextDataBase::operator=(const TextDataBase& other)
{
    if (this != &other)
    {
        m_numRecords = other.m_numRecords;
        m_numFields = other.m_numFields;
        m_fileName = other.m_fileName;
        m_records = other.m_records;
        m_names->forget();
    }
    return *this;
}

bool TextDataBase::readRows(const std::function<void(Record&&)>& store)
{
    using avatar_detail::TableFileReader;
    if (m_fileName.empty())
        return false;
    try
    {
        TableFileReader reader;
        if (!reader.load(m_fileName))
            return false;
        char* line = nullptr;
        std::size_t length = 0;
        for (;;)
        {
            switch (reader.next(line, length))
            {
            case TableFileReader::Line::EndOfFile:
            case TableFileReader::Line::EndMark:
                return true;
            case TableFileReader::Line::TooLong:
                return false;
            case TableFileReader::Line::Comment:
                continue;
            case TableFileReader::Line::Row:
                break;
            }
            Record rec;
            rec.reserveFields(m_numFields);
            splitLine(line, length, rec);
            if (rec.getNumFields() != m_numFields)
                return false;
            store(std::move(rec));
        }
    }
    catch (...)
    {
        // Out of memory for a huge file: the table does not open.
        return false;
    }
}

bool TextDataBase::open()
{
    m_names->forget();
    const bool ok = readRows([this](Record&& rec) { m_records.push_back(std::move(rec)); });
    if (ok)
        m_numRecords = static_cast<unsigned>(m_records.size());
    return ok;
}

const Record& TextDataBase::recordAt(unsigned index)
{
    if (index < m_numRecords && index < m_records.size())
        return m_records[index];
    assert(index < m_numRecords && "index<m_numRecords");
    return s_emptyRecord;
}

void TextDataBase::splitLine(const char* line, std::size_t length, Record& rec)
{
    avatar_detail::splitTableLine(line, length, rec);
}

void TextDataBase::lineToRecord(const char* line, Record& rec)
{
    if (line)
        splitLine(line, std::strlen(line), rec);
}

bool TextDataBase::storeRecord(const Record& rec)
{
    m_names->forget();
    m_records.push_back(rec);
    ++m_numRecords;
    return true;
}

bool TextDataBase::replaceRecordAt(const Record& rec, int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_records.size())
        return false;
    m_records[static_cast<std::size_t>(index)] = rec;
    m_names->forget();
    return true;
}

bool TextDataBase::removeRow(int index, bool renumber)
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_records.size())
        return false;
    m_records.erase(m_records.begin() + index);
    m_names->forget();
    if (renumber)
        for (std::size_t j = 0; j < m_records.size(); ++j)
            m_records[j].setID(static_cast<unsigned>(j + 1));
    if (m_numRecords > 0)
        --m_numRecords;
    return true;
}

bool TextDataBase::removeRecordAt(int index)
{
    return removeRow(index, true);
}

bool TextDataBase::writeTable(const std::vector<const Record*>& rows) const
{
    if (m_fileName.empty())
        return false;
    // The table's own columns; a table made without a column count writes its first row's.
    const unsigned numFields = m_numFields || rows.empty() ? m_numFields : rows.front()->getNumFields();
    for (std::size_t i = 0; i < rows.size(); ++i)
    {
        const std::string why = avatar_detail::whyRowIsUnfaithful(*rows[i], numFields);
        if (!why.empty())
        {
            reportRefusal(m_fileName, "row " + std::to_string(i + 1) + " would not read back as it is held: " + why);
            return false;
        }
    }
    const avatar_detail::WriteResult result = avatar_detail::writeTableFile(m_fileName, rows, numFields);
    if (result == avatar_detail::WriteResult::CannotOpen)
        avatar_detail::printOpenFailure();
    return result == avatar_detail::WriteResult::Ok;
}

bool TextDataBase::writeRows()
{
    std::vector<const Record*> rows;
    rows.reserve(m_records.size());
    for (const Record& rec : m_records)
        rows.push_back(&rec);
    return writeTable(rows);
}

void TextDataBase::printRows()
{
    for (unsigned i = 0; i < m_numRecords; ++i)
    {
        const Record& rec = getRecord(i);
        if (rec.isValid())
            rec.printAll();
    }
}

bool KeyedTextDataBase::open()
{
    // Rows are gathered first and put into the map in ascending key order with an end hint:
    // inserting a large file in its own order spends most of the open on cache misses while
    // descending the tree. The rows read before a failure are stored all the same.
    std::vector<std::pair<unsigned, Record>> rows;
    bool ok = readRows(
        [&rows](Record&& rec)
        {
            const unsigned key = rec.getUInt(0);
            rows.emplace_back(key, std::move(rec));
        });
    m_names->forget();
    try
    {
        // Stable, so that of the rows sharing a key the first in the file is inserted first and wins;
        // a key already in the map keeps its row, as a plain insert would.
        const auto byKey = [](const std::pair<unsigned, Record>& a, const std::pair<unsigned, Record>& b)
        { return a.first < b.first; };
        if (!std::is_sorted(rows.begin(), rows.end(), byKey))
            std::stable_sort(rows.begin(), rows.end(), byKey);
        for (std::pair<unsigned, Record>& row : rows)
            m_recordMap.emplace_hint(m_recordMap.end(), row.first, std::move(row.second));
    }
    catch (...)
    {
        ok = false;
    }
    if (ok)
        m_numRecords = static_cast<unsigned>(m_recordMap.size());
    return ok;
}

bool KeyedTextDataBase::writeRows()
{
    std::vector<const Record*> rows;
    rows.reserve(m_recordMap.size());
    for (const auto& entry : m_recordMap)
    {
        // Read back, a row is stored under its column 0: it must say the key it is held under.
        if (entry.second.getUInt(0) != entry.first)
        {
            const char* text = entry.second.getString(0);
            reportRefusal(m_fileName, "the row held under " + std::to_string(entry.first) + " says \"" +
                                          (text ? text : "") + "\" in column 0, so it would read back under " +
                                          std::to_string(entry.second.getUInt(0)));
            return false;
        }
        rows.push_back(&entry.second);
    }
    return writeTable(rows);
}

void KeyedTextDataBase::printRows()
{
    for (const auto& entry : m_recordMap)
        entry.second.printAll();
}

std::map<unsigned, Record>::iterator KeyedTextDataBase::positionOf(long long index)
{
    if (index < 0 || static_cast<unsigned long long>(index) >= m_recordMap.size())
        return m_recordMap.end();
    return std::next(m_recordMap.begin(), static_cast<std::ptrdiff_t>(index));
}

const Record& KeyedTextDataBase::recordAt(unsigned index)
{
    const auto it = positionOf(index);
    if (it != m_recordMap.end())
        return it->second;
    assert(index < m_numRecords && "index<m_numRecords");
    return s_emptyRecord;
}

namespace
{
/// A row stored under key: rec, with column 0 saying key when it reads as another number.
void storeUnder(Record& stored, const Record& rec, unsigned key)
{
    stored = rec;
    if (stored.getUInt(0) != key)
        stored.setID(key);
}
} // namespace

bool KeyedTextDataBase::replaceRecordAt(const Record& rec, int index)
{
    const auto it = positionOf(index);
    if (it == m_recordMap.end())
        return false;
    storeUnder(it->second, rec, it->first);
    m_names->forget();
    return true;
}

bool KeyedTextDataBase::removeRecordAt(int index)
{
    const auto it = positionOf(index);
    if (it == m_recordMap.end())
        return false;
    m_recordMap.erase(it);
    m_names->forget();
    m_numRecords = static_cast<unsigned>(m_recordMap.size());
    return true;
}

const Record& KeyedTextDataBase::findByKey(unsigned key) const
{
    const auto it = m_recordMap.find(key);
    return it == m_recordMap.end() ? s_emptyRecord : it->second;
}

const Record& KeyedTextDataBase::findByName(unsigned column, const char* name) const
{
    if (!name)
        return s_emptyRecord;
    if (m_rowsHandedOut)
    {
        for (const auto& entry : m_recordMap)
            if (fieldIs(entry.second, column, name))
                return entry.second;
        return s_emptyRecord;
    }
    avatar_detail::NameIndex& names = *m_names;
    if (!names.fits(column, m_recordMap.size()))
    {
        names.start(column, m_recordMap.size());
        for (const auto& entry : m_recordMap)
            if (const char* field = entry.second.getString(column))
                names.add(field, entry.first);
    }
    unsigned key = 0;
    if (!names.find(name, key))
        return s_emptyRecord;
    return findByKey(key);
}

bool KeyedTextDataBase::storeReplacing(const Record& rec)
{
    m_names->forget();
    m_recordMap[rec.getUInt(0)] = rec;
    m_numRecords = static_cast<unsigned>(m_recordMap.size());
    return true;
}

bool KeyedTextDataBase::storeIfNew(const Record& rec)
{
    m_names->forget();
    const bool stored = m_recordMap.emplace(rec.getUInt(0), rec).second;
    m_numRecords = static_cast<unsigned>(m_recordMap.size());
    return stored;
}

bool KeyedTextDataBase::replaceStored(const Record& rec, unsigned key)
{
    const auto it = m_recordMap.find(key);
    if (it == m_recordMap.end())
        return false;
    storeUnder(it->second, rec, key);
    m_names->forget();
    return true;
}

const Record& TextDataBase::findRowByName(unsigned column, const char* name) const
{
    if (!name)
        return s_emptyRecord;
    if (m_rowsHandedOut)
        return ::findRowByName(m_records, column, name);
    avatar_detail::NameIndex& names = *m_names;
    if (!names.fits(column, m_records.size()))
    {
        names.start(column, m_records.size());
        for (std::size_t i = 0; i < m_records.size(); ++i)
            if (const char* field = m_records[i].getString(column))
                names.add(field, static_cast<unsigned>(i));
    }
    unsigned position = 0;
    if (!names.find(name, position))
        return s_emptyRecord;
    return m_records[position];
}

const Record& findRowByName(const std::vector<Record>& rows, unsigned column, const char* name)
{
    if (!name)
        return s_emptyRecord;
    for (const Record& row : rows)
        if (fieldIs(row, column, name))
            return row;
    return s_emptyRecord;
}
