#pragma once

#include <OgreException.h>
#include <OgreLogManager.h>

#include <exception>
#include <string>
#include <utility>

class IInstance;

namespace avatar_detail
{

/// Something an avatar asked for that the engine's resources or the tables do not hold.
struct Missing
{
    const char* kind;   ///< "mesh", "bone", "material" or "table"
    std::string name;   ///< what was asked for
    std::string detail; ///< why it failed or what was done instead; may be empty
};

/// Notes in the OGRE log, at the trivial level, that an engine call failed where the library
/// reports failure by result. For routine failures; the host's log hides them by default.
void logFailure(const char* where, const std::string& what) noexcept;

/// Notes in the OGRE log, at the normal level, a failure the library absorbs: what was missing and
/// the avatar it was for (the innermost FailureSubject). Each distinct failure is noted once at
/// that level; met again (a queued build is retried every frame) it is noted at the trivial level.
/// Returns false, so that an operation that fails for it can note it and answer in one statement.
bool logFailure(const char* where, const Missing& missing) noexcept;

/// Names the avatar that the failures noted meanwhile are for; scopes nest and the innermost wins.
/// The avatar must outlive the scope.
class FailureSubject
{
public:
    explicit FailureSubject(IInstance* avatar) noexcept;
    ~FailureSubject();
    FailureSubject(const FailureSubject&) = delete;
    FailureSubject& operator=(const FailureSubject&) = delete;

    /// The innermost avatar as the log names it (player "Ann" (ID 7)); empty outside every scope.
    static std::string describeCurrent();

private:
    IInstance* m_avatar;
    const FailureSubject* m_outer;
};

/// Runs fn; an exception becomes a false result, its description handed to report.
template <class Fn, class Report> bool runReporting(Fn&& fn, Report&& report) noexcept
{
    try
    {
        fn();
        return true;
    }
    catch (const Ogre::Exception& e)
    {
        report(e.getDescription());
    }
    catch (const std::exception& e)
    {
        report(e.what());
    }
    catch (...)
    {
        report("unknown exception");
    }
    return false;
}

/// Runs fn and turns any exception into a false result, so that nothing thrown by the
/// engine crosses the library's boundary. The exception is noted as a routine failure.
template <class Fn> bool guarded(const char* where, Fn&& fn) noexcept
{
    return runReporting(std::forward<Fn>(fn), [where](const std::string& why) { logFailure(where, why); });
}

/// As guarded, for an engine call that throws when what it was asked for is missing (a mesh that
/// cannot be loaded): the exception is noted as that absorbed failure, with its description.
template <class Fn> bool guarded(const char* where, const Missing& asked, Fn&& fn) noexcept
{
    return runReporting(
        std::forward<Fn>(fn),
        [&](const std::string& why) {
            logFailure(where, Missing{asked.kind, asked.name, asked.detail.empty() ? why : asked.detail + ": " + why});
        });
}

} // namespace avatar_detail
