#pragma once
// The program's own figures, as every Prometheus client library names them (process_*), and
// tovrin_build_info{version}: read from /proc/self and the kernel at each scrape.

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>

#include <string>
#include <vector>

class TProcessMetrics : public prometheus::Collectable {
public:
    explicit TProcessMetrics(std::string version);
    std::vector<prometheus::MetricFamily> Collect() const override;

private:
    std::string FVersion;
    double FStartTime = 0; // seconds since the epoch, 0 when /proc/self/stat was not readable
};
