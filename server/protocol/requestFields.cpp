#include "protocol/requestFields.h"

#include <string_view>

#include "asciiText.h"

namespace tonvert::service {

namespace {

std::string formDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && ascii::hexValue(text[i + 1]) >= 0 &&
                   ascii::hexValue(text[i + 2]) >= 0) {
            out +=
                static_cast<char>(ascii::hexValue(text[i + 1]) * 16 + ascii::hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::string clientField(const httplib::Request& request, const std::string& name) {
    if (request.has_param(name))
        return request.get_param_value(name);
    if (request.has_file(name))
        return request.get_file_value(name).content;
    return {};
}

std::map<std::string, std::string> queryFields(const httplib::Params& params) {
    std::map<std::string, std::string> fields;
    for (const auto& [name, value] : params)
        fields.emplace(name, value);
    return fields;
}

UploadFields uploadFields(const httplib::MultipartFormDataMap& parts) {
    UploadFields read;
    for (const auto& [name, part] : parts) {
        if (name != "BIN")
            read.fields.emplace(name, part.content);
        else if (!read.upload)
            read.upload = UploadedFile{part.filename, part.content};
    }
    return read;
}

std::map<std::string, std::string> formFields(const std::string& body) {
    std::map<std::string, std::string> fields;
    std::string_view rest = body;
    while (!rest.empty()) {
        const auto end = rest.find('&');
        const std::string_view pair = rest.substr(0, end);
        rest = end == std::string_view::npos ? "" : rest.substr(end + 1);
        const auto equals = pair.find('=');
        if (!pair.empty())
            fields.emplace(formDecode(pair.substr(0, equals)),
                           equals == std::string_view::npos ? ""
                                                            : formDecode(pair.substr(equals + 1)));
    }
    return fields;
}

Amount readAmount(const std::string& text, std::int64_t maxCents) {
    std::size_t begin = text.find_first_not_of(" \t");
    std::size_t end = text.find_last_not_of(" \t");
    if (begin == std::string::npos)
        return {AmountCheck::notAnAmount, 0};
    bool negative = false;
    if (text[begin] == '-' || text[begin] == '+') {
        negative = text[begin] == '-';
        ++begin;
    }
    const std::string number = text.substr(begin, end + 1 - begin);
    const auto point = number.find('.');
    const std::string whole = number.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : number.substr(point + 1);
    const auto digitsOnly = [](const std::string& s) {
        for (char c : s)
            if (!ascii::isDigit(c))
                return false;
        return true;
    };
    if (!digitsOnly(whole) || !digitsOnly(fraction) || fraction.size() > 2 ||
        (whole.empty() && fraction.empty()) || (point != std::string::npos && fraction.empty()))
        return {AmountCheck::notAnAmount, 0};

    // Leading zeros aside, more than nine digits is more than any maximum a page would have.
    const auto significant = whole.find_first_not_of('0');
    const std::string digits = significant == std::string::npos ? "" : whole.substr(significant);
    if (digits.size() > 9)
        return {negative ? AmountCheck::notPositive : AmountCheck::tooLarge, 0};
    std::int64_t cents = (digits.empty() ? 0 : std::stoll(digits)) * 100;
    if (!fraction.empty())
        cents += (fraction[0] - '0') * 10 + (fraction.size() > 1 ? fraction[1] - '0' : 0);
    if (negative || cents == 0)
        return {AmountCheck::notPositive, 0};
    if (cents > maxCents)
        return {AmountCheck::tooLarge, 0};
    return {AmountCheck::good, cents};
}

} // namespace tonvert::service
