#include "tools/sampledrive/SampleDrive.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace sampledrive {
namespace {

    namespace fs = std::filesystem;

    const char* const Models[] = { "QTRX", "PX4", "DSA", "MKII", "LN", "QT", "XD" };
    const char* const Words[] = { "Amp", "Stage Rack", "Install", "Repair", "Tour", "Stadium", "Theatre",
        "Church", "Cruise Ship", "Arena", "Club", "Broadcast" };
    const char* const Suffixes[] = { "", "", "", "_A", "-B", " Repair", " Service 2", "_old" };

    struct Area {
        std::string folder;
        int year; // two digits used in the names
        double share;
    };

    class Maker {
    public:
        Maker(std::string root, unsigned seed)
            : FRoot(std::move(root))
            , FRandom(seed)
        {
        }

        bool Folder(const std::string& relative)
        {
            const std::string path = FRoot + "/" + relative;
            if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
                return Failed(path);
            return true;
        }
        bool File(const std::string& relative)
        {
            const std::string path = FRoot + "/" + relative;
            std::ofstream file(path);
            file << "sample\n";
            return file ? true : Failed(path);
        }
        // A serial number: the year's two digits and five more, unique per year for up to 100,000.
        std::string Serial(int year, int index)
        {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%02d%05d", year % 100, (index * 7919) % 100000);
            return std::string(digits) + Pick(Models) + Pick(Suffixes);
        }
        // A project: the year's two digits and two more, then a description.
        std::string Project(int year, int index)
        {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%02d%02d", year % 100, index % 100);
            return std::string(digits) + " " + Pick(Words)
                + (index >= 100 ? " " + std::to_string(index / 100) : "");
        }
        template <size_t N> const char* Pick(const char* const (&list)[N])
        {
            return list[std::uniform_int_distribution<size_t>(0, N - 1)(FRandom)];
        }
        std::mt19937& Random() { return FRandom; }
        std::string error;

    private:
        bool Failed(const std::string& path)
        {
            error = "cannot make " + path + ": " + std::strerror(errno);
            return false;
        }
        std::string FRoot;
        std::mt19937 FRandom;
    };

} // namespace

bool MakeSampleDrive(const std::string& root, int count, unsigned seed, std::string& error)
{
    std::error_code code;
    fs::create_directories(root, code);
    if (code) {
        error = "cannot make " + root + ": " + code.message();
        return false;
    }
    if (!fs::is_empty(root, code)) {
        error = root + " is not empty; give a new or empty folder";
        return false;
    }
    Maker make(root, seed);
    const Area areas[] = {
        { "Produktion/2013", 13, 0.34 },
        { "Produktion/2014", 14, 0.34 },
        { "Firmware/Work", 14, 0.20 },
        { "Firmware/Archiv2013", 13, 0.04 },
        { "Firmware/Archiv2014", 14, 0.04 },
        { "Produktion/2012", 12, 0.02 },
        { "Produktion/1998", 98, 0.01 },
        { "Firmware/Archiv1998", 98, 0.01 },
    };
    for (const char* folder : { "Produktion", "Firmware" })
        if (!make.Folder(folder))
            return error = make.error, false;
    for (const Area& area : areas) {
        if (!make.Folder(area.folder))
            return error = make.error, false;
        const int inArea = std::max(1, static_cast<int>(count * area.share));
        const bool work = area.folder == "Firmware/Work";
        for (int i = 0; i < inArea; ++i) {
            // Serial numbers mostly; every eighth a project folder; the work folder mixes both
            // with the names firmware builds get.
            int year = area.year;
            if (work)
                year = 12 + static_cast<int>(make.Random()() % 3);
            std::string name = (i % 8 == 0) ? make.Project(year, i / 8) : make.Serial(year, i);
            if (work && i % 3 == 1)
                name = "AMP-" + name + " fw";
            if (!make.Folder(area.folder + "/" + name))
                return error = make.error, false;
        }
    }
    // Names that the examples of the finder find in several areas, and files a search skips.
    for (const char* folder : { "Produktion/2013/1395 Amp Stadium", "Produktion/2014/1412345QTRX",
             "Produktion/2014/1412345QTRX_A Repair", "Firmware/Work/1395-fw v2.4",
             "Firmware/Archiv2013/1395 final" })
        if (!make.Folder(folder))
            return error = make.error, false;
    for (const char* file : { "Produktion/2013/1395 notes.txt", "Firmware/Work/1395 build.log" })
        if (!make.File(file))
            return error = make.error, false;
    return true;
}

} // namespace sampledrive
