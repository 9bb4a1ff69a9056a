#pragma once
// A private folder under $TMPDIR (or /tmp) that exists for the life of the
// object and is removed with everything in it afterwards. Tests that touch the
// file system work only inside one of these.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testsupport {

class TempFolder {
public:
    TempFolder() {
        const char* base = getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/linkmoot-test-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    /// The folder's absolute path, without a trailing slash.
    const std::string& getPath() const { return path; }
    /// The absolute path of a name inside the folder.
    std::string file(const std::string& name) const { return path + "/" + name; }

    /// Writes a file inside the folder (replacing it) and returns its path.
    std::string writeFile(const std::string& name, const std::string& content) const {
        std::string target = file(name);
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out << content;
        return target;
    }
    /// The whole content of a file inside the folder; empty when it is missing.
    std::string readFile(const std::string& name) const {
        std::ifstream in(file(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool contains(const std::string& name) const { return std::filesystem::exists(file(name)); }

private:
    std::string path;
};

}  // namespace testsupport
