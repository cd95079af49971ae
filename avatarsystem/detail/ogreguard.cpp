#include "avatarsystem/detail/ogreguard.h"

#include "avatarsystem/avatarinterface.h"

#include <unordered_set>

namespace avatar_detail
{

namespace
{

thread_local const FailureSubject* s_innermost = nullptr;

void logAt(const std::string& message, Ogre::LogMessageLevel level) noexcept
{
    try
    {
        if (Ogre::LogManager* log = Ogre::LogManager::getSingletonPtr())
            log->logMessage(message, level);
    }
    catch (...)
    {
    }
}

/// True the first time a message is seen. The memory is bounded: past its size it starts afresh,
/// so a long-running host may see an old failure once more, never one per frame.
bool firstTime(const std::string& message)
{
    static std::unordered_set<std::string> seen;
    if (seen.count(message) != 0)
        return false;
    if (seen.size() >= 4096)
        seen.clear();
    seen.insert(message);
    return true;
}

} // namespace

void logFailure(const char* where, const std::string& what) noexcept
{
    try
    {
        logAt(std::string("AvatarSystem: ") + where + ": " + what, Ogre::LML_TRIVIAL);
    }
    catch (...)
    {
    }
}

bool logFailure(const char* where, const Missing& missing) noexcept
{
    try
    {
        std::string message =
            std::string("AvatarSystem: ") + where + ": " + missing.kind + " \"" + missing.name + "\" is missing";
        if (!missing.detail.empty())
            message += " (" + missing.detail + ")";
        const std::string avatar = FailureSubject::describeCurrent();
        if (!avatar.empty())
            message += ", for " + avatar;
        logAt(message, firstTime(message) ? Ogre::LML_NORMAL : Ogre::LML_TRIVIAL);
    }
    catch (...)
    {
    }
    return false;
}

FailureSubject::FailureSubject(IInstance* avatar) noexcept : m_avatar(avatar), m_outer(s_innermost)
{
    s_innermost = this;
}

FailureSubject::~FailureSubject()
{
    s_innermost = m_outer;
}

std::string FailureSubject::describeCurrent()
{
    if (!s_innermost || !s_innermost->m_avatar)
        return std::string();
    IInstance* avatar = s_innermost->m_avatar;
    const char* kind = avatar->getInstanceType() == INSTANCE_CHARACTER ? "player" : "creature";
    return std::string(kind) + " \"" + avatar->getName() + "\" (ID " + std::to_string(avatar->getUniqueID()) + ")";
}

} // namespace avatar_detail
