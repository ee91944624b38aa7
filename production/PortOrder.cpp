#include "production/PortOrder.h"

#include <cctype>
#include <cstddef>

namespace velmora {
namespace {

bool digit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::size_t numberEnd(const std::string& text, std::size_t at) {
    while (at < text.size() && digit(text[at])) ++at;
    return at;
}

}  // namespace

bool portBefore(const std::string& left, const std::string& right) {
    std::size_t l = 0;
    std::size_t r = 0;
    while (l < left.size() && r < right.size()) {
        if (digit(left[l]) && digit(right[r])) {
            // Numbers by value: the shorter (leading zeros aside, which a port has none of) is smaller.
            const std::size_t lEnd = numberEnd(left, l);
            const std::size_t rEnd = numberEnd(right, r);
            const std::string a = left.substr(l, lEnd - l);
            const std::string b = right.substr(r, rEnd - r);
            if (a.size() != b.size()) return a.size() < b.size();
            if (a != b) return a < b;
            l = lEnd;
            r = rEnd;
        } else {
            if (left[l] != right[r]) return left[l] < right[r];
            ++l;
            ++r;
        }
    }
    return left.size() - l < right.size() - r;
}

}  // namespace velmora
