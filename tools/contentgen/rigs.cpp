#include "rigs.h"

#include <OgreBone.h>

using Ogre::Vector3;

namespace
{
const Vector3 X = Vector3::UNIT_X;
const Vector3 Y = Vector3::UNIT_Y;
const Vector3 Z = Vector3::UNIT_Z;

using Keys = std::vector<std::pair<float, float>>;
using Moves = std::vector<std::pair<float, Vector3>>;

// Scales model-space coordinates of the male body to a body shape.
struct Scaler
{
    float s;
    Vector3 operator()(float x, float y, float z) const { return Vector3(x, y, z) * s; }
};

// Arms hang at this distance from the middle.
float armX(const BodyShape& shape)
{
    return shape.shoulders + 0.05f;
}

// A loop of a swinging value: a at the start and end, b in the middle.
Keys swing(float a, float b)
{
    return {{0.0f, a}, {0.5f, b}, {1.0f, a}};
}

// The same swing shifted by half a cycle, for the other limb.
Keys swingShifted(float a, float b)
{
    return {{0.0f, b}, {0.5f, a}, {1.0f, b}};
}

Keys hold(float a)
{
    return {{0.0f, a}, {1.0f, a}};
}

struct RunStyle
{
    float length;
    float legs;
    float arms;
    float lean;
    float forearms;
    float leftArmHold; // non-zero: the left arm is held at this angle instead of swinging
    float rightArmHold;
    float armsOut;
};

void addRun(Ogre::Skeleton& skeleton, const std::string& name, const RunStyle& style)
{
    AnimationWriter a(skeleton, name, style.length);
    a.rotate("thigh_l", X, swing(-style.legs, style.legs));
    a.rotate("thigh_r", X, swingShifted(-style.legs, style.legs));
    a.rotate("calf_l", X, {{0.0f, 10}, {0.25f, style.legs * 1.6f}, {0.5f, 10}, {0.75f, 20}, {1.0f, 10}});
    a.rotate("calf_r", X, {{0.0f, 10}, {0.25f, 20}, {0.5f, 10}, {0.75f, style.legs * 1.6f}, {1.0f, 10}});
    a.rotate("chest", X, hold(style.lean));
    a.translate("pelvis", {{0.0f, Vector3::ZERO},
                           {0.25f, Vector3(0, 0.05f, 0)},
                           {0.5f, Vector3::ZERO},
                           {0.75f, Vector3(0, 0.05f, 0)},
                           {1.0f, Vector3::ZERO}});
    if (style.leftArmHold != 0)
        a.rotate("upperarm_l", X, hold(style.leftArmHold));
    else
        a.rotate("upperarm_l", X, swing(style.arms, -style.arms));
    if (style.rightArmHold != 0)
        a.rotate("upperarm_r", X, hold(style.rightArmHold));
    else
        a.rotate("upperarm_r", X, swingShifted(style.arms, -style.arms));
    if (style.armsOut != 0)
    {
        a.rotate("upperarm_l", Z, hold(style.armsOut));
        a.rotate("upperarm_r", Z, hold(-style.armsOut));
    }
    a.rotate("forearm_l", X, hold(style.forearms));
    a.rotate("forearm_r", X, hold(style.forearms));
    a.commit();
}
} // namespace

std::vector<BoneDef> humanBones(const BodyShape& shape, bool effectBones)
{
    const Scaler p{shape.height};
    const float ax = armX(shape);
    std::vector<BoneDef> bones = {
        {"root", "", p(0, 0, 0)},           {"pelvis", "root", p(0, 0.95f, 0)}, {"spine", "pelvis", p(0, 1.05f, 0)},
        {"chest", "spine", p(0, 1.35f, 0)}, {"neck", "chest", p(0, 1.55f, 0)},  {"head", "neck", p(0, 1.65f, 0)},
        {"helm", "head", p(0, 1.80f, 0)},
    };
    for (int side = 0; side < 2; ++side)
    {
        const float sg = side == 0 ? 1.0f : -1.0f; // the body faces +Z, so its left is +X
        const std::string sfx = side == 0 ? "_l" : "_r";
        bones.push_back({"clavicle" + sfx, "chest", p(sg * 0.1f, 1.47f, 0)});
        bones.push_back({"upperarm" + sfx, "clavicle" + sfx, p(sg * ax, 1.47f, 0)});
        bones.push_back({"shoulder" + sfx, "clavicle" + sfx, p(sg * ax, 1.53f, 0)});
        bones.push_back({"forearm" + sfx, "upperarm" + sfx, p(sg * ax, 1.17f, 0)});
        bones.push_back({"hand" + sfx, "forearm" + sfx, p(sg * ax, 0.90f, 0)});
        bones.push_back({"weapon" + sfx, "hand" + sfx, p(sg * ax, 0.84f, 0.02f)});
    }
    bones.push_back({"shield", "forearm_l", p(ax + 0.07f, 1.04f, 0)});
    bones.push_back({"back1", "chest", p(0.10f, 1.35f, -0.16f)});
    bones.push_back({"back2", "chest", p(0, 1.28f, -0.17f)});
    bones.push_back({"back3", "chest", p(-0.08f, 1.40f, -0.16f)});
    bones.push_back({"back4", "chest", p(0.08f, 1.40f, -0.16f)});
    bones.push_back({"back5", "chest", p(0, 1.42f, -0.17f)});
    for (int side = 0; side < 2; ++side)
    {
        const float sg = side == 0 ? 1.0f : -1.0f;
        const std::string sfx = side == 0 ? "_l" : "_r";
        bones.push_back({"thigh" + sfx, "pelvis", p(sg * shape.hips, 0.90f, 0)});
        bones.push_back({"calf" + sfx, "thigh" + sfx, p(sg * shape.hips, 0.48f, 0)});
        bones.push_back({"foot" + sfx, "calf" + sfx, p(sg * shape.hips, 0.06f, 0)});
    }
    bones.push_back({"lumber_l", "pelvis", p(shape.shoulders + 0.01f, 0.93f, 0.02f)});
    bones.push_back({"lumber_r", "pelvis", p(-shape.shoulders - 0.01f, 0.93f, 0.02f)});
    if (effectBones)
    {
        bones.push_back({"effect_1", "head", p(0, 1.90f, 0)});
        bones.push_back({"effect_2", "hand_r", p(-ax, 0.80f, 0)});
        bones.push_back({"effect_3", "hand_l", p(ax, 0.80f, 0)});
        bones.push_back({"effect_4", "chest", p(0, 1.30f, 0.15f)});
        bones.push_back({"effect_5", "root", p(0, 0.02f, 0)});
    }
    return bones;
}

std::vector<BoneDef> quadrupedBones(float scale)
{
    const Scaler p{scale};
    return {
        {"root", "", p(0, 0, 0)},
        {"body", "root", p(0, 0.5f, 0)},
        {"neck", "body", p(0, 0.6f, 0.35f)},
        {"head", "neck", p(0, 0.65f, 0.5f)},
        {"tail", "body", p(0, 0.55f, -0.4f)},
        {"leg_fl", "body", p(0.15f, 0.45f, 0.3f)},
        {"leg_fr", "body", p(-0.15f, 0.45f, 0.3f)},
        {"leg_bl", "body", p(0.15f, 0.45f, -0.3f)},
        {"leg_br", "body", p(-0.15f, 0.45f, -0.3f)},
        {"effect_1", "head", p(0, 0.75f, 0.6f)},
        {"effect_2", "body", p(0, 0.7f, 0)},
        {"effect_3", "tail", p(0, 0.55f, -0.7f)},
        {"effect_4", "leg_fl", p(0.15f, 0, 0.3f)},
        {"effect_5", "leg_fr", p(-0.15f, 0, 0.3f)},
    };
}

std::vector<BoneDef> propBones(float scale)
{
    const Scaler p{scale};
    return {
        {"root", "", p(0, 0, 0)},
        {"top", "root", p(0, 0.4f, 0)},
        {"effect_1", "top", p(0, 0.7f, 0)},
        {"effect_2", "root", p(0.3f, 0.2f, 0)},
        {"effect_3", "root", p(-0.3f, 0.2f, 0)},
        {"effect_4", "root", p(0, 0.2f, 0.3f)},
        {"effect_5", "root", p(0, 0.2f, -0.3f)},
    };
}

bool addHumanAnimation(Ogre::Skeleton& skeleton, const std::string& name)
{
    // Bind-pose bones carry no rotation, so X turns a hanging limb forward (negative) or back (positive).
    if (name == "Stand")
    {
        AnimationWriter a(skeleton, name, 2.0f);
        a.rotate("chest", X, swing(0, 3));
        a.rotate("head", X, swing(0, -3));
        a.rotate("upperarm_l", Z, swing(4, 7));
        a.rotate("upperarm_r", Z, swing(-4, -7));
        a.commit();
    }
    else if (name == "Walk")
    {
        AnimationWriter a(skeleton, name, 1.0f);
        a.rotate("thigh_l", X, swing(-25, 25));
        a.rotate("thigh_r", X, swingShifted(-25, 25));
        a.rotate("calf_l", X, {{0.0f, 5}, {0.25f, 40}, {0.5f, 5}, {0.75f, 10}, {1.0f, 5}});
        a.rotate("calf_r", X, {{0.0f, 5}, {0.25f, 10}, {0.5f, 5}, {0.75f, 40}, {1.0f, 5}});
        a.rotate("upperarm_l", X, swing(20, -20));
        a.rotate("upperarm_r", X, swingShifted(20, -20));
        a.translate("pelvis", {{0.0f, Vector3::ZERO},
                               {0.25f, Vector3(0, 0.025f, 0)},
                               {0.5f, Vector3::ZERO},
                               {0.75f, Vector3(0, 0.025f, 0)},
                               {1.0f, Vector3::ZERO}});
        a.commit();
    }
    else if (name == "Run")
        addRun(skeleton, name, {0.6f, 45, 40, 10, -70, 0, 0, 0});
    else if (name == "Main_run")
        addRun(skeleton, name, {0.6f, 45, 15, 12, -90, 0, 0, 0});
    else if (name == "Pair_run")
        addRun(skeleton, name, {0.6f, 42, 10, 10, -45, 0, 0, 20});
    else if (name == "Heavy_run")
        addRun(skeleton, name, {0.75f, 35, 20, 18, -60, 0, 0, 0});
    else if (name == "Long_run")
        addRun(skeleton, name, {0.6f, 45, 35, 12, -70, -45, 0, 0});
    else if (name == "Master_run")
        addRun(skeleton, name, {0.55f, 50, 45, 14, -80, 0, 0, 0});
    else if (name == "Bow_run")
        addRun(skeleton, name, {0.6f, 45, 30, 10, -30, -80, -60, 0});
    else if (name == "Attack1")
    {
        AnimationWriter a(skeleton, name, 0.8f);
        a.rotate("upperarm_r", X, {{0.0f, 0}, {0.3f, -150}, {0.6f, -30}, {1.0f, 0}});
        a.rotate("forearm_r", X, {{0.0f, 0}, {0.3f, -60}, {0.6f, -10}, {1.0f, 0}});
        a.rotate("spine", Y, {{0.0f, 0}, {0.3f, -20}, {0.6f, 25}, {1.0f, 0}});
        a.commit();
    }
    else if (name == "Attack2")
    {
        AnimationWriter a(skeleton, name, 1.0f);
        a.rotate("upperarm_l", X, {{0.0f, 0}, {0.4f, -90}, {0.6f, -90}, {1.0f, 0}});
        a.rotate("upperarm_r", X, {{0.0f, 0}, {0.4f, -90}, {0.6f, -90}, {1.0f, 0}});
        a.rotate("forearm_l", X, {{0.0f, 0}, {0.2f, -80}, {0.4f, 0}, {1.0f, 0}});
        a.rotate("forearm_r", X, {{0.0f, 0}, {0.2f, -80}, {0.4f, 0}, {1.0f, 0}});
        a.rotate("spine", X, {{0.0f, 0}, {0.4f, 15}, {1.0f, 0}});
        a.commit();
    }
    else if (name == "Cast")
    {
        AnimationWriter a(skeleton, name, 1.2f);
        a.rotate("upperarm_l", X, swing(-120, -145));
        a.rotate("upperarm_r", X, swing(-120, -145));
        a.rotate("forearm_l", X, swing(-20, -40));
        a.rotate("forearm_r", X, swing(-20, -40));
        a.rotate("chest", Y, {{0.0f, 0}, {0.25f, 8}, {0.75f, -8}, {1.0f, 0}});
        a.commit();
    }
    else if (name == "Kneel")
    {
        AnimationWriter a(skeleton, name, 1.2f);
        a.translate("pelvis", {{0.0f, Vector3::ZERO}, {1.0f, Vector3(0, -0.4f, 0)}});
        a.rotate("thigh_l", X, {{0.0f, 0}, {1.0f, -85}});
        a.rotate("calf_l", X, {{0.0f, 0}, {1.0f, 85}});
        a.rotate("thigh_r", X, {{0.0f, 0}, {1.0f, 5}});
        a.rotate("calf_r", X, {{0.0f, 0}, {1.0f, 95}});
        a.commit();
    }
    else if (name == "Death")
    {
        AnimationWriter a(skeleton, name, 1.5f);
        a.rotate("root", X, {{0.0f, 0}, {0.6f, -50}, {1.0f, -90}});
        a.translate("root", {{0.0f, Vector3::ZERO}, {0.6f, Vector3(0, 0.05f, 0)}, {1.0f, Vector3(0, 0.12f, 0)}});
        a.rotate("thigh_l", X, {{0.0f, 0}, {0.6f, -40}, {1.0f, -10}});
        a.rotate("calf_l", X, {{0.0f, 0}, {0.6f, 60}, {1.0f, 10}});
        a.rotate("upperarm_l", Z, {{0.0f, 0}, {1.0f, 70}});
        a.rotate("upperarm_r", Z, {{0.0f, 0}, {1.0f, -70}});
        a.rotate("head", X, {{0.0f, 0}, {1.0f, -20}});
        a.commit();
    }
    else if (name == "Pose_Nod")
    {
        AnimationWriter a(skeleton, name, 0.8f);
        a.rotate("neck", X, swing(0, 20));
        a.rotate("head", X, swing(0, 10));
        a.commit();
    }
    else
        return false;
    return true;
}

const std::vector<std::string>& quadrupedAnimationNames()
{
    static const std::vector<std::string> names = {"Stand", "Walk", "Run", "Attack1", "Attack2", "Death"};
    return names;
}

void addQuadrupedAnimations(Ogre::Skeleton& skeleton)
{
    {
        AnimationWriter a(skeleton, "Stand", 2.0f);
        a.rotate("tail", Y, {{0.0f, -15}, {0.25f, 15}, {0.5f, -15}, {0.75f, 15}, {1.0f, -15}});
        a.rotate("head", X, swing(0, 5));
        a.commit();
    }
    for (const auto& gait : {std::make_pair("Walk", 20.0f), std::make_pair("Run", 40.0f)})
    {
        AnimationWriter a(skeleton, gait.first, gait.second > 30 ? 0.5f : 1.0f);
        a.rotate("leg_fl", X, swing(-gait.second, gait.second));
        a.rotate("leg_br", X, swing(-gait.second, gait.second));
        a.rotate("leg_fr", X, swingShifted(-gait.second, gait.second));
        a.rotate("leg_bl", X, swingShifted(-gait.second, gait.second));
        a.rotate("body", X, {{0.0f, 0}, {0.25f, gait.second / 8}, {0.5f, 0}, {0.75f, -gait.second / 8}, {1.0f, 0}});
        a.commit();
    }
    for (const auto& attack : {std::make_pair("Attack1", 0.0f), std::make_pair("Attack2", 25.0f)})
    {
        AnimationWriter a(skeleton, attack.first, 0.8f);
        a.rotate("neck", X, {{0.0f, 0}, {0.4f, 30}, {0.6f, 30}, {1.0f, 0}});
        a.rotate("head", Y, {{0.0f, 0}, {0.4f, attack.second}, {1.0f, 0}});
        a.translate("body", {{0.0f, Vector3::ZERO}, {0.4f, Vector3(0, 0, 0.15f)}, {1.0f, Vector3::ZERO}});
        a.commit();
    }
    {
        AnimationWriter a(skeleton, "Death", 1.2f);
        a.rotate("root", Z, {{0.0f, 0}, {1.0f, 90}});
        a.translate("root", {{0.0f, Vector3::ZERO}, {1.0f, Vector3(0.3f, 0.15f, 0)}});
        a.rotate("tail", X, {{0.0f, 0}, {1.0f, 30}});
        a.commit();
    }
}

const std::vector<std::string>& propAnimationNames()
{
    static const std::vector<std::string> names = {"Stand", "Death"};
    return names;
}

void addPropAnimations(Ogre::Skeleton& skeleton)
{
    {
        AnimationWriter a(skeleton, "Stand", 2.0f);
        a.translate("top", {{0.0f, Vector3::ZERO}, {0.5f, Vector3(0, 0.02f, 0)}, {1.0f, Vector3::ZERO}});
        a.rotate("top", Y, {{0.0f, 0}, {0.5f, 4}, {1.0f, 0}});
        a.commit();
    }
    {
        AnimationWriter a(skeleton, "Death", 1.0f);
        a.rotate("top", X, {{0.0f, 0}, {1.0f, -70}});
        a.translate("top", {{0.0f, Vector3::ZERO}, {1.0f, Vector3(0, -0.1f, 0)}});
        a.commit();
    }
}

namespace
{
void addLegs(MeshBuilder& mesh, const Ogre::SkeletonPtr& skeleton, const BodyShape& shape,
             const BodyMaterials& materials);
}

void addHumanSections(MeshBuilder& mesh, const Ogre::SkeletonPtr& skeleton, const BodyShape& shape,
                      const BodyMaterials& materials, bool legs)
{
    const Scaler p{shape.height};
    const float ax = armX(shape);
    const float w = shape.shoulders;
    auto bone = [&](const char* name) { return boneHandle(skeleton, name); };

    mesh.beginSection("body_new_0", materials.torso);
    mesh.addBox(p(0, 1.2f, 0), p(w, 0.3f, 0.12f), bone("chest"), bone("pelvis"));
    mesh.addBox(p(ax, 1.325f, 0), p(0.055f, 0.145f, 0.055f), bone("upperarm_l"));
    mesh.addBox(p(-ax, 1.325f, 0), p(0.055f, 0.145f, 0.055f), bone("upperarm_r"));

    mesh.beginSection("lowArm_new_0", materials.lowArm);
    for (int side = 0; side < 2; ++side)
    {
        const float x = side == 0 ? ax : -ax;
        const std::string sfx = side == 0 ? "_l" : "_r";
        mesh.addBox(p(x, 1.035f, 0), p(0.05f, 0.13f, 0.05f), bone(("forearm" + sfx).c_str()));
        mesh.addBox(p(x, 0.84f, 0.01f), p(0.04f, 0.06f, 0.03f), bone(("hand" + sfx).c_str()));
    }

    if (legs)
        addLegs(mesh, skeleton, shape, materials);

    mesh.beginSection("face_new_0", materials.face);
    mesh.addBox(p(0, 1.57f, 0), p(0.05f, 0.05f, 0.05f), bone("neck"));
    mesh.addBox(p(0, 1.70f, 0), p(0.1f, 0.12f, 0.11f), bone("head"));
    mesh.addBox(p(0, 1.69f, 0.12f), p(0.02f, 0.03f, 0.02f), bone("head"));
}

namespace
{
void addLegs(MeshBuilder& mesh, const Ogre::SkeletonPtr& skeleton, const BodyShape& shape,
             const BodyMaterials& materials)
{
    const Scaler p{shape.height};
    auto bone = [&](const char* name) { return boneHandle(skeleton, name); };
    mesh.beginSection("upLeg_new_0", materials.upLeg);
    mesh.addBox(p(shape.hips, 0.69f, 0), p(0.075f, 0.21f, 0.08f), bone("thigh_l"));
    mesh.addBox(p(-shape.hips, 0.69f, 0), p(0.075f, 0.21f, 0.08f), bone("thigh_r"));

    mesh.beginSection("lowLeg_new_0", materials.lowLeg);
    for (int side = 0; side < 2; ++side)
    {
        const float x = side == 0 ? shape.hips : -shape.hips;
        const std::string sfx = side == 0 ? "_l" : "_r";
        mesh.addBox(p(x, 0.27f, 0), p(0.06f, 0.21f, 0.065f), bone(("calf" + sfx).c_str()));
        mesh.addBox(p(x, 0.035f, 0.05f), p(0.055f, 0.035f, 0.12f), bone(("foot" + sfx).c_str()));
    }
}
} // namespace

const std::vector<std::string>& humanGeosetNames()
{
    static const std::vector<std::string> names = {"hair_0_0",    "hair_1_0",   "hair_2_0",    "hair_3_0",
                                                   "shirt_out_0", "robe_out_0", "pants_out_0", "glove_out_0",
                                                   "boot_out_0",  "belt_out_0"};
    return names;
}

bool addHumanGeoset(MeshBuilder& mesh, const Ogre::SkeletonPtr& skeleton, const BodyShape& shape,
                    const std::string& geoset)
{
    const Scaler p{shape.height};
    const float ax = armX(shape);
    const float w = shape.shoulders;
    const float hx = shape.hips;
    auto bone = [&](const char* name) { return boneHandle(skeleton, name); };
    const int head = bone("head");

    if (geoset == "hair_0_0")
        mesh.addBox(p(0, 1.835f, 0), p(0.105f, 0.015f, 0.115f), head);
    else if (geoset == "hair_1_0")
        mesh.addBox(p(0, 1.80f, -0.01f), p(0.11f, 0.05f, 0.12f), head);
    else if (geoset == "hair_2_0")
    {
        mesh.addBox(p(0, 1.81f, 0), p(0.11f, 0.03f, 0.12f), head);
        mesh.addBox(p(0, 1.60f, -0.115f), p(0.11f, 0.2f, 0.02f), head);
    }
    else if (geoset == "hair_3_0")
    {
        mesh.addBox(p(0, 1.87f, 0), p(0.025f, 0.05f, 0.12f), head);
        mesh.addBox(p(0, 1.66f, -0.14f), p(0.03f, 0.13f, 0.03f), head);
    }
    else if (geoset == "shirt_out_0")
    {
        mesh.addBox(p(0, 1.2f, 0), p(w + 0.015f, 0.31f, 0.135f), bone("chest"), bone("pelvis"));
        mesh.addBox(p(ax, 1.35f, 0), p(0.065f, 0.12f, 0.065f), bone("upperarm_l"));
        mesh.addBox(p(-ax, 1.35f, 0), p(0.065f, 0.12f, 0.065f), bone("upperarm_r"));
    }
    else if (geoset == "robe_out_0")
        mesh.addBox(p(0, 0.62f, 0), p(w + 0.02f, 0.33f, 0.16f), bone("pelvis"));
    else if (geoset == "pants_out_0")
    {
        mesh.addBox(p(0, 0.93f, 0), p(w + 0.01f, 0.06f, 0.13f), bone("pelvis"));
        mesh.addBox(p(hx, 0.69f, 0), p(0.085f, 0.21f, 0.09f), bone("thigh_l"));
        mesh.addBox(p(-hx, 0.69f, 0), p(0.085f, 0.21f, 0.09f), bone("thigh_r"));
    }
    else if (geoset == "glove_out_0")
    {
        mesh.addBox(p(ax, 0.84f, 0.01f), p(0.05f, 0.07f, 0.04f), bone("hand_l"));
        mesh.addBox(p(-ax, 0.84f, 0.01f), p(0.05f, 0.07f, 0.04f), bone("hand_r"));
        mesh.addBox(p(ax, 0.95f, 0), p(0.06f, 0.05f, 0.06f), bone("forearm_l"));
        mesh.addBox(p(-ax, 0.95f, 0), p(0.06f, 0.05f, 0.06f), bone("forearm_r"));
    }
    else if (geoset == "boot_out_0")
    {
        mesh.addBox(p(hx, 0.2f, 0), p(0.07f, 0.15f, 0.075f), bone("calf_l"));
        mesh.addBox(p(-hx, 0.2f, 0), p(0.07f, 0.15f, 0.075f), bone("calf_r"));
        mesh.addBox(p(hx, 0.04f, 0.05f), p(0.065f, 0.04f, 0.13f), bone("foot_l"));
        mesh.addBox(p(-hx, 0.04f, 0.05f), p(0.065f, 0.04f, 0.13f), bone("foot_r"));
    }
    else if (geoset == "belt_out_0")
        mesh.addBox(p(0, 0.95f, 0), p(w + 0.015f, 0.035f, 0.135f), bone("pelvis"));
    else
        return false;
    return true;
}

void addQuadrupedSections(MeshBuilder& mesh, const Ogre::SkeletonPtr& skeleton, float scale,
                          const std::string& materialPrefix)
{
    const Scaler p{scale};
    auto bone = [&](const char* name) { return boneHandle(skeleton, name); };
    mesh.beginSection("body", materialPrefix + "/body");
    mesh.addBox(p(0, 0.52f, 0), p(0.17f, 0.12f, 0.4f), bone("body"));
    mesh.addBox(p(0, 0.55f, -0.55f), p(0.03f, 0.03f, 0.15f), bone("tail"));
    mesh.beginSection("head", materialPrefix + "/head");
    mesh.addBox(p(0, 0.62f, 0.42f), p(0.07f, 0.07f, 0.08f), bone("neck"));
    mesh.addBox(p(0, 0.66f, 0.56f), p(0.09f, 0.08f, 0.1f), bone("head"));
    mesh.addBox(p(0, 0.62f, 0.7f), p(0.04f, 0.04f, 0.06f), bone("head"));
    mesh.beginSection("legs", materialPrefix + "/legs");
    mesh.addBox(p(0.15f, 0.22f, 0.3f), p(0.04f, 0.22f, 0.04f), bone("leg_fl"));
    mesh.addBox(p(-0.15f, 0.22f, 0.3f), p(0.04f, 0.22f, 0.04f), bone("leg_fr"));
    mesh.addBox(p(0.15f, 0.22f, -0.3f), p(0.04f, 0.22f, 0.04f), bone("leg_bl"));
    mesh.addBox(p(-0.15f, 0.22f, -0.3f), p(0.04f, 0.22f, 0.04f), bone("leg_br"));
}

void addPropSections(MeshBuilder& mesh, const Ogre::SkeletonPtr& skeleton, float scale,
                     const std::string& materialPrefix)
{
    const Scaler p{scale};
    mesh.beginSection("base", materialPrefix + "/base");
    mesh.addBox(p(0, 0.2f, 0), p(0.35f, 0.2f, 0.25f), boneHandle(skeleton, "root"));
    mesh.beginSection("top", materialPrefix + "/top");
    mesh.addBox(p(0, 0.45f, 0), p(0.36f, 0.06f, 0.26f), boneHandle(skeleton, "top"));
}
