#pragma once

#include <OgreException.h>
#include <OgreLogManager.h>

#include <exception>
#include <string>

namespace avatar_detail
{

/// Notes in the OGRE log that an engine call failed where the library reports failure by result.
inline void logFailure(const char* where, const std::string& what) noexcept
{
    try
    {
        if (Ogre::LogManager* log = Ogre::LogManager::getSingletonPtr())
            log->logMessage(std::string("AvatarSystem: ") + where + ": " + what, Ogre::LML_TRIVIAL);
    }
    catch (...)
    {
    }
}

/// Runs fn and turns any exception into a false result, so that nothing thrown by the
/// engine crosses the library's boundary.
template <class Fn> bool guarded(const char* where, Fn&& fn) noexcept
{
    try
    {
        fn();
        return true;
    }
    catch (const Ogre::Exception& e)
    {
        logFailure(where, e.getDescription());
    }
    catch (const std::exception& e)
    {
        logFailure(where, e.what());
    }
    catch (...)
    {
        logFailure(where, "unknown exception");
    }
    return false;
}

} // namespace avatar_detail
