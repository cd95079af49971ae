#include "avatarsystem/textdatabase.h"

#include "avatarsystem/creaturedb.h"
#include "avatarsystem/detail/tablefile.h"

#include "headlessogre.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

std::vector<std::string> fieldsOf(const Record& rec)
{
    return rec.fields();
}

/// Opens a 3-column table from the given file text in a fresh directory.
struct Table3
{
    ScopedTempDir dir;
    TextDataBase table{"t.csv", 3};
    bool open(const std::string& text)
    {
        dir.write("t.csv", text);
        return table.open();
    }
};

} // namespace

TEST(Record, conversionsFollowTheCLibrary)
{
    Record rec;
    for (const char* field : {"abc", "-1", "1.5x", " 42z", "4294967296", ""})
        rec.record_push_back(field);
    EXPECT_EQ(rec.getUInt(0), 0u);
    EXPECT_EQ(rec.getUInt(1), 4294967295u);
    EXPECT_FLOAT_EQ(rec.getFloat(2), 1.5f);
    EXPECT_EQ(rec.getInt(3), 42);
    EXPECT_EQ(rec.getInt(1), -1);
    EXPECT_EQ(rec.getUInt(4), 0u) << "wraps modulo 2^32";
    EXPECT_EQ(rec.getInt(5), 0);
    EXPECT_STREQ(rec.getString(5), "");
}

TEST(Record, indicesBeyondTheFieldsAreHarmless)
{
    Record rec;
    EXPECT_FALSE(rec.isValid());
    EXPECT_EQ(rec.getString(0), nullptr);
    EXPECT_EQ(rec.getUInt(3), 0u);
    EXPECT_EQ(rec.getFloat(3), 0.0f);
    rec.record_pop_back(2);
    rec.record_pop_begin(5);
    std::string text = "x";
    rec.setName(4, text);
    EXPECT_EQ(rec.getNumFields(), 0u);
    rec.setID(7);
    EXPECT_STREQ(rec.getString(0), "7");
    rec.record_push_back("b");
    EXPECT_EQ(rec.getString(rec.getNumFields()), nullptr);
}

TEST(Record, editingKeepsFieldOrder)
{
    Record rec;
    rec.record_push_back("b");
    rec.record_push_back("c");
    rec.record_insert_begin("a");
    EXPECT_EQ(fieldsOf(rec), (std::vector<std::string>{"a", "b", "c"}));
    rec.setID(4000000000u);
    EXPECT_STREQ(rec.getString(0), "4000000000");
    rec.record_pop_begin(1);
    rec.record_pop_back(1);
    EXPECT_EQ(fieldsOf(rec), (std::vector<std::string>{"b"}));
    Record copy = rec;
    rec.record_push_back("d");
    EXPECT_EQ(copy.getNumFields(), 1u) << "copies are values";
}

TEST(TableReader, commentsBlankLinesAndEndings)
{
    {
        Table3 t;
        ASSERT_TRUE(t.open("//ID,Name,Value\n1,a,x\n2,b,y\n"));
        EXPECT_EQ(t.table.getNumRecords(), 2u);
    }
    {
        SCOPED_TRACE("a data line with // inside a field is skipped");
        Table3 t;
        ASSERT_TRUE(t.open("1,a,x\n12,a//b,3\n3,c,z"));
        ASSERT_EQ(t.table.getNumRecords(), 2u);
        EXPECT_STREQ(t.table.getRecord(1).getString(0), "3") << "last line without LF is a row";
    }
    {
        SCOPED_TRACE("a blank line ends the table");
        Table3 t;
        ASSERT_TRUE(t.open("1,a,x\n2,b,y\n3,c,z\n\n4,d,w\n"));
        EXPECT_EQ(t.table.getNumRecords(), 3u);
    }
    {
        SCOPED_TRACE("a one-byte line ends the table too");
        Table3 t;
        ASSERT_TRUE(t.open("1,a,x\nq\n4,d,w\n"));
        EXPECT_EQ(t.table.getNumRecords(), 1u);
    }
    {
        SCOPED_TRACE("CR LF line ends leave no CR in the last field");
        Table3 t;
        ASSERT_TRUE(t.open("1,a,x\r\n2,b,y\r\n"));
        ASSERT_EQ(t.table.getNumRecords(), 2u);
        EXPECT_STREQ(t.table.getRecord(0).getString(2), "x");
        EXPECT_STREQ(t.table.getRecord(1).getString(2), "y");
    }
    {
        Table3 t;
        ASSERT_TRUE(t.open(""));
        EXPECT_EQ(t.table.getNumRecords(), 0u);
    }
}

TEST(TableReader, emptyFieldsAndSpacesAreKept)
{
    ScopedTempDir dir;
    dir.write("t.csv", "7,,x,\n, a ,b,c\n");
    TextDataBase table("t.csv", 4);
    ASSERT_TRUE(table.open());
    EXPECT_EQ(fieldsOf(table.getRecord(0)), (std::vector<std::string>{"7", "", "x", ""}));
    EXPECT_EQ(fieldsOf(table.getRecord(1)), (std::vector<std::string>{"", " a ", "b", "c"}));
}

TEST(TableReader, failuresLeaveEarlierRowsButNoCount)
{
    {
        Table3 t;
        EXPECT_FALSE(t.open("1,a,x\n2,b\n3,c,z\n"));
        EXPECT_EQ(t.table.getNumRecords(), 0u);
        EXPECT_EQ(t.table.getRecordArray().size(), 1u);
    }
    {
        Table3 t;
        EXPECT_FALSE(t.open("1,a,x,extra\n"));
    }
    {
        ScopedTempDir dir;
        TextDataBase missing("absent.csv", 3);
        EXPECT_FALSE(missing.open());
        TextDataBase unnamed("", 3);
        EXPECT_FALSE(unnamed.open());
        EXPECT_FALSE(unnamed.rewrite());
    }
}

TEST(TableReader, overlongLinesNeverBecomeTwoRows)
{
    const std::string longField(3000, 'a');
    {
        SCOPED_TRACE("a data line longer than the limit fails the open");
        Table3 t;
        EXPECT_FALSE(t.open("1,a,x\n2," + longField + ",y\n3,c,z\n"));
        EXPECT_EQ(t.table.getRecordArray().size(), 1u);
    }
    {
        SCOPED_TRACE("the longest allowed line is read whole");
        Table3 t;
        const std::string line = "1,x," + std::string(2047 - 4, 'b');
        ASSERT_EQ(line.size(), 2047u);
        ASSERT_TRUE(t.open(line + "\n2,y,z\n"));
        ASSERT_EQ(t.table.getNumRecords(), 2u);
        EXPECT_EQ(std::string(t.table.getRecord(0).getString(2)).size(), 2043u);
    }
    {
        SCOPED_TRACE("a long comment is still a comment");
        Table3 t;
        ASSERT_TRUE(t.open("//" + longField + "\n1,a,x\n"));
        EXPECT_EQ(t.table.getNumRecords(), 1u);
    }
}

TEST(TableReader, openingTwiceAppendsAgain)
{
    Table3 t;
    ASSERT_TRUE(t.open("1,a,x\n2,b,y\n"));
    ASSERT_TRUE(t.table.open());
    EXPECT_EQ(t.table.getNumRecords(), 4u);
    EXPECT_TRUE(t.table.getRecord(3).isValid());
}

TEST(TableReader, aRowIndexBeyondTheTableIsAProgrammingError)
{
    Table3 t;
    ASSERT_TRUE(t.open("1,a,x\n2,b,y\n"));
#ifdef NDEBUG
    // Release builds answer with the shared empty row.
    EXPECT_FALSE(t.table.getRecord(2).isValid());
    EXPECT_EQ(&t.table.getRecord(7), &s_emptyRecord);
#else
    // Debug builds stop on it, naming the broken condition.
    EXPECT_DEATH(t.table.getRecord(2), "index<m_numRecords");
#endif
}

TEST(TableEditing, deleteRenumbersAndOutOfRangeChangesNothing)
{
    Table3 t;
    ASSERT_TRUE(t.open("5,a,x\n9,b,y\n11,c,z\n"));
    ASSERT_TRUE(t.table.deleteRecord(0));
    ASSERT_EQ(t.table.getNumRecords(), 2u);
    EXPECT_STREQ(t.table.getRecord(0).getString(0), "1");
    EXPECT_STREQ(t.table.getRecord(0).getString(1), "b");
    EXPECT_STREQ(t.table.getRecord(1).getString(0), "2");

    EXPECT_FALSE(t.table.deleteRecord(2));
    EXPECT_FALSE(t.table.deleteRecord(-1));
    EXPECT_EQ(t.table.getNumRecords(), 2u);

    Record replacement;
    for (const char* f : {"8", "q", "r"})
        replacement.record_push_back(f);
    EXPECT_FALSE(t.table.insteadRecord(replacement, 2));
    EXPECT_FALSE(t.table.insteadRecord(replacement, -3));
    ASSERT_TRUE(t.table.insteadRecord(replacement, 1));
    EXPECT_STREQ(t.table.getRecord(1).getString(1), "q");
    EXPECT_EQ(t.table.getNumRecords(), 2u);

    TextDataBase empty("e.csv", 3);
    EXPECT_FALSE(empty.deleteRecord(0));
    EXPECT_EQ(empty.getNumRecords(), 0u);
    ASSERT_TRUE(empty.addRecord(replacement));
    EXPECT_EQ(empty.getNumRecords(), 1u);
}

TEST(TableWriter, rewriteThenOpenGivesTheSameRows)
{
    Table3 t;
    ASSERT_TRUE(t.open("//title\n3,c,z\n1,a,\n"));
    ASSERT_TRUE(t.table.rewrite());
    EXPECT_EQ(t.dir.read("t.csv"), "3,c,z\n1,a,\n") << "comments are gone, order kept";
    TextDataBase again("t.csv", 3);
    ASSERT_TRUE(again.open());
    ASSERT_EQ(again.getNumRecords(), 2u);
    EXPECT_EQ(fieldsOf(again.getRecord(1)), (std::vector<std::string>{"1", "a", ""}));
}

TEST(TableWriter, rowsThatWouldNotReadBackAreRefusedAndTheFileKept)
{
    const std::string original = "1,a,x\n";
    const char* const badFields[] = {"a,b", "line\nbreak", "cr\r", "x//y"};
    for (const char* bad : badFields)
    {
        SCOPED_TRACE(bad);
        Table3 t;
        ASSERT_TRUE(t.open(original));
        Record rec;
        for (const char* f : {"2", bad, "z"})
            rec.record_push_back(f);
        t.table.addRecord(rec);
        EXPECT_FALSE(t.table.rewrite());
        EXPECT_EQ(t.dir.read("t.csv"), original);
    }
    {
        SCOPED_TRACE("fields past the table's columns would be lost");
        Table3 t;
        ASSERT_TRUE(t.open(original));
        Record wide;
        for (const char* f : {"2", "b", "y", "z"})
            wide.record_push_back(f);
        t.table.addRecord(wide);
        EXPECT_FALSE(t.table.rewrite());
        EXPECT_EQ(t.dir.read("t.csv"), original);
    }
    {
        SCOPED_TRACE("a row with fewer fields than the first");
        Table3 t;
        ASSERT_TRUE(t.open(original));
        Record shortRow;
        shortRow.record_push_back("2");
        t.table.addRecord(shortRow);
        EXPECT_FALSE(t.table.rewrite());
        EXPECT_EQ(t.dir.read("t.csv"), original);
    }
    {
        SCOPED_TRACE("a row whose line would be one byte long ends the table when read");
        ScopedTempDir dir;
        dir.write("one.csv", "12\n");
        TextDataBase oneColumn("one.csv", 1);
        ASSERT_TRUE(oneColumn.open());
        Record tiny;
        tiny.record_push_back("7");
        oneColumn.addRecord(tiny);
        EXPECT_FALSE(oneColumn.rewrite());
        EXPECT_EQ(dir.read("one.csv"), "12\n");
    }
}

TEST(TableWriter, aTitleLineNamingTheColumnsComesFirstAndIsReadAsAComment)
{
    Table3 t;
    ASSERT_TRUE(t.open("1,a,x\n"));
    const Record& row = t.table.getRecord(0);
    using avatar_detail::WriteResult;
    EXPECT_EQ(WriteResult::Ok, avatar_detail::writeTableFile("t.csv", {&row}, 3, {"ID", "name", "x"}));
    EXPECT_EQ(t.dir.read("t.csv"), "//ID,name,x\n1,a,x\n");
    TextDataBase again("t.csv", 3);
    ASSERT_TRUE(again.open());
    ASSERT_EQ(again.getNumRecords(), 1u);
    EXPECT_EQ(fieldsOf(again.getRecord(0)), (std::vector<std::string>{"1", "a", "x"}));

    // A line break in a name would turn the rest of the title into a row.
    EXPECT_EQ(WriteResult::Unfaithful, avatar_detail::writeTableFile("t.csv", {&row}, 3, {"ID", "na\nme", "x"}));
    EXPECT_EQ(t.dir.read("t.csv"), "//ID,name,x\n1,a,x\n");
}

TEST(TableWriter, emptyTableWritesAnEmptyFile)
{
    Table3 t;
    ASSERT_TRUE(t.open("1,a,x\n"));
    ASSERT_TRUE(t.table.deleteRecord(0));
    ASSERT_TRUE(t.table.rewrite());
    EXPECT_EQ(t.dir.read("t.csv"), "");
    TextDataBase again("t.csv", 3);
    EXPECT_TRUE(again.open());
    EXPECT_EQ(again.getNumRecords(), 0u);
}

TEST(TableWriter, missingDirectoryReportsTheMessage)
{
    ScopedTempDir dir;
    TextDataBase table("no/such/dir/t.csv", 1);
    Record rec;
    rec.record_push_back("10");
    table.addRecord(rec);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(table.rewrite());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\xCE\xC4\xBC\xFE\xB4\xF2\xBF\xAA\xCA\xA7\xB0\xDC");
}

TEST(TableWriter, aTablePathThatCannotBeReplacedReportsTheMessage)
{
    // The rows are written beside the table, then renamed over it: a directory refuses that.
    ScopedTempDir dir;
    ASSERT_EQ(mkdir("t.csv", 0700), 0);
    TextDataBase table("t.csv", 1);
    Record rec;
    rec.record_push_back("10");
    table.addRecord(rec);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(table.rewrite());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\xCE\xC4\xBC\xFE\xB4\xF2\xBF\xAA\xCA\xA7\xB0\xDC");
    EXPECT_NE(access("t.csv.tmp", F_OK), 0) << "nothing is left beside it";
}

TEST(TableWriter, aWriteThatFailsPartWayKeepsThePreviousFile)
{
    // /dev/full accepts the open and fails every write, like a full disk.
    ScopedTempDir dir;
    dir.write("t.csv", "1,a,x\n");
    ASSERT_EQ(symlink("/dev/full", "t.csv.tmp"), 0);
    TextDataBase table("t.csv", 3);
    ASSERT_TRUE(table.open());
    EXPECT_FALSE(table.rewrite());
    EXPECT_EQ(dir.read("t.csv"), "1,a,x\n");
}

namespace
{
void removeTheFile(const std::string& fileName)
{
    std::remove(fileName.c_str());
}
void emptyTheFile(const std::string& fileName)
{
    ASSERT_EQ(truncate(fileName.c_str(), 0), 0);
}
} // namespace

TEST(TableReader, onlyARegularFileIsATableAndItIsReadToItsEnd)
{
    ScopedTempDir dir;
    ASSERT_EQ(mkdir("Creature.csv", 0755), 0);
    CreatureDB creatures;
    EXPECT_FALSE(creatures.open()) << "a directory";
    EXPECT_EQ(creatures.getNumRecords(), 0u);
    ASSERT_EQ(mkfifo("t.csv", 0644), 0);
    TextDataBase fifo("t.csv", 3);
    EXPECT_FALSE(fifo.open()) << "a FIFO, refused without waiting for a writer";

    // The file changes between being opened and being read: what is read is what the file held.
    const std::string rows = "1,a,x\n2,b,y\n";
    dir.write("v.csv", rows);
    avatar_detail::setTableReadHook(removeTheFile);
    TextDataBase vanished("v.csv", 3);
    const bool openedVanished = vanished.open();
    avatar_detail::setTableReadHook(emptyTheFile);
    dir.write("e.csv", rows);
    TextDataBase emptied("e.csv", 3);
    const bool openedEmptied = emptied.open();
    avatar_detail::setTableReadHook(nullptr);
    EXPECT_TRUE(openedVanished);
    EXPECT_EQ(vanished.getNumRecords(), 2u) << "an open file outlives its name";
    EXPECT_TRUE(openedEmptied);
    EXPECT_EQ(emptied.getNumRecords(), 0u);
}
