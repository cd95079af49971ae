// avatar-contentgen DIR: writes the sample content pack into DIR.

#include "contentpack.h"

#include "support/commandline.h"
#include "support/headlessengine.h"

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv)
{
    CLI::App app("Writes the sample content pack: bodies with skeletons and animations, items, creatures, NPCs,\n"
                 "objects, materials, textures and the tables, through the engine's own serializers.",
                 "avatar-contentgen");
    avatar_support::addVersionFlag(app);
    std::string directory;
    app.add_option("DIR", directory, "The directory to write the pack into (made when missing)")
        ->required()
        ->type_name("");
    if (const int exit = avatar_support::parseCommandLine(app, argc, argv); exit >= 0)
        return exit;

    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    if (ec)
    {
        std::fprintf(stderr, "avatar-contentgen: cannot create %s: %s\n", directory.c_str(), ec.message().c_str());
        return 1;
    }

    std::string error;
    bool ok = false;
    {
        // Buffers in system memory, textures never loaded: the serializers need nothing more.
        avatar_support::HeadlessEngine engine(directory + "/contentgen.log");
        ok = writeContentPack(directory, error);
    }
    if (!ok)
    {
        std::fprintf(stderr, "avatar-contentgen: %s\n", error.c_str());
        return 1;
    }
    std::printf("avatar-contentgen: content pack written to %s\n", directory.c_str());
    return 0;
}
