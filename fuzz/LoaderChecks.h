// For the loader targets: a file that loads whole must give, column by
// column, the same values when each column is read alone the way a session
// reads a vector when first used. A difference is a finding (abort).
#pragma once
#include <cstdlib>
#include <cstring>
#include <string>

#include "Loaders/LoaderSupport.h"
#include "Loaders/Loaders.h"

namespace fuzz {

template <typename Open>
void checkColumnsAlone(const std::string& path, const cv::load::DataSet& whole, Open open) {
    const std::size_t columns = whole.signals.size() + 1;
    for (std::size_t k = 0; k < columns; ++k) {
        const cv::load::detail::FileBuffer file = cv::load::detail::readWholeFile(path, false);
        const cv::load::DataSet opened = open(file, path);
        if (!opened.lazy) return;  // read whole at once: nothing to compare
        const cv::MutableValuePtr alone = opened.lazy->column(k);
        const cv::load::Signal& s = k == 0 ? whole.reference : whole.signals[k - 1];
        const std::size_t bytes = s.data().size() * sizeof(double);
        if (alone->divisionLengths() != s.values->divisionLengths() ||
            (bytes && std::memcmp(alone->rawData(), s.values->rawData(), bytes) != 0))
            std::abort();
    }
}

}  // namespace fuzz
