#pragma once

#include <string>

/// What the demo's command line asks for.
struct Options
{
    std::string content = ".";
    std::string output = "avatars.png"; ///< "crowd.png" in crowd mode unless given
    std::string sheet;                  ///< empty: beside the lineup, named after it ("avatars_sheet.png")
    std::string gif;                    ///< empty: beside the lineup, named after it ("avatars.gif")
    bool writeSheet = true;
    bool writeGif = true;
    int count = 12;
    int frames = 60;
    int moments = 12;
    float span = 2.4f;
    bool render = true;
    bool verbose = false;
    int crowd = 0;  ///< 0: the lineup; otherwise the size of the crowd
    int shared = 0; ///< with a crowd: the percentage at the back that shares animation
};

/// Parses the demo's command line into @p options. Returns -1 when the demo goes on, otherwise
/// its exit code (0 after --help or --version, 2 after a wrong command line, already reported).
int parseOptions(int argc, char** argv, Options& options);
