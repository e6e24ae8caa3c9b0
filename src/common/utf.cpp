#include "common/utf.hpp"

namespace quorvex {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// How many bytes of an invalid sequence form one maximal subpart (at least one), so that
// each replacement covers what a standard decoder would replace.
std::size_t invalid_subpart_length(std::string_view bytes) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t need = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
    } else {
        return 1;
    }
    // After these leads the second byte's range is narrower: it rules out overlong forms,
    // surrogates and code points above U+10FFFF.
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead == 0xE0) {
        lo = 0xA0;
    } else if (lead == 0xED) {
        hi = 0x9F;
    } else if (lead == 0xF0) {
        lo = 0x90;
    } else if (lead == 0xF4) {
        hi = 0x8F;
    }
    std::size_t n = 1;
    for (std::size_t i = 0; i < need && n < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[n]);
        const unsigned char min = i == 0 ? lo : 0x80;
        const unsigned char max = i == 0 ? hi : 0xBF;
        if (b < min || b > max) {
            break;
        }
        ++n;
    }
    return n;
}

char32_t decode(std::string_view seq) {
    const auto b0 = static_cast<unsigned char>(seq[0]);
    if (seq.size() == 1) {
        return b0;
    }
    char32_t cp = b0 & (0xFF >> (seq.size() + 1));
    for (std::size_t i = 1; i < seq.size(); ++i) {
        cp = (cp << 6) | (static_cast<unsigned char>(seq[i]) & 0x3F);
    }
    return cp;
}

} // namespace

std::size_t utf8_sequence_length(std::string_view bytes) {
    if (bytes.empty()) {
        return 0;
    }
    const auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80) {
        return 1;
    }
    const std::size_t n = invalid_subpart_length(bytes);
    const std::size_t expected = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    return n == expected && lead >= 0xC2 && lead <= 0xF4 ? n : 0;
}

bool is_valid_utf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t n = utf8_sequence_length(bytes);
        if (n == 0) {
            return false;
        }
        bytes.remove_prefix(n);
    }
    return true;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        std::size_t n = utf8_sequence_length(bytes);
        if (n == 0) {
            n = invalid_subpart_length(bytes);
            append_utf8(out, REPLACEMENT);
        } else {
            out.append(bytes.substr(0, n));
        }
        bytes.remove_prefix(n);
    }
    return out;
}

namespace {

template <bool Lossy>
std::optional<std::string> convert_utf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        char32_t cp = u;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            if constexpr (!Lossy) {
                return std::nullopt;
            }
            cp = REPLACEMENT;
        }
        append_utf8(out, cp);
    }
    return out;
}

} // namespace

std::optional<std::string> utf16_to_utf8(std::u16string_view text) { return convert_utf16<false>(text); }

std::string utf16_to_utf8_lossy(std::u16string_view text) { return *convert_utf16<true>(text); }

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    while (!text.empty()) {
        std::size_t n = utf8_sequence_length(text);
        char32_t cp = REPLACEMENT;
        if (n == 0) {
            n = invalid_subpart_length(text);
        } else {
            cp = decode(text.substr(0, n));
        }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        text.remove_prefix(n);
    }
    return out;
}

} // namespace quorvex
