#pragma once

#include <QString>
#include <string>

namespace tonvert {

// The core works on byte texts in the system's encoding; Qt on QString.
inline QString toQString(const std::string& bytes) {
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string toBytes(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace tonvert
