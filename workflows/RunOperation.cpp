#include "workflows/RunOperation.h"

#include <array>
#include <utility>

namespace velmora {
namespace {

constexpr std::array<std::pair<RunOperation, const char*>, 8> kNames = {{
    {RunOperation::Update, "update"},
    {RunOperation::Scalar, "scalar"},
    {RunOperation::Station, "station"},
    {RunOperation::Restore, "restore"},
    {RunOperation::Recover, "recover"},
    {RunOperation::Read, "read"},
    {RunOperation::Erase, "erase"},
    {RunOperation::Verify, "verify"},
}};

}  // namespace

const char* runOperationName(RunOperation operation) {
    for (const auto& [named, name] : kNames)
        if (named == operation) return name;
    return "?";
}

std::optional<RunOperation> runOperationNamed(const std::string& name) {
    for (const auto& [operation, word] : kNames)
        if (name == word) return operation;
    return std::nullopt;
}

bool flashesUnit(RunOperation operation) {
    switch (operation) {
        case RunOperation::Update:
        case RunOperation::Scalar:
        case RunOperation::Station:
        case RunOperation::Restore:
        case RunOperation::Recover: return true;
        case RunOperation::Read:
        case RunOperation::Erase:
        case RunOperation::Verify: break;
    }
    return false;
}

}  // namespace velmora
