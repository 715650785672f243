#include "util/ShortenedPath.h"

#include <algorithm>
#include <vector>

namespace {
std::size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xC0 && lead < 0xE0) return 2;
    if (lead >= 0xE0 && lead < 0xF0) return 3;
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    return 1;
}

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Byte offset of every character's first byte. A lead byte takes only the
// continuation bytes that really follow it; any other byte is a character alone.
std::vector<std::size_t> CharacterStarts(std::string_view text) {
    std::vector<std::size_t> starts;
    std::size_t i = 0;
    while (i < text.size()) {
        starts.push_back(i);
        const std::size_t length = SequenceLength(static_cast<unsigned char>(text[i]));
        ++i;
        for (std::size_t k = 1;
             k < length && i < text.size() && IsContinuation(static_cast<unsigned char>(text[i])); ++k)
            ++i;
    }
    return starts;
}
}  // namespace

std::size_t CharacterCount(std::string_view text) {
    return CharacterStarts(text).size();
}

std::string ShortenPath(std::string_view path, std::size_t maxLength, std::size_t headLength) {
    const std::vector<std::size_t> starts = CharacterStarts(path);
    const std::size_t count = starts.size();
    if (count < maxLength) return std::string(path);

    const std::size_t head = std::min(headLength, count);
    const std::size_t tailWanted = maxLength > headLength + 6 ? maxLength - headLength - 6 : 0;
    const std::size_t tail = std::min(tailWanted, count - head);
    const std::size_t headEnd = head < count ? starts[head] : path.size();
    const std::size_t tailStart = tail > 0 ? starts[count - tail] : path.size();
    std::string result(path.substr(0, headEnd));
    result += " ... ";
    result += path.substr(tailStart);
    return result;
}
