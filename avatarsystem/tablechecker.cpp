#include "avatarsystem/tablechecker.h"

#include "avatarsystem/animationdb.h"
#include "avatarsystem/avatarinterface.h"
#include "avatarsystem/characterinstance.h"
#include "avatarsystem/creaturedb.h"
#include "avatarsystem/detail/contentrules.h"
#include "avatarsystem/detail/meshreader.h"
#include "avatarsystem/detail/tablefile.h"
#include "avatarsystem/ewchardb.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <dirent.h>
#include <map>
#include <sys/stat.h>
#include <utility>

namespace avatar_check
{

namespace
{

using avatar_detail::TableFileReader;

bool isDecimal(const char* text)
{
    if (!text || !*text)
        return false;
    for (; *text; ++text)
        if (*text < '0' || *text > '9')
            return false;
    return true;
}

// A comment line that an author most likely meant as a row: it does not start with "//",
// it has the table's column count and its column 0 is a number.
bool looksLikeRow(const char* line, unsigned numFields)
{
    const char* p = line;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (p[0] == '/' && p[1] == '/')
        return false;
    Record rec;
    avatar_detail::splitTableLine(line, std::strlen(line), rec);
    return rec.getNumFields() == numFields && isDecimal(rec.getString(0));
}

void add(std::vector<TableFinding>& findings, const std::string& file, unsigned line, TableFinding::Severity severity,
         std::string message)
{
    findings.push_back(TableFinding{file, line, severity, std::move(message)});
}

std::string plural(unsigned n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Another table is named by its bare file name: the directory is the one being checked.
std::string tableName(const CheckedTable& table)
{
    return table.layout ? table.layout->fileName : table.file;
}

// The file as the tables read it: false when they cannot.
bool readFile(const std::string& path, std::string& bytes)
{
    std::vector<char> data;
    if (!avatar_detail::readTableFile(path, data))
        return false;
    bytes.assign(data.begin(), data.end());
    return true;
}

bool pathExists(const std::string& path)
{
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

} // namespace

std::string formatFinding(const TableFinding& finding)
{
    return finding.file + ":" + std::to_string(finding.line) + ": " +
           (finding.severity == TableFinding::Error ? "error" : "warning") + ": " + finding.message;
}

const std::vector<TableLayout>& knownTables()
{
    static const std::vector<TableLayout> tables = {
        AnimationDB::layout(),  CreatureDB::layout(),       NpcDB::layout(),           ObjectDB::layout(),
        EWItemDB::layout(),     EWWearingDB::layout(),      EWEffectsDB::layout(),     EWCharRacesDB::layout(),
        EWBaseInfoDB::layout(), EWCharSectionsDB::layout(), EWCharHairGeoDB::layout(), EWCharFacialHairDB::layout()};
    return tables;
}

const TableLayout* findTableLayout(const std::string& fileName)
{
    for (const TableLayout& table : knownTables())
        if (table.fileName == fileName)
            return &table;
    return nullptr;
}

bool isRequiredTable(const TableLayout& layout)
{
    return layout.fileName != EWEffectsDB::layout().fileName;
}

long CheckedTable::findKey(unsigned key) const
{
    const auto it = keys.find(key);
    return it == keys.end() ? -1 : static_cast<long>(it->second);
}

CheckedTable checkTableBytes(const std::string& file, const std::string& bytes, const TableLayout& layout,
                             std::vector<TableFinding>& findings)
{
    CheckedTable table;
    table.file = file;
    table.layout = &layout;

    TableFileReader reader;
    reader.loadBytes(bytes.data(), bytes.size());
    char* line = nullptr;
    std::size_t length = 0;
    for (TableFileReader::Line kind; (kind = reader.next(line, length)) != TableFileReader::Line::EndOfFile;)
    {
        const unsigned lineNumber = reader.lineNumber();
        switch (kind)
        {
        case TableFileReader::Line::Comment:
            if (looksLikeRow(line, layout.numFields()))
                add(findings, file, lineNumber, TableFinding::Warning,
                    "this row contains \"//\", so it is skipped as a comment");
            break;
        case TableFileReader::Line::TooLong:
            table.opens = false;
            add(findings, file, lineNumber, TableFinding::Error,
                "the line is " + std::to_string(length) + " bytes long, over the limit of " +
                    std::to_string(avatar_detail::kMaxTableLineLength) + ": the table fails to open");
            break;
        case TableFileReader::Line::EndMark:
        {
            const bool blank = length == 0;
            unsigned lost = 0;
            for (TableFileReader::Line after; (after = reader.next(line, length)) != TableFileReader::Line::EndOfFile;)
                if (after == TableFileReader::Line::Row || after == TableFileReader::Line::TooLong)
                    ++lost;
            if (lost)
                add(findings, file, lineNumber, TableFinding::Warning,
                    std::string(blank ? "a blank line" : "a one-byte line") + " ends the table here; the " +
                        plural(lost, "data line", "data lines") + " after it " + (lost == 1 ? "is" : "are") +
                        " ignored");
            return table;
        }
        case TableFileReader::Line::Row:
        {
            Record rec;
            avatar_detail::splitTableLine(line, length, rec);
            if (rec.getNumFields() != layout.numFields())
            {
                table.opens = false;
                add(findings, file, lineNumber, TableFinding::Error,
                    "the row has " + std::to_string(rec.getNumFields()) + " columns, the table needs " +
                        std::to_string(layout.numFields()) + ": the table fails to open");
                break;
            }
            if (layout.keyed)
            {
                if (!isDecimal(rec.getString(0)))
                    add(findings, file, lineNumber, TableFinding::Warning,
                        "column 0 \"" + std::string(rec.getString(0)) + "\" is not a number: the row is stored under " +
                            std::to_string(rec.getUInt(0)));
                const unsigned key = rec.getUInt(0);
                const auto first = table.keys.emplace(key, table.rows.size());
                if (!first.second)
                {
                    add(findings, file, lineNumber, TableFinding::Warning,
                        "key " + std::to_string(key) + " is already used on line " +
                            std::to_string(table.lines[first.first->second]) +
                            "; this row is ignored (the first row wins)");
                    break;
                }
            }
            table.rows.push_back(std::move(rec));
            table.lines.push_back(lineNumber);
            break;
        }
        case TableFileReader::Line::EndOfFile:
            break;
        }
    }
    return table;
}

void checkPackedKeys(const CheckedTable& table, std::vector<TableFinding>& findings)
{
    const TableLayout* layout = table.layout;
    if (!layout || !layout->packKey)
        return;
    for (std::size_t i = 0; i < table.rows.size(); ++i)
    {
        const Record& row = table.rows[i];
        const unsigned key = row.getUInt(0);
        const unsigned packed = layout->packKey(row);
        if (key == packed)
            continue;
        std::string parts;
        for (unsigned column : layout->keyColumns)
        {
            std::string name = layout->columns[column];
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            parts += (parts.empty() ? "" : ", ") + name + " " + std::to_string(row.getUInt(column));
        }
        add(findings, table.file, table.lines[i], TableFinding::Error,
            layout->columns[0] + " is " + std::to_string(key) + " but " + parts + " pack to " + std::to_string(packed) +
                ": the row is found only by " + std::to_string(key));
    }
}

void checkHeadImages(const CheckedTable& table, std::vector<TableFinding>& findings)
{
    static_assert(CreatureLayoutDB::HeadImage == ObjectDB::HeadImage, "creature, NPC and object rows share the column");
    const std::string& file = table.layout ? table.layout->fileName : std::string();
    if (file != CreatureDB::layout().fileName && file != NpcDB::layout().fileName &&
        file != ObjectDB::layout().fileName)
        return;
    const std::size_t limit = IAvatarSystem::HeadImageBufferSize - 1;
    for (std::size_t i = 0; i < table.rows.size(); ++i)
    {
        const char* image = table.rows[i].getString(CreatureLayoutDB::HeadImage);
        const std::size_t length = image ? std::strlen(image) : 0;
        if (length > limit)
            add(findings, table.file, table.lines[i], TableFinding::Error,
                "HeadImage is " + std::to_string(length) + " bytes long, over the " + std::to_string(limit) +
                    " the host is given: getHeadImageFromId cuts it");
    }
}

void checkRaceIds(const CheckedTable& races, std::vector<TableFinding>& findings)
{
    for (std::size_t i = 0; i < races.rows.size(); ++i)
    {
        const unsigned id = races.rows[i].getUInt(EWCharRacesDB::RaceID);
        if (id != i + 1)
            add(findings, races.file, races.lines[i], TableFinding::Error,
                "RaceID " + std::to_string(id) + " stands on row " + std::to_string(i + 1) +
                    ": race N must be row N, or the race is never found");
    }
}

namespace
{
const TableLayout& creatureLayoutOf(DB_NAME_e which)
{
    return which == DB_OBJECT ? ObjectDB::layout() : which == DB_NPC ? NpcDB::layout() : CreatureDB::layout();
}
} // namespace

void checkCreatureIdRanges(const CheckedTable& table, DB_NAME_e which, std::vector<TableFinding>& findings)
{
    static_assert(CreatureDB::CreatureID == ObjectDB::ObjectId && NpcDB::NpcID == ObjectDB::ObjectId,
                  "the three tables hold the ID in the same column");
    for (std::size_t i = 0; i < table.rows.size(); ++i)
    {
        const unsigned id = table.rows[i].getUInt(ObjectDB::ObjectId);
        const DB_NAME_e lookedUpIn = avatar_rules::creatureTableOf(id);
        if (lookedUpIn != which)
            add(findings, table.file, table.lines[i], TableFinding::Warning,
                "ID " + std::to_string(id) + " is looked up in " + creatureLayoutOf(lookedUpIn).fileName +
                    ", not here: the row is found by name only");
    }
}

void checkPresetReferences(const CheckedTable& presets, const CheckedTable* races, const CheckedTable* items,
                           const CheckedTable* wornItems, std::vector<TableFinding>& findings)
{
    using P = EWBaseInfoDB;
    static const unsigned itemPlaces[] = {P::head,      P::shoulder,       P::doublehand, P::shield,    P::leftHand,
                                          P::rightHand, P::backLongWeapon, P::backShield, P::leftWaist, P::rightWaist};
    static const unsigned wornPlaces[] = {P::boot, P::belt, P::shirt, P::pants, P::glove};
    const std::vector<std::string>& names = presets.layout ? presets.layout->columns : std::vector<std::string>();
    auto columnName = [&names](unsigned column)
    { return column < names.size() && !names[column].empty() ? names[column] : "column " + std::to_string(column); };

    for (std::size_t i = 0; i < presets.rows.size(); ++i)
    {
        const Record& row = presets.rows[i];
        const unsigned line = presets.lines[i];
        const unsigned gender = row.getUInt(P::gender);
        if (gender > 1)
            add(findings, presets.file, line, TableFinding::Warning,
                "gender " + std::to_string(gender) + " is neither 0 nor 1: the player is built on " +
                    avatar_rules::kFemaleBody + " and wears what fits it, but finds no face or hair rows of its own");
        if (races)
        {
            // As EWCharRacesDB::getById finds it: on row race - 1 with that RaceID.
            const unsigned race = row.getUInt(P::race);
            const std::size_t position = static_cast<unsigned>(race - 1u);
            if (position >= races->rows.size() || races->rows[position].getUInt(EWCharRacesDB::RaceID) != race)
                add(findings, presets.file, line, TableFinding::Error,
                    "race " + std::to_string(race) + " is not in " + tableName(*races));
        }
        auto checkPlaces = [&](const auto& places, const CheckedTable* table)
        {
            if (!table)
                return;
            for (unsigned place : places)
            {
                const unsigned id = row.getUInt(place);
                if (id != 0 && table->findKey(id) < 0)
                    add(findings, presets.file, line, TableFinding::Error,
                        columnName(place) + " " + std::to_string(id) + " is not in " + tableName(*table));
            }
        };
        checkPlaces(itemPlaces, items);
        checkPlaces(wornPlaces, wornItems);
    }
}

namespace
{

// The two player bodies, by the gender value 0 (men) and any other (women).
struct Body
{
    const char* mesh;
    const char* who;
};
const Body s_bodies[2] = {{avatar_rules::kMaleBody, "men"}, {avatar_rules::kFemaleBody, "women"}};

const char* const s_fallbackMesh = "G_jiaoren_women.mesh";

// Which bodies a row serves. Items and worn items: those whose wearers it fits (a flag that fits
// no body serves none). Hair rows: the body of their gender.
std::vector<unsigned> bodiesServed(unsigned flag, bool isItemFlag)
{
    if (!isItemFlag)
        return {avatar_rules::hasFemaleBody(flag) ? 1u : 0u};
    std::vector<unsigned> bodies;
    for (unsigned body : {0u, 1u})
        if (avatar_rules::itemFitsGender(flag, body))
            bodies.push_back(body);
    return bodies;
}

// A body to check rows against: there and readable (checkBodyMeshes reports the others).
const MeshFacts* usableBody(MeshSource& meshes, unsigned body)
{
    const MeshFacts* facts = meshes.find(s_bodies[body].mesh);
    return facts && facts->readable ? facts : nullptr;
}

// Why a mesh file cannot serve, or empty when it can.
std::string meshProblem(MeshSource& meshes, const std::string& file)
{
    const MeshFacts* facts = meshes.find(file);
    if (!facts)
        return "is missing";
    return facts->readable ? "" : "cannot be read (the engine log tells why)";
}

std::string joined(const std::vector<std::string>& parts, const char* separator)
{
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

// A row's field, empty when the row is too short (rows of the wrong length are not kept).
std::string field(const Record& row, unsigned column)
{
    const char* text = row.getString(column);
    return text ? text : "";
}

} // namespace

void checkBodyMeshes(MeshSource& meshes, std::vector<TableFinding>& findings)
{
    using C = CharacterInstance;
    const std::pair<const std::string*, const char*> sections[] = {
        {&C::body_new, "the torso"},       {&C::lowArm_new, "the lower arms"}, {&C::lowLeg_new, "the lower legs"},
        {&C::upLeg_new, "the upper legs"}, {&C::face_new, "the face"},         {&C::hair, "the default hair piece"}};
    const std::pair<const std::string*, const char*> bones[] = {
        {&C::helm, "helms (place 0)"},
        {&C::shoulder_l, "left shoulder pieces (place 1)"},
        {&C::shoulder_r, "right shoulder pieces (place 1)"},
        {&C::weapon_l, "left-hand and two-handed weapons (places 10 and 6)"},
        {&C::weapon_r, "right-hand and two-handed weapons (places 9 and 6)"},
        {&C::shield, "shields (place 7)"},
        {&C::backGongBinder, "back weapons of Type 10 (place 11)"},
        {&C::backShieldBinder, "back shields (place 12)"},
        {&C::backLongBinder, "back weapons of Type 9 (place 11)"},
        {&C::backFazhangBinder, "back weapons of Type 9 with HideHair 1 (place 11)"},
        {&C::backShuangshouchuiBinder, "back weapons of Type 9 with HideHair 2 (place 11)"},
        {&C::waist_r, "right waist items (place 13)"},
        {&C::waist_l, "left waist items (place 14)"}};
    for (const Body& body : s_bodies)
    {
        const std::string file = meshes.pathOf(body.mesh);
        const std::string problem = meshProblem(meshes, body.mesh);
        if (!problem.empty())
        {
            add(findings, file, 0, TableFinding::Error,
                std::string("the body of ") + body.who + " " + problem + ": no such player can be built");
            continue;
        }
        const MeshFacts& facts = *meshes.find(body.mesh);
        for (const auto& section : sections)
            if (!facts.subEntities.count(*section.first))
                add(findings, file, 0, TableFinding::Error,
                    "there is no sub-entity " + *section.first + ", which players show as " + section.second);
        if (!facts.skeletonReadable)
        {
            add(findings, file, 0, TableFinding::Error,
                (facts.skeleton.empty() ? std::string("the body names no skeleton")
                                        : "its skeleton " + facts.skeleton + " cannot be read") +
                    ": nothing can hang on it and no animation plays");
            continue;
        }
        for (const auto& bone : bones)
            if (!facts.bones.count(*bone.first))
                add(findings, file, 0, TableFinding::Error,
                    "its skeleton " + facts.skeleton + " has no bone " + *bone.first + ", on which " + bone.second +
                        " hang");
    }
}

void checkItemMeshes(const CheckedTable& items, const CheckedTable* presets, MeshSource& meshes,
                     std::vector<TableFinding>& findings)
{
    using I = EWItemDB;
    using P = EWBaseInfoDB;
    // Where the presets wear each item: the head takes the gendered helm meshes, other places the plain one.
    std::set<unsigned> onHead, elsewhere;
    if (presets)
        for (const Record& preset : presets->rows)
            for (unsigned place : {P::head, P::shoulder, P::doublehand, P::shield, P::leftHand, P::rightHand,
                                   P::backLongWeapon, P::backShield, P::leftWaist, P::rightWaist})
                if (const unsigned id = preset.getUInt(place))
                    (place == P::head ? onHead : elsewhere).insert(id);

    for (std::size_t i = 0; i < items.rows.size(); ++i)
    {
        const Record& row = items.rows[i];
        const unsigned line = items.lines[i];
        const unsigned id = row.getUInt(I::ItemID);
        const std::string model = field(row, I::ModelFile);
        const std::string model2 = field(row, I::ModelFile2);
        const std::vector<unsigned> served = bodiesServed(row.getUInt(I::flag), true);
        auto helmMesh = [&model](unsigned body) { return avatar_rules::helmMesh(model, body); };

        bool helm = onHead.count(id) != 0;
        bool plain = elsewhere.count(id) != 0;
        if (!helm && !plain && !model.empty())
        {
            // Worn by no preset: a helm when only its gendered meshes are there.
            plain = meshes.find(model + ".mesh") || !(meshes.find(helmMesh(0)) || meshes.find(helmMesh(1)));
            helm = !plain;
        }
        if (!model.empty() && helm)
            for (unsigned body : served)
            {
                const std::string problem = meshProblem(meshes, helmMesh(body));
                if (!problem.empty())
                    add(findings, items.file, line, TableFinding::Error,
                        "ModelFile " + model + " is worn on the head by " + s_bodies[body].who + " as " +
                            helmMesh(body) + ", which " + problem);
            }
        if (!model.empty() && plain)
        {
            const std::string problem = meshProblem(meshes, model + ".mesh");
            if (!problem.empty())
                add(findings, items.file, line, TableFinding::Error,
                    "ModelFile " + model + " names " + model + ".mesh, which " + problem);
        }
        // The head uses ModelFile only.
        if (!model2.empty() && (plain || (model.empty() && !onHead.count(id))))
        {
            const std::string problem = meshProblem(meshes, model2 + ".mesh");
            if (!problem.empty())
                add(findings, items.file, line, TableFinding::Error,
                    "ModelFile2 " + model2 + " names " + model2 + ".mesh, which " + problem);
        }
    }
}

void checkOutModels(const CheckedTable& wornItems, MeshSource& meshes, std::vector<TableFinding>& findings)
{
    using W = EWWearingDB;
    for (std::size_t i = 0; i < wornItems.rows.size(); ++i)
    {
        const Record& row = wornItems.rows[i];
        const std::string outModel = field(row, W::outModel);
        if (outModel.empty())
            continue;
        std::vector<std::string> lacking;
        for (unsigned body : bodiesServed(row.getUInt(W::Flag), true))
            if (const MeshFacts* facts = usableBody(meshes, body))
                if (!facts->subEntities.count(outModel))
                    lacking.push_back(s_bodies[body].mesh);
        if (!lacking.empty())
            add(findings, wornItems.file, wornItems.lines[i], TableFinding::Error,
                "outModel " + outModel + " is not a sub-entity of " + joined(lacking, " or ") + " (Flag " +
                    std::to_string(row.getUInt(W::Flag)) + ")");
    }
}

void checkHairGeosets(const CheckedTable& hair, MeshSource& meshes, std::vector<TableFinding>& findings)
{
    using H = EWCharHairGeoDB;
    for (std::size_t i = 0; i < hair.rows.size(); ++i)
    {
        const Record& row = hair.rows[i];
        const std::string geoset = field(row, H::Submesh1);
        const unsigned body = bodiesServed(row.getUInt(H::Gender), false).front();
        const MeshFacts* facts = usableBody(meshes, body);
        if (!geoset.empty() && facts && !facts->subEntities.count(geoset))
            add(findings, hair.file, hair.lines[i], TableFinding::Error,
                "Submesh1 " + geoset + " is not a sub-entity of " + s_bodies[body].mesh);
    }
}

void checkCreatureMeshes(const CheckedTable& table, const CheckedTable* animations, MeshSource& meshes,
                         std::vector<TableFinding>& findings)
{
    // The three tables share the mesh and effect columns.
    using C = CreatureLayoutDB;
    static_assert(C::FileName == ObjectDB::FileName && C::Effect1 == ObjectDB::Effect1 &&
                      C::Effect5 == ObjectDB::Effect5,
                  "creature, NPC and object rows name their mesh and effects in the same columns");
    std::set<std::string> playable;
    if (animations)
        for (const Record& row : animations->rows)
            playable.insert(field(row, AnimationDB::AnimName));

    for (std::size_t i = 0; i < table.rows.size(); ++i)
    {
        const Record& row = table.rows[i];
        const unsigned line = table.lines[i];
        std::string mesh = field(row, C::FileName);
        std::string problem = meshProblem(meshes, mesh);
        if (!problem.empty())
        {
            // The creature is built from the fallback mesh instead.
            const std::string fallbackProblem = meshProblem(meshes, s_fallbackMesh);
            if (!fallbackProblem.empty())
            {
                const std::string fallback = mesh == s_fallbackMesh ? ""
                                                                    : std::string(", and the fallback ") +
                                                                          s_fallbackMesh + " " + fallbackProblem;
                add(findings, table.file, line, TableFinding::Error,
                    "FileName " + (mesh.empty() ? std::string("is empty") : mesh + " " + problem) + fallback +
                        ": nothing is built");
                continue;
            }
            mesh = s_fallbackMesh;
        }
        const MeshFacts& facts = *meshes.find(mesh);
        std::vector<std::string> unhung;
        for (unsigned k = 1; k <= 5; ++k)
        {
            const std::string effect = field(row, C::Effect1 + k - 1);
            const std::string bone = "effect_" + std::to_string(k);
            if (effect.empty() || facts.bones.count(bone))
                continue;
            if (facts.skeletonReadable)
                add(findings, table.file, line, TableFinding::Error,
                    "Effect" + std::to_string(k) + " " + effect + " hangs on the bone " + bone +
                        ", which the skeleton " + facts.skeleton + " of " + mesh + " lacks: the effect is never shown");
            else
                unhung.push_back("Effect" + std::to_string(k) + " " + effect);
        }
        if (!unhung.empty())
            add(findings, table.file, line, TableFinding::Error,
                (facts.skeleton.empty() ? mesh + " has no skeleton"
                                        : "the skeleton " + facts.skeleton + " of " + mesh + " cannot be read") +
                    ", so " + joined(unhung, ", ") + " never " + (unhung.size() == 1 ? "shows" : "show"));
        if (!animations || facts.animations.empty())
            continue;
        const bool any = std::any_of(facts.animations.begin(), facts.animations.end(),
                                     [&playable](const std::string& name) { return playable.count(name) != 0; });
        if (!any)
        {
            std::vector<std::string> names(facts.animations.begin(), facts.animations.end());
            if (names.size() > 4)
                names.resize(4), names.push_back("...");
            add(findings, table.file, line, TableFinding::Warning,
                "none of the animations of " + mesh + " (" + joined(names, ", ") + ") is named in " +
                    tableName(*animations) + ": the host can play none of them");
        }
    }
}

void checkAnimationNames(const CheckedTable& animations, MeshSource& meshes, std::vector<TableFinding>& findings)
{
    for (std::size_t i = 0; i < animations.rows.size(); ++i)
    {
        const std::string name = field(animations.rows[i], AnimationDB::AnimName);
        if (name.empty())
            continue;
        std::vector<std::string> lacking;
        for (unsigned body = 0; body < 2; ++body)
        {
            const MeshFacts* facts = usableBody(meshes, body);
            if (facts && facts->skeletonReadable && !facts->animations.count(name))
                lacking.push_back(facts->skeleton);
        }
        if (!lacking.empty())
            add(findings, animations.file, animations.lines[i], TableFinding::Error,
                "AnimName " + name + " is not an animation of " + joined(lacking, " or ") + ": players cannot play it");
    }
}

DirectoryMeshes::DirectoryMeshes(const std::string& directory)
    : m_directory(directory), m_reader(std::make_unique<avatar_detail::MeshReader>(directory))
{
}

DirectoryMeshes::~DirectoryMeshes() = default;

bool DirectoryMeshes::ready() const
{
    return m_reader->ready();
}

unsigned DirectoryMeshes::meshesRead() const
{
    return static_cast<unsigned>(std::count_if(m_found.begin(), m_found.end(),
                                               [](const auto& entry)
                                               { return entry.second != nullptr && entry.second->readable; }));
}

const MeshFacts* DirectoryMeshes::find(const std::string& meshFile)
{
    auto it = m_found.find(meshFile);
    if (it == m_found.end())
    {
        std::unique_ptr<MeshFacts> facts;
        if (m_reader->exists(meshFile))
        {
            facts = std::make_unique<MeshFacts>();
            facts->readable = m_reader->read(meshFile, *facts);
        }
        it = m_found.emplace(meshFile, std::move(facts)).first;
    }
    return it->second.get();
}

std::string DirectoryMeshes::pathOf(const std::string& meshFile) const
{
    return m_directory.empty() || m_directory == "." ? meshFile : m_directory + "/" + meshFile;
}

bool DirectoryMeshes::holdsMeshes(const std::string& directory)
{
    DIR* dir = opendir(directory.empty() ? "." : directory.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* entry = readdir(dir))
    {
        const std::size_t length = std::strlen(entry->d_name);
        if (length > 5 && std::strcmp(entry->d_name + length - 5, ".mesh") == 0)
        {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

unsigned FileReport::errors() const
{
    return static_cast<unsigned>(std::count_if(
        findings.begin(), findings.end(), [](const TableFinding& f) { return f.severity == TableFinding::Error; }));
}

unsigned FileReport::warnings() const
{
    return static_cast<unsigned>(findings.size()) - errors();
}

std::vector<FileReport> checkDirectory(const std::string& directory, MeshSource* meshes)
{
    std::vector<FileReport> reports;
    std::map<std::string, CheckedTable> tables;
    auto pathOf = [&directory](const TableLayout& layout)
    { return directory.empty() || directory == "." ? layout.fileName : directory + "/" + layout.fileName; };
    const bool anyThere = std::any_of(knownTables().begin(), knownTables().end(),
                                      [&](const TableLayout& layout) { return pathExists(pathOf(layout)); });
    if (!anyThere)
        return reports;
    for (const TableLayout& layout : knownTables())
    {
        const std::string path = pathOf(layout);
        std::string bytes;
        if (!readFile(path, bytes))
        {
            // The system would fail to open it, or not find it: either way nothing of it runs.
            const bool there = pathExists(path);
            if (!there && !isRequiredTable(layout))
                continue;
            FileReport report;
            report.file = path;
            report.findings.push_back(
                TableFinding{path, 0, TableFinding::Error,
                             there ? "cannot be read as a table file (a directory, a device or unreadable): "
                                     "the table fails to open"
                                   : "is missing: the system needs this table, and cannot open it"});
            reports.push_back(std::move(report));
            continue;
        }
        FileReport report;
        report.file = path;
        CheckedTable table = checkTableBytes(path, bytes, layout, report.findings);
        report.rows = static_cast<unsigned>(table.rows.size());
        reports.push_back(std::move(report));
        tables.emplace(layout.fileName, std::move(table));
    }

    auto find = [&tables](const std::string& fileName) -> const CheckedTable*
    {
        const auto it = tables.find(fileName);
        return it == tables.end() ? nullptr : &it->second;
    };
    auto reportOf = [&reports](const CheckedTable& table) -> std::vector<TableFinding>&
    {
        for (FileReport& report : reports)
            if (report.file == table.file)
                return report.findings;
        return reports.back().findings; // every checked table has a report
    };
    for (const auto& entry : tables)
    {
        const CheckedTable& table = entry.second;
        if (table.layout->packKey)
            checkPackedKeys(table, reportOf(table));
        if (table.layout->idIsRowNumber)
            checkRaceIds(table, reportOf(table));
        checkHeadImages(table, reportOf(table));
    }
    for (DB_NAME_e which : {DB_CREATURE, DB_NPC, DB_OBJECT})
        if (const CheckedTable* table = find(creatureLayoutOf(which).fileName))
            checkCreatureIdRanges(*table, which, reportOf(*table));
    const CheckedTable* races = find(EWCharRacesDB::layout().fileName);
    if (const CheckedTable* presets = find(EWBaseInfoDB::layout().fileName))
        checkPresetReferences(*presets, races, find(EWItemDB::layout().fileName), find(EWWearingDB::layout().fileName),
                              reportOf(*presets));

    if (meshes && !reports.empty())
    {
        std::vector<TableFinding> bodyFindings;
        checkBodyMeshes(*meshes, bodyFindings);
        for (const Body& body : s_bodies)
        {
            FileReport report;
            report.file = meshes->pathOf(body.mesh);
            report.body = true;
            for (const TableFinding& finding : bodyFindings)
                if (finding.file == report.file)
                    report.findings.push_back(finding);
            reports.push_back(std::move(report));
        }
        const CheckedTable* animations = find(AnimationDB::layout().fileName);
        if (const CheckedTable* items = find(EWItemDB::layout().fileName))
            checkItemMeshes(*items, find(EWBaseInfoDB::layout().fileName), *meshes, reportOf(*items));
        if (const CheckedTable* worn = find(EWWearingDB::layout().fileName))
            checkOutModels(*worn, *meshes, reportOf(*worn));
        if (const CheckedTable* hair = find(EWCharHairGeoDB::layout().fileName))
            checkHairGeosets(*hair, *meshes, reportOf(*hair));
        for (const TableLayout* layout : {&CreatureDB::layout(), &NpcDB::layout(), &ObjectDB::layout()})
            if (const CheckedTable* table = find(layout->fileName))
                checkCreatureMeshes(*table, animations, *meshes, reportOf(*table));
        if (animations)
            checkAnimationNames(*animations, *meshes, reportOf(*animations));
    }

    for (FileReport& report : reports)
        std::stable_sort(report.findings.begin(), report.findings.end(),
                         [](const TableFinding& a, const TableFinding& b) { return a.line < b.line; });
    return reports;
}

} // namespace avatar_check
