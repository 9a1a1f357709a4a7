#pragma once
#include <string>

namespace polyvant::test {

// A fresh directory under $TMPDIR, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const noexcept { return path; }
    std::string operator/(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

// The built fixture library (or file) of that name, e.g. "fixture_import.so".
std::string FixturePath(const std::string& name);
// Makes dir/as a symbolic link to the fixture.
void LinkFixture(const TempDir& dir, const std::string& fixture, const std::string& as);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

} // namespace polyvant::test
