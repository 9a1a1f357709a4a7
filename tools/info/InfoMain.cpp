// polyvant-info: imports model files through the plug-ins and prints per file and per
// object what a user checking a model wants to know.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <vector>

#include <polyvant/Obj3d.h>
#include <polyvant/Plugin.h>

#include "HeadlessHost.h"
#include "ImportCheck.h"
#include "ImportClassLookup.h"
#include "MeshReport.h"
#include "PluginManager.h"
#include "tools/common/ToolSupport.h"

namespace {

using namespace polyvant;
using namespace polyvant::tools;

const char kUsage[] =
    "Usage: polyvant-info [OPTION]... FILE...\n"
    "Imports each FILE through the format plug-ins and prints per object its name, face\n"
    "and vertex counts, bounding box, degenerate and duplicate faces, boundary and\n"
    "non-manifold edges, and the time the import took.\n"
    "\n"
    "The import class comes from the file's extension, as in the viewer: the viewer's\n"
    "extension table first, then the first import class whose name lists \"*.EXT\".\n"
    "\n"
    "Options:\n"
    "  --json                 print one JSON document for scripts\n"
    "  --from CLASS           import with CLASS (name, extension or unique name prefix)\n"
    "  --option NAME=VALUE    set an option of the import class (repeatable); a value\n"
    "                         that does not fit fails the file\n"
    "  --list                 print the import and export classes and exit\n"
    "  --plugin-dir DIR       load the plug-ins from DIR (default: plugin/ beside\n"
    "                         the program, or ../lib/polyvant/plugin/)\n"
    "  --version              print the version and exit\n"
    "  -h, --help             show this help and exit\n"
    "\n"
    "Counts: a duplicate face has the same three corners as an earlier one; a\n"
    "degenerate face repeats a corner or has no area, duplicates not counted again; a\n"
    "boundary edge belongs to one face, a non-manifold edge to three or more.\n"
    "Welded vertices count equal positions once; positions closer than 1e-6 merge\n"
    "only when they happen to share a hash bucket, as in the viewer.\n"
    "\n"
    "What plug-ins print goes to standard error; standard output holds the report.\n"
    "\n"
    "Exit status: 0 when every file was imported, 1 when any was not or an --option\n"
    "was offered by no import class used, 2 on a usage error.\n";

struct FileResult {
    std::string file;
    std::string className;
    bool ok = false;
    double seconds = 0;
    std::vector<MeshReport> meshes;
    std::uint32_t otherObjects = 0;
    std::vector<HeadlessHost::Message> messages;
};

const char* SeverityName(PvSeverity severity)
{
    static const char* const kNames[] = {"info", "warning", "error"};
    return severity >= PV_INFO && severity <= PV_ERROR ? kNames[severity] : "error";
}

FileResult InspectFile(const PluginManager& manager, HeadlessHost& host,
                       const ExtensionTable& table, int forcedClass, const std::string& file)
{
    FileResult result;
    result.file = file;
    host.ClearMessages();
    // What is not a file gets the same words as in polyvant-convert, whatever its name.
    struct stat st {};
    std::string notAFile;
    if (::stat(file.c_str(), &st) != 0)
        notAFile = std::string("cannot read: ") + std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        notAFile = "not a regular file";
    if (!notAFile.empty()) {
        host.Report(PV_ERROR, (file + ": " + notAFile).c_str());
        result.messages = host.Messages();
        return result;
    }
    const int position = forcedClass >= 0
                             ? forcedClass
                             : FindImportClass(manager, table.extensions, table.classes, file);
    if (position < 0) {
        host.Report(PV_ERROR, (file + ": extension not recognized").c_str());
        result.messages = host.Messages();
        return result;
    }
    ClassDescriptor* descriptor = manager.GetClass(position);
    result.className = ClassNameOf(descriptor);
    auto* importer = static_cast<Importer*>(descriptor->Create());
    if (!importer) {
        host.Report(PV_ERROR, (file + ": the import class could not be started").c_str());
        result.messages = host.Messages();
        return result;
    }
    if (host.HasOptions()) {
        // A value that does not fit its option fails the file, as in polyvant-convert.
        const std::size_t mark = host.Messages().size();
        importer->Options();
        for (std::size_t i = mark; i < host.Messages().size(); ++i) {
            if (host.Messages()[i].severity == PV_ERROR) {
                importer->Release();
                result.messages = host.Messages();
                return result;
            }
        }
    }
    std::error_code ec;
    const std::string path = std::filesystem::absolute(file, ec).string();
    const double start = MonotonicSeconds();
    ObjectList* list = importer->ImportFile(path.c_str());
    result.seconds = MonotonicSeconds() - start;
    const CheckedImport checked = CheckImportedList(list);
    for (const ImportProblem& problem : checked.problems)
        host.Report(PV_WARNING,
                    (file + ": object " + problem.object + " skipped: " + problem.reason).c_str());
    for (Obj3d* object : checked.objects) {
        if (object->type == kMeshType)
            result.meshes.push_back(AnalyseMesh(*static_cast<Mesh3d*>(object)));
        else
            ++result.otherObjects;
    }
    result.ok = list != nullptr && !result.meshes.empty();
    if (list && result.meshes.empty())
        host.Report(PV_ERROR, (file + ": no meshes imported").c_str());
    importer->Release();
    result.messages = host.Messages();
    return result;
}

void PrintText(const FileResult& r)
{
    std::uint64_t faces = 0, vertices = 0;
    for (const MeshReport& m : r.meshes) {
        faces += m.faces;
        vertices += m.vertices;
    }
    if (r.ok)
        std::printf("%s: \"%s\", %s, %s, %s, imported in %.3f s\n", r.file.c_str(),
                    r.className.c_str(),
                    Counted(r.meshes.size() + r.otherObjects, "object", "objects").c_str(),
                    Counted(faces, "face", "faces").c_str(),
                    Counted(vertices, "vertex", "vertices").c_str(), r.seconds);
    else
        std::printf("%s: not imported\n", r.file.c_str());
    for (const MeshReport& m : r.meshes) {
        std::printf("  object \"%s\": %s, %s", m.name.c_str(),
                    Counted(m.faces, "face", "faces").c_str(),
                    Counted(m.vertices, "vertex", "vertices").c_str());
        if (m.hasBounds)
            std::printf(", bounds (%g, %g, %g) - (%g, %g, %g)", m.min[0], m.min[1], m.min[2],
                        m.max[0], m.max[1], m.max[2]);
        std::printf("\n");
        if (m.topology)
            std::printf(
                "    %s, %s, %s, %s, %s\n",
                Counted(m.weldedVertices, "welded vertex", "welded vertices").c_str(),
                Counted(m.degenerateFaces, "degenerate face", "degenerate faces").c_str(),
                Counted(m.duplicateFaces, "duplicate face", "duplicate faces").c_str(),
                Counted(m.boundaryEdges, "boundary edge", "boundary edges").c_str(),
                Counted(m.nonManifoldEdges, "non-manifold edge", "non-manifold edges").c_str());
        else if (m.faces > 0)
            std::printf("    topology could not be built\n");
    }
    if (r.otherObjects)
        std::printf("  %s (lights, ...)\n",
                    Counted(r.otherObjects, "other object", "other objects").c_str());
    for (const HeadlessHost::Message& message : r.messages)
        std::fprintf(r.ok ? stdout : stderr, "  %s: %s\n", SeverityName(message.severity),
                     message.text.c_str());
}

std::string JsonNumber(double value)
{
    if (!std::isfinite(value))
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string JsonVector(const double* v)
{
    return "[" + JsonNumber(v[0]) + ", " + JsonNumber(v[1]) + ", " + JsonNumber(v[2]) + "]";
}

void PrintJson(const std::vector<FileResult>& results)
{
    std::string out = "{\"files\": [";
    for (std::size_t i = 0; i < results.size(); ++i) {
        const FileResult& r = results[i];
        out += i ? ",\n  {" : "\n  {";
        out += "\"file\": " + JsonString(r.file);
        out += ", \"class\": " + JsonString(r.className);
        out += ", \"imported\": " + std::string(r.ok ? "true" : "false");
        out += ", \"importSeconds\": " + JsonNumber(r.seconds);
        out += ", \"otherObjects\": " + std::to_string(r.otherObjects);
        out += ", \"objects\": [";
        for (std::size_t k = 0; k < r.meshes.size(); ++k) {
            const MeshReport& m = r.meshes[k];
            out += k ? ", {" : "{";
            out += "\"name\": " + JsonString(m.name);
            out += ", \"faces\": " + std::to_string(m.faces);
            out += ", \"vertices\": " + std::to_string(m.vertices);
            if (m.hasBounds)
                out += ", \"min\": " + JsonVector(m.min) + ", \"max\": " + JsonVector(m.max);
            if (m.topology) {
                out += ", \"weldedVertices\": " + std::to_string(m.weldedVertices);
                out += ", \"degenerateFaces\": " + std::to_string(m.degenerateFaces);
                out += ", \"duplicateFaces\": " + std::to_string(m.duplicateFaces);
                out += ", \"boundaryEdges\": " + std::to_string(m.boundaryEdges);
                out += ", \"nonManifoldEdges\": " + std::to_string(m.nonManifoldEdges);
            }
            out += "}";
        }
        out += "], \"messages\": [";
        for (std::size_t k = 0; k < r.messages.size(); ++k) {
            out += k ? ", {" : "{";
            out += "\"severity\": " + JsonString(SeverityName(r.messages[k].severity));
            out += ", \"text\": " + JsonString(r.messages[k].text) + "}";
        }
        out += "]}";
    }
    out += "\n]}\n";
    std::fputs(out.c_str(), stdout);
}

// While plug-ins run, what they print goes to standard error: standard output carries
// the report, which scripts parse (--json above all).
class PluginOutputToStderr {
public:
    PluginOutputToStderr()
    {
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        if (saved >= 0)
            dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    ~PluginOutputToStderr()
    {
        std::fflush(stdout);
        if (saved >= 0) {
            dup2(saved, STDOUT_FILENO);
            close(saved);
        }
    }
    PluginOutputToStderr(const PluginOutputToStderr&) = delete;
    PluginOutputToStderr& operator=(const PluginOutputToStderr&) = delete;

private:
    int saved = -1;
};

} // namespace

int main(int argc, char** argv)
{
    RestoreChildSignal();
    std::string pluginDir;
    std::string fromClass;
    bool json = false;
    bool list = false;
    std::vector<std::string> files;
    HeadlessHost host;
    bool switchesEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (switchesEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
            continue;
        }
        std::string name, value, problem;
        if (arg == "--") {
            switchesEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            PrintVersion("polyvant-info");
            return 0;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--list") {
            list = true;
        } else if (TakeOptionValue(argc, argv, i, arg, {"--plugin-dir", "--from", "--option"}, name,
                                   value, problem)) {
            std::string error;
            if (!problem.empty()) {
                std::fprintf(stderr, "polyvant-info: %s (see --help)\n", problem.c_str());
                return 2;
            }
            if (name == "--plugin-dir")
                pluginDir = value;
            else if (name == "--from")
                fromClass = value;
            else if (!host.SetOption(value, &error)) {
                std::fprintf(stderr, "polyvant-info: %s\n", error.c_str());
                return 2;
            }
        } else {
            std::fprintf(stderr, "polyvant-info: unknown option %s (see --help)\n", arg.c_str());
            return 2;
        }
    }
    if (files.empty() && !list) {
        std::fprintf(stderr, "polyvant-info: no file given (see --help)\n");
        return 2;
    }
    if (pluginDir.empty())
        pluginDir = DefaultPluginDirectory();

    std::vector<FileResult> results;
    bool optionsUnused = false;
    {
        // The stored table is read by a child while the plug-ins load here; --from names
        // the import class of every file, and the table is not needed.
        ExtensionTableReader tableReader;
        if (!list && fromClass.empty())
            tableReader.Start(SettingsReaderModulePath());
        PluginManager manager;
        manager.SetHostServices(host.Services());
        {
            PluginOutputToStderr quiet;
            manager.ScanDirectory(pluginDir.c_str(), kPluginInterfaceVersion);
        }
        if (manager.ClassCount() == 0) {
            std::fprintf(stderr, "polyvant-info: no plug-ins found in %s (see --plugin-dir)\n",
                         pluginDir.c_str());
            return 2;
        }
        if (list) {
            PrintClassList(manager);
            return 0;
        }
        int forced = -1;
        if (!fromClass.empty()) {
            std::string why;
            forced = FindClassByText(manager, kImportSuperClassId, fromClass, &why);
            if (forced < 0) {
                std::fprintf(stderr, "polyvant-info: %s\n", why.c_str());
                return 2;
            }
        }
        const ExtensionTable table = tableReader.Take();
        if (!table.notice.empty())
            std::fprintf(stderr, "polyvant-info: %s\n", table.notice.c_str());
        for (const std::string& file : files) {
            {
                PluginOutputToStderr quiet;
                results.push_back(InspectFile(manager, host, table, forced, file));
            }
            if (!json)
                PrintText(results.back());
            std::fflush(stdout);
        }
        for (const std::string& name : host.UnusedOptions()) {
            std::fprintf(stderr, "polyvant-info: no import class used has an option %s\n",
                         name.c_str());
            optionsUnused = true;
        }
    }
    if (json)
        PrintJson(results);
    if (optionsUnused)
        return 1;
    for (const FileResult& r : results) {
        if (!r.ok)
            return 1;
    }
    return 0;
}
