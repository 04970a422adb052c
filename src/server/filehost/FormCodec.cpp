#include "server/filehost/FormCodec.h"

#include "server/common/PercentDecoding.h"

namespace filehost {

namespace {

// The length of the well-formed UTF-8 sequence at `at`, or 0 when none starts there.
size_t Utf8SequenceAt(std::string_view bytes, size_t at) {
    const auto b = static_cast<unsigned char>(bytes[at]);
    if (b < 0x80)
        return 1;
    size_t length;
    unsigned codePoint;
    if ((b & 0xE0) == 0xC0) {
        length = 2;
        codePoint = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        length = 3;
        codePoint = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        length = 4;
        codePoint = b & 0x07;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[at + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    static constexpr unsigned kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < kSmallest[length] || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

bool IsValidUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = Utf8SequenceAt(bytes, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string DecodeFormValue(std::string_view text) {
    const std::string bytes = PercentDecode(text);
    std::string decoded;
    decoded.reserve(bytes.size() * 2);
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = Utf8SequenceAt(bytes, i);
        if (length > 0) {
            decoded.append(bytes, i, length);
            i += length;
            continue;
        }
        // Not UTF-8 here: the byte is a Latin-1 character.
        const auto b = static_cast<unsigned char>(bytes[i++]);
        decoded.push_back(static_cast<char>(0xC0 | (b >> 6)));
        decoded.push_back(static_cast<char>(0x80 | (b & 0x3F)));
    }
    return decoded;
}

std::vector<FormField> ParseForm(std::string_view body) {
    std::vector<FormField> fields;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string_view::npos)
            end = body.size();
        const std::string_view piece = body.substr(start, end - start);
        if (!piece.empty()) {
            const size_t equals = piece.find('=');
            if (equals == std::string_view::npos)
                fields.emplace_back(DecodeFormValue(piece), std::string());
            else
                fields.emplace_back(DecodeFormValue(piece.substr(0, equals)),
                                    DecodeFormValue(piece.substr(equals + 1)));
        }
        start = end + 1;
    }
    return fields;
}

std::string FormValue(const std::vector<FormField>& fields, std::string_view name) {
    for (const FormField& field : fields)
        if (field.first == name)
            return field.second;
    return {};
}

std::string EncodePathSegment(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
            b == '-' || b == '.' || b == '_' || b == '~') {
            encoded.push_back(c);
        } else {
            encoded.push_back('%');
            encoded.push_back(kHex[b >> 4]);
            encoded.push_back(kHex[b & 15]);
        }
    }
    return encoded;
}

} // namespace filehost
