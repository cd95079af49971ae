// avatar-viewer: a window on a content directory for content authors. It shows one avatar at a
// time, built through the calls a game client makes, and lets the author step through presets,
// creatures, NPCs and objects, equipment, animations and looks, read edited tables again and
// save screenshots.
#include "keymap.h"
#include "viewerapp.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace
{

std::string absolute(const std::string& path, const std::string& from)
{
    return !path.empty() && path[0] == '/' ? path : from + "/" + path;
}

/// "WIDTHxHEIGHT" with both from 160 to 8192.
bool parseSize(const std::string& text, unsigned& width, unsigned& height)
{
    unsigned w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%ux%u%c", &w, &h, &tail) != 2)
        return false;
    if (w < 160 || h < 120 || w > 8192 || h > 8192)
        return false;
    width = w;
    height = h;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    char cwd[4096];
    const std::string startDir = getcwd(cwd, sizeof(cwd)) ? cwd : ".";

    ViewerOptions options;
    std::string size = "800x600";
    CLI::App app("Shows the avatars of a content directory, built as a game client builds them.", "avatar-viewer");
    app.add_option("--content", options.content, "content directory: tables, meshes, materials, textures")
        ->check(CLI::Validator(CLI::ExistingDirectory).description(""))
        ->type_name("DIR")
        ->capture_default_str();
    app.add_option("--size", size, "window size, WIDTHxHEIGHT (160x120 to 8192x8192)")
        ->check(CLI::Validator(
            [](std::string& text)
            {
                unsigned w, h;
                return parseSize(text, w, h) ? std::string() : "'" + text + "' is not WIDTHxHEIGHT from 160x120";
            },
            ""))
        ->type_name("WxH")
        ->capture_default_str();
    app.add_option("--screenshots", options.screenshots, "directory for screenshots (avatar-viewer-NNN.png)")
        ->check(CLI::Validator(CLI::ExistingDirectory).description(""))
        ->type_name("DIR")
        ->capture_default_str();
    app.add_option("--avatar", options.avatar, "show this preset, creature, NPC or object first, by name")
        ->type_name("NAME");
    app.add_option("--log", options.log, "the engine's log file (default avatar-viewer.log here)")->type_name("FILE");
    app.set_version_flag("--version", std::string("avatar-viewer ") + AVATARSYSTEM_VERSION);
    app.footer("Keys:\n" + keyHelp() +
               "\nExit status: 0 when closed, 3 when no window could be opened (no display or no GL).");
    CLI11_PARSE(app, argc, argv);

    parseSize(size, options.width, options.height);
    options.screenshots = absolute(options.screenshots, startDir);
    options.log = absolute(options.log.empty() ? "avatar-viewer.log" : options.log, startDir);
    // The system reads its tables by bare file name from the current directory.
    if (chdir(options.content.c_str()) != 0)
    {
        std::fprintf(stderr, "avatar-viewer: cannot enter the content directory '%s'\n", options.content.c_str());
        return 1;
    }
    AvatarViewer viewer(options);
    return viewer.run();
}
