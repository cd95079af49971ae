#include "contentpack.h"
#include "support/packdescription.h"

#include "imagewriter.h"
#include "meshbuilder.h"
#include "rigs.h"
#include "skeletonbuilder.h"
#include "tablewriter.h"

#include "avatarsystem/animationdb.h"
#include "avatarsystem/detail/contentrules.h"
#include "avatarsystem/creaturedb.h"
#include "avatarsystem/ewchardb.h"

#include <OgreException.h>
#include <OgreMaterialManager.h>
#include <OgreMaterialSerializer.h>
#include <OgreMeshManager.h>
#include <OgreMeshSerializer.h>
#include <OgrePass.h>
#include <OgreSkeletonManager.h>
#include <OgreSkeletonSerializer.h>
#include <OgreStringConverter.h>
#include <OgreTechnique.h>
#include <OgreTextureUnitState.h>

#include <algorithm>
#include <set>
#include <stdexcept>

using Ogre::Vector3;
using namespace pack_description;

namespace
{
const char* const s_group = "AvatarContentPack";

std::string genderLetter(unsigned gender)
{
    return gender == 0 ? "M" : "F";
}

// A mesh file's name without ".mesh": the base its skeleton and materials are named after.
std::string meshBaseOf(const std::string& meshFile)
{
    return meshFile.substr(0, meshFile.size() - std::string(".mesh").size());
}

std::string num(float value)
{
    return Ogre::StringConverter::toString(value);
}

std::string num(unsigned value)
{
    return std::to_string(value);
}

// Mesh files of an item: a helm has one per gender, other items one per model column.
std::vector<std::string> itemMeshBases(const ItemDef& item)
{
    if (item.type == s_helmType)
        return {meshBaseOf(avatar_rules::helmMesh(item.model, 0)), meshBaseOf(avatar_rules::helmMesh(item.model, 1))};
    std::vector<std::string> bases{item.model};
    if (!item.model2.empty())
        bases.push_back(item.model2);
    return bases;
}

void addItemShape(MeshBuilder& mesh, ItemShape shape, bool rightSide, bool female, int bone)
{
    const float sg = rightSide ? -1.0f : 1.0f;
    const float f = female ? 0.94f : 1.0f;
    switch (shape)
    {
    case ItemShape::Helm:
        mesh.addBox(Vector3(0, -0.04f, 0) * f, Vector3(0.12f, 0.065f, 0.13f) * f, bone);
        mesh.addBox(Vector3(0, -0.09f, 0.02f) * f, Vector3(0.13f, 0.01f, 0.14f) * f, bone);
        break;
    case ItemShape::Pauldron:
        mesh.addBox(Vector3(sg * 0.02f, 0, 0), Vector3(0.09f, 0.05f, 0.09f), bone);
        break;
    case ItemShape::Sword:
        mesh.addBox(Vector3(0, 0, 0), Vector3(0.015f, 0.015f, 0.06f), bone);
        mesh.addBox(Vector3(0, 0, 0.07f), Vector3(0.07f, 0.02f, 0.01f), bone);
        mesh.addBox(Vector3(0, 0, 0.42f), Vector3(0.025f, 0.008f, 0.34f), bone);
        break;
    case ItemShape::Mace:
        mesh.addBox(Vector3(0, 0, 0.2f), Vector3(0.015f, 0.015f, 0.25f), bone);
        mesh.addBox(Vector3(0, 0, 0.47f), Vector3(0.06f, 0.06f, 0.06f), bone);
        break;
    case ItemShape::Dagger:
        mesh.addBox(Vector3(0, 0, 0), Vector3(0.012f, 0.012f, 0.05f), bone);
        mesh.addBox(Vector3(0, 0, 0.2f), Vector3(0.02f, 0.006f, 0.14f), bone);
        break;
    case ItemShape::Blade:
        mesh.addBox(Vector3(0, 0, 0), Vector3(0.015f, 0.015f, 0.06f), bone);
        mesh.addBox(Vector3(0, 0, 0.32f), Vector3(0.03f, 0.006f, 0.25f), bone);
        break;
    case ItemShape::Staff:
        mesh.addBox(Vector3(0, 0.2f, 0), Vector3(0.02f, 0.85f, 0.02f), bone);
        mesh.addBox(Vector3(0, 1.05f, 0), Vector3(0.05f, 0.05f, 0.05f), bone);
        break;
    case ItemShape::Shield:
        mesh.addBox(Vector3(0.02f, 0, 0), Vector3(0.015f, 0.22f, 0.2f), bone);
        mesh.addBox(Vector3(0.045f, 0, 0), Vector3(0.015f, 0.05f, 0.05f), bone);
        break;
    case ItemShape::Pouch:
        mesh.addBox(Vector3(0, -0.04f, 0.03f), Vector3(0.05f, 0.06f, 0.04f), bone);
        break;
    case ItemShape::Scabbard:
        mesh.addBox(Vector3(0, -0.3f, -0.02f), Vector3(0.03f, 0.3f, 0.015f), bone);
        break;
    case ItemShape::Greatsword:
        mesh.addBox(Vector3(0, 0.45f, 0), Vector3(0.02f, 0.12f, 0.02f), bone);
        mesh.addBox(Vector3(0, 0.32f, 0), Vector3(0.12f, 0.015f, 0.025f), bone);
        mesh.addBox(Vector3(0, -0.25f, 0), Vector3(0.05f, 0.55f, 0.01f), bone);
        break;
    case ItemShape::Hammer:
        mesh.addBox(Vector3(0, 0, 0), Vector3(0.02f, 0.5f, 0.02f), bone);
        mesh.addBox(Vector3(0, 0.5f, 0), Vector3(0.15f, 0.08f, 0.08f), bone);
        break;
    case ItemShape::Bow:
        mesh.addBox(Vector3(0, 0, 0), Vector3(0.02f, 0.06f, 0.02f), bone);
        mesh.addBox(Vector3(0, 0.3f, -0.03f), Vector3(0.015f, 0.25f, 0.015f), bone);
        mesh.addBox(Vector3(0, -0.3f, -0.03f), Vector3(0.015f, 0.25f, 0.015f), bone);
        mesh.addBox(Vector3(0, 0, 0.05f), Vector3(0.002f, 0.55f, 0.002f), bone);
        break;
    case ItemShape::TowerShield:
        mesh.addBox(Vector3(0, 0, -0.02f), Vector3(0.22f, 0.32f, 0.015f), bone);
        break;
    case ItemShape::Axe:
        // Held forward like the swords, the blade a broad plate at the end of the haft.
        mesh.addBox(Vector3(0, 0, 0.2f), Vector3(0.015f, 0.015f, 0.26f), bone);
        mesh.addBox(Vector3(sg * 0.01f, 0.07f, 0.4f), Vector3(0.06f, 0.08f, 0.01f), bone);
        break;
    case ItemShape::Banner:
        mesh.addBox(Vector3(0, 0.3f, 0), Vector3(0.015f, 0.75f, 0.015f), bone);
        mesh.addBox(Vector3(0.16f, 0.85f, 0), Vector3(0.15f, 0.18f, 0.005f), bone);
        break;
    }
}

// A second part of some items in a material of its own (a crest, a pommel, a boss), so that those
// items have more than one sub-entity. False for items of one part.
bool itemTrim(ItemShape shape, bool female, Vector3& centre, Vector3& halfSize)
{
    const float f = female ? 0.94f : 1.0f;
    switch (shape)
    {
    case ItemShape::Helm:
        centre = Vector3(0, 0.04f, 0) * f;
        halfSize = Vector3(0.015f, 0.04f, 0.1f) * f;
        return true;
    case ItemShape::Sword:
        centre = Vector3(0, 0, -0.075f);
        halfSize = Vector3(0.02f, 0.02f, 0.02f);
        return true;
    case ItemShape::Greatsword:
        centre = Vector3(0, 0.6f, 0);
        halfSize = Vector3(0.025f, 0.025f, 0.025f);
        return true;
    case ItemShape::Shield:
        centre = Vector3(0.06f, 0, 0);
        halfSize = Vector3(0.02f, 0.04f, 0.04f);
        return true;
    case ItemShape::Axe:
        centre = Vector3(0, 0, -0.075f);
        halfSize = Vector3(0.02f, 0.02f, 0.02f);
        return true;
    default:
        return false;
    }
}

// Where an item's effect bone sits: at the tip of a weapon, on top of a shoulder piece.
Vector3 effectBonePosition(ItemShape shape, const std::string& bone)
{
    if (bone == "Shoulder_1")
        return shape == ItemShape::Greatsword ? Vector3(0, 0.55f, 0) : Vector3(0, 0.06f, 0);
    switch (shape)
    {
    case ItemShape::Sword:
        return Vector3(0, 0, 0.76f);
    case ItemShape::Blade:
        return Vector3(0, 0, 0.57f);
    case ItemShape::Staff:
        return Vector3(0, 1.1f, 0);
    case ItemShape::Scabbard:
        return Vector3(0, -0.6f, -0.02f);
    case ItemShape::Greatsword:
        return Vector3(0, -0.8f, 0);
    case ItemShape::Bow:
        return Vector3(0, 0.55f, 0);
    case ItemShape::Axe:
        return Vector3(0, 0.16f, 0.4f);
    case ItemShape::Banner:
        return Vector3(0, 1.05f, 0);
    default:
        return Vector3::ZERO;
    }
}

const std::vector<std::string> s_templateMaterials = {"out_cloth", "out_leather", "out_plate",
                                                      "sec_cloth", "sec_leather", "sec_plate"};

const unsigned s_raceCount = 3;
const unsigned s_hairStyles = 3;
const unsigned s_hairColours = 3;
const unsigned s_faceTypes = 2;
const unsigned s_skinColours = 2;

// Section type constants of the body-section table.
const unsigned s_skinType = EWCharSectionsDB::SkinType;
const unsigned s_faceType = EWCharSectionsDB::FaceType;
const unsigned s_hairType = EWCharSectionsDB::HairType;

unsigned sectionKey(unsigned race, unsigned gender, unsigned type, unsigned section, unsigned colour)
{
    return EWCharSectionsDB::makeKey(race, gender, type, section, colour);
}

unsigned hairGeoKey(unsigned race, unsigned gender, unsigned section)
{
    return EWCharHairGeoDB::makeKey(race, gender, section);
}

std::string faceTexture(unsigned gender, unsigned face, unsigned colour)
{
    return "Face_" + num(face) + "_" + num(colour) + "_" + genderLetter(gender) + ".dds";
}

std::string hairTexture(unsigned gender, unsigned style, unsigned colour)
{
    return "hair_" + num(style) + "_" + num(colour) + "_" + genderLetter(gender) + ".dds";
}

std::string hairGeoset(unsigned style)
{
    return "hair_" + num(style) + "_0";
}

std::string itemTexture(const std::string& base, unsigned gender)
{
    return base + "_" + genderLetter(gender) + ".dds";
}

class PackWriter
{
public:
    explicit PackWriter(std::string directory) : m_dir(std::move(directory)) {}

    void run()
    {
        writeSharedMaterials();
        for (unsigned gender = 0; gender < 2; ++gender)
            writeBody(gender);
        writeItems();
        for (const auto* defs : {&creatureDefs(), &npcDefs(), &objectDefs()})
            for (const CreatureDef& def : *defs)
                if (def.generated && !m_meshes.count(def.meshBase + ".mesh"))
                    writeCreature(def);
        writeTables();
        writeMaterialFile("avatar_body.material", m_bodyMaterials);
        writeMaterialFile("avatar_items.material", m_itemMaterials);
        writeMaterialFile("avatar_creatures.material", m_creatureMaterials);
        writeEffectMaterials();
        writeMaterialFile("avatar_effects.material", m_effectMaterials);
        writeTextures();
    }

private:
    Ogre::MaterialPtr material(std::vector<Ogre::MaterialPtr>& file, const std::string& name,
                               const std::string& texture)
    {
        Ogre::MaterialPtr mat = Ogre::MaterialManager::getSingleton().create(name, s_group);
        Ogre::Pass* pass = mat->getTechnique(0)->getPass(0);
        pass->setDiffuse(Ogre::ColourValue::White);
        pass->createTextureUnitState(texture);
        m_textures.insert(texture);
        file.push_back(mat);
        return mat;
    }

    void writeSharedMaterials()
    {
        material(m_bodyMaterials, "c_body", "c_body.dds");
        material(m_bodyMaterials, "body_new_M", "body_new_M.dds");
        // The templates differ in how they take the light, not only in their own texture: plate
        // shines and is cool in the shade, leather warm and dull, cloth plain. An item on the wrong
        // template thus looks wrong even though it carries its own texture.
        for (const std::string& name : s_templateMaterials)
        {
            Ogre::Pass* pass = material(m_itemMaterials, name, name + ".dds")->getTechnique(0)->getPass(0);
            if (name.find("plate") != std::string::npos)
            {
                pass->setAmbient(0.75f, 0.85f, 1.0f);
                pass->setSpecular(0.9f, 0.9f, 0.9f, 1.0f);
                pass->setShininess(12.0f);
            }
            else if (name.find("leather") != std::string::npos)
                pass->setAmbient(1.0f, 0.8f, 0.6f);
        }
        material(m_creatureMaterials, "col", "col.dds");
        m_textures.insert("white.bmp");
    }

    /// One material per effect template: an additive, unlit glow whose texture fades to black
    /// at its edges, so a billboard reads as a soft light rather than a square.
    void writeEffectMaterials()
    {
        for (const char* name : {"glow", "spark", "fire", "smoke", "aura"})
        {
            Ogre::MaterialPtr mat = Ogre::MaterialManager::getSingleton().create(name, s_group);
            Ogre::Pass* pass = mat->getTechnique(0)->getPass(0);
            pass->setLightingEnabled(false);
            pass->setDepthWriteEnabled(false);
            pass->setSceneBlending(Ogre::SBT_ADD);
            const std::string texture = std::string("fx_") + name + ".dds";
            pass->createTextureUnitState(texture);
            m_textures.insert(texture);
            m_effectMaterials.push_back(mat);
        }
    }

    void exportMesh(const Ogre::MeshPtr& mesh)
    {
        Ogre::MeshSerializer().exportMesh(mesh.get(), m_dir + "/" + mesh->getName());
        m_meshes.insert(mesh->getName());
    }

    void exportSkeleton(const Ogre::SkeletonPtr& skeleton)
    {
        Ogre::SkeletonSerializer().exportSkeleton(skeleton.get(), m_dir + "/" + skeleton->getName());
    }

    void addHumanAnimations(Ogre::Skeleton& skeleton)
    {
        for (const AnimDef& anim : animDefs())
            if (!skeleton.hasAnimation(anim.name) && !addHumanAnimation(skeleton, anim.name))
                throw std::runtime_error("no motion for the animation " + anim.name);
    }

    void writeBody(unsigned gender)
    {
        const std::string base = meshBaseOf(avatar_rules::bodyMesh(gender));
        const std::string g = genderLetter(gender);
        BodyShape shape;
        if (gender != 0)
            shape = BodyShape{0.94f, 0.17f, 0.11f};

        Ogre::SkeletonPtr skeleton = createSkeleton(base + ".skeleton", s_group, humanBones(shape, false));
        addHumanAnimations(*skeleton);

        BodyMaterials materials{base + "/body", base + "/lowArm", base + "/upLeg", base + "/lowLeg", base + "/face"};
        material(m_bodyMaterials, materials.torso, "body_new_" + g + ".dds");
        material(m_bodyMaterials, materials.lowArm, "lowarm_new_" + g + ".dds");
        material(m_bodyMaterials, materials.upLeg, "upleg_new_" + g + ".dds");
        material(m_bodyMaterials, materials.lowLeg, "lowLeg_new_" + g + ".dds");
        material(m_bodyMaterials, materials.face, "Face_1_" + g + ".dds");

        MeshBuilder mesh;
        addHumanSections(mesh, skeleton, shape, materials);
        for (const std::string& geoset : humanGeosetNames())
        {
            std::string mat;
            if (geoset == "hair_0_0")
                mat = material(m_bodyMaterials, base + "/hair", "hair_" + g + ".dds")->getName();
            else if (geoset.compare(0, 5, "hair_") == 0)
                mat = material(m_bodyMaterials, base + "/" + geoset,
                               hairTexture(gender, Ogre::StringConverter::parseUnsignedInt(geoset.substr(5, 1)), 0))
                          ->getName();
            else
                mat = material(m_bodyMaterials, base + "/" + geoset, "white.bmp")->getName();
            mesh.beginSection(geoset, mat);
            addHumanGeoset(mesh, skeleton, shape, geoset);
        }
        exportSkeleton(skeleton);
        exportMesh(mesh.build(base + ".mesh", s_group, skeleton->getName()));
    }

    void writeItems()
    {
        for (const ItemDef& item : itemDefs())
        {
            for (const std::string& meshBase : itemMeshBases(item))
            {
                const bool rightSide = meshBase.size() > 2 && meshBase.compare(meshBase.size() - 2, 2, "_r") == 0;
                const bool female =
                    item.type == s_helmType && meshBase == meshBaseOf(avatar_rules::helmMesh(item.model, 1));
                Ogre::SkeletonPtr skeleton;
                if (!item.effectBones.empty())
                {
                    std::vector<BoneDef> bones{{"root", "", Vector3::ZERO}};
                    for (const std::string& bone : item.effectBones)
                        bones.push_back({bone, "root", effectBonePosition(item.shape, bone)});
                    skeleton = createSkeleton(meshBase + ".skeleton", s_group, bones);
                    exportSkeleton(skeleton);
                }
                MeshBuilder mesh;
                mesh.beginSection(meshBase,
                                  material(m_itemMaterials, "item/" + meshBase, meshBase + ".dds")->getName());
                addItemShape(mesh, item.shape, rightSide, female, boneHandle(skeleton, "root"));
                Vector3 trimCentre, trimHalf;
                if (itemTrim(item.shape, female, trimCentre, trimHalf))
                {
                    mesh.beginSection(
                        meshBase + "_trim",
                        material(m_itemMaterials, "item/" + meshBase + "/trim", meshBase + "_trim.dds")->getName());
                    mesh.addBox(trimCentre, trimHalf, boneHandle(skeleton, "root"));
                }
                exportMesh(mesh.build(meshBase + ".mesh", s_group, skeleton ? skeleton->getName() : ""));
            }
        }
    }

    void writeCreature(const CreatureDef& def)
    {
        const std::string& base = def.meshBase;
        auto mat = [&](const std::string& part)
        { return material(m_creatureMaterials, base + "/" + part, base + "_" + part + ".dds")->getName(); };
        MeshBuilder mesh;
        Ogre::SkeletonPtr skeleton;
        if (def.rig == Rig::Quadruped)
        {
            skeleton = createSkeleton(base + ".skeleton", s_group, quadrupedBones(1.0f));
            addQuadrupedAnimations(*skeleton);
            mat("body");
            mat("head");
            mat("legs");
            addQuadrupedSections(mesh, skeleton, 1.0f, base);
        }
        else if (def.rig == Rig::Prop)
        {
            skeleton = createSkeleton(base + ".skeleton", s_group, propBones(1.0f));
            addPropAnimations(*skeleton);
            mat("base");
            mat("top");
            addPropSections(mesh, skeleton, 1.0f, base);
        }
        else
        {
            BodyShape shape;
            if (def.rig == Rig::Golem)
                shape = BodyShape{1.0f, 0.3f, 0.14f};
            else if (def.rig == Rig::Naga)
                shape = BodyShape{1.0f, 0.17f, 0.1f};
            skeleton = createSkeleton(base + ".skeleton", s_group, humanBones(shape, true));
            addHumanAnimations(*skeleton);
            const std::string body = mat("body");
            const std::string head = mat("head");
            const std::string legs = mat("legs");
            const bool legsShown = def.rig != Rig::Naga;
            addHumanSections(mesh, skeleton, shape, BodyMaterials{body, body, legs, legs, head}, legsShown);
            mesh.beginSection("hair", head);
            addHumanGeoset(mesh, skeleton, shape, def.rig == Rig::Naga ? "hair_2_0" : "hair_1_0");
            if (def.rig == Rig::Naga)
            {
                mesh.beginSection("tail", legs);
                mesh.addBox(Vector3(0, 0.6f, -0.05f), Vector3(0.14f, 0.32f, 0.12f), boneHandle(skeleton, "pelvis"),
                            boneHandle(skeleton, "thigh_l"));
                mesh.addBox(Vector3(0, 0.14f, -0.3f), Vector3(0.1f, 0.12f, 0.3f), boneHandle(skeleton, "calf_l"));
            }
            if (def.rig == Rig::Golem)
            {
                // Shared by every golem: the creature code leaves a material named "col" uncopied.
                mesh.beginSection("crystal", "col");
                mesh.addBox(Vector3(0, 1.3f, 0.16f), Vector3(0.08f, 0.1f, 0.05f), boneHandle(skeleton, "chest"));
            }
        }
        exportSkeleton(skeleton);
        exportMesh(mesh.build(base + ".mesh", s_group, skeleton->getName()));
    }

    void writeMaterialFile(const std::string& fileName, const std::vector<Ogre::MaterialPtr>& materials)
    {
        Ogre::MaterialSerializer serializer;
        bool first = true;
        for (const Ogre::MaterialPtr& mat : materials)
        {
            serializer.queueForExport(mat, first);
            first = false;
        }
        serializer.exportQueued(m_dir + "/" + fileName);
    }

    void writeTextures()
    {
        for (const std::string& texture : m_textures)
        {
            bool written = false;
            if (texture == "white.bmp")
                written = writeBmp(m_dir + "/" + texture, 8, Rgb{255, 255, 255});
            else if (texture.compare(0, 3, "fx_") == 0)
                written = writeDdsGlow(m_dir + "/" + texture, 32, colourForName(texture));
            else if (texture == "c_body.dds")
                written = writeDds(m_dir + "/" + texture, 16, Rgb{255, 0, 255}); // magenta marks the fallback
            else
                written = writeDds(m_dir + "/" + texture, 16, colourForName(texture));
            if (!written)
                throw std::runtime_error("cannot write " + m_dir + "/" + texture);
        }
    }

    void requireMesh(const std::string& meshFile) const
    {
        if (!m_meshes.count(meshFile))
            throw std::runtime_error("a table names the mesh " + meshFile + ", which the pack lacks");
    }

    void requireGeoset(const std::string& geoset) const
    {
        const auto& names = humanGeosetNames();
        if (std::find(names.begin(), names.end(), geoset) == names.end())
            throw std::runtime_error("a table names the body geoset " + geoset + ", which the bodies lack");
    }

    void requireMaterial(const std::string& name) const
    {
        if (!name.empty() && !Ogre::MaterialManager::getSingleton().resourceExists(name, s_group))
            throw std::runtime_error("a table names the material " + name + ", which the pack lacks");
    }

    // A preset may only wear items that exist and fit its gender.
    template <class Def> static void requireFit(const PresetDef& preset, unsigned id, const std::vector<Def>& defs)
    {
        if (id == 0)
            return;
        auto it = std::find_if(defs.begin(), defs.end(), [id](const Def& d) { return d.id == id; });
        if (it == defs.end())
            throw std::runtime_error("preset " + preset.name + " wears the unknown item " + num(id));
        if (itemFlag(*it) != preset.gender && itemFlag(*it) != 2)
            throw std::runtime_error("preset " + preset.name + " wears item " + num(id) + " of the other gender");
    }
    static unsigned itemFlag(const ItemDef& item) { return item.flag; }
    static unsigned itemFlag(const WornDef& item) { return item.flag; }

    void save(const Table& table)
    {
        std::string error;
        if (!writeTable(m_dir, table, error))
            throw std::runtime_error(error);
    }

    void writeTables()
    {
        writeItemTable();
        writeWornTable();
        writeCreatureTables();
        writeCharacterTables();
        Table effects = emptyTable(EWEffectsDB::layout());
        const char* const effectRows[][4] = {
            {"fx_glow_blue", "glow", "0.3", "1.0"}, {"fx_glow_red", "glow", "0.3", "1.0"},
            {"fx_spark", "spark", "0.2", "2.0"},    {"fx_fire", "fire", "0.4", "1.0"},
            {"fx_smoke", "smoke", "0.5", "0.5"},    {"fx_aura", "aura", "0.6", "0.8"},
        };
        unsigned id = 1;
        for (const auto& row : effectRows)
            effects.add({num(id++), row[0], row[1], row[2], row[3]});
        save(effects);

        Table anims = emptyTable(AnimationDB::layout());
        for (const AnimDef& a : animDefs())
            anims.add({num(a.type), num(a.playType), num(a.blendType), a.name, num(a.merge), a.remark});
        save(anims);
    }

    void writeItemTable()
    {
        Table table = emptyTable(EWItemDB::layout());
        for (const ItemDef& item : itemDefs())
        {
            for (const std::string& meshBase : itemMeshBases(item))
                requireMesh(meshBase + ".mesh");
            table.add({num(item.id), item.name, num(item.type), item.model, item.model2, num(item.hideHair),
                       num(item.hideHead), item.effects[0], item.effects[1], item.effects[2], num(item.flag)});
        }
        save(table);
    }

    void writeWornTable()
    {
        Table table = emptyTable(EWWearingDB::layout());
        for (const WornDef& w : wornDefs())
        {
            if (!w.outModel.empty())
                requireGeoset(w.outModel);
            for (const std::string* mat : {&w.material, &w.matHand, &w.matBody, &w.matPants, &w.matFoot})
                requireMaterial(*mat);
            if (!w.texPath.empty())
                m_textures.insert(w.texPath);
            for (const std::string* tex : {&w.texHand, &w.texBody, &w.texPants, &w.texFoot})
                if (!tex->empty())
                    for (unsigned gender = 0; gender < 2; ++gender)
                        if (avatar_rules::itemFitsGender(w.flag, gender))
                            m_textures.insert(itemTexture(*tex, gender));
            table.add({num(w.id), w.name, num(w.type), w.texPath, w.outModel, w.material, w.texHand, w.matHand,
                       w.texBody, w.matBody, w.texPants, w.matPants, w.texFoot, w.matFoot, num(w.flag),
                       num(w.hideBody)});
        }
        save(table);
    }

    void writeCreatureTables()
    {
        Table creatures = emptyTable(CreatureDB::layout());
        Table npcs = emptyTable(NpcDB::layout());
        Table objects = emptyTable(ObjectDB::layout());

        auto common = [&](const CreatureDef& def)
        {
            const std::string meshFile = def.meshBase + ".mesh";
            if (def.generated)
                requireMesh(meshFile);
            const std::string headImage = "head_" + def.meshBase + ".dds";
            m_textures.insert(headImage);
            return std::vector<std::string>{num(def.id),    num(def.scale), def.name,       meshFile,
                                            def.effects[0], def.effects[1], def.effects[2], def.effects[3],
                                            def.effects[4], headImage};
        };
        for (const auto& table : {std::make_pair(&creatures, &creatureDefs()), std::make_pair(&npcs, &npcDefs())})
        {
            for (const CreatureDef& def : *table.second)
            {
                std::vector<std::string> row = common(def);
                row.push_back(num(def.walkSpeed));
                row.push_back(num(def.runSpeed));
                // Attack lengths and hit times, in seconds; no reader converts them.
                for (int i = 1; i <= 8; ++i)
                {
                    row.push_back(num(0.6f + 0.1f * i));
                    row.push_back(num(0.3f + 0.05f * i));
                }
                row.push_back(num(def.cameraBias));
                row.push_back(num(def.beTransObject));
                table.first->add(row);
            }
        }
        for (const CreatureDef& def : objectDefs())
        {
            std::vector<std::string> row = common(def);
            row.push_back(num(def.cameraBias));
            row.push_back(num(def.beTransObject));
            objects.add(row);
        }
        save(creatures);
        save(npcs);
        save(objects);
    }

    void writeCharacterTables()
    {
        Table races = emptyTable(EWCharRacesDB::layout());
        races.add({"1", "HU", "Human", "Renlei", "1.0", "0", "0"});
        races.add({"2", "EL", "Elf", "Jingling", "1.0", "0", "0"});
        races.add({"3", "DW", "Dwarf", "Airen", "0.9", "0", "0"});
        save(races);

        Table sections = emptyTable(EWCharSectionsDB::layout());
        Table hairGeo = emptyTable(EWCharHairGeoDB::layout());
        Table facialHair = emptyTable(EWCharFacialHairDB::layout());
        for (unsigned race = 1; race <= s_raceCount; ++race)
        {
            for (unsigned gender = 0; gender < 2; ++gender)
            {
                auto section = [&](unsigned type, unsigned sec, unsigned colour, const std::string& tex)
                {
                    m_textures.insert(tex);
                    sections.add({num(sectionKey(race, gender, type, sec, colour)), num(race), num(gender), num(type),
                                  num(sec), num(colour), tex, "", "", "0"});
                };
                for (unsigned colour = 0; colour < s_skinColours; ++colour)
                    section(s_skinType, 0, colour, "skin_" + num(colour) + "_" + genderLetter(gender) + ".dds");
                for (unsigned face = 1; face <= s_faceTypes; ++face)
                    for (unsigned colour = 0; colour < s_skinColours; ++colour)
                        section(s_faceType, face, colour, faceTexture(gender, face, colour));
                for (unsigned style = 1; style <= s_hairStyles; ++style)
                {
                    for (unsigned colour = 0; colour < s_hairColours; ++colour)
                        section(s_hairType, style, colour, hairTexture(gender, style, colour));
                    requireGeoset(hairGeoset(style));
                    hairGeo.add({num(hairGeoKey(race, gender, style)), num(race), num(gender), num(style),
                                 hairGeoset(style), "", "0"});
                }
                const unsigned beardStyles = gender == 0 ? 3 : 1;
                for (unsigned style = 0; style < beardStyles; ++style)
                    facialHair.add({num(race), num(gender), num(style), num(style), "0", "0"});
            }
        }
        save(sections);
        save(hairGeo);
        save(facialHair);

        Table presets = emptyTable(EWBaseInfoDB::layout());
        unsigned id = 1;
        for (const PresetDef& p : presetDefs())
        {
            for (unsigned item : {p.head, p.shoulder, p.doublehand, p.shield, p.leftHand, p.rightHand, p.backLongWeapon,
                                  p.backShield, p.leftWaist, p.rightWaist})
                requireFit(p, item, itemDefs());
            for (unsigned item : {p.boot, p.belt, p.shirt, p.pants, p.glove})
                requireFit(p, item, wornDefs());
            presets.add({num(id++),
                         p.name,
                         num(p.race),
                         num(p.gender),
                         num(p.facialHairStyle),
                         num(p.hairStyle),
                         num(p.hairColor),
                         num(p.skinColor),
                         num(p.faceType),
                         num(p.head),
                         num(p.shoulder),
                         num(p.boot),
                         num(p.belt),
                         num(p.shirt),
                         num(p.pants),
                         num(p.doublehand),
                         num(p.shield),
                         num(p.glove),
                         num(p.leftHand),
                         num(p.rightHand),
                         num(p.backLongWeapon),
                         num(p.backShield),
                         num(p.leftWaist),
                         num(p.rightWaist),
                         "0"});
        }
        save(presets);
    }

    std::string m_dir;
    std::vector<Ogre::MaterialPtr> m_bodyMaterials;
    std::vector<Ogre::MaterialPtr> m_itemMaterials;
    std::vector<Ogre::MaterialPtr> m_creatureMaterials;
    std::vector<Ogre::MaterialPtr> m_effectMaterials;
    std::set<std::string> m_textures;
    std::set<std::string> m_meshes;
};
} // namespace

bool writeContentPack(const std::string& directory, std::string& error)
{
    Ogre::ResourceGroupManager& groups = Ogre::ResourceGroupManager::getSingleton();
    if (!groups.resourceGroupExists(s_group))
        groups.createResourceGroup(s_group, false);
    bool ok = false;
    try
    {
        PackWriter(directory).run();
        ok = true;
    }
    catch (const Ogre::Exception& e)
    {
        error = e.getDescription();
    }
    catch (const std::exception& e)
    {
        error = e.what();
    }
    groups.destroyResourceGroup(s_group);
    return ok;
}
