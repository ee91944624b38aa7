// The command line's image commands run in this process through the cli library,
// as "velmora-cli image show" and "image edit" would run them, on any image bytes
// with fuzzed option values. An edit that succeeds must have saved what it was asked.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliApplication.h"
#include "cli/ImageEdit.h"
#include "editor/DescriptorFields.h"
#include "editor/EditorConstants.h"
#include "firmware/FirmwareBuffer.h"
#include "fuzz/FuzzSupport.h"

using velmora::fuzz::check;

namespace {

constexpr std::size_t kLongestValue = 48;
constexpr int kMostOptions = 4;
constexpr const char* kImageName = "image.bin";
constexpr const char* kOutputName = "edited.bin";

// A value never reads as an option or a word of its own: the command line takes
// global options wherever they stand, so "-o" or "--config" in a value would move
// the output (or the config) to a path the fuzzer made up. A command line cannot
// carry a NUL either.
std::string value(FuzzedDataProvider& input) {
    std::string text = input.ConsumeRandomLengthString(kLongestValue);
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    if (!text.empty() && text.front() == '-') text.insert(0, " ");
    return text;
}

bool isHexId(const std::string& text) {
    return text.size() == 4 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

struct Command {
    std::vector<std::string> words;
    std::map<IdentityField, std::string> asked;  // only for an edit
    std::string output;                          // only for an edit
};

Command show(FuzzedDataProvider& input, const std::string& image) {
    Command command{{"image", "show", image}, {}, {}};
    if (input.ConsumeBool()) command.words.insert(command.words.begin(), "--json");
    if (input.ConsumeBool()) {
        command.words.insert(command.words.end(), {"--ic", velmora::fuzz::resourcePath("ic/ZeloSim.INI")});
        const auto& pages = velmora::editor::kPageNames;
        const std::size_t page = input.ConsumeIntegralInRange<std::size_t>(0, pages.size());
        command.words.insert(command.words.end(),
                             {"--page", page < pages.size() ? std::string(pages[page]) : value(input)});
    }
    return command;
}

Command edit(FuzzedDataProvider& input, const std::string& image) {
    Command command;
    command.output = velmora::fuzz::scratchFolder() + "/" + kOutputName;
    command.words = {"image", "edit", image, "-o", command.output};
    const int options = input.ConsumeIntegralInRange<int>(0, kMostOptions);
    bool settings = false;
    for (int index = 0; index < options; ++index) {
        const std::size_t choice =
            input.ConsumeIntegralInRange<std::size_t>(0, velmora::cli::fieldOptions().size());
        const std::string text = value(input);
        if (choice == velmora::cli::fieldOptions().size()) {
            command.words.insert(command.words.end(), {"--set", text});
            settings = true;
        } else {
            command.words.insert(command.words.end(), {velmora::cli::fieldOptions()[choice].first, text});
            command.asked[velmora::cli::fieldOptions()[choice].second] = text;
        }
    }
    if (settings || input.ConsumeBool()) {
        command.words.insert(command.words.end(), {"--ic", velmora::fuzz::resourcePath("ic/ZeloSim.INI")});
    }
    return command;
}

// What a successful edit must have stored: the last value given for each string
// field, and the IDs given as exactly four hex digits.
void checkEdited(const std::string& output, const std::map<IdentityField, std::string>& asked) {
    FirmwareBuffer edited;
    check(FW_LoadFile(edited, output) && edited.hasBlock(), "a successful edit saved no image");
    IdentityTexts texts = *UpdateTxt_FwFlash(edited);
    for (const auto& [field, text] : asked) {
        const std::string& saved = texts.field(field);
        if (field == IdentityField::Manufacturer || field == IdentityField::Product ||
            field == IdentityField::Serial) {
            check(saved == text, "a string the edit reported as saved differs");
        } else if (field != IdentityField::ContainerId && isHexId(text)) {
            check(saved == upper(text), "an ID the edit reported as saved differs");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string image = velmora::fuzz::scratchFolder() + "/" + kImageName;
    const bool editing = input.ConsumeBool();
    const Command command = editing ? edit(input, image) : show(input, image);
    // The words come first, so the image is what the input has left.
    const std::vector<std::uint8_t> bytes = input.ConsumeBool() ? velmora::fuzz::shippedSampleImage()
                                                                : input.ConsumeRemainingBytes<std::uint8_t>();
    velmora::fuzz::writeScratchFile(kImageName, bytes.data(), bytes.size());
    if (editing) std::remove(command.output.c_str());

    std::ostringstream out;
    std::ostringstream err;
    const int status = velmora::cli::runCommandLine(command.words, {out, err, false, false});
    check(status >= 0 && status <= 2, "an exit status outside 0, 1 and 2");
    if (editing && status == 0) checkEdited(command.output, command.asked);
    return 0;
}
