// One message formatted for the user: a printf format with its arguments.
#pragma once

#include <cstdio>
#include <string>
#include <type_traits>

namespace qk {

// The formatted text, however long it gets (entry names and folders have no
// length limit). Arguments are numbers and terminated texts only, so that a
// std::string can never reach the variadic call by mistake.
class MessageText {
  public:
    template <typename... Args>
    explicit MessageText(const char* format, Args... args) {
        static_assert(((std::is_arithmetic_v<Args> || std::is_same_v<Args, const char*> ||
                        std::is_same_v<Args, char*>)&&...),
                      "MessageText takes numbers and C texts");
        // The format is one of the program's own texts, never user input.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#endif
        const int length = std::snprintf(nullptr, 0, format, args...);
        if (length > 0) {
            text_.resize(static_cast<std::size_t>(length));
            std::snprintf(text_.data(), text_.size() + 1, format, args...);
        }
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    }

    const char* c_str() const {
        return text_.c_str();
    }
    const std::string& str() const {
        return text_;
    }

  private:
    std::string text_;
};

}  // namespace qk
