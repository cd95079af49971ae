#pragma once

#include "avatarsystem/avatarsystemexport.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

/// One table row: ordered text fields, stored exactly as they stood in the file.
/// A record without fields is invalid; every lookup that misses returns s_emptyRecord.
class AVATARSYSTEM_API Record
{
public:
    Record() = default;

    /// atoi of field i; 0 when i is not a field.
    int getInt(unsigned i) const;
    /// strtoul (base 10) of field i, a leading minus negating modulo 2^32; 0 when i is not a field.
    unsigned int getUInt(unsigned i) const;
    /// atof of field i narrowed to float; 0 when i is not a field.
    float getFloat(unsigned i) const;
    /// The field's text, valid until the record changes; null when i is not a field.
    const char* getString(unsigned i) const;
    /// How many fields the row has; 0 for an invalid record such as s_emptyRecord.
    unsigned int getNumFields() const { return static_cast<unsigned>(m_fields.size()); }
    /// False for a record without fields, which is what every lookup that misses returns: test it
    /// before trusting the fields of a looked-up row.
    bool isValid() const { return !m_fields.empty(); }

    /// Appends a copy of field after the last field; no table's column count is checked.
    void record_push_back(const std::string& field) { m_fields.push_back(field); }
    /// Inserts a copy of field before the first field, moving every other field one column on.
    void record_insert_begin(const std::string& field);
    /// Removes the last field n times (at most every field).
    void record_pop_back(int n);
    /// Removes the first field n times (at most every field).
    void record_pop_begin(int n);
    /// Field 0 := the decimal text of id (a record without fields gets one).
    void setID(unsigned id);
    /// Field i := s; nothing when i is not a field.
    void setName(unsigned i, std::string& s);
    /// Writes each field followed by three spaces, then a line end, to standard output.
    void printAll() const;

    /// Appends a field from a byte range (the table reader's fast path).
    void appendField(const char* begin, std::size_t length) { m_fields.emplace_back(begin, length); }
    /// Reserves room for n fields; the fields themselves do not change.
    void reserveFields(std::size_t n) { m_fields.reserve(n); }
    /// The fields in order, owned by the record and valid until it changes.
    const std::vector<std::string>& fields() const { return m_fields; }

private:
    std::vector<std::string> m_fields;
};

/// The shared empty row returned by every lookup that finds nothing. Never modify it.
AVATARSYSTEM_API extern const Record s_emptyRecord;

/// How one table file is laid out: its file name, its columns and how its rows are found.
/// Each table class holds its own (layout()); everything else that writes, checks or names a
/// table reads it there.
struct AVATARSYSTEM_API TableLayout
{
    std::string fileName;             ///< bare file name, as the system opens it
    std::vector<std::string> columns; ///< the column constants' names, by index
    bool keyed = false;               ///< rows kept in a map under column 0; the first row of a key wins
    /// Keyed tables whose column 0 must hold a key packed from other columns: those columns, in the
    /// order the packing takes them. Empty when column 0 is a free ID.
    std::vector<unsigned> keyColumns;
    /// The key packed from a row's own key columns; null when keyColumns is empty.
    unsigned (*packKey)(const Record& row) = nullptr;
    /// A row table that finds ID N on row N, and only when that row's column 0 says N.
    bool idIsRowNumber = false;

    /// The table's column count: every row it reads must have exactly this many fields.
    unsigned numFields() const { return static_cast<unsigned>(columns.size()); }
};

namespace avatar_detail
{
class NameIndex;
}

/// The base of every table; the keyed tables store their rows in their own maps. The host reaches
/// every table through a TextDataBase pointer: the editing, writing and reading operations below
/// act on the rows the table really holds, whatever its kind. Every Record a lookup returns by
/// reference belongs to the table (or is s_emptyRecord) and stays valid until that row is edited,
/// replaced or removed or the table is destroyed.
class AVATARSYSTEM_API TextDataBase
{
public:
    /// Stores the file name (resolved against the current directory) and the column count; no file access.
    TextDataBase(const std::string& fileName, unsigned numFields);
    /// The file name and column count of a table class's layout.
    explicit TextDataBase(const TableLayout& layout) : TextDataBase(layout.fileName, layout.numFields()) {}
    /// Reads the file; false when it cannot be read as a table file (missing, a directory, a
    /// device, unreadable), a line is too long or a row has another column count. Never throws.
    virtual bool open();
    virtual ~TextDataBase();

    /// A copy holds copies of the rows; it has handed none of them out.
    TextDataBase(const TextDataBase& other);
    /// Replaces this table's file name, column count and rows by copies of other's.
    TextDataBase& operator=(const TextDataBase& other);

    /// How many rows the table holds, as open and the editing operations count them. A failed
    /// open leaves the count as it was (0 for a new table), though the rows read before the fault
    /// are held.
    unsigned getNumRecords() const { return m_numRecords; }
    /// The column count the table was made with: each row read must have exactly this many fields,
    /// and rewrite writes this many.
    unsigned getNumFields() const { return m_numFields; }
    /// The file open reads and rewrite writes, as given to the constructor: a relative name is
    /// resolved against the current directory when the file is opened.
    const std::string& getFileName() const { return m_fileName; }
    /// The row vector itself, for reading and editing in place. Keyed tables hold their rows in
    /// getRecordMap() and leave it empty. Once it is handed out, look-ups by name scan the rows, as
    /// nothing tells the table when they change; the const overload keeps the faster index.
    std::vector<Record>& getRecordArray()
    {
        m_rowsHandedOut = true;
        return m_records;
    }
    /// The rows in file order, read-only; empty in a keyed table.
    const std::vector<Record>& getRecordArray() const { return m_records; }
    /// Row index (in file order; in ascending key order in a keyed table), or s_emptyRecord when
    /// index names no row (a build without NDEBUG also fails an assertion then).
    const Record& getRecord(unsigned index) { return recordAt(index); }
    /// Splits one line at every "," into fields appended to rec; a null line appends nothing.
    void lineToRecord(const char* line, Record& rec);
    /// Appends a copy of rec; the field count is not checked. A keyed table stores it under its
    /// column 0 instead, by its own rule (a table without one keeps an existing row: false).
    bool addRecord(Record& rec) { return storeRecord(rec); }
    /// Replaces row index by a copy of rec (a keyed table: the row at that position in key order,
    /// which keeps its key); false (nothing changed) when index names no row.
    bool insteadRecord(Record& rec, int index) { return replaceRecordAt(rec, index); }
    /// Removes row index and renumbers the IDs 1, 2, 3...; false (nothing changed) when index names
    /// no row. A keyed table removes the row at that position in key order and renumbers nothing:
    /// its keys are what other tables and the host refer to; nor does a table whose column 0 is
    /// data rather than an ID (EWCharFacialHairDB).
    bool deleteRecord(int index) { return removeRecordAt(index); }
    /// Writes all rows back to the file (a keyed table in ascending key order), each with the
    /// table's columns. False when the file cannot be written or a row would not read back as it
    /// is held (another field count, a field with ",", "//" or a line break, a line of one byte or
    /// over the length limit, a keyed row whose column 0 is not its key); the previous file is then
    /// left intact, and why is written to standard error.
    bool rewrite() { return writeRows(); }
    /// Debugging dump of every row to standard output.
    void printAll() { printRows(); }

    /// @cond INTERNAL
protected:
    // What the operations above do, by kind of table.
    virtual const Record& recordAt(unsigned index);
    virtual bool storeRecord(const Record& rec);
    virtual bool replaceRecordAt(const Record& rec, int index);
    virtual bool removeRecordAt(int index);
    virtual bool writeRows();
    virtual void printRows();

    /// The shared reading loop of every table: whole-file read, comment lines, end mark,
    /// splitting and the exact column count. store keeps each accepted row.
    /// False when the file cannot be read, a line is too long or a row has another column count;
    /// rows stored before the failure stay stored. Never throws.
    bool readRows(const std::function<void(Record&&)>& store);
    /// Writes rows with the table's columns, or refuses (see rewrite).
    bool writeTable(const std::vector<const Record*>& rows) const;
    /// Removes row index; renumber gives the rows after it the IDs 1, 2, 3... by position.
    bool removeRow(int index, bool renumber);

    /// Splits one NUL-free byte range into fields appended to rec.
    static void splitLine(const char* line, std::size_t length, Record& rec);

    /// The first row in file order whose column equals name byte for byte, else s_emptyRecord.
    const Record& findRowByName(unsigned column, const char* name) const;

    unsigned m_numRecords = 0;
    unsigned m_numFields = 0;
    std::string m_fileName;
    std::vector<Record> m_records;
    /// Never null; rebuilt on demand.
    std::unique_ptr<avatar_detail::NameIndex> m_names;
    /// The rows were handed out for editing in place: the name index cannot be trusted.
    bool m_rowsHandedOut = false;
    /// @endcond
};

#include <map>

/// A table whose rows are kept in an ordered map under column 0 (read as unsigned).
/// The first row with a given key wins; later duplicates are dropped.
/// The row vector of the base stays empty.
class AVATARSYSTEM_API KeyedTextDataBase : public TextDataBase
{
public:
    /// An empty keyed table of that file and column count; open() reads it. No file access.
    KeyedTextDataBase(const std::string& fileName, unsigned numFields) : TextDataBase(fileName, numFields) {}
    /// An empty keyed table of a table class's layout; open() reads it. No file access.
    explicit KeyedTextDataBase(const TableLayout& layout) : TextDataBase(layout) {}

    /// Reads the file into the map, each row under its column 0 read as unsigned; of rows sharing a
    /// key the first in the file wins. False where TextDataBase::open fails; the rows read before
    /// the fault stay stored. Never throws.
    bool open() override;
    /// The rows by key, for reading and editing in place; once handed out, look-ups by name scan
    /// (see getRecordArray).
    std::map<unsigned, Record>& getRecordMap()
    {
        m_rowsHandedOut = true;
        return m_recordMap;
    }
    /// The rows by key, read-only.
    const std::map<unsigned, Record>& getRecordMap() const { return m_recordMap; }
    /// True when a row is stored under key.
    bool testKey(unsigned key) const { return m_recordMap.count(key) != 0; }

    /// @cond INTERNAL
protected:
    // A position is a place in ascending key order; finding it walks the map.
    const Record& recordAt(unsigned index) override;
    /// Stores under column 0 only when the key is free, as the first row of a key wins when read.
    bool storeRecord(const Record& rec) override { return storeIfNew(rec); }
    bool replaceRecordAt(const Record& rec, int index) override;
    bool removeRecordAt(int index) override;
    /// The rows in ascending key order with the table's column count.
    bool writeRows() override;
    void printRows() override;

    const Record& findByKey(unsigned key) const;
    /// The first row in ascending key order whose column equals name byte for byte.
    const Record& findByName(unsigned column, const char* name) const;
    /// Stores a copy under column 0, replacing what was stored there.
    bool storeReplacing(const Record& rec);
    /// Stores a copy under column 0 only when the key is free; false when it was taken.
    bool storeIfNew(const Record& rec);
    /// Replaces the row stored under key by a copy of rec; the key stays key, and so does the
    /// copy's column 0 (rewritten when it reads as another number). False when there is none.
    bool replaceStored(const Record& rec, unsigned key);
    /// The row at position index in ascending key order, or the map's end.
    std::map<unsigned, Record>::iterator positionOf(long long index);

    std::map<unsigned, Record> m_recordMap;
    /// @endcond
};

/// The first row in order whose column equals name byte for byte, else s_emptyRecord.
AVATARSYSTEM_API const Record& findRowByName(const std::vector<Record>& rows, unsigned column, const char* name);
