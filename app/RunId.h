#pragma once
// The one name a run has everywhere it is kept: its history row on every
// station and server, its backup's index entry, the recording that holds its
// exchanges and the serial number it used. A UUID of version 7 (RFC 9562):
// its first 48 bits are the milliseconds since 1970 when the run started, so
// the names sort as the runs started and index well on a server; the other 74
// bits are random, so stations never need to agree on anything to name runs.
#include <optional>
#include <string>

#include "app/IsoTime.h"

namespace velmora {

class RunId {
public:
    // No run: a run that never reached a hub has no name.
    RunId() = default;
    // A new name for a run that started at started.
    static RunId make(WallTime started);
    static RunId make() { return make(wallNow()); }
    // The name in text as make writes it (any version); nothing for other text.
    static std::optional<RunId> parse(const std::string& text);

    // "0193a5f2-6c4e-7abc-9def-0123456789ab": lower case, with dashes; empty for none.
    const std::string& text() const { return text_; }
    bool empty() const { return text_.empty(); }
    bool operator==(const RunId&) const = default;

private:
    explicit RunId(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

// True for the form RunId writes (any version).
bool isRunIdText(const std::string& text);

}  // namespace velmora
