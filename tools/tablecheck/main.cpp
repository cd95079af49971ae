// avatar-tablecheck: checks a directory of table files the way the avatar system reads them.
// Every rule lives in avatarsystem/tablechecker.*; this file only walks the results and prints them.

#include "avatarsystem/detail/contentrules.h"
#include "avatarsystem/tablechecker.h"
#include "support/commandline.h"
#include "support/headlessengine.h"

#include <cstdio>
#include <memory>
#include <string>

namespace
{

std::string baseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Rows as the system holds them (keyed tables in ascending key order, the first row of a key),
// under a title line of the column names, so the output is itself a valid table file.
int dump(const std::string& path)
{
    const avatar_check::TableLayout* layout = avatar_check::findTableLayout(baseName(path));
    if (!layout)
    {
        std::fprintf(stderr, "%s: not a table file of the avatar system\n", path.c_str());
        return 2;
    }
    bool opened = false;
    std::vector<const Record*> rows;
    TextDataBase plain(path, layout->numFields());
    KeyedTextDataBase keyed(path, layout->numFields());
    if (layout->keyed)
    {
        opened = keyed.open();
        for (const auto& entry : keyed.getRecordMap())
            rows.push_back(&entry.second);
    }
    else
    {
        opened = plain.open();
        for (const Record& row : plain.getRecordArray())
            rows.push_back(&row);
    }
    if (!opened)
    {
        std::fprintf(stderr, "%s: error: the table fails to open; run avatar-tablecheck on its directory\n",
                     path.c_str());
        return 1;
    }
    std::string title = "//";
    for (std::size_t j = 0; j < layout->columns.size(); ++j)
        title += (j ? "," : "") + layout->columns[j];
    std::printf("%s\n", title.c_str());
    for (const Record* row : rows)
    {
        std::string text;
        for (unsigned j = 0; j < row->getNumFields(); ++j)
            text += (j ? "," : "") + std::string(row->getString(j));
        std::printf("%s\n", text.c_str());
    }
    return 0;
}

std::string count(unsigned n, const char* noun)
{
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

int check(const std::string& directory, const std::string& meshDirectory)
{
    // Meshes and skeletons are read through an engine without a render system; its log stays
    // out of the report.
    std::unique_ptr<avatar_support::HeadlessEngine> engine;
    std::unique_ptr<avatar_check::DirectoryMeshes> meshes;
    if (!meshDirectory.empty())
    {
        try
        {
            engine = std::make_unique<avatar_support::HeadlessEngine>();
        }
        catch (const std::exception& e)
        {
            std::fprintf(stderr, "%s: the meshes cannot be read (the engine did not start: %s)\n",
                         meshDirectory.c_str(), e.what());
            return 2;
        }
        meshes = std::make_unique<avatar_check::DirectoryMeshes>(meshDirectory);
        if (!meshes->ready())
        {
            std::fprintf(stderr, "%s: the meshes cannot be read (the engine did not start)\n", meshDirectory.c_str());
            return 2;
        }
    }
    const std::vector<avatar_check::FileReport> reports = avatar_check::checkDirectory(directory, meshes.get());
    if (reports.empty())
    {
        std::fprintf(stderr, "%s: no table files found\n", directory.c_str());
        return 1;
    }
    unsigned errors = 0;
    unsigned warnings = 0;
    for (const avatar_check::FileReport& report : reports)
    {
        for (const avatar_check::TableFinding& finding : report.findings)
            std::printf("%s\n", avatar_check::formatFinding(finding).c_str());
        const std::string counts = count(report.errors(), "error") + ", " + count(report.warnings(), "warning");
        if (report.body)
            std::printf("%s: body, %s\n", report.file.c_str(), counts.c_str());
        else
            std::printf("%s: %s, %s\n", report.file.c_str(), count(report.rows, "row").c_str(), counts.c_str());
        errors += report.errors();
        warnings += report.warnings();
    }
    if (meshes)
        std::printf("%u mesh%s read from %s\n", meshes->meshesRead(), meshes->meshesRead() == 1 ? "" : "es",
                    meshDirectory.c_str());
    std::printf("%s checked: %s, %s\n", count(static_cast<unsigned>(reports.size()), "file").c_str(),
                count(errors, "error").c_str(), count(warnings, "warning").c_str());
    return errors ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app("Checks every table file the avatar system reads that is present in DIR, prints one line per\n"
                 "problem as FILE:LINE: error|warning: MESSAGE and a summary per file, and exits with 1 when\n"
                 "any error was found.",
                 "avatar-tablecheck");
    app.footer(std::string("When DIR holds .mesh files, the tables are also checked against those meshes and their\n"
                           "skeletons: item models, worn items' out models, hair geosets, the bodies' sections and\n"
                           "bones, creature effect bones and animation names. Problems of a body itself are reported\n"
                           "on ") +
               avatar_rules::kMaleBody + " or " + avatar_rules::kFemaleBody + " at line 0.");
    avatar_support::addVersionFlag(app);
    std::string directory = ".";
    std::string dumpFile;
    std::string meshDirectory;
    CLI::Option* directoryOption =
        app.add_option("DIR", directory, "The directory of the tables (default: the current one)")->type_name("");
    CLI::Option* meshesOption =
        app.add_option("--meshes", meshDirectory, "Check against the meshes in MESHDIR instead")->type_name("MESHDIR");
    CLI::Option* noMeshesOption = app.add_flag("--no-meshes", "Check the tables only");
    app.add_option("--dump", dumpFile, "Print the rows of one table file as the system holds them")
        ->type_name("FILE")
        ->excludes(directoryOption)
        ->excludes(meshesOption)
        ->excludes(noMeshesOption);
    meshesOption->excludes(noMeshesOption);
    if (const int exit = avatar_support::parseCommandLine(app, argc, argv); exit >= 0)
        return exit;

    if (!dumpFile.empty())
        return dump(dumpFile);
    if (!meshDirectory.empty() && !avatar_check::DirectoryMeshes::holdsMeshes(meshDirectory))
    {
        std::fprintf(stderr, "%s: no .mesh files found\n", meshDirectory.c_str());
        return 2;
    }
    if (meshDirectory.empty() && !noMeshesOption->count() && avatar_check::DirectoryMeshes::holdsMeshes(directory))
        meshDirectory = directory;
    return check(directory, meshDirectory);
}
