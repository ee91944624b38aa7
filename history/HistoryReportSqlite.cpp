#include "history/HistoryReportSqlite.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>

#include "history/SqliteStatement.h"

namespace velmora::history {
namespace {

bool ascii(const unsigned char* text, int size) {
    return std::all_of(text, text + size, [](unsigned char c) { return c < 0x80; });
}

// PostgreSQL's translate(), byte by byte: the same for ASCII from and to, as a
// byte below 0x80 is never part of another UTF-8 character.
void translate(sqlite3_context* context, int, sqlite3_value** arguments) {
    const auto* text = sqlite3_value_text(arguments[0]);
    const auto* from = sqlite3_value_text(arguments[1]);
    const auto* to = sqlite3_value_text(arguments[2]);
    if (text == nullptr || from == nullptr || to == nullptr) return sqlite3_result_null(context);
    const int size = sqlite3_value_bytes(arguments[0]);
    const int fromSize = sqlite3_value_bytes(arguments[1]);
    const int toSize = sqlite3_value_bytes(arguments[2]);
    if (!ascii(from, fromSize) || !ascii(to, toSize))
        return sqlite3_result_error(context, "translate() takes ASCII characters only", -1);
    std::string translated;
    translated.reserve(static_cast<std::size_t>(size));
    for (const unsigned char* c = text; c != text + size; ++c) {
        const void* found = std::memchr(from, *c, static_cast<std::size_t>(fromSize));
        if (found == nullptr) {
            translated += static_cast<char>(*c);
            continue;
        }
        const long at = static_cast<const unsigned char*>(found) - from;
        if (at < toSize) translated += static_cast<char>(to[at]);
    }
    sqlite3_result_text(context, translated.data(), static_cast<int>(translated.size()), SQLITE_TRANSIENT);
}

int compareBytes(void*, int leftSize, const void* left, int rightSize, const void* right) {
    const int common = std::memcmp(left, right, static_cast<std::size_t>(std::min(leftSize, rightSize)));
    if (common != 0) return common;
    return leftSize < rightSize ? -1 : leftSize > rightSize ? 1 : 0;
}

}  // namespace

bool addReportFunctions(sqlite3* handle, std::string& error) {
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    if (sqlite3_create_function_v2(handle, "translate", 3, flags, nullptr, translate, nullptr, nullptr,
                                   nullptr) == SQLITE_OK &&
        sqlite3_create_collation_v2(handle, "C", SQLITE_UTF8, nullptr, compareBytes, nullptr) == SQLITE_OK)
        return true;
    error = sqlite3_errmsg(handle);
    return false;
}

bool SqliteReportSource::query(const std::string& sql, const std::vector<std::string>& parameters,
                               const std::function<void(const ReportRow&)>& row, std::string& error) {
    SqliteStatement statement(handle_, sql);
    if (!statement.ready(error)) return false;
    for (std::size_t index = 0; index < parameters.size(); ++index) {
        statement.bind(statement.position("$" + std::to_string(index + 1)), parameters[index]);
    }
    ReportRow columns;
    int status = SQLITE_ROW;
    while ((status = statement.step(error)) == SQLITE_ROW) {
        columns.resize(static_cast<std::size_t>(statement.columns()));
        for (std::size_t column = 0; column < columns.size(); ++column)
            columns[column] = statement.optionalText(static_cast<int>(column));
        row(columns);
    }
    return status == SQLITE_DONE;
}

}  // namespace velmora::history
