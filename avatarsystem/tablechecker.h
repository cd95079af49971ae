#pragma once

#include "avatarsystem/avatarinterface.h"
#include "avatarsystem/textdatabase.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace avatar_detail
{
class MeshReader;
}

/// Checks of hand-edited table files for content authors. Every rule reads a file exactly as the
/// tables do (avatar_detail::TableFileReader and the same splitter) but keeps going past the
/// first fault, so that one run reports every problem with its line number.
namespace AVATARSYSTEM_API avatar_check
{

/// One problem found in a table file. Line 0 names the whole file.
struct TableFinding
{
    /// How bad the problem is.
    enum Severity
    {
        Error,  ///< the table fails to open, or rows are found under the wrong key or not at all
        Warning ///< the table opens, but rows the author wrote are silently dropped
    };

    std::string file;          ///< the table or mesh file (checkDirectory: with its directory)
    unsigned line = 0;         ///< the 1-based line, or 0 for the whole file
    Severity severity = Error; ///< error or warning
    std::string message;       ///< the problem, in words for the file's author
};

/// "file:line: error|warning: message", the form editors and build logs recognise.
std::string formatFinding(const TableFinding& finding);

/// What the checker knows of one table file: the layout its table class holds.
using TableLayout = ::TableLayout;

/// The twelve table files the system reads, as their table classes lay them out.
const std::vector<TableLayout>& knownTables();
/// The layout of a file by its bare name, or null when the system reads no such table.
const TableLayout* findTableLayout(const std::string& fileName);
/// Whether the system needs the file to run: the tables its manager opens. (The effects table is
/// optional: the host may register every effect itself.)
bool isRequiredTable(const TableLayout& layout);

/// The rows of one file as its table would hold them, with the line each came from.
/// Keyed tables keep only the first row of each key; rows with the wrong column count are left out.
struct CheckedTable
{
    std::string file;                    ///< the file name passed to checkTableBytes, which findings give
    const TableLayout* layout = nullptr; ///< the layout passed to checkTableBytes, not owned: it must outlive the table
    std::vector<Record> rows;            ///< in file order
    std::vector<unsigned> lines;         ///< the line of each row
    std::map<unsigned, std::size_t> keys; ///< keyed tables: the row index stored under each key
    bool opens = true;                    ///< false when the table's open would fail

    /// Index of the row stored under key in a keyed table, or -1.
    long findKey(unsigned key) const;
};

/// Reads one file's bytes and reports, with their lines: rows with the wrong column count and
/// lines over the length limit (errors: the table fails to open), data lines that contain "//"
/// (warnings: skipped as comments), a blank or one-byte line with data after it (a warning: the
/// table ends there), and in keyed tables repeated keys and keys that are not numbers (warnings).
CheckedTable checkTableBytes(const std::string& file, const std::string& bytes, const TableLayout& layout,
                             std::vector<TableFinding>& findings);

/// Creature, NPC or object rows whose HeadImage is too long for the host's buffer
/// (IAvatarSystem::HeadImageBufferSize, the NUL included): errors, as getHeadImageFromId cuts it.
/// Other tables pass.
void checkHeadImages(const CheckedTable& table, std::vector<TableFinding>& findings);
/// Rows of a table with a packed key (sections, hair geosets) whose column 0 is not the key their
/// own columns pack to (errors: the row is found only under column 0). Other tables pass.
void checkPackedKeys(const CheckedTable& table, std::vector<TableFinding>& findings);
/// Races whose RaceID is not their 1-based row position (errors: getById never finds them).
void checkRaceIds(const CheckedTable& races, std::vector<TableFinding>& findings);
/// Rows of the creature, NPC or object table (which) whose ID the system looks up in another of
/// the three (warnings: the row is found by name only).
void checkCreatureIdRanges(const CheckedTable& table, DB_NAME_e which, std::vector<TableFinding>& findings);
/// Presets whose race is not found by EWCharRacesDB::getById, or whose items and worn items are
/// not in the item tables (errors; 0 means an empty place). A null table is not checked against.
void checkPresetReferences(const CheckedTable& presets, const CheckedTable* races, const CheckedTable* items,
                           const CheckedTable* wornItems, std::vector<TableFinding>& findings);

/// What the checks need of one mesh: the names its entities address, and its skeleton's.
struct MeshFacts
{
    bool readable = true;              ///< false when the file is there but cannot be read
    std::string skeleton;              ///< the skeleton file it names; empty when none
    bool skeletonReadable = false;     ///< false when it names none or that one cannot be read
    std::set<std::string> subEntities; ///< its sub-mesh names, by which entities find their sub-entities
    std::set<std::string> bones;       ///< the bones of its skeleton
    std::set<std::string> animations;  ///< the animation states its entities get (skeletal and vertex)
};

/// Meshes by file name, the way the host's resource system finds them.
class MeshSource
{
public:
    virtual ~MeshSource() = default;
    /// The mesh's facts, owned by the source and valid as long as it lives; null when there is no
    /// such mesh.
    virtual const MeshFacts* find(const std::string& meshFile) = 0;
    /// The path under which findings name a mesh file.
    virtual std::string pathOf(const std::string& meshFile) const = 0;
};

/// The meshes (and their skeletons) of one directory, read through the running OGRE root, which
/// needs no render system; what it loads lives in a resource group of its own, which goes with
/// it. Nothing thrown by the engine escapes.
class DirectoryMeshes : public MeshSource
{
public:
    /// Adds directory to a resource group of its own in the running OGRE root; meshes are read only
    /// when find() asks for them. Without a root, or when the engine refuses the directory, it is
    /// not ready() and finds nothing.
    explicit DirectoryMeshes(const std::string& directory);
    ~DirectoryMeshes() override;
    DirectoryMeshes(const DirectoryMeshes&) = delete;
    DirectoryMeshes& operator=(const DirectoryMeshes&) = delete;

    /// False when no OGRE root runs or the directory cannot be read.
    bool ready() const;
    /// How many meshes were read so far.
    unsigned meshesRead() const;
    const MeshFacts* find(const std::string& meshFile) override;
    std::string pathOf(const std::string& meshFile) const override;

    /// True when directory holds at least one ".mesh" file.
    static bool holdsMeshes(const std::string& directory);

    /// @cond INTERNAL
private:
    std::string m_directory;
    std::unique_ptr<avatar_detail::MeshReader> m_reader;
    std::map<std::string, std::unique_ptr<MeshFacts>> m_found; ///< null: no such mesh
    /// @endcond
};

/// The body meshes "HumanMale.mesh" and "HumanFemale.mesh" (errors, on the mesh file, line 0):
/// a body that is missing or unreadable or has no skeleton, a base section that players show by
/// name (body_new_0 ... hair_0_0) that is not one of its sub-entities, a bone that items hang on
/// (helm ... lumber_r) that its skeleton lacks. The rules below skip a body that is missing.
void checkBodyMeshes(MeshSource& meshes, std::vector<TableFinding>& findings);
/// Item rows whose model files resolve to no mesh (errors). ModelFile names ModelFile.mesh, and
/// ModelFile2 ModelFile2.mesh; a helm is worn as ModelFile_M.mesh by men and ModelFile_F.mesh by
/// women, so it needs the mesh of each gender its flag serves (0 men, 2 both, any other women).
/// Helms are the items a preset wears on its head, and items that are found only as such meshes.
void checkItemMeshes(const CheckedTable& items, const CheckedTable* presets, MeshSource& meshes,
                     std::vector<TableFinding>& findings);
/// Worn items whose outModel is not a sub-entity of the body of each gender their Flag serves
/// (0 men, 2 both, any other women) (errors).
void checkOutModels(const CheckedTable& wornItems, MeshSource& meshes, std::vector<TableFinding>& findings);
/// Hair rows whose Submesh1 is not a sub-entity of the body of their Gender (errors).
void checkHairGeosets(const CheckedTable& hair, MeshSource& meshes, std::vector<TableFinding>& findings);
/// Creature, NPC or object rows: a mesh that is missing while the fallback "G_jiaoren_women.mesh"
/// is missing too (an error: nothing is built; with the fallback there, the fallback is checked
/// instead), and an effect the row names whose bone effect_1 ... effect_5 the mesh's skeleton lacks
/// (an error: the effect is never shown). With the animation table: a skeleton that has
/// animations, none of them under a name of the table (a warning: the host can play none).
void checkCreatureMeshes(const CheckedTable& table, const CheckedTable* animations, MeshSource& meshes,
                         std::vector<TableFinding>& findings);
/// Animation rows whose AnimName is not an animation of a body skeleton (errors): every player
/// plays the table's animations by name.
void checkAnimationNames(const CheckedTable& animations, MeshSource& meshes, std::vector<TableFinding>& findings);

/// The result of checking one file.
struct FileReport
{
    std::string file;                   ///< the path checked (directory and file name)
    unsigned rows = 0;                  ///< rows the table would hold
    bool body = false;                  ///< a body mesh rather than a table
    std::vector<TableFinding> findings; ///< every problem found, by line

    /// @name Counts
    //@{
    /// How many of the findings are errors, and how many warnings.
    unsigned errors() const;
    unsigned warnings() const;
    //@}
};

/// Checks every known table file present in directory, alone and against each other, and with
/// meshes also against them: then the two body meshes follow the tables' reports.
/// Reports come in the order of knownTables(), findings by line. A file that is there but cannot
/// be read as a table (a directory, a device, unreadable) is an error on line 0, as is a missing
/// required table; other absent files are not reported. No reports at all when none of the files
/// is there.
std::vector<FileReport> checkDirectory(const std::string& directory, MeshSource* meshes = nullptr);

} // namespace avatar_check
