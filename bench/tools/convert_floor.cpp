// The floor for the converter's figures: the least work a conversion can do on one
// thread. Maps the input, parses with fast_float, writes in large blocks.
//   convert_floor obj2stlb IN.obj OUT.stl   triangles (fans) to binary STL
//   convert_floor stl2obj  IN.stl OUT.obj   binary STL to OBJ with welded vertices
//   convert_floor ply2obj  IN.ply OUT.obj   ASCII PLY (float x y z, uchar/int lists) to OBJ
//   convert_floor batch J OUTDIR IN.obj...  obj2stlb for many files, a forked child per
//                                           file and at most J at once
//   convert_floor durable obj2stlb|stl2obj|ply2obj IN OUT
//                                           the same through a temporary file that is
//                                           flushed to disk and renamed, as the batch does
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fast_float/fast_float.h>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Mapped {
    const char* data = nullptr;
    std::size_t size = 0;
};

Mapped Map(const char* path)
{
    const int fd = open(path, O_RDONLY);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        std::perror(path);
        std::exit(1);
    }
    Mapped m;
    m.size = std::size_t(st.st_size);
    void* p = mmap(nullptr, m.size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    close(fd);
    if (p == MAP_FAILED) {
        std::perror("mmap");
        std::exit(1);
    }
    m.data = static_cast<const char*>(p);
    return m;
}

class Writer {
public:
    explicit Writer(const char* path) : fd(open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644))
    {
        if (fd < 0) {
            std::perror(path);
            std::exit(1);
        }
        buffer.reserve(kBlock + 256);
    }
    ~Writer()
    {
        Flush();
        close(fd);
    }
    void Put(const void* bytes, std::size_t n)
    {
        const char* b = static_cast<const char*>(bytes);
        buffer.insert(buffer.end(), b, b + n);
        if (buffer.size() >= kBlock)
            Flush();
    }
    char* Room(std::size_t n)
    {
        if (buffer.size() + n > buffer.capacity())
            Flush();
        const std::size_t at = buffer.size();
        buffer.resize(at + n);
        return buffer.data() + at;
    }
    void Shrink(std::size_t unused) { buffer.resize(buffer.size() - unused); }
    void Flush()
    {
        if (!buffer.empty() && write(fd, buffer.data(), buffer.size()) != ssize_t(buffer.size()))
            std::exit(1);
        buffer.clear();
    }

private:
    static constexpr std::size_t kBlock = 1 << 20;
    int fd;
    std::vector<char> buffer;
};

const char* SkipBlanks(const char* p, const char* end)
{
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    return p;
}

const char* NextLine(const char* p, const char* end)
{
    const void* nl = std::memchr(p, '\n', std::size_t(end - p));
    return nl ? static_cast<const char*>(nl) + 1 : end;
}

// v and f lines as the converter writes them: the floats widened to double in their
// shortest exact form, face indices plus `add` (OBJ counts from 1).
void WriteObj(const char* out, const std::vector<float>& v, const std::vector<std::uint32_t>& faces,
              std::uint32_t add)
{
    Writer w(out);
    for (std::size_t i = 0; i < v.size(); i += 3) {
        char* room = w.Room(96);
        char* q = room;
        *q++ = 'v';
        for (int k = 0; k < 3; ++k) {
            *q++ = ' ';
            q = std::to_chars(q, room + 96, double(v[i + std::size_t(k)])).ptr;
        }
        *q++ = '\n';
        w.Shrink(std::size_t(room + 96 - q));
    }
    for (std::size_t i = 0; i < faces.size(); i += 3) {
        char* room = w.Room(40);
        char* q = room;
        *q++ = 'f';
        for (int k = 0; k < 3; ++k) {
            *q++ = ' ';
            q = std::to_chars(q, room + 40, faces[i + std::size_t(k)] + add).ptr;
        }
        *q++ = '\n';
        w.Shrink(std::size_t(room + 40 - q));
    }
}

int ObjToStl(const char* in, const char* out)
{
    const Mapped m = Map(in);
    const char* p = m.data;
    const char* end = m.data + m.size;
    std::vector<float> v;
    std::vector<std::uint32_t> tris;
    while (p < end) {
        const char* line = SkipBlanks(p, end);
        const char* next = NextLine(line, end);
        if (line + 1 < end && line[0] == 'v' && line[1] == ' ') {
            const char* q = line + 2;
            for (int k = 0; k < 3; ++k) {
                q = SkipBlanks(q, next);
                double value = 0;
                q = fast_float::from_chars(q, next, value).ptr;
                v.push_back(float(value));
            }
        } else if (line + 1 < end && line[0] == 'f' && line[1] == ' ') {
            const char* q = line + 2;
            std::uint32_t corner[64];
            int n = 0;
            for (;;) {
                q = SkipBlanks(q, next);
                long index = 0;
                const auto r = std::from_chars(q, next, index);
                if (r.ec != std::errc() || n == 64)
                    break;
                q = r.ptr;
                while (q < next && *q != ' ' && *q != '\t' && *q != '\n' && *q != '\r')
                    ++q;
                corner[n++] = std::uint32_t(index < 0 ? long(v.size() / 3) + index : index - 1);
            }
            for (int k = 2; k < n; ++k) {
                tris.push_back(corner[0]);
                tris.push_back(corner[k - 1]);
                tris.push_back(corner[k]);
            }
        }
        p = next;
    }
    Writer w(out);
    char header[80] = {};
    w.Put(header, sizeof header);
    const std::uint32_t count = std::uint32_t(tris.size() / 3);
    w.Put(&count, 4);
    for (std::size_t t = 0; t < tris.size(); t += 3) {
        float r[12];
        const float* a = &v[3 * std::size_t(tris[t])];
        const float* b = &v[3 * std::size_t(tris[t + 1])];
        const float* c = &v[3 * std::size_t(tris[t + 2])];
        const float u[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const float s[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        float n[3] = {u[1] * s[2] - u[2] * s[1], u[2] * s[0] - u[0] * s[2],
                      u[0] * s[1] - u[1] * s[0]};
        const float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (float& x : n)
            x = len > 0 ? x / len : 0;
        std::memcpy(r, n, 12);
        std::memcpy(r + 3, a, 12);
        std::memcpy(r + 6, b, 12);
        std::memcpy(r + 9, c, 12);
        char record[50] = {};
        std::memcpy(record, r, 48);
        w.Put(record, 50);
    }
    return 0;
}

int StlToObj(const char* in, const char* out)
{
    const Mapped m = Map(in);
    if (m.size < 84)
        return 1;
    std::uint32_t count = 0;
    std::memcpy(&count, m.data + 80, 4);
    if (std::uint64_t(count) * 50 + 84 > m.size)
        return 1;
    // Open addressing over the 12 bytes of a position.
    std::size_t buckets = 1;
    while (buckets < std::size_t(count) * 2)
        buckets <<= 1;
    std::vector<std::uint32_t> table(buckets, 0);
    std::vector<float> v;
    v.reserve(std::size_t(count) * 2);
    std::vector<std::uint32_t> faces(std::size_t(count) * 3);
    for (std::uint32_t t = 0; t < count; ++t) {
        const char* record = m.data + 84 + std::size_t(t) * 50;
        for (int k = 0; k < 3; ++k) {
            float p[3];
            std::memcpy(p, record + 12 + 12 * k, 12);
            std::uint32_t bits[3];
            std::memcpy(bits, p, 12);
            std::uint64_t h = (bits[0] * 0x9E3779B97F4A7C15ull) ^
                              (bits[1] * 0xC2B2AE3D27D4EB4Full) ^ (bits[2] * 0x165667B19E3779F9ull);
            h ^= h >> 29;
            std::size_t slot = std::size_t(h) & (buckets - 1);
            for (;;) {
                const std::uint32_t entry = table[slot];
                if (entry == 0) {
                    v.insert(v.end(), p, p + 3);
                    table[slot] = std::uint32_t(v.size() / 3);
                    faces[3 * std::size_t(t) + std::size_t(k)] = table[slot];
                    break;
                }
                if (std::memcmp(&v[3 * std::size_t(entry - 1)], p, 12) == 0) {
                    faces[3 * std::size_t(t) + std::size_t(k)] = entry;
                    break;
                }
                slot = (slot + 1) & (buckets - 1);
            }
        }
    }
    WriteObj(out, v, faces, 0);
    return 0;
}

// The header's counts, then the vertex lines as floats (their declared type) and the
// triangle lines; written as the converter writes them.
int PlyToObj(const char* in, const char* out)
{
    const Mapped m = Map(in);
    const char* p = m.data;
    const char* end = m.data + m.size;
    unsigned long vertices = 0, faces = 0;
    for (;;) {
        const char* next = NextLine(p, end);
        const std::string line(p, next);
        std::sscanf(line.c_str(), "element vertex %lu", &vertices);
        std::sscanf(line.c_str(), "element face %lu", &faces);
        p = next;
        if (line.rfind("end_header", 0) == 0 || p == end)
            break;
    }
    std::vector<float> v(vertices * 3);
    for (unsigned long i = 0; i < vertices * 3; ++i) {
        p = SkipBlanks(p, end);
        while (p < end && (*p == '\n' || *p == '\r'))
            p = SkipBlanks(p + 1, end);
        p = fast_float::from_chars(p, end, v[i]).ptr;
    }
    std::vector<std::uint32_t> f(faces * 3);
    for (unsigned long i = 0; i < faces; ++i) {
        unsigned n = 0;
        while (p < end && (*p == '\n' || *p == '\r' || *p == ' '))
            ++p;
        p = std::from_chars(p, end, n).ptr;
        for (int k = 0; k < 3; ++k) {
            p = SkipBlanks(p, end);
            p = std::from_chars(p, end, f[3 * i + std::size_t(k)]).ptr;
        }
    }
    WriteObj(out, v, f, 1);
    return 0;
}

// Flushes the finished temporary file to disk and renames it to out: what a converter
// that never leaves a half file under the output's name must do at least.
bool Commit(const std::string& temporary, const std::string& out)
{
    const int fd = open(temporary.c_str(), O_WRONLY);
    return fd >= 0 && fsync(fd) == 0 && close(fd) == 0 &&
           rename(temporary.c_str(), out.c_str()) == 0;
}

// The floor for a batch: a forked child per file, at most `jobs` at once, each writing a
// temporary file that it flushes to disk and renames, as a converter that never leaves a
// half file must.
int Batch(int jobs, const char* outDir, int count, char** inputs)
{
    mkdir(outDir, 0755);
    int running = 0, failed = 0;
    for (int i = 0; i < count || running > 0;) {
        if (i < count && running < jobs) {
            const pid_t pid = fork();
            if (pid < 0) {
                std::perror("fork");
                return 1;
            }
            if (pid == 0) {
                std::string base = inputs[i];
                base = base.substr(base.find_last_of('/') + 1);
                base = base.substr(0, base.find_last_of('.'));
                const std::string out = std::string(outDir) + "/" + base + ".stl";
                const std::string temporary = std::string(outDir) + "/." + base + ".tmp";
                ObjToStl(inputs[i], temporary.c_str());
                _exit(Commit(temporary, out) ? 0 : 1);
            }
            ++running;
            ++i;
            continue;
        }
        int status = 0;
        if (wait(&status) > 0) {
            --running;
            failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
    }
    return failed ? 1 : 0;
}

} // namespace

int Convert(const char* how, const char* in, const char* out)
{
    if (std::strcmp(how, "obj2stlb") == 0)
        return ObjToStl(in, out);
    if (std::strcmp(how, "stl2obj") == 0)
        return StlToObj(in, out);
    if (std::strcmp(how, "ply2obj") == 0)
        return PlyToObj(in, out);
    return 2;
}

int main(int argc, char** argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "batch") == 0)
        return Batch(std::max(1, std::atoi(argv[2])), argv[3], argc - 4, argv + 4);
    int status = 2;
    if (argc == 4) {
        status = Convert(argv[1], argv[2], argv[3]);
    } else if (argc == 5 && std::strcmp(argv[1], "durable") == 0) {
        const std::string temporary = std::string(argv[4]) + ".tmp";
        status = Convert(argv[2], argv[3], temporary.c_str());
        if (status == 0 && !Commit(temporary, argv[4]))
            status = 1;
    }
    if (status == 2)
        std::fprintf(stderr, "usage: convert_floor [durable] obj2stlb|stl2obj|ply2obj IN OUT\n"
                             "       convert_floor batch J OUTDIR IN.obj...\n");
    return status;
}
