#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/GrowArray.h"

namespace polyvant::formats::obj {

class MeshAssembler;

// The statements of a stretch of text after the first, read on a thread of its own
// before the vertex count at its start is known, to be replayed into the file's
// MeshAssembler in order once the stretches before it are in. A sink for StatementReader.
// Triangles of positive indices, nearly every face, are kept ready as the assembler
// stores them; they are all good once the stretches before hold Need() vertices. Every
// other statement is kept as it was written.
class StatementLog {
public:
    explicit StatementLog(std::size_t textSize);

    void Face(std::size_t line, const std::int64_t* corners, std::size_t n,
              const std::string* syntax, std::uint64_t vertexCount);
    void Group(std::string name);
    void Material(std::string name);
    void Ignored(std::size_t line, std::string_view word);

    // The vertices the text before the stretch must hold for its ready triangles to be
    // good; with fewer, the stretch has to be read again in turn.
    std::uint64_t Need() const noexcept { return need; }

    // Hands every statement to `target`, with lines and vertex counts moved on by what
    // came before the stretch.
    void Replay(MeshAssembler& target, std::size_t lineBase, std::uint64_t vertexBase) const;

private:
    void At(std::size_t line, std::uint64_t vertexCount);
    void Push64(std::uint64_t value);
    void EndRun();

    // A header word: what it is in the top bits; for a face, whether a reason follows
    // (the next in `reasons`) and its corner count, then one word per corner.
    GrowArray<std::uint32_t> words;
    std::vector<std::string> names;   // of groups, materials and ignored statements, in order
    std::vector<std::string> reasons; // why a face's corners stopped, in order
    std::vector<std::vector<std::int64_t>> wide; // faces whose corners do not fit 32 bits
    GrowArray<std::uint32_t> triangles;          // ready, kFaceWords each
    std::uint64_t run = 0;                       // ready triangles since the last statement
    std::uint64_t need = 0;
    std::size_t nextLine = 1;      // the line the next event is on unless a line word says
    std::uint64_t vertexCount = 0; // before the next face, unless a count word says
};

} // namespace polyvant::formats::obj
