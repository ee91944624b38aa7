#include "cli/ImageEdit.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "app/Console.h"
#include "cli/CliText.h"
#include "cli/ImageDefinition.h"
#include "cli/ImageFile.h"
#include "editor/DescriptorFields.h"
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

bool parseEdit(const CommandContext& command, EditRequest& request, std::string& error) {
    ArgumentReader reader(command.arguments);
    while (!reader.done() && error.empty()) {
        if (readOption(reader, request, error)) continue;
        const std::string word = reader.next();
        if (word.rfind("-", 0) == 0) {
            error = text::unknownOption("image edit", word);
        } else if (request.file.empty()) {
            request.file = word;
        } else {
            error = text::unexpectedArgument("image edit", word);
        }
    }
    if (!error.empty()) return false;
    if (request.file.empty()) {
        error = text::missingArgument("image edit", "the image FILE");
    } else if (request.output.empty()) {
        error = text::missingArgument("image edit", "the output file (-o OUT)");
    } else if (!request.settings.empty() && request.definition.empty()) {
        error = text::missingArgument("image edit --set", "the definition file (--ic DEF.INI)");
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

bool applySetting(FirmwareBuffer& image, editor::PropertyModel& model, const std::string& setting,
                  std::string& error) {
    const std::size_t equals = setting.find('=');
    if (equals == std::string::npos || equals == 0) {
        error = text::badSetting(setting);
        return false;
    }
    const std::string name = setting.substr(0, equals);
    const std::string value = setting.substr(equals + 1);
    const editor::OptionResult result = model.setProperty(image, name, value);
    switch (result.outcome) {
        case editor::OptionOutcome::Changed: return true;
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

}  // namespace

ExitStatus runImageEdit(const CommandContext& command) {
    EditRequest request;
    std::string error;
    if (!parseEdit(command, request, error)) return command.fail(ExitStatus::BadUsage, error);
    FirmwareBuffer& image = command.buffers.flashPage;
    if (!loadImageFile(request.file, image, error) || !outputFolderUsable(request.output, error)) {
        return command.fail(ExitStatus::BadUsage, error);
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
            if (!applySetting(image, model, setting, error)) return command.fail(ExitStatus::BadUsage, error);
        }
    }
    TerminalReporter reporter(command.streams);
    if (!save_FwFlash(image, fieldsToSave(image, request), reporter, *console, command.streams.out)) {
        return ExitStatus::BadUsage;
    }
    if (!saveFinished_FwFlash(image, request.output, reporter, *console)) return ExitStatus::WorkflowFailed;
    command.note(text::savedFile(request.output, image.data.size()));
    return ExitStatus::Success;
}

}  // namespace velmora::cli
