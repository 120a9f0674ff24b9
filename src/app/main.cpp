// The main program Corvale.
#include <QApplication>

#include "app/QBXApp.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  CQBXApp app;
  if (!app.InitInstance(argc, argv)) return app.ExitInstance();
  return app.Run();
}
