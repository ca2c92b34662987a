#pragma once
// Order statistics for the benchmark's figures.

#include <vector>

// The median (mean of the middle two for an even count); 0 for no values.
double Median(std::vector<double> values);
// The p-th percentile (0..100) by the nearest-rank rule; 0 for no values.
double Percentile(std::vector<double> values, double p);
// The largest value; 0 for no values.
double Maximum(const std::vector<double>& values);

// One field of every run, as the statistics above take them.
template <typename Run, typename Field>
std::vector<double> Column(const std::vector<Run>& runs, Field field)
{
    std::vector<double> values;
    for (const Run& r : runs)
        values.push_back(static_cast<double>(r.*field));
    return values;
}
