// Renders the upload dialog after an upload to a simulated amplifier on loopback, for the README:
//   QT_QPA_PLATFORM=offscreen shot_upload docs/upload-dialog.png

#include "tools/ampsim/Ampsim.h"
#include "upload/Fupload.h"

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

std::unique_ptr<ampsim::Simulator> StartSimulator()
{
    // The amplifier's own port when it is free here, so the log reads as it would in the field.
    for (const int port : { 2500, 0 }) {
        ampsim::Options options;
        options.Discovery = false;
        options.CommandAddress = "127.0.0.1";
        options.CommandPort = port;
        options.Version = "AMP-4X V2.4.1";
        auto sim = std::make_unique<ampsim::Simulator>(options, ampsim::MakeAmplifiers(1, "127.0.0.1"));
        std::string error;
        if (sim->Start(error))
            return sim;
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    auto sim = StartSimulator();
    if (!sim) {
        std::fprintf(stderr, "cannot start the amplifier simulator\n");
        return 1;
    }
    std::string folder = (std::filesystem::temp_directory_path() / "firmware-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr)
        return 1;
    const std::string file = folder + "/amp4x-2.4.1.bin";
    std::string bytes(3'145'728, '\0');
    std::mt19937 random(3);
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    TFormUpload dialog;
    dialog.ConnectionSettings.Port = sim->CommandPort();
    dialog.EditIP->setText("127.0.0.1");
    dialog.EditFilename->setText(QString::fromStdString(file));
    dialog.show();
    dialog.Button1Click();
    app.processEvents();
    const bool saved = dialog.grab().save(QString::fromLocal8Bit(argv[1]));
    std::filesystem::remove_all(folder);
    if (!saved) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
