#pragma once
#include <functional>

#include <QString>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>
#include <polyvant/Plugin.h>

class QComboBox;

namespace polyvant {

class PluginManager;

// One of the application's class tables: class-list positions of the import (or
// export) classes, the selected entry, and whether the dialogs may use them.
struct ClassTable {
    const int* classes = nullptr;
    int count = 0;
    int* current = nullptr; // the dialogs write the selection here at once
    bool available = false;
};

// What the Import and Export dialogs use of the application: the plug-ins, the class
// tables, the scene and its bookkeeping. The program forwards to its application
// object; tests use SceneFieldsHost over lists of their own.
class DialogHost {
public:
    virtual ~DialogHost() = default;
    virtual PluginManager* Plugins() = 0;
    virtual ClassTable ImportTable() = 0;
    virtual ClassTable ExportTable() = 0;
    // The scene list itself (exporters receive it); may be null.
    virtual ObjectList* SceneObjects() = 0;
    virtual bool ClearFlag() = 0;
    // Totals zeroed, scene emptied, kept importers released.
    virtual void ClearScene() = 0;
    virtual void ClearLights() = 0;
    // Appends to the scene list / keeps the importer (which owns the objects).
    virtual void AddToScene(Obj3d* object) = 0;
    virtual void KeepImporter(Importer* importer) = 0;
    // Meshes, faces and vertices of the scene's meshes into the totals.
    virtual void UpdateSceneCounts() = 0;
    virtual void SetTitle(const QString& title) = 0;
};

// The importers list's item deleter: Release.
void ReleaseImporterItem(void* item);

// A DialogHost over the fields themselves, as the application keeps them (pointers
// to its members). ClearScene, ClearLights and UpdateSceneCounts do what the
// application's own do.
class SceneFieldsHost : public DialogHost {
public:
    PluginManager* pluginManager = nullptr;
    ClassTable importTable;
    ClassTable exportTable;
    ObjectList** sceneObjects = nullptr; // no deleter
    ObjectList** importers = nullptr;    // deleter releases (kept when replaced)
    ObjectList** lights = nullptr;       // deleter kept when replaced
    const int* clearFlag = nullptr;
    int* meshCount = nullptr;
    int* faceCount = nullptr;
    int* vertexCount = nullptr;
    std::function<void(const QString&)> setTitle; // the main window's title

    PluginManager* Plugins() override { return pluginManager; }
    ClassTable ImportTable() override { return importTable; }
    ClassTable ExportTable() override { return exportTable; }
    ObjectList* SceneObjects() override { return sceneObjects ? *sceneObjects : nullptr; }
    bool ClearFlag() override { return clearFlag && *clearFlag != 0; }
    void ClearScene() override;
    void ClearLights() override;
    void AddToScene(Obj3d* object) override;
    void KeepImporter(Importer* importer) override;
    void UpdateSceneCounts() override;
    void SetTitle(const QString& text) override;
};

// Fills a dialog's class list from a table: the "(none)" entry gives way to the class
// names in table order, and the table's current entry is selected (without signals).
void FillClassCombo(QComboBox* combo, PluginManager* plugins, const ClassTable& table);

// A plug-in's message without a leading "FILE: ", for a box whose heading names FILE.
QString WithoutFileName(const QString& message, const QString& file);
// The list's selection becomes the table's current entry at once.
void SelectTableEntry(const ClassTable& table, int index);

// The class a table entry names, or null (no plug-ins, entry or position out of range).
ClassDescriptor* TableClass(PluginManager* plugins, const ClassTable& table, int entry);

} // namespace polyvant
