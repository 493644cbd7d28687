// How a result is divided into divisions, in one place: a result laid out
// like a divided argument the handler received whole, the results of
// per-division calls joined into one divided value, and the one-value results
// of a statistic collected against the division labels.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Value.h"

class FuncArgs;

namespace cv {

// The number of divisions of a result laid out like the argument whose total
// length is `total`: those of the first divided argument with that total,
// else 1.
int64_t divisionsLike(const FuncArgs* args, int64_t total);

// Joins per-division results into one divided value; false with a message
// when they cannot be joined.
bool joinDivisions(std::span<const ValuePtr> parts, const std::vector<std::string>& labels, ValuePtr& out,
                   std::string& error);
// One value per division of one-element results, against the labels (numeric
// labels as they read, else 0 ... d-1).
ValuePtr collectStatistic(std::span<const ValuePtr> parts, const std::vector<std::string>& labels);

}  // namespace cv
