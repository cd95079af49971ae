#include "options.h"

#include "support/commandline.h"

int parseOptions(int argc, char** argv, Options& options)
{
    CLI::App app("The demo host: builds avatars through the avatar system as a game client does, animates them,\n"
                 "renders them and prints what it built. Without --crowd, a lineup with pictures of its motion;\n"
                 "with --crowd N, N avatars built through the per-frame queue and what they cost.",
                 "avatar-demo");
    avatar_support::addVersionFlag(app);
    app.add_option("--content", options.content, "The content pack: tables, meshes, materials, textures (default .)")
        ->type_name("DIR");
    CLI::Option* output =
        app.add_option("--output", options.output, "The rendered lineup (default avatars.png; crowd.png with --crowd)")
            ->type_name("FILE");
    CLI::Option* noSheet = app.add_flag("--no-sheet", "Leave the contact sheet out");
    CLI::Option* noGif = app.add_flag("--no-gif", "Leave the GIF out");
    CLI::Option* sheet = app.add_option("--sheet", options.sheet,
                                        "The contact sheet of the moments\n(default: the lineup's name + _sheet.png)")
                             ->type_name("FILE")
                             ->excludes(noSheet);
    CLI::Option* gif =
        app.add_option("--gif", options.gif, "The moments as an animated GIF (default: the lineup's name + .gif)")
            ->type_name("FILE")
            ->excludes(noGif);
    const long most = 1000000;
    CLI::Option* count = app.add_option("--count", options.count, "How many avatars to build, at least 1 (default 12)")
                             ->type_name("N")
                             ->check(avatar_support::wholeNumber(1, most));
    app.add_option("--frames", options.frames,
                   "Frames (1/30 s) to drive after creating them (default 60);\n"
                   "with --crowd, the frames measured after the queue drained")
        ->type_name("N")
        ->check(avatar_support::wholeNumber(0, most));
    CLI::Option* moments = app.add_option("--moments", options.moments,
                                          "Moments of the motion captured after those frames, 1 to 100\n"
                                          "(default 12)")
                               ->type_name("N")
                               ->check(avatar_support::wholeNumber(1, 100));
    CLI::Option* span =
        app.add_option("--span", options.span, "Animation time the moments cover, above 0 and at most 60 (default 2.4)")
            ->type_name("SECONDS")
            ->check(avatar_support::aboveZeroUpTo(60.0));
    app.add_option("--crowd", options.crowd,
                   "Build N avatars (1 to 10000) through the per-frame queue, animate them, render them\n"
                   "into one picture and print the build throughput, the frame cost percentiles and the\n"
                   "memory per avatar")
        ->type_name("N")
        ->check(avatar_support::wholeNumber(1, 10000))
        ->excludes(count)
        ->excludes(moments)
        ->excludes(span)
        ->excludes(sheet)
        ->excludes(gif);
    app.add_option("--shared", options.shared,
                   "With --crowd: the share of the crowd, 0 to 100 percent (default 0), farthest from\n"
                   "the camera that shares animation (the shared detail level); prints the frame cost\n"
                   "of the full-detail part and of the shared part apart")
        ->type_name("PERCENT")
        ->check(avatar_support::wholeNumber(0, 100))
        ->needs("--crowd");
    app.add_flag("--no-render", "Run headless: no window, no pictures, only the summary")
        ->each([&options](const std::string&) { options.render = false; });
    app.add_flag("--verbose", options.verbose,
                 "List each avatar in full: visible sub-entities, material copies, carried models and\n"
                 "animation events (with --crowd: one line per avatar)");
    if (const int exit = avatar_support::parseCommandLine(app, argc, argv); exit >= 0)
        return exit;

    options.writeSheet = !noSheet->count();
    options.writeGif = !noGif->count();
    if (options.crowd > 0 && !output->count())
        options.output = "crowd.png";
    // The other pictures go beside the lineup and are named after it.
    const std::size_t dot = options.output.rfind('.');
    const std::size_t slash = options.output.rfind('/');
    const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                                 ? options.output.substr(0, dot)
                                 : options.output;
    if (options.sheet.empty())
        options.sheet = stem + "_sheet.png";
    if (options.gif.empty())
        options.gif = stem + ".gif";
    return -1;
}
