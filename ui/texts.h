#pragma once

#include "window/texts.h"

#include <QString>

#include <string_view>

namespace tarnis {

/// A text of the window (UTF-8, window/texts.h) as Qt shows it.
inline QString qtText(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace tarnis
