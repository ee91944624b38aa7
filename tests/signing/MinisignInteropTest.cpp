// velmora-cli's key pairs and signatures against Debian's minisign, both ways:
// what either tool signs, with keys either made, the other verifies, and what
// does not belong together is refused.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "signing/MinisignFormat.h"
#include "signing/SecretKey.h"
#include "tests/cli/CliProcess.h"
#include "tests/signing/SigningRig.h"
#include "tests/support/SampleImage.h"
#include "tests/support/ScratchFolder.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

class MinisignInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(VELMORA_MINISIGN_PATH).empty()) GTEST_SKIP() << "minisign is not installed";
        image_ = scratch_.write("fw.bin", makeShippedSampleImage());
        fs::create_directory(keys_);
    }

    CliRun minisign(const std::vector<std::string>& arguments, const std::string& input = {}) const {
        return runProgram(VELMORA_MINISIGN_PATH, arguments, input);
    }
    // velmora-cli trusting the keys of the test's key folder.
    CliRun verify(const std::string& image) const {
        SigningRig::protect(keys_);
        for (const auto& entry : fs::directory_iterator(keys_))
            if (entry.path().extension() == ".pub") SigningRig::protect(entry.path());
        return runCli({"--trusted-keys", keys_.string(), "image", "verify", image});
    }
    // A key pair made by minisign, its public key among the trusted ones.
    std::string minisignKey(const std::string& name) const {
        const std::string secret = scratch_.path(name + ".key");
        const CliRun run = minisign({"-G", "-W", "-p", (keys_ / (name + ".pub")).string(), "-s", secret});
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        return secret;
    }
    // A key pair made by velmora-cli, its public key among the trusted ones.
    std::string velmoraKey(const std::string& name) const {
        const CliRun run = runCli({"image", "keygen", "-o", (keys_ / name).string(), "--no-password"});
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        return (keys_ / (name + ".key")).string();
    }
    std::string publicKey(const std::string& name) const { return (keys_ / (name + ".pub")).string(); }

    ScratchFolder scratch_{"velmora-minisign"};
    fs::path keys_ = scratch_.path() / "keys";
    std::string image_;
};

TEST_F(MinisignInteropTest, MinisignSignaturesVerifyInVelmora) {
    const std::string key = minisignKey("release");
    std::ifstream publicFile(publicKey("release"));
    std::string comment;
    std::getline(publicFile, comment);
    const std::string keyId = comment.substr(comment.rfind(' ') + 1);
    for (const auto& [flags, form] :
         {std::pair<std::vector<std::string>, std::string>{{}, "(prehashed)"}, {{"-l"}, "(legacy)"}}) {
        std::vector<std::string> arguments = {"-S", "-s", key, "-m", image_, "-t", "batch 7"};
        arguments.insert(arguments.end(), flags.begin(), flags.end());
        ASSERT_EQ(minisign(arguments).exitStatus, 0);
        const CliRun run = verify(image_);
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        EXPECT_EQ(run.out, "signed by key " + keyId + " " + form + "\ntrusted comment: batch 7\nkey " +
                               keyId + " is trusted (" + publicKey("release") + ")\n");
    }
}

TEST_F(MinisignInteropTest, VelmoraSignaturesVerifyWithMinisign) {
    const std::string key = velmoraKey("release");
    const CliRun sign = runCli({"image", "sign", image_, "--key", key, "--comment", "first batch"});
    ASSERT_EQ(sign.exitStatus, 0) << sign.err;
    const CliRun checked = minisign({"-V", "-p", publicKey("release"), "-m", image_});
    EXPECT_EQ(checked.exitStatus, 0) << checked.err;
    EXPECT_NE(checked.out.find("\tfile:fw.bin\tversion:0102\tcomment:first batch\thashed\n"),
              std::string::npos)
        << checked.out;
    EXPECT_EQ(verify(image_).exitStatus, 0);
}

// Keys made by either tool sign with the other: an open key, and one sealed under
// a password (made here with a cheap protection, which the file names).
TEST_F(MinisignInteropTest, KeysOfEitherToolSignWithTheOther) {
    const std::string minisignMade = minisignKey("minisign-made");
    ASSERT_EQ(runCli({"image", "sign", image_, "--key", minisignMade}).exitStatus, 0);
    EXPECT_EQ(minisign({"-V", "-p", publicKey("minisign-made"), "-m", image_}).exitStatus, 0);

    const std::string velmoraMade = velmoraKey("velmora-made");
    ASSERT_EQ(minisign({"-S", "-s", velmoraMade, "-m", image_}).exitStatus, 0);
    EXPECT_EQ(verify(image_).exitStatus, 0);

    const signing::KeyPair pair = signing::generateKeyPair();
    const std::string password = "line 3 release";
    const std::string sealed = scratch_.path("sealed.key");
    std::ofstream(sealed) << signing::secretKeyFileText(
        signing::sealSecretKey(pair.secretKey, &password, {32768, 16 * 1024 * 1024}));
    std::ofstream(publicKey("sealed")) << signing::publicKeyFileText(pair.publicKey);
    ASSERT_EQ(minisign({"-S", "-s", sealed, "-m", image_}, password + "\n").exitStatus, 0);
    EXPECT_EQ(verify(image_).exitStatus, 0);
    const CliRun signedHere = runCliWithInput({"image", "sign", image_, "--key", sealed}, password + "\n");
    ASSERT_EQ(signedHere.exitStatus, 0) << signedHere.err;
    EXPECT_EQ(minisign({"-V", "-p", publicKey("sealed"), "-m", image_}).exitStatus, 0);
    const CliRun wrong = runCliWithInput({"image", "sign", image_, "--key", sealed}, "line 4 release\n");
    EXPECT_EQ(wrong.exitStatus, 2);
    EXPECT_NE(wrong.err.find("wrong password"), std::string::npos) << wrong.err;
}

TEST_F(MinisignInteropTest, WhatDoesNotBelongTogetherIsRefused) {
    const std::string key = minisignKey("release");
    const std::string stranger = scratch_.path("stranger.key");
    ASSERT_EQ(minisign({"-G", "-W", "-p", scratch_.path("stranger.pub"), "-s", stranger}).exitStatus, 0);
    const std::string other = scratch_.write("other.bin", std::vector<std::uint8_t>(4096, 0x55));
    struct Case {
        const char* name;
        std::vector<std::string> signing;  // minisign's words, then what is done to the files
        std::function<void()> after;
        const char* reason;
    };
    const Case cases[] = {
        {"a changed byte",
         {"-S", "-s", key, "-m", image_},
         [&] {
             std::fstream file(image_, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(100);
             file.put('\x7F');
         },
         "the image was changed after it was signed"},
        {"a key not trusted", {"-S", "-s", stranger, "-m", image_}, [] {}, "which is not trusted"},
        {"a signature of another image",
         {"-S", "-s", key, "-m", other},
         [&] {
             fs::copy_file(other + ".minisig", image_ + ".minisig", fs::copy_options::overwrite_existing);
         },
         "that signature is of another file, other.bin"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        scratch_.write("fw.bin", makeShippedSampleImage());
        ASSERT_EQ(minisign(test.signing).exitStatus, 0);
        test.after();
        const CliRun run = verify(image_);
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_NE(run.err.find(test.reason), std::string::npos) << run.err;
    }
}

TEST_F(MinisignInteropTest, KeygenAsksThePasswordTwiceAndReplacesNothing) {
    const std::string name = scratch_.path("release");
    const CliRun differ = runCliWithInput({"image", "keygen", "-o", name}, "one\ntwo\n");
    EXPECT_EQ(differ.exitStatus, 2);
    EXPECT_NE(differ.err.find("the two passwords differ"), std::string::npos) << differ.err;
    EXPECT_FALSE(fs::exists(name + ".key"));

    // The one key sealed with minisign's full protection: a few seconds of scrypt.
    const CliRun made = runCliWithInput({"image", "keygen", "-o", name}, "line 3\nline 3\n");
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    struct stat info {};
    ASSERT_EQ(::stat((name + ".key").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    std::ifstream file(name + ".key");
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::string error;
    const auto sealed = signing::parseSecretKeyFile(text, error);
    ASSERT_TRUE(sealed) << error;
    EXPECT_TRUE(sealed->passwordProtected);
    EXPECT_EQ(sealed->memLimit, signing::kMinisignPasswordCost.memLimit);

    const CliRun again = runCli({"image", "keygen", "-o", name, "--no-password"});
    EXPECT_EQ(again.exitStatus, 2);
    EXPECT_NE(again.err.find("exists"), std::string::npos) << again.err;
    std::ifstream kept(name + ".key");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), std::istreambuf_iterator<char>()), text);
}

TEST_F(MinisignInteropTest, RequiredSignaturesAndBenchKeysExcludeEachOther) {
    const CliRun unsignedImage = runCli({"--require-signed", "image", "verify", image_});
    EXPECT_EQ(unsignedImage.exitStatus, 1);
    EXPECT_NE(unsignedImage.err.find("signed images are required"), std::string::npos) << unsignedImage.err;
    const std::string config = scratch_.path("config.ini");
    std::ofstream(config) << "[Images]\nRequireSigned = 1\n";
    const CliRun bench =
        runCli({"--config", config, "--trusted-keys", keys_.string(), "image", "verify", image_});
    EXPECT_EQ(bench.exitStatus, 2);
    EXPECT_NE(bench.err.find("--trusted-keys is refused"), std::string::npos) << bench.err;
    // A hub command refuses the unsigned image before the hub is opened.
    const CliRun update = runCli({"--simulate", "--require-signed", "update", image_});
    EXPECT_EQ(update.exitStatus, 2);
    EXPECT_EQ(update.out, "");
}

}  // namespace
}  // namespace velmora::testing
