// The installed layout: `cmake --install` into a fresh prefix, then the
// installed trellis run from another directory with no module named, so it
// has to find its module from where it was installed.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "cli/about.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

using test_support::Outcome;
using test_support::slurp;

// Runs `args` in `cwd` with TRELLIS_PLUGIN removed from the environment.
Outcome run_in(const fs::path& cwd, const std::vector<std::string>& args) {
    const fs::path out = cwd / ".stdout";
    const fs::path err = cwd / ".stderr";
    std::vector<std::string> text = args;
    std::vector<char*> argv;
    for (std::string& a : text) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string_view(*e).rfind("TRELLIS_PLUGIN=", 0) != 0) envp.push_back(*e);
    }
    envp.push_back(nullptr);

    Outcome r;
    const pid_t pid = ::fork();
    if (pid < 0) return r;
    if (pid == 0) {
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(127);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

class Installed : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "trellis-install-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
        prefix_ = root_ / "prefix";
        elsewhere_ = root_ / "elsewhere";
        fs::create_directories(elsewhere_);
        const Outcome install = run_in(root_, {TRELLIS_CMAKE, "--install", TRELLIS_BUILD_DIR, "--prefix", prefix_.string()});
        ASSERT_EQ(install.code, 0) << install.out << install.err;
    }
    void TearDown() override {
        std::error_code ec;
        if (!HasFailure()) fs::remove_all(root_, ec);
    }

    Outcome trellis(const std::vector<std::string>& args) const {
        std::vector<std::string> all{(prefix_ / "bin" / "trellis").string()};
        all.insert(all.end(), args.begin(), args.end());
        return run_in(elsewhere_, all);
    }

    fs::path module() const { return prefix_ / "lib" / "norvextrellis" / "NorvexTrellis.so"; }

    fs::path root_, prefix_, elsewhere_;
};

TEST_F(Installed, LaysOutTheProgramTheModuleAndTheFrei0rPlugins) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(prefix_)) {
        if (!e.is_directory()) files.push_back(fs::relative(e.path(), prefix_).string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"bin/trellis", "lib/frei0r-1/norvextrellis.so",
                                               "lib/frei0r-1/norvextrellis_mix.so",
                                               "lib/norvextrellis/NorvexTrellis.so",
                                               "lib/norvextrellis/norvextrellis_frei0r.so",
                                               "share/kdenlive/effects/frei0r_norvextrellis.xml",
                                               "share/kdenlive/transitions/frei0r_norvextrellis_mix.xml",
                                               "share/mlt-7/frei0r/filter_frei0r.norvextrellis.yml",
                                               "share/mlt-7/frei0r/transition_frei0r.norvextrellis_mix.yml"}));
}

// The installed filter finds its rendering library and the module from where
// it was installed: with a mask and no Layer the effect's frame is
// transparent, where a plug-in that found nothing would leave it red.
TEST_F(Installed, TheFrei0rFilterRendersInFfmpeg) {
    const Outcome r = run_in(elsewhere_, {"/usr/bin/env", "FREI0R_PATH=" + (prefix_ / "lib" / "frei0r-1").string(),
                                          "ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=c=red:s=64x48",
                                          "-frames:v", "1", "-vf",
                                          "frei0r=filter_name=norvextrellis:filter_params=M 4 24 L 60 24",
                                          "-pix_fmt", "rgba", "-f", "rawvideo", "out.rgba"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(slurp(elsewhere_ / "out.rgba"), std::string(64 * 48 * 4, '\0'));
}

TEST_F(Installed, VersionAboutAndDemoFindTheInstalledModule) {
    const Outcome about = trellis({"about"});
    ASSERT_EQ(about.code, 0) << about.err;
    const std::size_t at = about.out.find("Module: ");
    ASSERT_NE(at, std::string::npos) << about.out;
    const std::string loaded = about.out.substr(at + 8, about.out.find('\n', at) - at - 8);
    EXPECT_EQ(fs::weakly_canonical(loaded), fs::canonical(module()));

    // The module line is the about text's first line, as the module wrote it.
    const Outcome version = trellis({"--version"});
    ASSERT_EQ(version.code, 0) << version.err;
    const std::string first = about.out.substr(0, about.out.find('\n'));
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(version.out, "trellis " TRELLIS_VERSION "\nmodule: " + first + "\n");

    const Outcome demo = trellis({"demo", "--out", "demo", "--quiet"});
    ASSERT_EQ(demo.code, 0) << demo.err;
    EXPECT_THAT(demo.out, HasSubstr("demo/contact.png"));
    EXPECT_EQ(slurp(elsewhere_ / "demo" / "contact.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_TRUE(fs::exists(elsewhere_ / "demo" / "frame_0047.png"));
}

TEST_F(Installed, WithoutItsModuleTheVersionStillShowsAndTheErrorNamesWhereItLooked) {
    fs::remove(module());
    const Outcome r = trellis({"--version"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "trellis " TRELLIS_VERSION "\n");
    EXPECT_THAT(r.err, HasSubstr("lib/norvextrellis/NorvexTrellis.so"));
}

// The module's about text is not ours: only printable text reaches the
// terminal, and only its first line names the version.
TEST(VersionLine, FirstLineOfTheAboutTextWithoutControlCharacters) {
    EXPECT_EQ(cli::about_version(cli::about_lines("NorvexLattice, v1.0\rMore\r\nText")), "NorvexLattice, v1.0");
    EXPECT_EQ(cli::about_version(cli::about_lines("  Name\x1b[31m v2\t\x7f \r\n")), "Name[31m v2");
    EXPECT_EQ(cli::about_version(cli::about_lines("\r\nsecond")), "(no about text)");
    EXPECT_EQ(cli::about_version(""), "(no about text)");
    EXPECT_EQ(cli::about_lines("a\r\rb\r\nc\r"), "a\n\nb\nc\n");
}

}  // namespace
