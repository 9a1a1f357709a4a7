#include "raw/RawReader.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "common/MeshBuilder.h"
#include "common/PluginSupport.h"
#include "common/TextScan.h"

namespace polyvant::formats::raw {

namespace {

struct Position {
    double x, y, z;
    bool operator==(const Position& o) const { return x == o.x && y == o.y && z == o.z; }
};

struct PositionHash {
    std::size_t operator()(const Position& p) const noexcept
    {
        // +0.0 folds -0.0 into 0.0, which compares equal and must hash equal.
        std::uint64_t bits[3];
        const double v[3] = {p.x + 0.0, p.y + 0.0, p.z + 0.0};
        std::memcpy(bits, v, sizeof bits);
        std::uint64_t h = bits[0] * 0x9E3779B97F4A7C15ull;
        h = (h ^ (h >> 29) ^ bits[1]) * 0xBF58476D1CE4E5B9ull;
        h = (h ^ (h >> 32) ^ bits[2]) * 0x94D049BB133111EBull;
        return static_cast<std::size_t>(h ^ (h >> 31));
    }
};

constexpr int kMaxNumbers = 12;

// A word that is meant as a number (digits, sign, point, exponent, nan, inf): a bad one
// is an error, not the start of a name.
bool IsNumberWord(const char* b, const char* e)
{
    if (b == e)
        return false;
    std::string lower;
    for (const char* p = b; p != e && lower.size() < 16; ++p)
        lower += static_cast<char>(*p >= 'A' && *p <= 'Z' ? *p - 'A' + 'a' : *p);
    const std::size_t sign = lower[0] == '-' || lower[0] == '+' ? 1 : 0;
    const std::string_view body = std::string_view(lower).substr(sign);
    if (body == "nan" || body == "inf" || body == "infinity")
        return true;
    const char first = b + sign != e ? b[sign] : ' ';
    if (!(first >= '0' && first <= '9') && first != '.')
        return false;
    bool digit = false;
    for (const char* p = b + sign; p != e; ++p) {
        if (*p >= '0' && *p <= '9')
            digit = true;
        else if (*p != '.' && *p != 'e' && *p != 'E' && *p != '+' && *p != '-')
            return false;
    }
    return digit;
}

class Parser {
public:
    Parser(const std::string& filePath, const std::string& baseName,
           std::vector<std::unique_ptr<Mesh3d>>& out)
        : path(filePath), meshes(out), builder(baseName)
    {
    }

    void Parse(const char* data, std::size_t size, ProgressMeter* progress)
    {
        NumberRun run(data + size);
        LineCursor cursor(data, data + size);
        const char* b;
        const char* e;
        while (cursor.Next(b, e)) {
            line = cursor.Line();
            if (progress)
                progress->Update(cursor.Offset());
            const char* p = SkipBlanks(b, e);
            e = TrimEnd(p, e);
            if (p == e)
                continue;
            double numbers[kMaxNumbers];
            int count = 0;
            const char* q = p;
            while (q != e && count < kMaxNumbers) {
                NumberError error = NumberError::kNone;
                const char* end = ParseCoordinate(q, e, numbers[count], error, &run);
                const char* wordEnd = SkipWord(q, e);
                if (!end || end != wordEnd) {
                    if (IsNumberWord(q, wordEnd))
                        Fail(std::string(error == NumberError::kNone ? "bad number"
                                                                     : NumberErrorText(error)) +
                             " (\"" + Printable(q, wordEnd) + "\")");
                    break; // a word: an object name, or a texture after the coordinates
                }
                ++count;
                q = SkipBlanks(end, e);
            }
            if (count == 0)
                StartObject(p, e);
            else
                Triangle(numbers, count, q, e);
        }
        FinishObject();
    }

private:
    [[noreturn]] void Fail(const std::string& what)
    {
        throw FormatError(LineMessage(path, line, what));
    }

    void StartObject(const char* b, const char* e)
    {
        if (std::any_of(b, e, [](char c) {
                return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r';
            }))
            Fail("binary data where an object name belongs");
        FinishObject();
        builder.SetName(std::string(b, e));
    }

    // `rest` is what follows the numbers: nothing, or a texture name.
    void Triangle(const double* n, int count, const char* rest, const char* e)
    {
        if (count == kMaxNumbers && rest != e && IsNumberWord(rest, SkipWord(rest, e)))
            Fail("more than twelve numbers on a triangle line");
        if (count != 9 && count != 12)
            Fail("a triangle line holds nine coordinates (or a colour and nine coordinates); "
                 "found " +
                 std::to_string(count) + (count == 1 ? " number" : " numbers"));
        std::string key;
        if (count == 12)
            key.assign(reinterpret_cast<const char*>(n), 3 * sizeof(double));
        else if (rest != e)
            key = "t" + std::string(rest, e);
        const double* xyz = count == 12 ? n + 3 : n;
        std::uint32_t word3 = 0;
        if (!key.empty()) {
            auto [it, added] = materials.try_emplace(std::move(key), 0);
            if (added)
                it->second = static_cast<std::uint32_t>(materials.size());
            word3 = it->second;
        }
        builder.AddTriangle(Vertex(xyz), Vertex(xyz + 3), Vertex(xyz + 6), word3);
    }

    std::uint32_t Vertex(const double* p)
    {
        auto [it, added] = index.try_emplace(Position{p[0], p[1], p[2]}, 0);
        if (added)
            it->second = builder.AddVertex(p[0], p[1], p[2]);
        return it->second;
    }

    void FinishObject()
    {
        if (builder.TriangleCount())
            meshes.emplace_back(builder.Finish());
        builder = MeshBuilder(builder.Name());
        index.clear();
    }

    const std::string& path;
    std::vector<std::unique_ptr<Mesh3d>>& meshes;
    MeshBuilder builder;
    std::unordered_map<Position, std::uint32_t, PositionHash> index;
    std::unordered_map<std::string, std::uint32_t> materials;
    std::size_t line = 0;
};

} // namespace

void ReadRaw(const char* data, std::size_t size, const std::string& path,
             const std::string& baseName, std::vector<std::unique_ptr<Mesh3d>>& meshes,
             ProgressMeter* progress)
{
    Parser parser(path, baseName, meshes);
    parser.Parse(data, size, progress);
    if (meshes.empty())
        HostLink::Warning((path + ": the file holds no triangles; nothing to show").c_str());
}

} // namespace polyvant::formats::raw
