#include "ctl/ProcessMetrics.h"

#include <prometheus/client_metric.h>
#include <prometheus/metric_type.h>

#include <dirent.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

MetricFamily Gauge(const char* name, const char* help, double value)
{
    ClientMetric metric;
    metric.gauge.value = value;
    return MetricFamily { name, help, MetricType::Gauge, { metric } };
}

// The fields of /proc/self/stat after the program's name (which may hold blanks and brackets):
// the first is field 3, the state.
std::vector<std::string> StatFields()
{
    std::ifstream file("/proc/self/stat");
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos)
        return fields;
    std::istringstream in(text.substr(close + 1));
    for (std::string field; in >> field;)
        fields.push_back(field);
    return fields;
}

double Seconds(const timespec& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Seconds since the epoch when the process started: its start in clock ticks after boot (field 22
// of /proc/self/stat), against the time since boot now, which needs no other file of /proc.
double StartTime()
{
    const auto fields = StatFields();
    constexpr size_t StartField = 22 - 3;
    timespec boot {}, wall {};
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (fields.size() <= StartField || ticks <= 0 || ::clock_gettime(CLOCK_BOOTTIME, &boot) != 0
        || ::clock_gettime(CLOCK_REALTIME, &wall) != 0)
        return 0;
    const double started = std::strtod(fields[StartField].c_str(), nullptr) / static_cast<double>(ticks);
    return Seconds(wall) - (Seconds(boot) - started);
}

double OpenFds()
{
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr)
        return 0;
    double count = 0;
    while (const dirent* entry = ::readdir(folder))
        if (entry->d_name[0] != '.')
            ++count;
    ::closedir(folder);
    return count - 1; // the folder's own descriptor
}

} // namespace

TProcessMetrics::TProcessMetrics(std::string version)
    : FVersion(std::move(version))
    , FStartTime(StartTime())
{
}

std::vector<MetricFamily> TProcessMetrics::Collect() const
{
    std::vector<MetricFamily> families;
    ClientMetric build;
    build.label = { { "version", FVersion } };
    build.gauge.value = 1;
    families.push_back(MetricFamily { "tovrin_build_info", "The program's version", MetricType::Gauge, { build } });

    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    ClientMetric cpu;
    cpu.counter.value = Seconds({ usage.ru_utime.tv_sec, usage.ru_utime.tv_usec * 1000 })
        + Seconds({ usage.ru_stime.tv_sec, usage.ru_stime.tv_usec * 1000 });
    families.push_back(MetricFamily {
        "process_cpu_seconds_total", "User and system CPU time spent in seconds", MetricType::Counter, { cpu } });

    std::ifstream statm("/proc/self/statm");
    double virtualPages = 0, residentPages = 0;
    statm >> virtualPages >> residentPages;
    const double page = static_cast<double>(::sysconf(_SC_PAGESIZE));
    families.push_back(Gauge("process_virtual_memory_bytes", "Virtual memory size in bytes", virtualPages * page));
    families.push_back(Gauge("process_resident_memory_bytes", "Resident memory size in bytes", residentPages * page));
    families.push_back(Gauge("process_open_fds", "Number of open file descriptors", OpenFds()));
    rlimit files {};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0)
        families.push_back(Gauge("process_max_fds", "Maximum number of open file descriptors",
            static_cast<double>(files.rlim_cur)));
    if (FStartTime > 0)
        families.push_back(Gauge("process_start_time_seconds",
            "Start time of the process since unix epoch in seconds", FStartTime));
    return families;
}
