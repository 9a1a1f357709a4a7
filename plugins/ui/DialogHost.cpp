#include "DialogHost.h"

#include <QComboBox>
#include <QSignalBlocker>

#include <polyvant/Obj3d.h>

#include "plugins/ImportCheck.h"
#include "plugins/PluginManager.h"

namespace polyvant {

void ReleaseImporterItem(void* item)
{
    if (item)
        static_cast<PluginObject*>(item)->Release();
}

void SceneFieldsHost::ClearScene()
{
    for (int* total : {meshCount, faceCount, vertexCount})
        if (total)
            *total = 0;
    if (sceneObjects && *sceneObjects) {
        delete *sceneObjects;
        *sceneObjects = new ObjectList(nullptr);
    }
    // After the scene list: nothing may point at objects whose importer is gone.
    if (importers && *importers) {
        const ItemDeleter deleter = (*importers)->deleter;
        delete *importers;
        *importers = new ObjectList(deleter ? deleter : ReleaseImporterItem);
    }
}

void SceneFieldsHost::ClearLights()
{
    if (lights && *lights) {
        const ItemDeleter deleter = (*lights)->deleter;
        delete *lights;
        *lights = new ObjectList(deleter);
    }
}

void SceneFieldsHost::AddToScene(Obj3d* object)
{
    if (sceneObjects && *sceneObjects)
        (*sceneObjects)->Append(object);
}

void SceneFieldsHost::KeepImporter(Importer* importer)
{
    if (importers && *importers)
        (*importers)->Append(static_cast<PluginObject*>(importer));
    // Without a list the importer is left alive: its objects may be in the scene.
}

void SceneFieldsHost::UpdateSceneCounts()
{
    int meshes = 0, faces = 0, vertices = 0;
    if (ObjectList* scene = SceneObjects()) {
        for (ListNode* node = scene->head; node; node = node->next) {
            auto* object = static_cast<Obj3d*>(node->item);
            if (!object || object->type != kMeshType)
                continue;
            const auto* mesh = static_cast<const Mesh3d*>(object);
            meshes += 1;
            faces += int(mesh->faceCount);
            vertices += int(mesh->vertexCount);
        }
    }
    if (meshCount)
        *meshCount = meshes;
    if (faceCount)
        *faceCount = faces;
    if (vertexCount)
        *vertexCount = vertices;
}

void SceneFieldsHost::SetTitle(const QString& text)
{
    if (setTitle)
        setTitle(text);
}

ClassDescriptor* TableClass(PluginManager* plugins, const ClassTable& table, int entry)
{
    if (!plugins || !table.classes || entry < 0 || entry >= table.count)
        return nullptr;
    return plugins->GetClass(table.classes[entry]);
}

void FillClassCombo(QComboBox* combo, PluginManager* plugins, const ClassTable& table)
{
    const QSignalBlocker block(combo);
    if (table.count != 0 && table.classes)
        combo->removeItem(0);
    for (int k = 0; table.classes && k < table.count; ++k) {
        ClassDescriptor* d = TableClass(plugins, table, k);
        const auto name = PluginText(d ? d->ClassName() : nullptr);
        combo->addItem(name ? QString::fromStdString(*name) : QStringLiteral("(unnamed)"));
    }
    if (table.current && *table.current >= 0 && *table.current < combo->count())
        combo->setCurrentIndex(*table.current);
}

void SelectTableEntry(const ClassTable& table, int index)
{
    if (table.current && index >= 0 && index < table.count)
        *table.current = index;
}

QString WithoutFileName(const QString& message, const QString& file)
{
    const QString prefix = file + QStringLiteral(": ");
    return !file.isEmpty() && message.startsWith(prefix) ? message.mid(prefix.size()) : message;
}

} // namespace polyvant
