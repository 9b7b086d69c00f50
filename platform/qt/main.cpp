// The desktop program: the Qt host around the application.
#include <QApplication>
#include <QIcon>
#include <cstdio>
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
    "window is dismissed.\n";
constexpr char kVersion[] = "Tideload Version 1.0\n";

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
  QApplication app(qtArgc, qtArgv);
  QApplication::setWindowIcon(QIcon(tl::IconPixmap(tl::kIconApp)));
  // There is no main loop: closing the last window must not quit the
  // nested loops that are still to come.
  QApplication::setQuitOnLastWindowClosed(false);
  tl::QtHost host(title, tl::FileRegistry::DefaultFolder());
  return tl::RunApplication(arguments);
}
