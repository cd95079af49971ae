#include "buildfloor.h"

#include "avatarsystem/attachmodel.h"
#include "avatarsystem/characterinstance.h"
#include "avatarsystem/creatureinstance.h"
#include "effects/effectmanager.h"

#include <Ogre.h>
#include <OgreTagPoint.h>

#include <map>

namespace
{

std::string boneOf(const Ogre::MovableObject* object)
{
    if (!object || !object->isParentTagPoint())
        return std::string();
    return object->getParentNode()->getParent()->getName();
}

std::string firstTexture(const Ogre::MaterialPtr& material)
{
    if (!material || material->getNumTechniques() == 0 || material->getTechnique(0)->getNumPasses() == 0)
        return std::string();
    Ogre::Pass* pass = material->getTechnique(0)->getPass(0);
    return pass->getNumTextureUnitStates() ? pass->getTextureUnitState(0)->getTextureName() : std::string();
}

/// The effects hung on the bones of entity.
std::vector<BuildRecipe::Hung> effectsOn(Ogre::Entity* entity)
{
    std::vector<BuildRecipe::Hung> hung;
    EffectManager* effects = EffectManager::getSingletonPtr();
    for (Ogre::MovableObject* object : entity->getAttachedObjects())
    {
        const std::string& name = object->getName();
        if (const Effect* effect = effects->getEffect(name))
            hung.push_back({effect->getKind(), boneOf(object)});
    }
    return hung;
}

} // namespace

BuildRecipe BuildRecipe::record(IInstance& avatar)
{
    BuildRecipe recipe;
    Ogre::Entity* body = avatar.getEntityPtr();
    recipe.mesh = body->getMesh()->getName();
    recipe.renderQueueGroup = body->getRenderQueueGroup();
    std::map<const Ogre::Material*, int> copied;
    std::vector<std::string> own;
    if (avatar.getInstanceType() == INSTANCE_CHARACTER)
        own = static_cast<CharacterInstance&>(avatar).getMaterialCopies();
    else
        own = static_cast<CreatureInstance&>(avatar).getClonedMaterials();
    auto keep = [&](const Ogre::MaterialPtr& material) -> int
    {
        auto found = copied.find(material.get());
        if (found != copied.end())
            return found->second;
        const std::string name = "floor/" + std::to_string(recipe.materials.size()) + "/" + material->getName();
        material->clone(name);
        recipe.materials.push_back(name);
        return copied[material.get()] = static_cast<int>(recipe.materials.size() - 1);
    };
    for (unsigned i = 0; i < body->getNumSubEntities(); ++i)
    {
        Ogre::SubEntity* sub = body->getSubEntity(i);
        Part part;
        part.visible = sub->isVisible();
        const Ogre::MaterialPtr& material = sub->getMaterial();
        if (std::find(own.begin(), own.end(), material->getName()) != own.end())
        {
            part.material = keep(material);
            part.texture = firstTexture(material);
        }
        recipe.parts.push_back(part);
    }
    recipe.effects = effectsOn(body);
    if (avatar.getInstanceType() == INSTANCE_CHARACTER)
        for (const CharacterInstance::CarriedModel& model : static_cast<CharacterInstance&>(avatar).getCarriedModels())
        {
            Ogre::Entity* entity = model.model ? model.model->getEntity() : nullptr;
            if (!entity)
                continue;
            Carried carried;
            carried.mesh = entity->getMesh()->getName();
            carried.bone = model.model->getBoneName();
            for (unsigned i = 0; i < entity->getNumSubEntities(); ++i)
                carried.materials.push_back(keep(entity->getSubEntity(i)->getMaterial()));
            carried.effects = effectsOn(entity);
            recipe.carried.push_back(carried);
        }
    return recipe;
}

void BuildRecipe::forget()
{
    for (const std::string& name : materials)
        Ogre::MaterialManager::getSingleton().remove(name, Ogre::RGN_AUTODETECT);
    materials.clear();
}

FloorBuild::FloorBuild(Ogre::SceneManager& scene, const BuildRecipe& recipe, Ogre::Entity* body)
    : m_scene(scene), m_body(body), m_ownBody(body == nullptr)
{
    static unsigned long s_serial = 0;
    const std::string serial = std::to_string(++s_serial);
    if (!m_body)
        m_body = scene.createEntity("floor/" + serial, recipe.mesh);
    m_body->setRenderQueueGroup(recipe.renderQueueGroup);
    m_copies.resize(recipe.materials.size());
    Ogre::MaterialManager& materials = Ogre::MaterialManager::getSingleton();
    auto copy = [&](int index) -> const Ogre::MaterialPtr&
    {
        Ogre::MaterialPtr& made = m_copies[static_cast<std::size_t>(index)];
        if (!made)
            made = materials.getByName(recipe.materials[static_cast<std::size_t>(index)], Ogre::RGN_AUTODETECT)
                       ->clone(recipe.materials[static_cast<std::size_t>(index)] + "#" + serial);
        return made;
    };
    for (unsigned i = 0; i < recipe.parts.size(); ++i)
    {
        const BuildRecipe::Part& part = recipe.parts[i];
        Ogre::SubEntity* sub = m_body->getSubEntity(i);
        sub->setVisible(part.visible);
        if (part.material < 0)
            continue;
        const Ogre::MaterialPtr& material = copy(part.material);
        sub->setMaterial(material);
        if (!part.texture.empty())
            material->getTechnique(0)->getPass(0)->getTextureUnitState(0)->setTextureName(part.texture);
    }
    EffectManager* effects = EffectManager::getSingletonPtr();
    auto hang = [&](Ogre::Entity* owner, const std::vector<BuildRecipe::Hung>& hung)
    {
        for (const BuildRecipe::Hung& h : hung)
            if (Effect* effect = effects->addEffect(h.kind))
            {
                owner->attachObjectToBone(h.bone, *effect);
                effect->show();
                m_effects.push_back(*effect);
            }
    };
    hang(m_body, recipe.effects);
    for (const BuildRecipe::Carried& carried : recipe.carried)
    {
        Ogre::Entity* entity =
            scene.createEntity("floor/" + serial + "/" + std::to_string(m_carried.size()), carried.mesh);
        for (unsigned i = 0; i < carried.materials.size(); ++i)
            entity->getSubEntity(i)->setMaterial(copy(carried.materials[i]));
        entity->setRenderQueueGroup(recipe.renderQueueGroup);
        m_body->attachObjectToBone(carried.bone, entity);
        hang(entity, carried.effects);
        m_carried.push_back(entity);
    }
}

FloorBuild::~FloorBuild()
{
    EffectManager* effects = EffectManager::getSingletonPtr();
    for (Ogre::MovableObject* object : m_effects)
    {
        if (object->isParentTagPoint())
            static_cast<Ogre::TagPoint*>(object->getParentNode())->getParentEntity()->detachObjectFromBone(object);
        effects->freeEffect(object->getName(), false);
    }
    for (Ogre::Entity* entity : m_carried)
    {
        m_body->detachObjectFromBone(entity);
        m_scene.destroyEntity(entity);
    }
    // A body that stays (pooled) goes back to the mesh's own materials before its copies go.
    for (unsigned i = 0; !m_ownBody && i < m_body->getNumSubEntities(); ++i)
        m_body->getSubEntity(i)->setMaterial(Ogre::MaterialManager::getSingleton().getByName(
            m_body->getSubEntity(i)->getSubMesh()->getMaterialName(), Ogre::RGN_AUTODETECT));
    if (m_ownBody)
        m_scene.destroyEntity(m_body);
    for (Ogre::MaterialPtr& copy : m_copies)
        if (copy)
            Ogre::MaterialManager::getSingleton().remove(copy);
}
