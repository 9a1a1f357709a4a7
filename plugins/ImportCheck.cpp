#include "ImportCheck.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace polyvant {
namespace {

constexpr std::size_t kMaxNameLength = 4096;

bool ByteSize(std::uint64_t count, std::uint64_t recordSize, std::size_t* bytes) noexcept
{
    std::uint64_t total = 0;
    if (__builtin_mul_overflow(count, recordSize, &total) || total > PTRDIFF_MAX)
        return false;
    *bytes = static_cast<std::size_t>(total);
    return true;
}

bool Finite3(const double* p) noexcept
{
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

std::string ObjectLabel(const Obj3d* object, std::size_t position)
{
    if (object && object->name) {
        if (auto name = PluginText(object->name, kMaxNameLength))
            return *name;
    }
    return "object " + std::to_string(position + 1);
}

} // namespace

std::optional<std::string> PluginText(const char* text, std::size_t maxLength)
{
    if (!text)
        return std::nullopt;
    const std::size_t length = strnlen(text, maxLength + 1);
    if (length > maxLength)
        return std::nullopt;
    return std::string(text, length);
}

std::string CheckMesh(const Mesh3d& mesh)
{
    if (mesh.vertices || mesh.faces || mesh.edges)
        return "handed over with topology (the host builds it)";
    if (mesh.name && !PluginText(mesh.name, kMaxNameLength))
        return "name longer than " + std::to_string(kMaxNameLength) + " bytes";
    std::size_t bytes = 0;
    if (!ByteSize(mesh.vertexCount, kVertexDoubles * sizeof(double), &bytes))
        return "vertex count " + std::to_string(mesh.vertexCount) + " overflows";
    if (!ByteSize(mesh.faceCount, kFaceWords * sizeof(std::uint32_t), &bytes))
        return "face count " + std::to_string(mesh.faceCount) + " overflows";
    if (mesh.vertexCount > 0 && !mesh.vertexData)
        return std::to_string(mesh.vertexCount) + " vertices but no vertex data";
    if (mesh.faceCount > 0 && !mesh.faceData)
        return std::to_string(mesh.faceCount) + " faces but no face data";

    for (std::uint32_t v = 0; v < mesh.vertexCount; ++v) {
        if (!Finite3(mesh.vertexData + std::size_t(v) * kVertexDoubles))
            return "vertex " + std::to_string(v) + " has a non-finite coordinate";
    }
    for (std::uint32_t f = 0; f < mesh.faceCount; ++f) {
        const std::uint32_t* face = mesh.faceData + std::size_t(f) * kFaceWords;
        for (unsigned corner = 0; corner < 3; ++corner) {
            if (face[corner] >= mesh.vertexCount)
                return "face " + std::to_string(f) + " uses vertex " +
                       std::to_string(face[corner]) + " of " + std::to_string(mesh.vertexCount);
        }
    }
    if (!mesh.boundsEmpty && !(Finite3(mesh.min) && Finite3(mesh.max)))
        return "bounds are not finite";
    return "";
}

CheckedImport CheckImportedList(const ObjectList* list)
{
    CheckedImport result;
    if (!list)
        return result;
    if (list->count < 0) {
        result.problems.push_back(
            {"list", "count " + std::to_string(list->count) + " is negative; nothing read"});
        return result;
    }
    const auto count = static_cast<std::size_t>(list->count);

    // Brent's cycle check: a loop of nodes is caught long before count steps.
    const ListNode* node = list->head;
    const ListNode* mark = node;
    std::size_t power = 1;
    std::size_t steps = 0;
    std::size_t walked = 0;
    bool loop = false;
    for (; node && walked < count; ++walked) {
        if (walked > 0 && node == mark) {
            loop = true;
            break;
        }
        if (++steps == power) {
            mark = node;
            power *= 2;
            steps = 0;
        }
        auto* object = static_cast<Obj3d*>(node->item);
        if (!object) {
            result.problems.push_back({ObjectLabel(nullptr, walked), "null item in the list"});
        } else if (object->type == kMeshType) {
            std::string why = CheckMesh(*static_cast<const Mesh3d*>(object));
            if (why.empty())
                result.objects.push_back(object);
            else
                result.problems.push_back({ObjectLabel(object, walked), std::move(why)});
        } else {
            result.objects.push_back(object);
        }
        node = node->next;
    }
    if (loop)
        result.problems.push_back({"list", "nodes form a loop; read " + std::to_string(walked) +
                                               " of " + std::to_string(count)});
    else if (walked < count)
        result.problems.push_back({"list", "count " + std::to_string(count) + " but only " +
                                               std::to_string(walked) + " nodes"});
    else if (node)
        result.problems.push_back(
            {"list", "more nodes than the count " + std::to_string(count) + "; the rest ignored"});
    return result;
}

} // namespace polyvant
