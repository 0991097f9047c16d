#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>
#include <fstream>
#include <string>

#include "api/runtime.h"
#include "scoped_env.h"

namespace {

// A scratch folder with bin folders holding empty files named like tools.
class RuntimeSearch : public testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/hullmon-rt-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

    std::string dir_with(const std::string &name, const std::vector<std::string> &tools) {
        std::string dir = root_ + "/" + name;
        mkdir(dir.c_str(), 0755);
        for (const std::string &t : tools) std::ofstream(dir + "/" + t).put('x');
        return dir;
    }

    std::string root_;
};

TEST_F(RuntimeSearch, PathElements) {
    std::string both = dir_with("both", {"docker", "podman"});
    std::string only_podman = dir_with("p", {"podman"});
    std::string only_docker = dir_with("d", {"docker"});
    std::string none = dir_with("none", {});
    const struct {
        std::string path;
        bool docker, podman;
    } cases[] = {
        {both, true, true},
        {"::" + only_docker + ":", true, false},
        {none + "::" + only_podman, false, true},
        {only_docker + "/", true, false},  // gives "//", which still names the file
        {none + ":", false, false},
        {":", false, false},
        {"", false, false},
        {"relative/dir", false, false},
        {none + ":" + none + ":" + only_docker, true, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(path_has_entry("docker", c.path.c_str()), c.docker) << c.path;
        EXPECT_EQ(path_has_entry("podman", c.path.c_str()), c.podman) << c.path;
    }
}

TEST_F(RuntimeSearch, EmptyElementIsNotTheCurrentFolder) {
    std::string here = dir_with("cwd", {"docker"});
    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(here.c_str()), 0);
    EXPECT_FALSE(path_has_entry("docker", ":"));
    EXPECT_FALSE(path_has_entry("docker", nullptr));
    ASSERT_EQ(chdir(old), 0);
}

TEST_F(RuntimeSearch, ElementLengthLimit) {
    // Elements of up to 1015 characters are tried for a six-letter name.
    std::string base = dir_with("long", {});
    std::string dir = base;
    auto grow_to = [&](size_t len) {
        while (len - dir.size() > 201) {
            dir += "/" + std::string(200, 'a');
            mkdir(dir.c_str(), 0755);
        }
        dir += "/" + std::string(len - dir.size() - 1, 'a');
        mkdir(dir.c_str(), 0755);
    };
    grow_to(1015);
    ASSERT_EQ(dir.size(), 1015u);
    std::ofstream(dir + "/docker").put('x');
    EXPECT_TRUE(path_has_entry("docker", dir.c_str()));
    // One more character and the element is skipped without a test.
    std::string longer = dir + "/b";
    mkdir(longer.c_str(), 0755);
    std::ofstream(longer + "/docker").put('x');
    EXPECT_FALSE(path_has_entry("docker", longer.c_str()));
}

TEST_F(RuntimeSearch, Selection) {
    std::string both = dir_with("both", {"docker", "podman"});
    std::string only_podman = dir_with("p", {"podman"});
    std::string only_docker = dir_with("d", {"docker"});
    std::string long_bin(600, 'b');
    const struct {
        const char *what;
        std::string docker_bin;  // "(unset)" leaves it unset
        std::string path;
        bool available;
        std::string bin, label;
    } cases[] = {
        {"docker preferred even after podman", "(unset)", only_podman + ":" + only_docker, 1, "docker", "docker"},
        {"podman alone", "(unset)", only_podman, 1, "podman", "podman"},
        {"nothing", "(unset)", "/nonexistent", 0, "", ""},
        {"empty DOCKER_BIN ignored", "", both, 1, "docker", "docker"},
        {"custom", "/opt/x/docker", both, 1, "/opt/x/docker", "custom"},
        {"custom with backslashes", "C:\\tools\\docker.exe", "", 1, "C:\\tools\\docker.exe", "custom"},
        {"quote refused", "/opt/it's/docker", both, 0, "", ""},
        {"line feed refused", "/opt/x\n/docker", both, 0, "", ""},
        {"carriage return refused", "/opt/x\r", both, 0, "", ""},
        {"cut to 511", long_bin, "", 1, std::string(511, 'b'), "custom"},
    };
    for (const auto &c : cases) {
        runtime_selection rt;
        std::memset(&rt, 'z', sizeof rt);
        select_runtime(&rt, c.docker_bin == "(unset)" ? nullptr : c.docker_bin.c_str(), c.path.c_str());
        EXPECT_EQ(rt.available, c.available) << c.what;
        EXPECT_EQ(std::string(rt.bin), c.bin) << c.what;
        EXPECT_EQ(std::string(rt.label), c.label) << c.what;
    }
}

}  // namespace
