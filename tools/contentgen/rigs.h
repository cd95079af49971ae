#pragma once

#include "meshbuilder.h"
#include "skeletonbuilder.h"

#include <string>
#include <vector>

/// Proportions of a humanoid body; the male body is {1, 0.2, 0.1}.
struct BodyShape
{
    float height = 1.0f;    ///< uniform scale of the whole body
    float shoulders = 0.2f; ///< half width of the torso
    float hips = 0.1f;      ///< distance of each leg from the middle
};

/// Materials of the humanoid body sections, keyed by section name.
struct BodyMaterials
{
    std::string torso, lowArm, upLeg, lowLeg, face;
};

/// Bones of the human body: root, pelvis with legs and waist bones, and above
/// it spine, chest, neck, head, arms, the helm, shoulder, weapon, shield and
/// back bones. With @p effectBones the rig also has effect_1 to effect_5.
std::vector<BoneDef> humanBones(const BodyShape& shape, bool effectBones);

/// Bones of a four-legged creature with effect_1 to effect_5.
std::vector<BoneDef> quadrupedBones(float scale);

/// Bones of a world object: root, a moving top part and effect_1 to effect_5.
std::vector<BoneDef> propBones(float scale);

/// Adds the humanoid animation @p name. Returns false when there is no
/// recipe for that name.
bool addHumanAnimation(Ogre::Skeleton& skeleton, const std::string& name);

/// Animation names a four-legged creature carries.
const std::vector<std::string>& quadrupedAnimationNames();
void addQuadrupedAnimations(Ogre::Skeleton& skeleton);

/// Animation names a world object carries.
const std::vector<std::string>& propAnimationNames();
void addPropAnimations(Ogre::Skeleton& skeleton);

/// Adds the base sections of a human body ("body_new_0", "lowArm_new_0",
/// "upLeg_new_0", "lowLeg_new_0", "face_new_0"; no hair) as boxes bound to the
/// bones of @p skeleton. Without @p legs the two leg sections are left out.
void addHumanSections(MeshBuilder& mesh, const Ogre::SkeletonPtr& skeleton, const BodyShape& shape,
                      const BodyMaterials& materials, bool legs = true);

/// Adds the boxes of one named geoset of the body (hair pieces and item
/// geosets such as "hair_1_0" or "shirt_out_0") to the current section.
/// Returns false for an unknown geoset name.
bool addHumanGeoset(MeshBuilder& mesh, const Ogre::SkeletonPtr& skeleton, const BodyShape& shape,
                    const std::string& geoset);

/// Geoset names addHumanGeoset() knows.
const std::vector<std::string>& humanGeosetNames();

/// Adds a four-legged body: sections "body", "head" and "legs".
void addQuadrupedSections(MeshBuilder& mesh, const Ogre::SkeletonPtr& skeleton, float scale,
                          const std::string& materialPrefix);

/// Adds a world object: sections "base" and "top".
void addPropSections(MeshBuilder& mesh, const Ogre::SkeletonPtr& skeleton, float scale,
                     const std::string& materialPrefix);
