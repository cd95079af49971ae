// Reading and looking up large tables, against two references over the same bytes:
// the floor (only finding the line ends and commas) and the fast-cpp-csv-parser from Debian.

#include "avatarsystem/creaturedb.h"
#include "avatarsystem/ewchardb.h"

#include <benchmark/benchmark.h>
#include <libfccp/csv.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

constexpr unsigned kCreatureRows = 100000;
std::string g_directory;
std::size_t g_creatureBytes = 0;

std::string creatureRow(unsigned id)
{
    const std::string n = std::to_string(id);
    std::string row = n + ",1." + std::to_string(id % 100) + ",Creature" + n + ",creature" + n + ".mesh";
    for (unsigned e = 0; e < 5; ++e)
        row += "," + std::to_string((id + e) % 7 == 0 ? id % 300 : 0);
    row += ",head" + n + ".png,2.5,6.75";
    for (unsigned a = 0; a < 16; ++a)
        row += "," + std::to_string(400 + (id * 7 + a * 13) % 900);
    row += ",1.2," + std::to_string(id % 2);
    return row + "\n";
}

void writeFile(const char* name, const std::string& text)
{
    std::FILE* out = std::fopen(name, "wb");
    if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fclose(out) != 0)
    {
        std::fprintf(stderr, "cannot write %s\n", name);
        std::exit(1);
    }
}

// The tables are read by bare file name, so the benchmark works in a directory of its own.
void makeTables()
{
    char pattern[] = "/tmp/avatarbench.XXXXXX";
    if (!mkdtemp(pattern) || chdir(pattern) != 0)
    {
        std::perror("temporary directory");
        std::exit(1);
    }
    g_directory = pattern;

    std::string creatures = "//CreatureID,Scale,Name,FileName,Effect1-5,HeadImage,...\n";
    // Shuffled IDs, so that the map is not filled in key order.
    std::vector<unsigned> ids(kCreatureRows);
    for (unsigned i = 0; i < kCreatureRows; ++i)
        ids[i] = i + 1;
    std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
    for (unsigned id : ids)
        creatures += creatureRow(id);
    writeFile("Creature.csv", creatures);
    // The same rows without the title line, for the parser that has no comment lines.
    writeFile("CreatureRows.csv", creatures.substr(creatures.find('\n') + 1));
    g_creatureBytes = creatures.size();

    std::string sections;
    for (unsigned race = 1; race <= 10; ++race)
        for (unsigned gender = 0; gender < 2; ++gender)
            for (unsigned type = 0; type < 5; ++type)
                for (unsigned section = 0; section < 20; ++section)
                    for (unsigned color = 0; color < 10; ++color)
                        sections += std::to_string(EWCharSectionsDB::makeKey(race, gender, type, section, color)) +
                                    "," + std::to_string(race) + "," + std::to_string(gender) + "," +
                                    std::to_string(type) + "," + std::to_string(section) + "," + std::to_string(color) +
                                    ",skin.png,face.png,hair.png,0\n";
    writeFile("EWCharSections.csv", sections);
}

void removeTables()
{
    for (const char* name : {"Creature.csv", "CreatureRows.csv", "EWCharSections.csv"})
        std::remove(name);
    if (chdir("/") == 0)
        rmdir(g_directory.c_str());
}

std::vector<char> readWhole(const char* name)
{
    std::FILE* file = std::fopen(name, "rb");
    std::vector<char> bytes;
    if (!file)
        return bytes;
    std::fseek(file, 0, SEEK_END);
    bytes.resize(static_cast<std::size_t>(std::ftell(file)));
    std::fseek(file, 0, SEEK_SET);
    if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size())
        bytes.clear();
    std::fclose(file);
    return bytes;
}

void BM_CreatureDBOpen(benchmark::State& state)
{
    for (auto _ : state)
    {
        CreatureDB creatures;
        if (!creatures.open() || creatures.getNumRecords() != kCreatureRows)
            state.SkipWithError("Creature.csv did not open");
        benchmark::DoNotOptimize(creatures.getRecordMap());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_creatureBytes));
}
BENCHMARK(BM_CreatureDBOpen)->Unit(benchmark::kMillisecond);

// The floor: read the file, find every line end and every comma, keep nothing.
void BM_FloorLinesAndCommas(benchmark::State& state)
{
    for (auto _ : state)
    {
        const std::vector<char> bytes = readWhole("Creature.csv");
        std::size_t lines = 0;
        std::size_t commas = 0;
        const char* p = bytes.data();
        const char* end = p + bytes.size();
        while (p < end)
        {
            const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            const char* lineEnd = newline ? newline : end;
            for (const char* c = p; (c = static_cast<const char*>(std::memchr(c, ',', lineEnd - c))); ++c)
                ++commas;
            ++lines;
            p = lineEnd + 1;
        }
        benchmark::DoNotOptimize(lines);
        benchmark::DoNotOptimize(commas);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_creatureBytes));
}
BENCHMARK(BM_FloorLinesAndCommas)->Unit(benchmark::kMillisecond);

// The parser's own fast path: each row split into 30 column pointers, nothing kept.
void BM_FccpCSVReaderColumnsOnly(benchmark::State& state)
{
    for (auto _ : state)
    {
        io::CSVReader<30, io::trim_chars<>, io::no_quote_escape<','>> in("CreatureRows.csv");
        char* c[30];
        std::size_t rows = 0;
        while (in.read_row(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10], c[11], c[12], c[13],
                           c[14], c[15], c[16], c[17], c[18], c[19], c[20], c[21], c[22], c[23], c[24], c[25], c[26],
                           c[27], c[28], c[29]))
            ++rows;
        if (rows != kCreatureRows)
            state.SkipWithError("the parser lost rows");
        benchmark::DoNotOptimize(rows);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_creatureBytes));
}
BENCHMARK(BM_FccpCSVReaderColumnsOnly)->Unit(benchmark::kMillisecond);

// The same parser doing the table's whole job: rows kept as records in a map under column 0.
void BM_FccpCSVReaderIntoTable(benchmark::State& state)
{
    for (auto _ : state)
    {
        io::CSVReader<30, io::trim_chars<>, io::no_quote_escape<','>> in("CreatureRows.csv");
        std::map<unsigned, Record> table;
        char* c[30];
        while (in.read_row(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10], c[11], c[12], c[13],
                           c[14], c[15], c[16], c[17], c[18], c[19], c[20], c[21], c[22], c[23], c[24], c[25], c[26],
                           c[27], c[28], c[29]))
        {
            Record rec;
            rec.reserveFields(30);
            for (char* field : c)
                rec.appendField(field, std::strlen(field));
            const unsigned key = rec.getUInt(0);
            table.emplace(key, std::move(rec));
        }
        if (table.size() != kCreatureRows)
            state.SkipWithError("the parser lost rows");
        benchmark::DoNotOptimize(table);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_creatureBytes));
}
BENCHMARK(BM_FccpCSVReaderIntoTable)->Unit(benchmark::kMillisecond);

// The parser's line reader with a plain comma split into records, the closest match to our reader.
void BM_FccpLineReaderIntoTable(benchmark::State& state)
{
    // The table's own line splitter, as a host reaches it.
    CreatureDB splitter;
    for (auto _ : state)
    {
        io::LineReader in("Creature.csv");
        std::map<unsigned, Record> table;
        while (char* line = in.next_line())
        {
            if (std::strstr(line, "//"))
                continue;
            Record rec;
            rec.reserveFields(30);
            splitter.lineToRecord(line, rec);
            const unsigned key = rec.getUInt(0);
            table.emplace(key, std::move(rec));
        }
        if (table.size() != kCreatureRows)
            state.SkipWithError("the parser lost rows");
        benchmark::DoNotOptimize(table);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_creatureBytes));
}
BENCHMARK(BM_FccpLineReaderIntoTable)->Unit(benchmark::kMillisecond);

const CreatureDB& openedCreatures()
{
    static CreatureDB creatures;
    static const bool opened = creatures.open();
    (void)opened;
    return creatures;
}

void BM_CreatureDBGetByID(benchmark::State& state)
{
    const CreatureDB& creatures = openedCreatures();
    std::mt19937 random(11);
    std::uniform_int_distribution<unsigned> id(1, kCreatureRows);
    for (auto _ : state)
        benchmark::DoNotOptimize(creatures.getByID(id(random)));
}
BENCHMARK(BM_CreatureDBGetByID);

// Random names among 100,000 rows, through the name index the first look-up built.
void BM_CreatureDBGetByName(benchmark::State& state)
{
    const CreatureDB& creatures = openedCreatures();
    std::vector<std::string> names;
    std::mt19937 random(11);
    for (int i = 0; i < 4096; ++i)
        names.push_back("Creature" + std::to_string(random() % kCreatureRows));
    benchmark::DoNotOptimize(creatures.getByName(names[0]));
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(creatures.getByName(names[i++ & 4095]));
}
BENCHMARK(BM_CreatureDBGetByName);

// The first look-up after the rows changed: the index is built again from all 100,000 rows.
void BM_CreatureDBGetByNameAfterAnEdit(benchmark::State& state)
{
    static CreatureDB creatures = openedCreatures();
    // Read through the const map: the mutable one would turn name look-ups into scans.
    const std::map<unsigned, Record>& rows = static_cast<const CreatureDB&>(creatures).getRecordMap();
    Record row = rows.begin()->second;
    const unsigned key = rows.begin()->first;
    const std::string name = "Creature" + std::to_string(kCreatureRows / 2);
    for (auto _ : state)
    {
        creatures.insteadRecord(row, key);
        benchmark::DoNotOptimize(creatures.getByName(name));
    }
}
BENCHMARK(BM_CreatureDBGetByNameAfterAnEdit)->Unit(benchmark::kMillisecond);

// Random names among 100,000 rows once the rows were handed out for editing in place: a scan.
void BM_CreatureDBGetByNameRowsHandedOut(benchmark::State& state)
{
    static CreatureDB creatures = openedCreatures();
    benchmark::DoNotOptimize(creatures.getRecordMap());
    std::vector<std::string> names;
    std::mt19937 random(11);
    for (int i = 0; i < 4096; ++i)
        names.push_back("Creature" + std::to_string(random() % kCreatureRows));
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(creatures.getByName(names[i++ & 4095]));
}
BENCHMARK(BM_CreatureDBGetByNameRowsHandedOut)->Unit(benchmark::kMicrosecond);

void BM_SectionsGetByParams(benchmark::State& state)
{
    static EWCharSectionsDB sections;
    static const bool opened = sections.open();
    if (!opened)
        state.SkipWithError("EWCharSections.csv did not open");
    std::mt19937 random(13);
    for (auto _ : state)
    {
        const unsigned r = random();
        benchmark::DoNotOptimize(
            sections.getByParams(1 + r % 10, (r >> 4) % 2, (r >> 5) % 5, (r >> 8) % 20, (r >> 13) % 10));
    }
}
BENCHMARK(BM_SectionsGetByParams);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    makeTables();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeTables();
    return 0;
}
