#include "obj/ObjStatementLog.h"

#include <algorithm>
#include <limits>

#include "obj/ObjMeshAssembler.h"

namespace polyvant::formats::obj {

namespace {

enum Tag : std::uint32_t {
    kFace = 0,     // corners in the words after it
    kWideFace = 1, // corners in `wide`
    kLine = 2,     // two words: the line of the next event
    kCount = 3,    // two words: the vertex count before the next face
    kGroup = 4,
    kMaterial = 5,
    kIgnored = 6,
    kRun = 7, // two words: how many ready triangles come next
};

constexpr unsigned kTagShift = 29;
constexpr std::uint32_t kHasReason = 1u << 28;
constexpr std::uint32_t kCornerMask = kHasReason - 1;

constexpr std::uint32_t Header(Tag tag, std::uint32_t payload = 0)
{
    return (static_cast<std::uint32_t>(tag) << kTagShift) | payload;
}

bool Fits32(std::int64_t value)
{
    return value >= std::numeric_limits<std::int32_t>::min() &&
           value <= std::numeric_limits<std::int32_t>::max();
}

} // namespace

StatementLog::StatementLog(std::size_t textSize)
{
    // About a face per 24 bytes of text, four words each; mapped lazily (see GrowArray).
    triangles.Reserve(kFaceWords * (textSize / 24) + 16);
}

void StatementLog::EndRun()
{
    if (run) {
        words.Push(Header(kRun));
        Push64(run);
        run = 0;
    }
}

void StatementLog::Push64(std::uint64_t value)
{
    std::uint32_t* w = words.Extend(2);
    w[0] = static_cast<std::uint32_t>(value);
    w[1] = static_cast<std::uint32_t>(value >> 32);
    words.Commit(2);
}

void StatementLog::At(std::size_t line, std::uint64_t count)
{
    if (line != nextLine) {
        words.Push(Header(kLine));
        Push64(line);
    }
    nextLine = line + 1;
    if (count != vertexCount) {
        words.Push(Header(kCount));
        Push64(count);
        vertexCount = count;
    }
}

void StatementLog::Face(std::size_t line, const std::int64_t* corners, std::size_t n,
                        const std::string* syntax, std::uint64_t count)
{
    if (n == 3 && !syntax) {
        const std::int64_t a = corners[0], b = corners[1], c = corners[2];
        const std::int64_t most = std::max({a, b, c});
        if (a > 0 && b > 0 && c > 0 && most <= 0xFFFFFFFF) {
            // Good when the vertices before the stretch and the count here pass `most`.
            if (static_cast<std::uint64_t>(most) > count)
                need = std::max(need, static_cast<std::uint64_t>(most) - count);
            std::uint32_t* f = triangles.Extend(kFaceWords);
            f[0] = static_cast<std::uint32_t>(a - 1);
            f[1] = static_cast<std::uint32_t>(b - 1);
            f[2] = static_cast<std::uint32_t>(c - 1);
            f[3] = 0;
            triangles.Commit(kFaceWords);
            ++run;
            return;
        }
    }
    EndRun();
    At(line, count);
    const std::uint32_t reason = syntax ? kHasReason : 0;
    if (syntax)
        reasons.push_back(*syntax);
    bool narrow = n <= kCornerMask;
    for (std::size_t k = 0; k < n && narrow; ++k)
        narrow = Fits32(corners[k]);
    if (!narrow) {
        wide.emplace_back(corners, corners + n);
        words.Push(Header(kWideFace, reason));
        return;
    }
    std::uint32_t* w = words.Extend(n + 1);
    w[0] = Header(kFace, reason | static_cast<std::uint32_t>(n));
    for (std::size_t k = 0; k < n; ++k)
        w[k + 1] = static_cast<std::uint32_t>(static_cast<std::int32_t>(corners[k]));
    words.Commit(n + 1);
}

void StatementLog::Group(std::string name)
{
    EndRun();
    names.push_back(std::move(name));
    words.Push(Header(kGroup));
}

void StatementLog::Material(std::string name)
{
    EndRun();
    names.push_back(std::move(name));
    words.Push(Header(kMaterial));
}

void StatementLog::Ignored(std::size_t line, std::string_view word)
{
    EndRun();
    At(line, vertexCount);
    names.emplace_back(word);
    words.Push(Header(kIgnored));
}

void StatementLog::Replay(MeshAssembler& target, std::size_t lineBase,
                          std::uint64_t vertexBase) const
{
    const std::uint32_t* w = words.Data();
    const std::uint32_t* const end = w + words.Size();
    std::size_t line = 1;
    std::uint64_t count = 0;
    std::size_t name = 0, reason = 0, wideFace = 0;
    std::vector<std::int64_t> corners;
    std::int64_t fixed[4];
    const std::uint32_t* ready = triangles.Data();
    const auto read64 = [&w] {
        const std::uint64_t value = w[0] | (std::uint64_t(w[1]) << 32);
        w += 2;
        return value;
    };
    while (w != end) {
        const std::uint32_t header = *w++;
        const std::string* why = header & kHasReason ? &reasons[reason++] : nullptr;
        switch (static_cast<Tag>(header >> kTagShift)) {
        case kFace: {
            const std::size_t n = header & kCornerMask;
            std::int64_t* out = fixed;
            if (n > 4) {
                corners.resize(n);
                out = corners.data();
            }
            for (std::size_t k = 0; k < n; ++k)
                out[k] = static_cast<std::int32_t>(w[k]);
            w += n;
            target.Face(lineBase + line++, out, n, why, vertexBase + count);
            break;
        }
        case kWideFace: {
            const std::vector<std::int64_t>& face = wide[wideFace++];
            target.Face(lineBase + line++, face.data(), face.size(), why, vertexBase + count);
            break;
        }
        case kLine:
            line = read64();
            break;
        case kCount:
            count = read64();
            break;
        case kGroup:
            target.Group(names[name++]);
            break;
        case kMaterial:
            target.Material(names[name++]);
            break;
        case kIgnored:
            target.Ignored(lineBase + line++, names[name++]);
            break;
        case kRun: {
            const std::uint64_t n = read64();
            target.AppendTriangles(ready, n);
            ready += kFaceWords * n;
            break;
        }
        }
    }
    // The triangles after the last statement.
    const std::uint32_t* const readyEnd = triangles.Data() + triangles.Size();
    if (ready != readyEnd)
        target.AppendTriangles(ready, static_cast<std::size_t>(readyEnd - ready) / kFaceWords);
}

} // namespace polyvant::formats::obj
