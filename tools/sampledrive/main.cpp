// sampledrive ROOT [--count N] [--seed S]: makes a sample project drive for the demo and the
// benchmark; point the program at it with TOVRIN_PROJECT_DRIVE=ROOT.

#include "tools/sampledrive/SampleDrive.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    std::string root;
    int count = 400;
    unsigned seed = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--count" && i + 1 < argc)
            count = std::atoi(argv[++i]);
        else if (argument == "--seed" && i + 1 < argc)
            seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else if (!argument.empty() && argument[0] != '-' && root.empty())
            root = argument;
        else
            root.clear(), count = -1;
    }
    if (root.empty() || count < 1) {
        std::fprintf(stderr, "usage: %s ROOT [--count N] [--seed S]  (ROOT new or empty; N >= 1)\n", argv[0]);
        return 2;
    }
    std::string error;
    if (!sampledrive::MakeSampleDrive(root, count, seed, error)) {
        std::fprintf(stderr, "sampledrive: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
