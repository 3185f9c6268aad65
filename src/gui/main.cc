// kx8-upgrade: the window, or with --batch the same run without one.
//
// KX8_SCREENSHOT=FILE (window only): saves a picture of the window to FILE
// shortly after it is shown, then closes it; used by scripts/screenshot.
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/batch_run.h"
#include "cli/command_line.h"
#include "console/main_form.h"
#include "gui/main_window.h"
#include "platform/locale_info.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kx8::cli::ParseResult parsed = kx8::cli::ParseCommandLine(args, std::cout, std::cerr);
  if (!parsed.command_line) return parsed.exit_code;
  kx8::cli::CommandLine& command_line = *parsed.command_line;
  if (command_line.batch) {
    command_line.program = kx8::cli::OwnProgramFile();
    return kx8::cli::RunBatch(command_line, std::cout, std::cerr, std::cin, ::isatty(STDIN_FILENO) == 1);
  }

  // The batch run takes the time zone itself; the window takes it here,
  // before the toolkit starts threads of its own.
  kx8::platform::TakeTimeZoneOnce();
  // The window toolkit gets the arguments the command line left to it.
  std::vector<std::string> toolkit_args = {argv[0]};
  toolkit_args.insert(toolkit_args.end(), command_line.toolkit_args.begin(), command_line.toolkit_args.end());
  std::vector<char*> toolkit_argv;
  for (std::string& a : toolkit_args) toolkit_argv.push_back(a.data());
  toolkit_argv.push_back(nullptr);
  int toolkit_argc = static_cast<int>(toolkit_args.size());

  QApplication app(toolkit_argc, toolkit_argv.data());
  QApplication::setApplicationName(QString::fromUtf8(kx8::console::TMainForm::kApplicationTitle));

  kx8::console::StartupSettings settings;
  settings.root_override = command_line.root;
  kx8::gui::MainWindow window(settings);
  window.show();

  if (const char* shot = std::getenv("KX8_SCREENSHOT")) {
    std::string file = shot;
    QTimer::singleShot(1000, &window, [&window, file] {
      if (!window.grab().save(QString::fromStdString(file))) {
        std::cerr << "kx8-upgrade: cannot save " << file << '\n';
        QCoreApplication::exit(1);
        return;
      }
      window.close();
    });
  }
  return app.exec();
}
