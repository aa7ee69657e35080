// A tray icon and nothing else, for trying a notification area by hand or from
// a script: it prints one line for each thing the icon reports, and ends on
// " &Quitter" or a signal.

#include <cstdio>

#include <QApplication>
#include <QStringList>

#include "ui/desktop_integration.h"

namespace {

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    const QStringList args = app.arguments();

    DesktopIntegration tray;
    QObject::connect(&tray, &DesktopIntegration::activationRequested, [] { say("activation"); });
    QObject::connect(&tray, &DesktopIntegration::quitRequested, [&] {
        say("quit");
        app.quit();
    });
    QObject::connect(&tray, &TrayHost::availabilityChanged,
                     [](bool available) { say(available ? "tray appeared" : "tray gone"); });
    tray.showIcon();
    say(tray.isActive() ? "active" : "inactive");
    if (args.contains(QStringLiteral("--notify")))
        tray.showNotification(QStringLiteral("Quillmoor"), QStringLiteral("Galerie de printemps : 12 images copiées"));
    return app.exec();
}
