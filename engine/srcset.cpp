#include "engine/srcset.h"

#include <locale.h>
#include <optional>
#include <stdlib.h>
#include <string>
#include <tuple>
#include <utility>

namespace m_qmr {

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t digits_from(std::string_view text, std::size_t at) {
    while (at < text.size() && is_digit(text[at]))
        ++at;
    return at;
}

bool is_whole_number(std::string_view text) {
    return !text.empty() && digits_from(text, 0) == text.size();
}

/// "-", digits, "." and digits (either part may go, not both), then an
/// exponent: the only numbers that a density may be written with.
bool is_decimal_number(std::string_view text) {
    std::size_t at = text.starts_with('-') ? 1 : 0;
    const std::size_t whole_end = digits_from(text, at);
    bool has_digits = whole_end > at;
    at = whole_end;
    if (at < text.size() && text[at] == '.') {
        const std::size_t fraction_end = digits_from(text, at + 1);
        if (fraction_end == at + 1)
            return false;
        has_digits = true;
        at = fraction_end;
    }
    if (has_digits && at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '-' || text[at] == '+'))
            ++at;
        const std::size_t exponent_end = digits_from(text, at);
        if (exponent_end == at)
            return false;
        at = exponent_end;
    }
    return has_digits && at == text.size();
}

/// The value of a checked number, rounded as browsers round it: beyond the
/// largest double it is infinite, below the smallest it is 0.
double number_of(std::string_view text) {
    // With "." as the decimal point, whatever the user's locale.
    static const locale_t c_numbers = ::newlocale(LC_NUMERIC_MASK, "C", nullptr);
    return ::strtod_l(std::string(text).c_str(), nullptr, c_numbers);
}

/// What one candidate's descriptors say, or nothing when a browser would
/// refuse them.
struct Size {
    std::optional<double> width, density, height;
};

class Descriptors {
public:
    /// Takes one descriptor; false when it makes the candidate invalid.
    bool take(std::string_view descriptor) {
        const char kind = descriptor.back();
        const auto number = descriptor.substr(0, descriptor.size() - 1);
        if (kind == 'w' && !size_.width && !size_.density && is_whole_number(number)) {
            size_.width = number_of(number);
            return *size_.width != 0;
        }
        if (kind == 'x' && !size_.width && !size_.density && !size_.height && is_decimal_number(number)) {
            size_.density = number_of(number);
            return *size_.density >= 0;
        }
        if (kind == 'h' && !size_.height && !size_.density && is_whole_number(number)) {
            size_.height = number_of(number);
            return *size_.height != 0;
        }
        return false;
    }
    /// A height is only a hint beside a width.
    std::optional<Size> size() const {
        if (size_.height && !size_.width)
            return std::nullopt;
        return size_;
    }

private:
    Size size_;
};

/// Reads the descriptors that follow a candidate's address from `at`, up to
/// the comma that ends the candidate (outside parentheses) or the end.
/// Returns where the next candidate may start and what they said.
std::pair<std::size_t, std::optional<Size>> read_descriptors(std::string_view text, std::size_t at) {
    Descriptors descriptors;
    bool valid = true;
    std::size_t start = std::string_view::npos; // of the descriptor being read
    int depth = 0;                              // inside parentheses
    auto finish = [&](std::size_t end) {
        if (start != std::string_view::npos && valid)
            valid = descriptors.take(text.substr(start, end - start));
        start = std::string_view::npos;
    };
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (depth == 0 && (is_space(c) || c == ',')) {
            finish(at);
            if (c == ',')
                return {at + 1, valid ? descriptors.size() : std::nullopt};
            continue;
        }
        if (start == std::string_view::npos)
            start = at;
        if (c == '(')
            depth = 1;
        else if (c == ')')
            depth = 0;
    }
    finish(at);
    return {at, valid ? descriptors.size() : std::nullopt};
}

} // namespace

std::string_view largest_candidate(std::string_view srcset) {
    std::string_view by_width, by_density;
    double widest = 0, densest = -1;
    std::size_t at = 0;
    while (at < srcset.size()) {
        if (is_space(srcset[at]) || srcset[at] == ',') {
            ++at;
            continue;
        }
        const std::size_t start = at;
        while (at < srcset.size() && !is_space(srcset[at]))
            ++at;
        auto address = srcset.substr(start, at - start);
        std::optional<Size> size = Size{};
        // An address ending in a comma ends its candidate: no descriptors.
        if (address.ends_with(','))
            address = address.substr(0, address.find_last_not_of(',') + 1);
        else
            std::tie(at, size) = read_descriptors(srcset, at);
        if (!size)
            continue;
        if (size->width && *size->width >= widest) {
            widest = *size->width;
            by_width = address;
        } else if (!size->width && size->density.value_or(1) >= densest) {
            densest = size->density.value_or(1);
            by_density = address;
        }
    }
    return by_width.empty() ? by_density : by_width;
}

} // namespace m_qmr
