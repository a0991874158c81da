#include "store/sql.h"

#include <charconv>

namespace tonvert::service {

bool SqlRow::isNull(std::size_t column) const {
    return std::holds_alternative<std::nullptr_t>(cells_.at(column));
}

std::int64_t SqlRow::integer(std::size_t column) const {
    const Cell& cell = cells_.at(column);
    if (const auto* number = std::get_if<std::int64_t>(&cell))
        return *number;
    std::int64_t parsed = 0;
    if (const auto* text = std::get_if<std::string>(&cell))
        std::from_chars(text->data(), text->data() + text->size(), parsed);
    return parsed;
}

const std::string& SqlRow::text(std::size_t column) const {
    static const std::string none;
    const auto* text = std::get_if<std::string>(&cells_.at(column));
    return text != nullptr ? *text : none;
}

std::optional<SqlRow> SqlTransaction::queryOne(const std::string& sql,
                                               const std::vector<SqlValue>& parameters) {
    auto rows = query(sql, parameters);
    if (rows.empty())
        return std::nullopt;
    return std::move(rows.front());
}

} // namespace tonvert::service
