#include "support/commandline.h"

#include <cstdio>

namespace avatar_support
{

const char* version()
{
    return AVATARSYSTEM_VERSION;
}

void addVersionFlag(CLI::App& app)
{
    app.set_version_flag("--version", app.get_name() + " " + version(), "Print the version and exit");
}

int parseCommandLine(CLI::App& app, int argc, char** argv)
{
    try
    {
        app.parse(argc, argv);
        return -1;
    }
    catch (const CLI::CallForHelp&)
    {
        std::printf("%s", app.help().c_str());
        return 0;
    }
    catch (const CLI::CallForVersion& e)
    {
        std::printf("%s\n", e.what());
        return 0;
    }
    catch (const CLI::ParseError& e)
    {
        std::fprintf(stderr, "%s: %s\nRun '%s --help' for the options.\n", app.get_name().c_str(), e.what(),
                     app.get_name().c_str());
        return 2;
    }
}

CLI::Validator wholeNumber(long least, long most)
{
    return CLI::Validator(
        [least, most](std::string& text) -> std::string
        {
            long value = 0;
            if (!CLI::detail::lexical_cast(text, value))
                return "'" + text + "' is not a whole number";
            if (value < least || value > most)
                return text + " is out of the range " + std::to_string(least) + " to " + std::to_string(most);
            return std::string();
        },
        "");
}

CLI::Validator aboveZeroUpTo(double most)
{
    char written[64];
    std::snprintf(written, sizeof(written), "(0, %g]", most);
    const std::string range = written;
    return CLI::Validator(
        [most, range](std::string& text) -> std::string
        {
            double value = 0.0;
            if (!CLI::detail::lexical_cast(text, value))
                return "'" + text + "' is not a number";
            if (!(value > 0.0 && value <= most))
                return text + " is out of the range " + range;
            return std::string();
        },
        "");
}

} // namespace avatar_support
