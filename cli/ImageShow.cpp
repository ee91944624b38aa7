#include "cli/ImageShow.h"

#include <algorithm>
#include <optional>

#include "app/Console.h"
#include "app/Json.h"
#include "cli/CliText.h"
#include "cli/ImageDefinition.h"
#include "cli/ImageFile.h"
#include "editor/BinaryView.h"
#include "editor/DescriptorFields.h"
#include "editor/EditorConstants.h"
#include "editor/PropertyModel.h"

namespace velmora::cli {
namespace {

struct ShowRequest {
    std::string file;
    std::string definition;  // empty: no property listing
    std::string page = std::string(editor::kPageNames.front());
};

bool parseShow(const CommandContext& command, ShowRequest& request, std::string& error) {
    ArgumentReader reader(command.arguments);
    while (!reader.done() && error.empty()) {
        if (reader.option("--ic", request.definition, error) ||
            reader.option("--page", request.page, error)) {
            continue;
        }
        takeFileWord("image show", reader.next(), request.file, error);
    }
    if (error.empty() && request.file.empty()) error = text::missingArgument("image show", "the image FILE");
    const auto& pages = editor::kPageNames;
    if (error.empty() && std::find(pages.begin(), pages.end(), request.page) == pages.end()) {
        error = text::unknownPage(request.page);
    }
    return error.empty();
}

struct Labelled {
    const char* label;
    const std::string& value;
};

std::vector<Labelled> labelledFields(const IdentityTexts& fields) {
    return {{text::kVidLabel, fields.vid},
            {text::kSspidLabel, fields.sspid},
            {text::kHspidLabel, fields.hspid},
            {text::kVersionLabel, fields.version},
            {text::kManufacturerLabel, fields.manufacturer},
            {text::kProductLabel, fields.product},
            {text::kSerialLabel, fields.serial},
            {text::kContainerIdLabel, fields.containerId}};
}

void printText(std::ostream& out, const IdentityTexts& fields, const std::string& binary,
               const ShowRequest& request, const std::vector<editor::PropertyLine>& lines) {
    for (const Labelled& field : labelledFields(fields)) {
        out << field.label << ": " << text::printable(field.value) << '\n';
    }
    out << '\n' << binary;
    if (!binary.empty() && binary.back() != '\n') out << '\n';
    if (request.definition.empty()) return;
    out << '\n' << text::kPageLabel << ": " << request.page << '\n';
    for (const editor::PropertyLine& line : lines) {
        out << text::printable(line.property) << " = " << text::printable(line.value) << '\n';
    }
}

void printJson(std::ostream& out, const FirmwareBuffer& image, const IdentityTexts& fields,
               const std::string& binary, const ShowRequest& request,
               const std::vector<editor::PropertyLine>& lines) {
    JsonDocument shown = {{"file", request.file},
                          {"size", image.size},
                          {"vid", fields.vid},
                          {"sspid", fields.sspid},
                          {"hspid", fields.hspid},
                          {"version", fields.version},
                          {"manufacturer", fields.manufacturer},
                          {"product", fields.product},
                          {"serial", fields.serial},
                          {"containerId", fields.containerId},
                          {"binary", binary}};
    if (!request.definition.empty()) {
        shown["page"] = request.page;
        JsonDocument& properties = shown["properties"] = JsonDocument::array();
        for (const editor::PropertyLine& line : lines)
            properties.push_back({{"property", line.property}, {"value", line.value}});
    }
    out << asciiJson(std::move(shown)) << '\n';
}

}  // namespace

ExitStatus runImageShow(const CommandContext& command) {
    ShowRequest request;
    std::string error;
    if (!parseShow(command, request, error)) return command.fail(ExitStatus::BadUsage, error);
    FirmwareBuffer& image = command.buffers.flashPage;
    ImageAdmission admission = imageToEdit(request.file, error);
    if (!admission.admitted()) return command.fail(ExitStatus::BadUsage, error);
    image = std::move(admission.image);

    SilentConsole console;
    std::vector<editor::PropertyLine> lines;
    if (!request.definition.empty()) {
        editor::PropertyModel model(console);
        if (!loadDefinition(request.definition, image, model, error)) {
            return command.fail(ExitStatus::BadUsage, error);
        }
        lines = model.pageLines(request.page);
    }
    const IdentityTexts fields = UpdateTxt_FwFlash(image).value_or(IdentityTexts{});
    const std::optional<editor::BinaryViewText> view = editor::ShowBinary(image, 0, 0, console);
    const std::string binary = view ? view->text : std::string();
    if (command.options.json) {
        printJson(command.streams.out, image, fields, binary, request, lines);
    } else {
        printText(command.streams.out, fields, binary, request, lines);
    }
    return ExitStatus::Success;
}

}  // namespace velmora::cli
