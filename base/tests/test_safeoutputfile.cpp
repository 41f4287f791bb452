#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "norvale/SafeOutputFile.h"

using namespace norvale;
namespace fs = std::filesystem;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool writeAll(SafeOutputFile& out, const std::string& text) {
    return ::write(out.descriptor(), text.data(), text.size()) == ssize_t(text.size());
}

struct SafeOutputFileTest : ::testing::Test {
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "norvale_safe_XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
        input = dir + "/in.raw";
        writeFile(input, "recording bytes");
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    // Entries whose name holds ".part" (a temporary left behind).
    int temporaries() const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir)) n += e.path().filename().string().find(".part") != std::string::npos;
        return n;
    }
    FileIdentity inputId() const { return FileIdentity::ofPath(input); }

    std::string dir;
    std::string input;
};

} // namespace

TEST_F(SafeOutputFileTest, ReplacesARegularFileKeepingItsModeAndLeavesNoTemporary) {
    const std::string out = path("out.mp4");
    writeFile(out, "old");
    ::chmod(out.c_str(), 0640);
    SafeOutputFile file;
    ASSERT_TRUE(file.open(out, inputId())) << file.reason();
    EXPECT_EQ(fs::path(file.temporaryPath()).parent_path(), fs::path(dir));
    EXPECT_EQ(readFile(out), "old"); // untouched until commit
    ASSERT_TRUE(writeAll(file, "new"));
    ASSERT_TRUE(file.commit()) << file.reason();
    EXPECT_EQ(readFile(out), "new");
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(temporaries(), 0);

    // A new file gets the usual mode of a new file, not the 0600 of a temporary.
    const mode_t old = ::umask(022);
    SafeOutputFile fresh;
    ASSERT_TRUE(fresh.open(path("fresh.mp4")));
    ASSERT_TRUE(fresh.commit());
    ::umask(old);
    ASSERT_EQ(::stat(path("fresh.mp4").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(SafeOutputFileTest, RefusesTheInputByAnyNameAndLeavesItUnchanged) {
    fs::create_symlink(input, path("link.raw"));
    fs::create_hard_link(input, path("hard.raw"));
    const std::string relative = dir + "/./sub/../in.raw";
    fs::create_directory(path("sub"));
    for (const std::string& name : {input, path("link.raw"), path("hard.raw"), relative}) {
        SafeOutputFile file;
        EXPECT_FALSE(file.open(name, inputId())) << name;
        EXPECT_TRUE(file.refused());
        EXPECT_EQ(file.reason(), "output " + name + " is the input file");
    }
    // The input given the output's name while the output is written: still never replaced.
    SafeOutputFile late;
    ASSERT_TRUE(late.open(path("late.raw"), inputId()));
    fs::create_hard_link(input, path("late.raw"));
    EXPECT_FALSE(late.commit());
    EXPECT_EQ(late.reason(), "output " + path("late.raw") + " is the input file");
    EXPECT_EQ(readFile(input), "recording bytes");
    EXPECT_TRUE(fs::is_symlink(path("link.raw")));
    EXPECT_EQ(temporaries(), 0);
}

TEST_F(SafeOutputFileTest, NeverTouchesAnExistingPartFileAndFollowsSymbolicLinks) {
    // The old fixed temporary names, one of them the input: both stay as they are.
    writeFile(path("out.raw.part"), "user's file");
    fs::create_hard_link(input, path("x.part"));
    SafeOutputFile a;
    ASSERT_TRUE(a.open(path("out.raw"), inputId()));
    EXPECT_NE(a.temporaryPath(), path("out.raw.part"));
    ASSERT_TRUE(writeAll(a, "cut"));
    ASSERT_TRUE(a.commit());
    SafeOutputFile b;
    ASSERT_TRUE(b.open(path("x"), inputId()));
    ASSERT_TRUE(b.commit());
    EXPECT_EQ(readFile(path("out.raw.part")), "user's file");
    EXPECT_EQ(readFile(path("x.part")), "recording bytes");
    EXPECT_EQ(readFile(input), "recording bytes");

    // A link to a regular file: the target is replaced, the link stays a link.
    fs::create_directory(path("real"));
    writeFile(path("real/target.mp4"), "old");
    fs::create_symlink("real/target.mp4", path("alias.mp4"));
    SafeOutputFile c;
    ASSERT_TRUE(c.open(path("alias.mp4")));
    ASSERT_TRUE(writeAll(c, "new"));
    ASSERT_TRUE(c.commit()) << c.reason();
    EXPECT_TRUE(fs::is_symlink(path("alias.mp4")));
    EXPECT_EQ(readFile(path("real/target.mp4")), "new");
    // A dangling link is refused: its target is nowhere the user can see.
    fs::create_symlink("nowhere/file.mp4", path("dangling.mp4"));
    SafeOutputFile d;
    EXPECT_FALSE(d.open(path("dangling.mp4")));
    EXPECT_EQ(d.reason(), "output " + path("dangling.mp4") + " is a symbolic link to a missing file");
    EXPECT_EQ(temporaries(), 2); // the two files the user had
}

TEST_F(SafeOutputFileTest, RemovesOnlyTheTemporariesAKilledWriterLeftOfTheSameOutput) {
    const std::string out = path("out.h5");
    SafeOutputFile live; // a writer still at work: its temporary is locked
    ASSERT_TRUE(live.open(out));
    ASSERT_TRUE(writeAll(live, "live"));
    writeFile(path(".out.h5.Ab12Cd.part"), "left by a killed writer");
    writeFile(path(".out.h5x.Ab12Cd.part"), "another output's");
    writeFile(path(".out.h5.toolong.part"), "not our pattern");
    fs::create_symlink(input, path(".out.h5.Zz99Yy.part"));

    SafeOutputFile next;
    ASSERT_TRUE(next.open(out)) << next.reason();
    EXPECT_FALSE(fs::exists(path(".out.h5.Ab12Cd.part")));
    EXPECT_TRUE(fs::exists(live.temporaryPath()));
    EXPECT_EQ(readFile(path(".out.h5x.Ab12Cd.part")), "another output's");
    EXPECT_EQ(readFile(path(".out.h5.toolong.part")), "not our pattern");
    EXPECT_TRUE(fs::is_symlink(path(".out.h5.Zz99Yy.part")));
    EXPECT_EQ(readFile(input), "recording bytes");
    ASSERT_TRUE(writeAll(next, "next"));
    ASSERT_TRUE(next.commit()) << next.reason();
    ASSERT_TRUE(live.commit()) << live.reason(); // the live writer was never disturbed
    EXPECT_EQ(readFile(out), "live");
}

TEST_F(SafeOutputFileTest, RefusesWhatIsNotARegularFileAndNeverReplacesIt) {
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    fs::create_directory(path("folder"));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path("sock").c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    struct Case {
        std::string name;
        std::string kind;
    };
    std::vector<Case> cases = {{"fifo", "a FIFO"}, {"folder", "a folder"}, {"sock", "a socket"}};
    // A device node of our own (the null device's numbers), where we may make one.
    if (::mknod(path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) cases.push_back({"null", "a character device"});
    for (const Case& c : cases) {
        SafeOutputFile file;
        EXPECT_FALSE(file.open(path(c.name), inputId()));
        EXPECT_TRUE(file.refused());
        EXPECT_EQ(file.reason(), "output " + path(c.name) + " is " + c.kind + ", not a regular file");
        EXPECT_FALSE(fs::is_regular_file(path(c.name))) << c.name;
    }
    ::close(sock);
    EXPECT_TRUE(fs::is_fifo(path("fifo")));

    // The output turning into a FIFO while the file is written: still never replaced.
    SafeOutputFile late;
    ASSERT_TRUE(late.open(path("late")));
    ASSERT_EQ(::mkfifo(path("late").c_str(), 0644), 0);
    EXPECT_FALSE(late.commit());
    EXPECT_TRUE(fs::is_fifo(path("late")));
    EXPECT_EQ(temporaries(), 0);
}

TEST_F(SafeOutputFileTest, FailuresAndDiscardLeaveNoTemporary) {
    {
        SafeOutputFile file;
        ASSERT_TRUE(file.open(path("a.mp4")));
        ASSERT_TRUE(writeAll(file, "half"));
        EXPECT_EQ(temporaries(), 1);
    } // destroyed without commit
    EXPECT_FALSE(fs::exists(path("a.mp4")));
    EXPECT_EQ(temporaries(), 0);

    SafeOutputFile missing;
    EXPECT_FALSE(missing.open(path("no/such/folder.mp4")));
    EXPECT_FALSE(missing.refused());
    EXPECT_EQ(missing.reason(), "cannot create a temporary file in " + path("no/such") + ": No such file or directory");

    // What a signal handler does: the temporary goes, and a later commit fails cleanly.
    SafeOutputFile live;
    ASSERT_TRUE(live.open(path("b.mp4")));
    const std::string temp = live.temporaryPath();
    removeLiveTemporaries();
    EXPECT_FALSE(fs::exists(temp));
    EXPECT_FALSE(live.commit());
    EXPECT_FALSE(fs::exists(path("b.mp4")));
    EXPECT_EQ(temporaries(), 0);
}

// Needs a user that file permissions apply to (root passes every check).
TEST_F(SafeOutputFileTest, UnwritableFolderIsAClearFailure) {
    if (::geteuid() == 0) GTEST_SKIP() << "runs as root; see the non-root run of this test";
    fs::create_directory(path("locked"));
    writeFile(path("locked/out.mp4"), "old");
    fs::permissions(path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    SafeOutputFile file;
    EXPECT_FALSE(file.open(path("locked/out.mp4")));
    EXPECT_EQ(file.reason(), "cannot create a temporary file in " + path("locked") + ": Permission denied");
    fs::permissions(path("locked"), fs::perms::owner_all);
    EXPECT_EQ(readFile(path("locked/out.mp4")), "old");
}
