#pragma once

// The rules by which the system reads the content: which body a gender gets, which items fit it,
// the mesh of a helm, which table holds a creature, NPC or object ID, and the name of the host's
// scene manager. The avatars, the manager, the table checker, the tools and the tests all ask
// here, so that what the checker predicts is what the runtime does.

#include "avatarsystem/avatarinterface.h"

#include <string>

namespace avatar_rules
{

/// The name of the host's scene manager the system builds in.
constexpr const char* kSceneManagerName = "Everwind";

/// The two player bodies: gender 0 is built on the male body, every other gender on the female one.
constexpr const char* kMaleBody = "HumanMale.mesh";
constexpr const char* kFemaleBody = "HumanFemale.mesh";
inline bool hasFemaleBody(unsigned gender)
{
    return gender != 0;
}
inline const char* bodyMesh(unsigned gender)
{
    return hasFemaleBody(gender) ? kFemaleBody : kMaleBody;
}

/// Whether an item or worn item with this flag fits a wearer of this gender: flag 2 fits every
/// body, 0 the male body, 1 the female body. A gender other than 0 and 1 is built on the female
/// body, so it wears what fits that body.
inline bool itemFitsGender(unsigned flag, unsigned gender)
{
    return flag == 2 || flag == (hasFemaleBody(gender) ? 1u : 0u);
}

/// The mesh a helm (ModelFile of an item worn on the head) is made from: gendered, as the body.
inline std::string helmMesh(const std::string& modelFile, unsigned gender)
{
    return modelFile + (hasFemaleBody(gender) ? "_F" : "_M") + ".mesh";
}

/// The table that holds a creature, NPC or object ID: objects 37000-38999, creatures below
/// 30000, NPCs otherwise.
inline DB_NAME_e creatureTableOf(unsigned id)
{
    if (id >= 37000 && id <= 38999)
        return DB_OBJECT;
    return id < 30000 ? DB_CREATURE : DB_NPC;
}

} // namespace avatar_rules
