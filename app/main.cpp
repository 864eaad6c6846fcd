#include <QApplication>

#include "app/voxtar_app.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  voxtar::CVoxtarApp app;
  app.InitInstance();
  return 0;
}
