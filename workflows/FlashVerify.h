#pragma once
// Verify without writing: the flash is read in ROM code as far as the image
// reaches and compared with it byte for byte; the hub is put back into its flash
// code afterwards. Nothing is erased or written.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "workflows/WorkflowContext.h"

namespace velmora {

struct FlashComparison {
    bool read = false;                 // false: the run failed before the comparison (its lines say why)
    std::size_t differing = 0;         // how many bytes differ
    std::optional<std::size_t> first;  // the first differing address; none when equal
    bool equal() const { return read && differing == 0; }
};

// Reads, compares and resets, with the read's own step lines. image must fit the flash.
FlashComparison verifyFunc_FwFlash(const WorkflowContext& context, const std::vector<std::uint8_t>& image);

// The bytes that differ between the flash read and the image, over the image's length.
FlashComparison compareFlash(const std::vector<std::uint8_t>& flash, const std::vector<std::uint8_t>& image);

}  // namespace velmora
