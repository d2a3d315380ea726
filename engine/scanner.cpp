#include "engine/scanner.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "interface/pixel.h"

namespace kve {

std::string_view TrimBlanks(std::string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::optional<std::string_view> TokenScanner::Next() {
    rest_ = TrimBlanks(rest_);
    if (rest_.empty()) return std::nullopt;
    size_t last = rest_.size() - 1;
    size_t start = std::string_view::npos;
    if (rest_[last] == ']') {
        // A list opens at a '[' that starts the text or follows a blank, so
        // "x[1 2]" stays one plain word.
        for (size_t i = last; i-- > 0;) {
            if (rest_[i] == '[' && (i == 0 || IsBlank(rest_[i - 1]))) {
                start = i;
                break;
            }
        }
    }
    if (start == std::string_view::npos) {
        start = last;
        while (start > 0 && !IsBlank(rest_[start - 1]))
            --start;
    }
    std::string_view token = rest_.substr(start);
    rest_ = rest_.substr(0, start);
    return token;
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The words between the brackets of a list token, or nullopt.
std::optional<std::string_view> ListBody(std::string_view token) {
    token = TrimBlanks(token);
    if (token.size() < 2 || token.front() != '[' || token.back() != ']') return std::nullopt;
    return token.substr(1, token.size() - 2);
}

// Calls visit(word) for each blank-separated word until it returns false.
template <class Visit>
void ForEachWord(std::string_view body, Visit visit) {
    size_t i = 0;
    while (i < body.size()) {
        while (i < body.size() && IsBlank(body[i]))
            ++i;
        if (i == body.size()) break;
        size_t start = i;
        while (i < body.size() && !IsBlank(body[i]))
            ++i;
        if (!visit(body.substr(start, i - start))) return;
    }
}

}  // namespace

int TokenKind(std::string_view token) {
    token = TrimBlanks(token);
    if (ListBody(token)) return 1;
    std::string_view digits = token;
    if (!digits.empty() && digits.front() == '-') digits.remove_prefix(1);
    if (digits.empty()) return 0;
    for (char c : digits)
        if (!IsDigit(c)) return 0;
    return 2;
}

int ItemCount(std::string_view token) {
    auto body = ListBody(token);
    if (!body) return -1;
    int count = 0;
    ForEachWord(*body, [&](std::string_view) {
        ++count;
        return true;
    });
    return count;
}

std::optional<std::string_view> ItemText(std::string_view token, int k) {
    auto body = ListBody(token);
    if (!body || k < 0) return std::nullopt;
    std::optional<std::string_view> found;
    int index = 0;
    ForEachWord(*body, [&](std::string_view word) {
        if (index++ == k) found = word;
        return !found;
    });
    return found;
}

bool IsNumber(std::string_view text) {
    if (!text.empty() && text.front() == '-') text.remove_prefix(1);
    if (text.empty()) return false;
    int dots = 0;
    for (char c : text) {
        if (c == '.') {
            if (++dots > 1) return false;
        } else if (!IsDigit(c)) {
            return false;
        }
    }
    return true;
}

int32_t IntegerValue(std::string_view number) {
    bool negative = !number.empty() && number.front() == '-';
    if (negative) number.remove_prefix(1);
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (char c : number) {
        if (!IsDigit(c)) break;
        value = value * 10 + (c - '0');
        if (value > kLimit) value = kLimit;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

double RealValue(std::string_view number) {
    double value = 0.0;
    // from_chars never consults the locale; "." and "-." read as 0.
    auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Out of range is overflow when the whole part has a non-zero digit,
        // else underflow to zero (as strtod would give).
        bool negative = !number.empty() && number.front() == '-';
        std::string_view whole = number.substr(0, number.find('.'));
        bool overflow = whole.find_first_of("123456789") != std::string_view::npos;
        double magnitude = overflow ? HUGE_VAL : 0.0;
        return negative ? -magnitude : magnitude;
    }
    return result.ec == std::errc() ? value : 0.0;
}

std::optional<Pixel> ParseColor(std::string_view token) {
    if (ItemCount(token) != 5 || ItemText(token, 0) != std::string_view("(argb)"))
        return std::nullopt;
    int32_t channel[4];
    for (int k = 0; k < 4; ++k) {
        auto word = ItemText(token, k + 1);
        if (!word || !IsNumber(*word)) return std::nullopt;
        channel[k] = IntegerValue(*word);
    }
    return PackPixel(channel[0], channel[1], channel[2], channel[3]);
}

int32_t TruncToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

int32_t RoundHalfAway(double value) {
    return TruncToInt(value > 0 ? value + 0.5 : value - 0.5);
}

}  // namespace kve
