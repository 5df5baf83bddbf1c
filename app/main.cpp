// The program: one application object, run once.
//
//   openinvoice                  run in the current folder, where the state files
//                                "DataPath.kxi", "1stskin.kxi" and "Output.txt" live
//   openinvoice --user-folder    run in $XDG_DATA_HOME/openinvoice (default
//                                ~/.local/share/openinvoice), created on first start;
//                                the desktop entry starts the program this way
//   openinvoice --check-install  print where the program's own files are found and
//                                exit 1 when one is missing (no window is opened)
//   openinvoice --help | --version
#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <string>
#include <vector>

#include "app/OpenInvoice.h"
#include "app/OpenInvoiceDlg.h"
#include "framework/cmdtarget.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "skins/Skin.h"

COpenInvoiceApp theApp;

namespace {

const char kUsage[] =
    "usage: openinvoice [--user-folder] [--check-install] [--help] [--version]\n"
    "\n"
    "Shows one customer of a Peachtree company at a time, read-only.\n"
    "\n"
    "  --user-folder    keep the state files (DataPath.kxi, 1stskin.kxi, Output.txt)\n"
    "                   in $XDG_DATA_HOME/openinvoice (default ~/.local/share/openinvoice),\n"
    "                   created when missing, instead of the current folder\n"
    "  --check-install  print where the skins, sounds, help page and icons are found;\n"
    "                   exit status 1 when one of them is missing\n"
    "  --help           show this text\n"
    "  --version        show the version\n";

struct Options {
    bool userFolder = false;
    bool checkInstall = false;
    bool help = false;
    bool version = false;
    std::string unknown;  // the first argument not understood
};

// Qt has already taken its own options (-platform, -style, ...) out of the list.
Options parse(const QStringList& arguments) {
    Options o;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--user-folder")) o.userFolder = true;
        else if (a == QLatin1String("--check-install")) o.checkInstall = true;
        else if (a == QLatin1String("--help") || a == QLatin1String("-h")) o.help = true;
        else if (a == QLatin1String("--version")) o.version = true;
        else if (o.unknown.empty()) o.unknown = a.toStdString();
    }
    return o;
}

// Makes the per-user folder the current folder; the reason in words when it cannot.
std::string enterUserFolder() { return platform::enterFolder(platform::userDataFolder("openinvoice")); }

// One line per file the program needs of its own; false when any is missing.
bool checkInstall() {
    bool complete = true;
    auto report = [&](const std::string& what, const std::string& path) {
        const bool found = platform::isFile(path);
        std::printf("%-18s %s\n", what.c_str(), found ? path.c_str() : "MISSING");
        complete = complete && found;
    };
    std::printf("%-18s %s\n", "program folder", platform::programFolder().c_str());
    std::printf("%-18s %s\n", "working folder", platform::currentFolder().c_str());
    report("help page", framework::helpFilePath());
    for (const char* skin : {"grey.skn", "military.skn", "zhelezo.skn"})
        report(std::string("skin ") + skin, platform::toFileName(skins::resolveSkinFile(skin)));
    for (const char* sound : {sounds::kAbout, sounds::kRecentList, sounds::kMove, sounds::kBalanceFilter,
                              sounds::kDetail})
        report(std::string("sound ") + sound, platform::resolveProgramFile(sound, "sounds"));
    for (const char* size : {"32", "16"})
        report(std::string("icon ") + size, platform::programFolder() + "/icons/openinvoice-" + size + ".png");
    return complete;
}

}  // namespace

int main(int argc, char** argv) {
    // The switches that open no window need no display.
    std::vector<std::string> raw(argv + 1, argv + argc);
    auto given = [&](const char* s) {
        for (const auto& a : raw)
            if (a == s) return true;
        return false;
    };
    if (given("--help") || given("-h") || given("--version") || given("--check-install")) {
        QCoreApplication core(argc, argv);
        const Options o = parse(QCoreApplication::arguments());
        if (o.help) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (o.version) {
            std::printf("openinvoice %s\n", OPENINVOICE_VERSION);
            return 0;
        }
        if (o.userFolder) {
            if (const std::string why = enterUserFolder(); !why.empty()) {
                std::fprintf(stderr, "openinvoice: %s\n", why.c_str());
                return 1;
            }
        }
        return checkInstall() ? 0 : 1;
    }

    QApplication application(argc, argv);
    // Lets Wayland desktops match the window to the desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.corvane.OpenInvoice"));
    const Options o = parse(QApplication::arguments());
    if (!o.unknown.empty()) {
        std::fprintf(stderr, "openinvoice: unknown argument %s\n%s", o.unknown.c_str(), kUsage);
        return 2;
    }
    RegisterProgramResources();
    if (o.userFolder) {
        // Started from the desktop there is no terminal to read a message on.
        if (const std::string why = enterUserFolder(); !why.empty()) {
            platform::services().messageBox->messageBox(why, framework::applicationTitle(),
                                                         platform::MB_OK | platform::MB_ICONSTOP);
            return 1;
        }
    }
    return theApp.Run();
}
