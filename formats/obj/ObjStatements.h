#pragma once
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "common/GrowArray.h"
#include "common/PluginSupport.h"
#include "common/TextScan.h"

namespace polyvant::formats::obj {

// A statement that refuses the file, at a line counted from the start of the text the
// reader was given; the caller turns it into the file's message.
struct LineError {
    std::size_t line;
    std::string what;
};

// Statements that carry nothing a mesh record can hold: read past without a word.
inline bool IsSkippedStatement(std::string_view w) noexcept
{
    static const char* const kSkipped[] = {
        "vt",        "vn",     "vp",    "l",      "p",        "s",        "mtllib",
        "maplib",    "usemap", "lod",   "bevel",  "c_interp", "d_interp", "shadow_obj",
        "trace_obj", "ctech",  "stech", "cstype", "deg",      "bmat",     "step",
        "curv",      "curv2",  "surf",  "parm",   "trim",     "hole",     "scrv",
        "sp",        "end",    "con",   "mg",     "res"};
    for (const char* k : kSkipped)
        if (w == k)
            return true;
    return false;
}

// Reads the statements of a stretch of OBJ text: vertices go into `vertices`, the rest
// to the sink, which decides what a face means:
//   Face(line, corners, n, syntax, vertexCount): the raw indices as written, in order;
//     syntax is null, or why the corner after the last one given is not a number;
//     vertexCount is the number of vertices this reader had read before the face.
//   Group(name), Material(name), Ignored(line, word).
// Line numbers go on from `linesBefore`, the lines before the stretch (0 when unknown).
template <class Sink>
class StatementReader {
public:
    StatementReader(Sink& target, GrowArray<double>& vertexArray,
                    std::size_t linesBefore = 0) noexcept
        : sink(target), vertices(vertexArray), lineBase(linesBefore)
    {
    }

    // [begin, end) is a whole number of lines; numbers may be read ahead up to
    // `readable`. Progress is reported as the bytes read here plus those in `before`
    // (the stretches other threads have read). A stop request ends the reading early,
    // for a result nobody will use.
    void Read(const char* begin, const char* end, const char* readable, ProgressMeter* progress,
              const std::atomic<std::uint64_t>* before = nullptr, std::stop_token stop = {})
    {
        numbers = NumberRun(readable);
        LineCursor cursor(begin, end);
        const char* b;
        const char* e;
        while (cursor.Next(b, e)) {
            line = lineBase + cursor.Line();
            if (progress)
                progress->Update((before ? before->load(std::memory_order_relaxed) : 0) +
                                 cursor.Offset());
            if ((line & 0xFFFF) == 0 && stop.stop_requested())
                return;
            const char* p = SkipBlanks(b, e);
            if (p == e || *p == '#')
                continue;
            if ((e[-1] == '\\' || IsBlank(e[-1])) && ReadContinued(p, e, cursor)) [[unlikely]]
                continue;
            Statement(p, e);
        }
        line = lineBase + cursor.Line();
    }

    // Lines of the stretch read so far (all of them, after Read).
    std::size_t Lines() const noexcept { return line - lineBase; }

    // The backslash that ends [p, e) apart from blanks, or null.
    static const char* Continuation(const char* p, const char* e) noexcept
    {
        const char* end = TrimEnd(p, e);
        return end != p && end[-1] == '\\' ? end - 1 : nullptr;
    }

private:
    // A backslash at the end of a line carries the statement on to the next one: the
    // lines are joined in a buffer of their own, and read as the first line. False when
    // [p, e) does not end with a backslash. Kept out of the loop over lines, which it
    // would slow down.
    [[gnu::noinline]] bool ReadContinued(const char* p, const char* e, LineCursor& cursor)
    {
        const char* backslash = Continuation(p, e);
        if (!backslash)
            return false;
        // The pieces are joined by one blank, as a name split over lines reads best.
        joined.assign(p, TrimEnd(p, backslash));
        const char* b;
        while (backslash && cursor.Next(b, e)) {
            backslash = Continuation(b, e);
            b = SkipBlanks(b, e);
            joined += ' ';
            joined.append(b, TrimEnd(b, backslash ? backslash : e));
        }
        const NumberRun fileNumbers = numbers;
        numbers = NumberRun(joined.data() + joined.size());
        Statement(joined.data(), joined.data() + joined.size());
        numbers = fileNumbers;
        return true;
    }

    // One statement, [p, e) from its first word on.
    void Statement(const char* p, const char* e)
    {
        // The two statements that make up nearly every file come first.
        if (e - p > 1 && IsBlank(p[1])) {
            if (*p == 'v') {
                Vertex(p + 2, e);
                return;
            }
            if (*p == 'f') {
                Face(p + 2, e);
                return;
            }
        }
        const char* wordEnd = SkipWord(p, e);
        const std::string_view word(p, static_cast<std::size_t>(wordEnd - p));
        const char* rest = SkipBlanks(wordEnd, e);
        const char* restEnd = TrimEnd(rest, CommentStart(rest, e));
        if (word == "v")
            Vertex(rest, e);
        else if (word == "f" || word == "fo")
            Face(rest, e);
        else if (word == "o" || word == "g")
            sink.Group(std::string(rest, restEnd));
        else if (word == "usemtl")
            sink.Material(std::string(rest, restEnd));
        else if (word == "call" || word == "csh")
            sink.Ignored(line, word);
        else if (IsSkippedStatement(word))
            return;
        else if (std::any_of(p, wordEnd, [](char c) {
                     return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
                 }))
            Fail("binary data where a WaveFront statement belongs");
        // Other statements (extensions of other programs) carry nothing we keep.
    }

    // Where a comment after a statement begins: a '#' at the start of a word ("g Lid #
    // top" names the group "Lid"; "g Lid#2" keeps its '#').
    static const char* CommentStart(const char* p, const char* e)
    {
        for (const char* q = p; q != e; ++q) {
            if (*q == '#' && (q == p || IsBlank(q[-1])))
                return q;
        }
        return e;
    }

    [[noreturn]] void Fail(std::string what) { throw LineError{line, std::move(what)}; }

    void Vertex(const char* p, const char* e)
    {
        double xyz[3];
        for (double& c : xyz) {
            p = SkipBlanks(p, e);
            NumberError error = NumberError::kNone;
            const char* q = ParseCoordinate(p, e, c, error, &numbers);
            if (q && q != e && !IsBlank(*q))
                q = nullptr, error = NumberError::kMissing;
            if (!q) {
                if (p == e)
                    Fail("vertex: fewer than three coordinates");
                Fail(std::string("vertex: ") + NumberErrorText(error) + " (\"" +
                     Printable(p, SkipWord(p, e)) + "\")");
            }
            p = q;
        }
        // The rest (w, or a colour) is skipped.
        if (vertices.Size() / 3 >= 0xFFFFFFFFu)
            Fail("more than 4294967295 vertices");
        double* d = vertices.Extend(3);
        d[0] = xyz[0];
        d[1] = xyz[1];
        d[2] = xyz[2];
        vertices.Commit(3);
    }

    void Face(const char* p, const char* e)
    {
        // Triangles and quads stay in `fixed`; longer polygons spill into `more`.
        std::int64_t fixed[4];
        std::size_t n = 0;
        const std::string* syntax = nullptr;
        for (;;) {
            p = SkipBlanks(p, e);
            if (p == e || *p == '#') // a comment may follow the corners
                break;
            std::int64_t index = 0;
            const char* q = ParseInteger(p, e, index);
            if (!q) {
                reason = "corner \"" + Printable(p, SkipWord(p, e)) + "\" is not a vertex number";
                syntax = &reason;
                break;
            }
            if (n < 4) {
                fixed[n] = index;
            } else {
                if (n == 4)
                    more.assign(fixed, fixed + 4);
                more.push_back(index);
            }
            ++n;
            p = q;
            if (p != e && !IsBlank(*p))
                p = SkipWord(p, e); // "/texture/normal" references are not kept
        }
        sink.Face(line, n <= 4 ? fixed : more.data(), n, syntax, vertices.Size() / 3);
    }

    Sink& sink;
    GrowArray<double>& vertices;
    const std::size_t lineBase;
    std::size_t line = 0;
    NumberRun numbers{nullptr};
    std::string joined; // a statement continued over several lines
    std::vector<std::int64_t> more;
    std::string reason;
};

} // namespace polyvant::formats::obj
