#pragma once
// What format tests share: a recorder standing in for the host services, private
// temporary folders, loading a plug-in library, and the checks every imported mesh
// must pass.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <polyvant/sdk.h>

#include "common/PluginSupport.h"

namespace polyvant::formats::test {

std::string TestData(const std::string& relative); // path under the shared sample files
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

// A fresh folder under the system temp dir, removed with its contents afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path; }
    std::string File(const std::string& name) const { return path + "/" + name; }
    // Names in the folder, sorted (to see left-over temporary files).
    std::vector<std::string> List() const;

private:
    std::string path;
};

struct HostMessage {
    std::int32_t severity;
    std::string text;
};

// Host services that record what a plug-in reports and answer file prompts with
// preset paths. Installing it hands the table to the readers linked into the test
// (and to a plug-in through its LibSetHostServices).
class HostRecorder {
public:
    HostRecorder();
    ~HostRecorder();
    const PvHostServices* Table() const { return &table; }

    std::string openAnswer;            // what askOpenFile returns ("" = cancel)
    std::string saveAnswer;            // what askSaveFile returns ("" = cancel)
    int cancelAfterProgressCalls = -1; // progress answers "cancel" after this many calls
    int progressCalls = 0;
    std::vector<HostMessage> messages;
    std::string lastAskedPatterns;

    std::vector<std::string> Texts(std::int32_t severity) const;
    std::string AllText() const;
    void Clear() { messages.clear(); }

private:
    PvHostServices table{};
};

// A plug-in library loaded with dlopen from the build's plug-in folder.
class PluginLib {
public:
    explicit PluginLib(const std::string& fileName); // e.g. "obj.so"
    ~PluginLib();
    bool Loaded() const { return handle != nullptr; }
    const std::string& Error() const { return error; }
    void* Symbol(const char* name) const;
    ClassDescriptor* FindClass(const std::string& className, std::uint32_t superClass) const;
    void SetHost(const HostRecorder& host) const;

private:
    void* handle = nullptr;
    std::string error;
};

// Releases a plug-in object on scope exit.
struct ReleaseObject {
    void operator()(PluginObject* object) const
    {
        if (object)
            object->Release();
    }
};
using ImporterPtr = std::unique_ptr<Importer, ReleaseObject>;
using ExporterPtr = std::unique_ptr<Exporter, ReleaseObject>;

// GoogleTest failures for any broken invariant of an imported mesh: type, null
// topology, indices below vertexCount, finite coordinates, bounds equal to the
// vertices' extent.
void ExpectValidMesh(const Mesh3d& mesh);

// Calls read(buffer, size) on a copy of `bytes` in a block of exactly their size, so that
// ASan sees a read past the end. Returns the FormatError's text, or "" after checking
// every mesh read.
template <class ReadFn>
std::string ReadExactly(const std::string& bytes,
                        const std::vector<std::unique_ptr<Mesh3d>>& meshes, ReadFn read)
{
    std::unique_ptr<char[]> copy(new char[bytes.size() ? bytes.size() : 1]);
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    try {
        read(static_cast<const char*>(copy.get()), bytes.size());
    } catch (const FormatError& e) {
        return e.what();
    }
    for (const auto& mesh : meshes)
        ExpectValidMesh(*mesh);
    return "";
}
std::size_t DistinctPositions(const Mesh3d& mesh);
std::size_t TotalFaces(const ObjectList* list);
std::vector<const Mesh3d*> Meshes(const ObjectList* list);
// Positions of every triangle corner in order: compares geometry whatever the
// vertex numbering.
std::vector<double> CornerPositions(const Mesh3d& mesh);
// Every mesh of `a` equals the one at the same position of `b`: names, vertices and
// the three index words of every face.
void ExpectSameMeshes(const std::vector<const Mesh3d*>& a, const std::vector<const Mesh3d*>& b);

} // namespace polyvant::formats::test
