#pragma once
// How the station sends what waits for the line's server (its rows, its serial
// numbers' marks): a batch in one transaction; a batch the server refuses goes
// again one item at a time, so the items it refuses are set aside and the rest
// still go. An item is to blame only when the server let this station in and
// then refused it: no answer, or a connection it refused, ends the send.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "history/LineServer.h"

namespace velmora::history {

// send(items, error) sends to server; keep(items, error) records in the
// station's file that they went; setAside(item, why) takes a refused one. How
// many went, or nothing with error when the server could not be reached or the
// file could not record what went.
template <typename Item, typename Send, typename Keep, typename SetAside>
std::optional<std::size_t> sendSettingAside(const LineServer& server, const std::vector<Item>& items,
                                            Send send, Keep keep, SetAside setAside, std::string& error) {
    const auto reached = [&server] { return server.answered() && !server.refusedConnection(); };
    if (send(items, error)) return keep(items, error) ? std::optional(items.size()) : std::nullopt;
    if (!reached()) return std::nullopt;
    std::size_t sent = 0;
    for (const Item& item : items) {
        std::string why;
        if (send(std::vector<Item>{item}, why)) {
            if (!keep(std::vector<Item>{item}, error)) return std::nullopt;
            ++sent;
        } else if (!reached()) {
            error = why;
            return std::nullopt;
        } else {
            setAside(item, why);
        }
    }
    return sent;
}

}  // namespace velmora::history
