// What went wrong with a disc image, in the words of the one line it is reported with.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace disc_image {

// Joins the pieces of a message. (Chains of operator+ on a literal and a string trip a false
// -Wrestrict warning of GCC 12 in optimized builds.)
inline std::string join(std::initializer_list<std::string_view> pieces) {
    std::string result;
    for (std::string_view piece : pieces) result.append(piece.data(), piece.size());
    return result;
}

// Text as a message shows it: in double quotes, cut after `shown` characters.
inline std::string quoted(std::string_view text, std::size_t shown = 40) {
    if (text.size() <= shown) return join({"\"", text, "\""});
    return join({"\"", text.substr(0, shown), "...\""});
}

// Text as a message shows a name: whole up to `shown` characters, else its start and its end
// (where a file's own name is) around "...".
inline std::string clipped(std::string_view text, std::size_t shown = 256) {
    if (text.size() <= shown) return std::string(text);
    return join({text.substr(0, shown / 2), "...", text.substr(text.size() - shown / 2)});
}

// Text with ASCII capitals made small, for names compared without regard to case.
inline std::string ascii_lower(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return result;
}

struct ImageError {
    std::string file;     // the image or cue sheet
    int line = 0;         // line of the cue sheet, 0 when none applies
    std::string message;

    // "file:line: message", or "file: message" without a line.
    std::string text() const {
        return line > 0 ? join({clipped(file), ":", std::to_string(line), ": ", message}) : join({clipped(file), ": ", message});
    }
};

// A value, or why it could not be made.
template <class T>
using Expected = std::variant<T, ImageError>;

}  // namespace disc_image
