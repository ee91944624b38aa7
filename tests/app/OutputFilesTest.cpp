// The rule every output is held to, and how a private output is made: files told
// apart by what they are, not how their paths are spelled.
#include "app/OutputFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/ScratchFolder.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

class OutputFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(scratch_ / "store" / "deep");
        std::ofstream(scratch_ / "history.sqlite") << "history";
        std::ofstream(scratch_ / "store" / "deep" / "kept") << "kept";
        guarded_ = {{scratch_.path("history.sqlite"), "the history"},
                    {scratch_.path("history.sqlite-wal"), "the log"},
                    {scratch_.path("store"), "the store", true}};
    }
    std::string contents(const std::string& path) {
        std::ifstream in(path);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    testing::ScratchFolder scratch_{"velmora-outputs"};
    std::vector<GuardedPath> guarded_;
};

TEST_F(OutputFilesTest, AGuardedFileIsFoundUnderEveryName) {
    fs::create_hard_link(scratch_ / "history.sqlite", scratch_ / "second-name");
    fs::create_hard_link(scratch_ / "store" / "deep" / "kept", scratch_ / "kept-elsewhere");
    fs::create_symlink(scratch_ / "history.sqlite", scratch_ / "link");
    const struct {
        std::string output;
        std::string said;
    } cases[] = {
        {scratch_.path("history.sqlite"), "is the history"},
        {(scratch_ / "store" / ".." / "history.sqlite").string(), "is the history"},
        {scratch_.path("second-name"), "is the history"},
        {(scratch_ / "store" / ".." / "history.sqlite-wal").string(), "is the log"},  // not there yet
        {(scratch_ / "store" / "deep" / "new").string(), "is inside the store"},
        {scratch_.path("kept-elsewhere"), "is inside the store"},
        {scratch_.path("link"), "symbolic link"},
    };
    for (const auto& one : cases) {
        const std::optional<std::string> refusal = outputRefusal(one.output, guarded_);
        ASSERT_TRUE(refusal) << one.output;
        EXPECT_NE(refusal->find(one.said), std::string::npos) << *refusal;
    }
    EXPECT_FALSE(outputRefusal(scratch_.path("history.sqlite-shm"), guarded_));
    EXPECT_FALSE(outputRefusal(scratch_.path("out.bin"), guarded_));
    EXPECT_FALSE(outputRefusal("-", guarded_));
}

TEST_F(OutputFilesTest, AsRootAnotherUsersFileIsNeverWritten) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root";
    const std::string theirs = scratch_.path("theirs");
    std::ofstream(theirs) << "theirs";
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(theirs.c_str(), 0666), 0);
    const std::optional<std::string> refusal = outputRefusal(theirs, {});
    ASSERT_TRUE(refusal);
    EXPECT_NE(refusal->find("belongs to user 65534"), std::string::npos) << *refusal;
}

TEST_F(OutputFilesTest, APrivateOutputReplacesWhatStoodThereForThisUserAlone) {
    const std::string path = scratch_.path("recording");
    std::ofstream(path) << "old";
    fs::create_hard_link(path, scratch_ / "other-name");
    const mode_t mask = ::umask(0);
    std::string error;
    const int descriptor = createPrivateOutput(path, error);
    ::umask(mask);
    ASSERT_GE(descriptor, 0) << error;
    ASSERT_EQ(::write(descriptor, "new", 3), 3);
    ::close(descriptor);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(contents(path), "new");
    EXPECT_EQ(contents(scratch_.path("other-name")), "old");  // written into, never

    // A link or a FIFO at the path is refused, and what it points to untouched.
    fs::create_symlink(scratch_ / "history.sqlite", scratch_ / "link");
    EXPECT_LT(createPrivateOutput(scratch_.path("link"), error), 0);
    EXPECT_EQ(contents(scratch_.path("history.sqlite")), "history");
    ASSERT_EQ(::mkfifo(scratch_.path("fifo").c_str(), 0600), 0);
    EXPECT_LT(createPrivateOutput(scratch_.path("fifo"), error), 0);
}

}  // namespace
}  // namespace velmora
