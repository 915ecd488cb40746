// Runs one upload exchange from the command line and prints its log, for the upload benchmark
// (bench/upload_vs_socat.sh):  upload_cli HOST PORT FILE
// Exits 0 when the amplifier gave its final reply.

#include "upload/Upload.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s HOST PORT FILE\n", argv[0]);
        return 2;
    }
    TUploadParams params;
    params.Address = argv[1];
    params.Port = std::atoi(argv[2]);
    params.SourcePath = argv[3];
    const TUploadResult result = UploadFile(params, [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    return result == TUploadResult::Done ? 0 : 1;
}
