// A scratch directory under /tmp, removed with its contents at the end of the scope.
#ifndef QUOR_TESTS_SUPPORT_TEMP_DIR_H
#define QUOR_TESTS_SUPPORT_TEMP_DIR_H

#include <cstdlib>
#include <string>

namespace quor_test {

struct TempDir {
    std::string path;
    explicit TempDir(const std::string& stem = "quor") {
        std::string t = "/tmp/" + stem + "_XXXXXX";
        path = mkdtemp(t.data());
    }
    ~TempDir() {
        std::string cmd = "rm -rf '" + path + "'";
        if (std::system(cmd.c_str()) != 0) return;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& f) const { return path + "/" + f; }
};

}  // namespace quor_test

#endif
