#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/TextWriter.h"

namespace polyvant::formats {

// Formats the items [0, count) of an export in chunks on two threads and hands the text of
// each chunk to `emit` in order, so the file is the one a single thread writes. format
// writes the items [first, last); it runs on either thread and must touch nothing but its
// writer and data that stays unchanged meanwhile. emit runs on the calling thread, with the
// count of items done. Exceptions of either are thrown again here once both threads are
// done.
using FormatItems = std::function<void(std::uint64_t first, std::uint64_t last, TextWriter& out)>;
using EmitText = std::function<void(const std::string& text, std::uint64_t done)>;

void FormatInOrder(std::uint64_t count, const FormatItems& format, const EmitText& emit,
                   std::uint64_t chunk = 65536);

} // namespace polyvant::formats
