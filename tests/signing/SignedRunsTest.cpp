// The signature as one rule of the image gate, in the runs that write a hub: what
// passes is recorded with its key, what is refused never reaches the hub, and the
// bytes written are the bytes judged.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/Console.h"
#include "app/Sha256.h"
#include "device/simulated/SimulatedEnvironment.h"
#include "environment/HubEnvironment.h"
#include "tests/cli/CliProcess.h"
#include "tests/signing/SigningRig.h"
#include "tests/support/SilentReporter.h"
#include "workflows/EasyUpdate.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;
using signing::KeyPair;

std::string sha256Of(const std::vector<std::uint8_t>& bytes) {
    return sha256Hex(bytes.data(), bytes.size());
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// velmora-cli on the simulated hub, trusting the rig's key folder as a bench's,
// recording into a history of its own.
struct Bench {
    Bench() {
        fs::create_directories(state_);
        fs::permissions(state_, fs::perms::owner_all);
    }
    CliRun cli(std::vector<std::string> words) const {
        words.insert(words.begin(), {"--simulate", "--trace", "--history", history_, "--trusted-keys",
                                     rig_.keyFolder().string()});
        return runCli(words);
    }
    std::string historyJson() const { return runCli({"--history", history_, "--json", "history"}).out; }

    SigningRig rig_;
    std::string state_ = rig_.path("state");
    std::string history_ = state_ + "/history.sqlite";
};

class SignedRunsTest : public ::testing::Test, protected Bench {};

struct RunCase {
    const char* name;
    // Prepares the image fw.bin (and its signature); answers its path.
    std::function<std::string(const SigningRig&, const KeyPair& trusted)> prepare;
    std::vector<std::string> options;
    int exitStatus;
    const char* said;      // a part of standard error
    const char* recorded;  // the signature recorded; nullptr: no run, nothing written
};

TEST_F(SignedRunsTest, EachImageIsJudgedBeforeAnyHubRequest) {
    const auto signedImage = [](const SigningRig& rig, const KeyPair& key) {
        const std::string image = rig.image("fw.bin");
        rig.sign(image, key);
        return image;
    };
    const RunCase cases[] = {
        {"signed by a trusted key", signedImage, {}, 0, "signed by key", "\"signature\":\"trusted\""},
        {"unsigned, signatures required",
         [](auto& rig, auto&) { return rig.image("fw.bin"); },
         {"--require-signed"},
         2,
         "is not signed",
         nullptr},
        {"unsigned, keys trusted",
         [](auto& rig, auto&) { return rig.image("fw.bin"); },
         {},
         0,
         "is not signed (no",
         "\"signature\":\"unsigned\""},
        {"a byte changed after signing",
         [&](auto& rig, auto& key) {
             const std::string image = signedImage(rig, key);
             std::fstream(image, std::ios::in | std::ios::out | std::ios::binary).put('\x5A');
             return image;
         },
         {},
         2,
         "was changed after it was signed",
         nullptr},
        {"another image's signature beside it",
         [&](auto& rig, auto& key) {
             const std::string other = signedImage(rig, key);
             fs::rename(other + ".minisig", rig.path("keep.minisig"));
             const std::string image = rig.image("other.bin", 7);
             fs::rename(rig.path("keep.minisig"), image + ".minisig");
             return image;
         },
         {},
         2,
         "that signature is of another file",
         nullptr},
        {"an unknown key",
         [&](auto& rig, auto&) { return signedImage(rig, rig.untrustedKey()); },
         {},
         2,
         "which is not trusted",
         nullptr},
        {"a huge signature file",
         [](auto& rig, auto&) {
             const std::string image = rig.image("fw.bin");
             std::ofstream(image + ".minisig") << std::string(1 << 20, 'A');
             return image;
         },
         {},
         2,
         ".minisig",
         nullptr},
        {"a FIFO for a signature",
         [](auto& rig, auto&) {
             const std::string image = rig.image("fw.bin");
             ::mkfifo((image + ".minisig").c_str(), 0600);
             return image;
         },
         {},
         2,
         ".minisig",
         nullptr},
    };
    for (const RunCase& test : cases) {
        SCOPED_TRACE(test.name);
        Bench fresh;
        const KeyPair key = fresh.rig_.trustedKey("release-2026");
        const std::string image = test.prepare(fresh.rig_, key);
        std::vector<std::string> words = test.options;
        words.insert(words.end(), {"update", image});
        const CliRun run = fresh.cli(words);
        EXPECT_EQ(run.exitStatus, test.exitStatus) << run.err;
        EXPECT_TRUE(contains(run.err, test.said)) << run.err;
        const std::string rows = fresh.historyJson();
        if (test.recorded == nullptr) {
            // Refused before the hub was opened: no request on the wire (--trace),
            // no pane line, no run recorded.
            EXPECT_FALSE(contains(run.err, "ctrl ")) << run.err;
            EXPECT_EQ(run.out, "");
            EXPECT_FALSE(contains(rows, "\"operation\"")) << rows;
        } else {
            EXPECT_TRUE(contains(rows, test.recorded)) << rows;
        }
        if (std::string(test.name) == "signed by a trusted key") {
            EXPECT_TRUE(contains(rows, "\"signature_key\":\"" + signing::keyIdText(key.publicKey.id) + "\""))
                << rows;
        }
    }
}

// The station judges the image before its first unit, shows the signer in its
// header, and a unit's serial, which changes the bytes written, is recorded
// beside the signed file's SHA-256.
TEST_F(SignedRunsTest, TheStationJudgesBeforeItsFirstUnit) {
    const KeyPair key = rig_.trustedKey("release-2026");
    const std::string image = rig_.image("fw.bin");
    const CliRun refused = cli({"--require-signed", "station", image, "--count", "1"});
    EXPECT_EQ(refused.exitStatus, 2) << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_TRUE(contains(refused.err, "is not signed")) << refused.err;
    EXPECT_FALSE(contains(refused.err, "ctrl ")) << refused.err;

    rig_.sign(image, key);
    const CliRun run = cli({"--require-signed", "station", image, "--count", "1", "--serial-digits", "4"});
    ASSERT_EQ(run.exitStatus, 0) << run.err << run.out;
    EXPECT_TRUE(contains(run.out, "signed by key " + signing::keyIdText(key.publicKey.id))) << run.out;
    const std::string rows = historyJson();
    EXPECT_TRUE(contains(rows, "\"signature\":\"trusted\"")) << rows;
    EXPECT_TRUE(contains(rows, "\"signed_sha256\":\"" + sha256Of(SigningRig::read(image)) + "\"")) << rows;
}

// In process, against a stand-in for the system's folder: revocation, rotation,
// RequireSigned in the configuration, trust folders that are links, and a file
// changed between the judgement and the flash.
class SignatureGateTest : public ::testing::Test {
protected:
    std::unique_ptr<HubEnvironment> open(const std::string& configText = "") {
        const std::string config = rig_.path("config.ini");
        std::ofstream(config) << "[Support Vid Pid]\nVID_00 = 0x2FE3\nSSPID_00 = 0x0611\nHSPID_00 = 0x0610\n"
                              << configText;
        EnvironmentOptions options;
        options.configPath = config;
        options.simulate = true;
        options.clock = ClockChoice::Virtual;
        options.keepHistory = false;
        options.keepBackups = false;
        options.trust.systemFolder = rig_.system();
        std::string error;
        auto environment = HubEnvironment::prepare(options, std::make_unique<SilentConsole>(), error);
        EXPECT_TRUE(environment) << error;
        SilentConsole console;
        if (environment) {
            EXPECT_TRUE(environment->useConfig(readConfigFile(config, console).config, error)) << error;
        }
        return environment;
    }
    ImageAdmission admit(const std::string& image, const std::string& configText = "") {
        return open(configText)->admitImage(image, ImageUse::Update);
    }

    SigningRig rig_;
};

TEST_F(SignatureGateTest, RevokedKeysRotationAndRequiredSignatures) {
    const KeyPair old = rig_.trustedKey("release-2025");
    const KeyPair current = rig_.trustedKey("release-2026");
    const std::string byOld = rig_.image("old.bin", 1);
    const std::string byCurrent = rig_.image("new.bin", 2);
    rig_.sign(byOld, old);
    rig_.sign(byCurrent, current);
    // Two keys trusted at once: a new release key beside the old one.
    EXPECT_EQ(admit(byOld).signature.state, "trusted");
    EXPECT_EQ(admit(byCurrent).signature.keyId, signing::keyIdText(current.publicKey.id));
    rig_.revoke(old.publicKey.id);
    const ImageAdmission revoked = admit(byOld);
    EXPECT_EQ(revoked.refusal, ImageRefusal::Signature);
    EXPECT_TRUE(contains(revoked.reason, "which is revoked")) << revoked.reason;
    EXPECT_FALSE(revoked.image.loaded);
    EXPECT_TRUE(admit(byCurrent).admitted());

    const std::string plain = rig_.image("plain.bin", 3);
    const ImageAdmission noted = admit(plain);
    ASSERT_TRUE(noted.admitted());
    EXPECT_EQ(noted.signature.notes,
              std::vector<std::string>{plain + " is not signed (no " + plain + ".minisig)"});
    EXPECT_EQ(admit(plain, "[Images]\nRequireSigned = 1\n").refusal, ImageRefusal::Signature);
    // A flash page is only shown: never judged.
    EXPECT_TRUE(open("[Images]\nRequireSigned = 1\n")->admitImage(plain, ImageUse::FlashPage).admitted());
}

TEST_F(SignatureGateTest, ATrustedKeysFolderThatIsALinkTrustsNothing) {
    const KeyPair key = rig_.trustedKey("release-2026");
    const std::string image = rig_.image("fw.bin");
    rig_.sign(image, key);
    fs::rename(rig_.keyFolder(), rig_.path("real-keys"));
    fs::create_directory_symlink(rig_.path("real-keys"), rig_.keyFolder());
    const ImageAdmission admission = admit(image);
    EXPECT_EQ(admission.refusal, ImageRefusal::Signature);
    EXPECT_TRUE(contains(admission.reason, "which is not trusted")) << admission.reason;
}

// What is written is what was judged: the run takes the admitted bytes, so a
// file swapped after the judgement changes nothing on the hub.
TEST_F(SignatureGateTest, AFileChangedAfterTheJudgementIsNotWhatIsWritten) {
    const KeyPair key = rig_.trustedKey("release-2026");
    const std::string image = rig_.image("fw.bin", 0x11);
    rig_.sign(image, key);
    const std::vector<std::uint8_t> judged = SigningRig::read(image);
    auto environment = open();
    ImageAdmission admission = environment->admitImage(image, ImageUse::Update);
    ASSERT_TRUE(admission.admitted()) << admission.reason;
    rig_.image("fw.bin", 0x22);  // replaced on the shared drive in the meantime

    SilentReporter reporter;
    WorkflowContext context{reporter, environment->connection()};
    context.imageSignature = &admission.signature;
    ASSERT_TRUE(updateFunc(context, admission.image, image));
    EXPECT_EQ(admission.signature.judgedSha256, sha256Of(judged));
    EXPECT_EQ(environment->simulation()->hub()->flashContents(), judged);
}

}  // namespace
}  // namespace velmora::testing
