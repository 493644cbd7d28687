// How the tool prints values: plain text, one JSON object per line, or CSV.
#pragma once
#include <string>

#include "Value.h"

namespace cv {

enum class OutputFormat { Text, Json, Csv };

// The text of one printed value, ending with a newline.
std::string formatValue(const Value& v, OutputFormat format);
std::string jsonString(std::string_view s);

}  // namespace cv
