// The desktop program: the Qt host around the application.
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/application.h"
#include "platform/core/layout.h"
#include "platform/posix/file_registry.h"
#include "platform/qt/qt_host.h"
#include "platform/qt/qt_pictures.h"

namespace {

constexpr char kUsage[] =
    "Usage: tideload [-I<address>] [-F<file>] [-R] [-A]\n"
    "  -I<address>  the module's IPv4 address, as in -I10.0.0.5\n"
    "  -F<file>     the S-record application file (a path without spaces)\n"
    "  -R           tick \"Reboot when complete\"\n"
    "  -A           start the update at once; no message on success\n"
    "Options may be written in either case; when one comes twice the last counts.\n"
    "Exit status: 0 after a successful update, -1 (255 in a shell) when the\n"
    "window is dismissed, 1 when there is no display to show it on.\n";
constexpr char kVersion[] = "Tideload Version 1.0\n";

// While the application starts: a platform that cannot start (no display,
// say) ends the program with a word of how to run it, not with an abort.
QtMessageHandler g_startHandler = nullptr;
void OnStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    if (g_startHandler != nullptr) g_startHandler(type, context, text);
    return;
  }
  std::fputs("tideload: no display is available to show the window on: set DISPLAY, or run it\n"
             "without one with QT_QPA_PLATFORM=offscreen\n",
             stderr);
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  std::string title = tl::ProgramTitleOf(argc > 0 ? argv[0] : "tideload");
  // The whole argument text is the program's: Qt gets only the program's
  // name (its platform still comes from QT_QPA_PLATFORM).
  std::string arguments = tl::ArgumentTextOf(argc, argv);
  if (arguments == "--help" || arguments == "--version") {
    std::fputs(arguments == "--help" ? kUsage : kVersion, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  char programName[] = "tideload";
  char* qtArgv[] = {argc > 0 ? argv[0] : programName, nullptr};
  int qtArgc = 1;
  g_startHandler = qInstallMessageHandler(OnStartMessage);
  QApplication app(qtArgc, qtArgv);
  qInstallMessageHandler(g_startHandler);
  QApplication::setWindowIcon(QIcon(tl::IconPixmap(tl::kIconApp)));
  // There is no main loop: closing the last window must not quit the
  // nested loops that are still to come.
  QApplication::setQuitOnLastWindowClosed(false);
  tl::QtHost host(title, tl::FileRegistry::DefaultFolder());
  return tl::RunApplication(arguments);
}
