#pragma once
// Figures the benchmarks print.

#include <algorithm>
#include <vector>

// The value below which the fraction p of the values lie (rounded down); 0 for none.
inline double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    const size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(index), values.end());
    return values[index];
}
