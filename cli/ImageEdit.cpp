#include "cli/ImageEdit.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "app/Console.h"
#include "app/Hex.h"
#include "cli/CliText.h"
#include "cli/CommandPlan.h"
#include "cli/HubSession.h"
#include "cli/ImageDefinition.h"
#include "cli/ImageFile.h"
#include "editor/DescriptorFields.h"
#include "editor/PropertyCells.h"
#include "editor/PropertyModel.h"
#include "workflows/FlashPageSave.h"

namespace velmora::cli {
namespace {

struct FieldEdit {
    IdentityField field;
    std::string option;
    std::string value;
};

struct EditRequest {
    std::string file;
    std::string output;
    std::string definition;
    std::vector<FieldEdit> fields;
    std::vector<std::string> settings;  // NAME=VALUE
};

bool readFieldOption(ArgumentReader& reader, EditRequest& request, std::string& error) {
    for (const auto& [option, field] : fieldOptions()) {
        std::string value;
        if (reader.option(option, value, error)) {
            request.fields.push_back({field, option, value});
            return true;
        }
    }
    return false;
}

bool readOption(ArgumentReader& reader, EditRequest& request, std::string& error) {
    std::string setting;
    if (reader.option("--set", setting, error)) {
        request.settings.push_back(setting);
        return true;
    }
    return reader.option("-o", request.output, error) || reader.option("--output", request.output, error) ||
           reader.option("--ic", request.definition, error) || readFieldOption(reader, request, error);
}

// 32 hex digits, bare or in the 8-4-4-4-12 groups, each form with or without braces.
bool isContainerIdText(std::string_view text) {
    constexpr std::size_t kDigits = 32;
    if (!text.empty() && text.front() == '{') {
        if (text.size() < 2 || text.back() != '}') return false;
        text = text.substr(1, text.size() - 2);
    }
    return text.size() == kDigits ? isHexDigits(text) : uuidBytes(text).has_value();
}

// The window takes every keystroke and converts any character; a script gets an
// error for junk instead of an image that holds something else than it asked for.
// IDs of the wrong length keep the editor's own messages.
bool fieldValueAcceptable(const FieldEdit& edit, std::string& error) {
    switch (edit.field) {
        case IdentityField::Vid:
        case IdentityField::Sspid:
        case IdentityField::Hspid:
            if (isHexDigits(edit.value)) return true;
            error = text::notFourHexDigits(edit.option, edit.value);
            return false;
        case IdentityField::ContainerId:
            if (isContainerIdText(edit.value)) return true;
            error = text::notContainerId(edit.value);
            return false;
        default: return true;
    }
}

bool parseEdit(const CommandContext& command, EditRequest& request, std::string& error) {
    ArgumentReader reader(command.arguments);
    while (!reader.done() && error.empty()) {
        if (readOption(reader, request, error)) continue;
        takeFileWord("image edit", reader.next(), request.file, error);
    }
    if (!error.empty()) return false;
    if (request.file.empty()) {
        error = text::missingArgument("image edit", "the image FILE");
    } else if (request.output.empty()) {
        error = text::missingArgument("image edit", "the output file (-o OUT)");
    } else if (!request.settings.empty() && request.definition.empty()) {
        error = text::missingArgument("image edit --set", "the definition file (--ic DEF.INI)");
    }
    for (const FieldEdit& edit : request.fields) {
        if (error.empty()) fieldValueAcceptable(edit, error);
    }
    return error.empty();
}

// The editor cuts an over-long entry back as the user types; a script gets an error
// instead of an image that quietly holds something else than it asked for.
bool applyFieldEdit(FirmwareBuffer& image, const FieldEdit& edit, Console& console, std::string& error) {
    IdentityEditResult result = editIdentityField(image, edit.field, edit.value, console);
    if (result.alert) {
        error = text::editRefused(edit.option, *result.alert);
        return false;
    }
    if (result.texts.field(edit.field) != edit.value) {
        error = text::stringsTooLong(edit.option);
        return false;
    }
    return true;
}

// The option is stored as its position in the list, as the window's pop-up does;
// when the definition file gives it another value text, the image reads back as
// the option whose value is that position, so the user is warned.
void reportSetting(const CommandContext& command, const PropItem& item, const std::string& name,
                   std::size_t position) {
    const std::vector<std::string> titles = editor::optionTitles(item);
    command.note(text::setPosition(name, position, titles.at(position)));
    if (item.dataList.at(position) != std::to_string(position)) {
        command.note(text::setPositionDiffers(name, item.dataList.at(position), position));
    }
}

bool applySetting(const CommandContext& command, FirmwareBuffer& image, editor::PropertyModel& model,
                  const std::string& setting, std::string& error) {
    const std::size_t equals = setting.find('=');
    if (equals == std::string::npos || equals == 0) {
        error = text::badSetting(setting);
        return false;
    }
    const std::string name = setting.substr(0, equals);
    const std::string value = setting.substr(equals + 1);
    const editor::OptionResult result = model.setProperty(image, name, value);
    switch (result.outcome) {
        case editor::OptionOutcome::Changed: {
            const std::shared_ptr<PropItem> item = model.findProperty(name);
            reportSetting(command, *item, name, editor::findOption(*item, value).value_or(0));
            return true;
        }
        case editor::OptionOutcome::NotEditable:
            error = text::editRefused("--set " + name, result.alertText);
            break;
        case editor::OptionOutcome::NoSuchRow: error = text::unknownProperty(name); break;
        default: error = text::unknownPropertyOption(name, value); break;
    }
    return false;
}

// The fields as the page would show them after the edits, with the typed texts in
// the fields that were edited, as a save reads them.
IdentityTexts fieldsToSave(const FirmwareBuffer& image, const EditRequest& request) {
    IdentityTexts fields = UpdateTxt_FwFlash(image).value_or(IdentityTexts{});
    for (const FieldEdit& edit : request.fields) fields.field(edit.field) = edit.value;
    return fields;
}

std::unique_ptr<Console> consoleFor(const CliOptions& options) {
    if (options.verbose) return std::make_unique<StderrConsole>();
    return std::make_unique<SilentConsole>();
}

ExitStatus writeImageToStandardOutput(const CommandContext& command, const FirmwareBuffer& image) {
    const std::size_t size = image.data.size();
    command.streams.out.write(reinterpret_cast<const char*>(image.data.data()),
                              static_cast<std::streamsize>(size));
    command.streams.out.flush();
    if (!command.streams.out) {
        return command.fail(ExitStatus::WorkflowFailed,
                            text::cannotWrite(text::kStandardOutputName, "write error"));
    }
    command.note(text::savedToStandardOutput(size));
    return ExitStatus::Success;
}

ExitStatus writeImageFile(const CommandContext& command, const FirmwareBuffer& image, const std::string& path,
                          TerminalReporter& reporter, Console& console) {
    std::string reason;
    if (!saveFinished_FwFlash(image, path, reporter, console, &reason)) {
        return command.fail(ExitStatus::WorkflowFailed, text::cannotWrite(path, reason));
    }
    command.note(text::savedFile(path, image.data.size()));
    return ExitStatus::Success;
}

}  // namespace

const std::vector<std::pair<std::string, IdentityField>>& fieldOptions() {
    static const std::vector<std::pair<std::string, IdentityField>> options = {
        {"--vid", IdentityField::Vid},
        {"--sspid", IdentityField::Sspid},
        {"--hspid", IdentityField::Hspid},
        {"--manufacturer", IdentityField::Manufacturer},
        {"--product", IdentityField::Product},
        {"--serial", IdentityField::Serial},
        {"--container-id", IdentityField::ContainerId},
    };
    return options;
}

ExitStatus runImageEdit(const CommandContext& command) {
    EditRequest request;
    std::string error;
    if (!parseEdit(command, request, error)) return command.fail(ExitStatus::BadUsage, error);
    FirmwareBuffer& image = command.buffers.flashPage;
    ImageAdmission admission = imageToEdit(request.file, error);
    if (!admission.admitted() || !outputPathUsable(request.output, error)) {
        return command.fail(ExitStatus::BadUsage, error);
    }
    // The edited image is written over no file a run depends on (the history,
    // the configuration, the backups) and not over the image it was made from.
    const std::unique_ptr<HubEnvironment> environment = recordsEnvironment(command, error);
    if (!environment) return command.fail(ExitStatus::BadUsage, error);
    RunPlan plan = commandPlan(command, "image edit", PlanHubs::None);
    plan.reads = {request.file};
    if (!request.definition.empty()) plan.reads.push_back(request.definition);
    plan.writes = {{request.output, OutputKind::EditedImage}};
    PlanVerdict admitted;
    if (const auto refused = refusePlan(command, *environment, plan, admitted)) return *refused;
    image = std::move(admission.image);
    const bool toStandardOutput = request.output == text::kStandardOutputName;
    if (toStandardOutput && command.streams.outIsTerminal) {
        return command.fail(ExitStatus::BadUsage, text::kBinaryToTerminal);
    }
    const std::unique_ptr<Console> console = consoleFor(command.options);
    for (const FieldEdit& edit : request.fields) {
        if (!applyFieldEdit(image, edit, *console, error)) return command.fail(ExitStatus::BadUsage, error);
    }
    if (!request.definition.empty()) {
        editor::PropertyModel model(*console);
        if (!loadDefinition(request.definition, image, model, error)) {
            return command.fail(ExitStatus::BadUsage, error);
        }
        for (const std::string& setting : request.settings) {
            if (!applySetting(command, image, model, setting, error)) {
                return command.fail(ExitStatus::BadUsage, error);
            }
        }
    }
    TerminalReporter reporter(command.streams);
    // With the image on standard output, the string area's dump goes to stderr.
    std::ostream& dump = toStandardOutput ? command.streams.err : command.streams.out;
    if (!save_FwFlash(image, fieldsToSave(image, request), reporter, *console, dump)) {
        return ExitStatus::BadUsage;
    }
    return toStandardOutput ? writeImageToStandardOutput(command, image)
                            : writeImageFile(command, image, request.output, reporter, *console);
}

}  // namespace velmora::cli
