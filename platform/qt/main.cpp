// The desktop program: the Qt host around the application.
#include <QApplication>
#include <QIcon>

#include "app/application.h"
#include "platform/core/layout.h"
#include "platform/posix/file_registry.h"
#include "platform/qt/qt_host.h"
#include "platform/qt/qt_pictures.h"

int main(int argc, char** argv) {
  std::string title = tl::ProgramTitleOf(argc > 0 ? argv[0] : "tideload");
  QApplication app(argc, argv);
  // Qt has taken out the options it knows (-platform, -style, ...); the rest
  // is the program's argument text.
  std::string arguments = tl::ArgumentTextOf(argc, argv);
  QApplication::setWindowIcon(QIcon(tl::IconPixmap(tl::kIconApp)));
  // There is no main loop: closing the last window must not quit the
  // nested loops that are still to come.
  QApplication::setQuitOnLastWindowClosed(false);
  tl::QtHost host(title, tl::FileRegistry::DefaultFolder());
  return tl::RunApplication(arguments);
}
